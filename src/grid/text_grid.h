// The grid of a text map: sections of whole measures, timed by one running
// clock, the sum of every step's length from the start of the map.
#ifndef BEATSTAMPS_TEXT_GRID_H_
#define BEATSTAMPS_TEXT_GRID_H_

#include <cstdint>

#include "grid/grid_walk.h"

// Seconds from one division of a beat to the next: what the clock adds at
// each step.
double StepLength(float tempo, int32_t divisionsPerBeat);

// The clock as a sample position: the product truncated toward zero, held at
// the ends of the 64-bit range.
int64_t SampleOfClock(uint32_t sampleRate, double clock);

// The sections a walk covers: the map's, or slot 0 alone while it has none
// (the front end sizes that default section before the walk).
int32_t SectionsToWalk(const TempoMap& map);

// Checks the divisions, then the tempo and beats of every section in map
// order, as a walk would meet them.
bool CheckTextGrid(const TempoMap& map, const GridSettings& settings, Failure& failure);

// The points before sample `firstSample` are passed over (see WalkGridFrom).
void WalkTextGrid(const TempoMap& map, const GridSettings& settings, int64_t firstSample,
                  const GridVisitor& visitor);

uint64_t CountTextGridPoints(const TempoMap& map, const GridSettings& settings);

SectionHeading TextSectionHeading(const TempoMap& map, int32_t slot);

// The range's last measure that the map holds; -1 when it holds none.
int64_t LastTextMeasureInRange(const TempoMap& map, const GridSettings& settings);

#endif  // BEATSTAMPS_TEXT_GRID_H_
