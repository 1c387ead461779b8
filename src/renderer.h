// The grid renderer: walks the tempo map and builds the report text.
#ifndef BEATSTAMPS_RENDERER_H_
#define BEATSTAMPS_RENDERER_H_

#include <cstdint>

#include "grid_walk.h"
#include "run_state.h"

// Builds the beat grid of the settings' range into `report`; false, with
// the reason, when a value of the map or the settings cannot be walked.
bool Display(const GridMap& map, const GridSettings& settings, ReportText& report,
             Failure& failure);

// The same, with every step moved by `offsetSamples` and the steps that land
// before sample 0 left out.
bool DisplayWithOffset(const GridMap& map, const GridSettings& settings, int64_t offsetSamples,
                       ReportText& report, Failure& failure);

#endif  // BEATSTAMPS_RENDERER_H_
