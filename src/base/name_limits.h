// How long a file name the program keeps may be.
#ifndef BEATSTAMPS_NAME_LIMITS_H_
#define BEATSTAMPS_NAME_LIMITS_H_

#include <cstdint>

// Characters a file name may hold, not counting its terminator.
constexpr int32_t kFileNameLimit = 127;

// Characters kept of a map's title line, not counting its terminator.
constexpr int32_t kTitleLimit = 127;

#endif  // BEATSTAMPS_NAME_LIMITS_H_
