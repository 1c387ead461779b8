// RATE, START, STOP and DIVISIONS as typed after MAP and OUT: read whole,
// or as C's strtol reads them with a note where that differs from the text.
#ifndef BEATSTAMPS_GRID_ARGUMENTS_H_
#define BEATSTAMPS_GRID_ARGUMENTS_H_

#include <cstdint>
#include <cstdio>

#include "base/failure.h"
#include "cli/options.h"
#include "maps/tempo_map.h"

constexpr int kGridArgumentCount = 4;

struct GridArguments {
  int count;  // given, in order: RATE, START, STOP, DIVISIONS
  int32_t values[kGridArgumentCount];
};

// How the numbers are read: a run with an option takes only whole numbers,
// so a typing slip never becomes a value; the plain batch run keeps the
// strtol reading that callers may rely on.
enum class NumberReading { kWholeOnly, kStrtol };

// A sign and digits, nothing else, within 32 bits.
bool ReadWholeNumber(const char* text, int32_t& value);

// The numbers after MAP and OUT; DIVISIONS only when all six arguments are
// given; START and STOP count from `firstMeasure`. kWholeOnly: false, with
// the line, for a number that is not whole in full or passes 32 bits, or a
// measure that does. kStrtol: base 10, held to 32 bits, each number read
// otherwise than typed named on `notes`.
bool ReadGridArguments(const Arguments& arguments, NumberReading reading, int32_t firstMeasure,
                       FILE* notes, GridArguments& numbers, Failure& failure);

// The numbers replace what the map set; the measures shown are numbered
// from `firstMeasure`.
void ApplyGridArguments(const GridArguments& numbers, int32_t firstMeasure, GridSettings& settings);

#endif  // BEATSTAMPS_GRID_ARGUMENTS_H_
