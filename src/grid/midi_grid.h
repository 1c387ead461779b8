// The grid of a MIDI map: every division of every beat of every measure,
// where a beat is the note value of its meter's denominator, a time
// signature starts a measure where it stands (cutting short the measure and
// the beat it falls in), and the last tempo and meter go on past the map's
// end. Each point's time is exact: no clock runs from one point to the next.
#ifndef BEATSTAMPS_MIDI_GRID_H_
#define BEATSTAMPS_MIDI_GRID_H_

#include <cstdint>

#include "grid/grid_walk.h"
#include "maps/midi_map.h"

bool CheckMidiGrid(const GridSettings& settings, Failure& failure);

void WalkMidiGrid(const MidiMap& map, const GridSettings& settings, const GridVisitor& visitor);

// The points before sample `firstSample` are passed over (see WalkGridFrom).
void WalkMidiGridFrom(const MidiMap& map, const GridSettings& settings, int64_t firstSample,
                      const GridVisitor& visitor);

uint64_t CountMidiGridPoints(const MidiMap& map, const GridSettings& settings);

SectionHeading MidiSectionHeading(const MidiMap& map, int32_t section);

// The last measure of the range: the grid goes on past the map, so the
// range's stop, unless the range holds no measure (-1).
int64_t LastMidiMeasureInRange(const GridSettings& settings);

// Where a grid point lies: tick + fraction / denominator.
struct MidiPosition {
  uint64_t tick;
  uint64_t fraction;
  uint64_t denominator;
};

// The position of a point the walk gave with these divisions per beat.
MidiPosition PositionOfPoint(const MidiMap& map, int32_t divisionsPerBeat, const GridPoint& point);

// Ticks from one division to the next in the meter `slot`: a beat of
// 4 x ticks per quarter / 2^power ticks, split in `divisionsPerBeat`.
MidiPosition DivisionLength(const MidiMap& map, int32_t slot, int32_t divisionsPerBeat);

#endif  // BEATSTAMPS_MIDI_GRID_H_
