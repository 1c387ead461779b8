// The beat grid as a walk: every division of every beat of every measure of
// the tempo map, timed by one running clock. The report and every export are
// built from this one walk, so all of them agree to the last bit.
#ifndef BEATSTAMPS_GRID_WALK_H_
#define BEATSTAMPS_GRID_WALK_H_

#include <cstdint>

#include "base/failure.h"
#include "maps/tempo_map.h"

// What a grid point begins: a measure (its first beat), a beat, or a later
// division of a beat.
enum class PointKind : uint8_t { kDownbeat, kBeat, kDivision };

// The kind of the point at division `division` of beat `beat` of a measure.
inline PointKind PointKindOf(int64_t beat, int64_t division) {
  if (division != 0) return PointKind::kDivision;
  return beat == 0 ? PointKind::kDownbeat : PointKind::kBeat;
}

// One step of the grid inside the range.
struct GridPoint {
  int32_t section;  // slot of its section, 0-based
  PointKind kind;
  int64_t measure;         // global measure index, 0-based
  int64_t beat;            // 0-based within its measure
  int64_t division;        // 0-based within its beat
  double clock;            // seconds from the start of the map
  int64_t samplePosition;  // the clock at the sample rate, truncated toward zero
};

// What the walk tells the one who asked for it. Either function may end the
// walk by returning false.
struct GridVisitor {
  void* context;
  bool (*visitPoint)(void* context, const GridPoint& point);
  // The walk has moved on to `measure`, which lies inside the range. May be null.
  bool (*enterMeasure)(void* context, int64_t measure);
};

struct MidiMap;  // a tempo map read from a MIDI file

// A tempo map of either kind, as the walk sees it: exactly one is set.
struct GridMap {
  const TempoMap* text;
  const MidiMap* midi;
};

inline GridMap TextGrid(const TempoMap& map) {
  return GridMap{&map, nullptr};
}

inline GridMap MidiGrid(const MidiMap& map) {
  return GridMap{nullptr, &map};
}

// What the report's header of a section shows.
struct SectionHeading {
  double tempo;  // beats per minute
  int32_t beatsPerMeasure;
  int32_t measures;
};

// Checks the divisions, then every section in map order, as a walk would
// meet them; a walk after it cannot fail.
bool CheckGrid(const GridMap& map, const GridSettings& settings, Failure& failure);

// Walks a grid that CheckGrid has passed, from the start of the map.
void WalkGrid(const GridMap& map, const GridSettings& settings, const GridVisitor& visitor);

// Walks as WalkGrid does, but for the points at the front whose sample
// position lies before `firstSample`, and the measure starts among them:
// those are passed over unvisited, in few steps however many they are.
void WalkGridFrom(const GridMap& map, const GridSettings& settings, int64_t firstSample,
                  const GridVisitor& visitor);

// The number of steps inside the range, held at UINT64_MAX.
uint64_t CountGridPoints(const GridMap& map, const GridSettings& settings);

SectionHeading HeadingOf(const GridMap& map, int32_t section);

// The range's last measure that the grid holds; -1 when it holds none.
int64_t LastMeasureInRange(const GridMap& map, const GridSettings& settings);

// The range's last point, found by walking its last measure alone: the clock
// jumps over everything before it exactly as a walk of the whole range adds
// it up. False when the range holds none.
bool LastPointInRange(const GridMap& map, const GridSettings& settings, GridPoint& point);

#endif  // BEATSTAMPS_GRID_WALK_H_
