// Time as an exact fraction of a second, in integers only: the time of a
// grid point of a MIDI map, from which its seconds and its sample position
// are both taken without a rounding in between.
#ifndef BEATSTAMPS_EXACT_TIME_H_
#define BEATSTAMPS_EXACT_TIME_H_

#include <cstdint>

#include "base/wide.h"

// The denominator of a fraction of a second stays below 2^96, so that the
// remainder times a sample rate, or shifted by 32 bits, stays inside 128 bits.
constexpr int kMostTimeDenominatorBits = 96;

// seconds + remainder / denominator, with remainder < denominator.
struct ExactTime {
  Wide seconds;
  Wide remainder;
  Wide denominator;
};

// The time of `tickTime` + `fraction` x `microsecondsPerQuarter` /
// `fractionDenominator` microsecond-ticks, where a microsecond-tick is a tick
// at one microsecond per quarter note: divided by ticks per quarter x 10^6,
// seconds. `tickTime` is below 2^120; `fraction` is below
// `fractionDenominator`, which with `ticksPerQuarter` keeps the time's
// denominator below 2^96.
ExactTime TimeOfTicks(Wide tickTime, uint64_t fraction, uint64_t fractionDenominator,
                      uint32_t microsecondsPerQuarter, uint32_t ticksPerQuarter);

// The double nearest the exact time, a tie going to the even one.
double NearestSeconds(const ExactTime& time);

// floor(time x rate), held at INT64_MAX.
int64_t SampleAt(const ExactTime& time, uint32_t sampleRate);

// The number of bits `value` takes: 0 for 0.
int BitLength(Wide value);

#endif  // BEATSTAMPS_EXACT_TIME_H_
