// The grid renderer: walks the tempo map and builds the report text.
#ifndef BEATSTAMPS_RENDERER_H_
#define BEATSTAMPS_RENDERER_H_

#include <cstdint>

#include "grid/grid_walk.h"

// Characters a report may hold, not counting its terminator.
constexpr int32_t kReportLimit = 65535;

struct ReportText {
  char text[kReportLimit + 1];  // always zero-terminated
  int32_t length;               // characters before the terminator
  bool truncated;               // a line did not fit and the report stops short
};

// Builds the beat grid of the settings' range into `report`; false, with
// the reason, when a value of the map or the settings cannot be walked.
bool BuildReport(const GridMap& map, const GridSettings& settings, ReportText& report,
                 Failure& failure);

// The same, with every step moved by `offsetSamples` and the steps that land
// before sample 0 left out.
bool BuildReportWithOffset(const GridMap& map, const GridSettings& settings, int64_t offsetSamples,
                           ReportText& report, Failure& failure);

#endif  // BEATSTAMPS_RENDERER_H_
