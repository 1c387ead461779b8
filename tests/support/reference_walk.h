// The grid walk written as plainly as it can be: every step of every section
// adds its length to the clock, one at a time. The renderer's tests and the
// map text harness hold its report against this one.
#ifndef BEATSTAMPS_TESTS_REFERENCE_WALK_H_
#define BEATSTAMPS_TESTS_REFERENCE_WALK_H_

#include <cstdint>
#include <string>

#include "base/wide.h"
#include "cli/run_state.h"

struct ReferenceReport {
  std::string text;
  bool truncated;
  std::string failure;
};

// Steps the walk takes up to the end of the range or of the map, whichever
// comes first (at most 2^93 or so).
Wide StepsToWalk(const TempoMap& map, int32_t startMeasure, int32_t stopMeasure,
                 int32_t divisionsPerBeat);

// The report for `map`; with no map sections, slot 0 is sized as BuildReport sizes it.
ReferenceReport WalkEveryStep(TempoMap& map, uint32_t sampleRate, int32_t startMeasure,
                              int32_t stopMeasure, int32_t divisionsPerBeat);

#endif  // BEATSTAMPS_TESTS_REFERENCE_WALK_H_
