// The grid as it lies in a recording whose measure 1 begins some samples in:
// the walk of grid_walk with every point moved by a whole number of samples,
// and the points that land before the recording's start left out.
#ifndef BEATSTAMPS_SHIFTED_WALK_H_
#define BEATSTAMPS_SHIFTED_WALK_H_

#include <cstdint>

#include "grid/grid_walk.h"

// A sample position moved by `offsetSamples`, held at the ends of the 64-bit
// range as the walk holds its own positions.
int64_t ShiftSamplePosition(int64_t position, int64_t offsetSamples);

// A time moved by `offsetSamples` / `sampleRate` seconds; exactly `clock`
// when the offset is 0.
double ShiftClock(double clock, int64_t offsetSamples, uint32_t sampleRate);

// Walks as WalkGrid does, each point moved by `offsetSamples`. A point whose
// sample position lands before 0 is left out, and so is a measure's start
// between left-out points and the first one kept. Without an offset this is
// WalkGrid itself.
void WalkShiftedGrid(const GridMap& map, const GridSettings& settings, int64_t offsetSamples,
                     const GridVisitor& visitor);

// The first point such a walk gives; false when it gives none.
bool FirstShiftedPoint(const GridMap& map, const GridSettings& settings, int64_t offsetSamples,
                       GridPoint& point);

#endif  // BEATSTAMPS_SHIFTED_WALK_H_
