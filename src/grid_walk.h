// The beat grid as a walk: every division of every beat of every measure of
// the tempo map, timed by one running clock. The report and every export are
// built from this one walk, so all of them agree to the last bit.
#ifndef BEATSTAMPS_GRID_WALK_H_
#define BEATSTAMPS_GRID_WALK_H_

#include <cstdint>

#include "run_state.h"

// Why a grid cannot be walked: the one line the program ends with. An empty
// message means the walk can be made.
struct RenderFailure {
  char message[96];
};

// Sets the failure's line, printf-style.
__attribute__((format(printf, 2, 3))) void SetFailure(RenderFailure& failure, const char* format,
                                                      ...);

// The run settings a walk uses; measures are 0-based and inclusive.
struct GridSettings {
  uint32_t sampleRate;
  int32_t startMeasure;
  int32_t stopMeasure;
  int32_t divisionsPerBeat;
};

// One step of the grid inside the range.
struct GridPoint {
  int32_t section;         // slot of its section, 0-based
  int64_t measure;         // global measure index, 0-based
  int64_t beat;            // 0-based within its measure
  int64_t division;        // 0-based within its beat
  bool sectionStart;       // the very first step of its section
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

// Checks the divisions and gives the number of sections to walk. With no map
// sections slot 0 becomes a single section of `stopMeasure` + 1 measures and
// keeps that count afterwards.
bool PrepareGrid(TempoMap& map, const GridSettings& settings, int32_t& sectionCount,
                 RenderFailure& failure);

// Checks the tempo and beats of every section, in map order, as the walk
// would meet them; so a walk after it cannot fail.
bool CheckGrid(const TempoMap& map, int32_t sectionCount, RenderFailure& failure);

// Walks the sections from the start of the map; a section's values are
// checked when the walk reaches it, and the first it cannot walk ends it.
bool WalkGrid(const TempoMap& map, int32_t sectionCount, const GridSettings& settings,
              const GridVisitor& visitor, RenderFailure& failure);

// Walks a map that CheckGrid has passed: such a walk cannot fail.
void WalkCheckedGrid(const TempoMap& map, int32_t sectionCount, const GridSettings& settings,
                     const GridVisitor& visitor);

// The number of steps inside the range, held at UINT64_MAX.
uint64_t CountGridPoints(const TempoMap& map, int32_t sectionCount, const GridSettings& settings);

#endif  // BEATSTAMPS_GRID_WALK_H_
