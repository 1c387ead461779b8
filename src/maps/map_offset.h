// Where measure 1 begins in a recording: typed as --offset=TIME or written in
// a map as an offset line, TIME in seconds or in whole samples.
#ifndef BEATSTAMPS_MAP_OFFSET_H_
#define BEATSTAMPS_MAP_OFFSET_H_

#include <cstdint>

struct OffsetOption {
  bool given;
  bool inSamples;  // written with the suffix "smp"
  double seconds;
  int64_t samples;
};

// TIME as a whole text: seconds as strtod reads them (at most 2147483647
// either way), or a base-10 number of samples with the suffix "smp". False
// when the text is neither; `offset` is then unchanged.
bool ReadOffsetText(const char* text, OffsetOption& offset);

// True when it moves nothing: not given, or 0 in either unit.
bool IsNoOffset(const OffsetOption& offset);

#endif  // BEATSTAMPS_MAP_OFFSET_H_
