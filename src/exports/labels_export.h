// The grid as a label track for audio editors.
#ifndef BEATSTAMPS_LABELS_EXPORT_H_
#define BEATSTAMPS_LABELS_EXPORT_H_

#include "exports/export_options.h"
#include "exports/export_sink.h"
#include "grid/grid_walk.h"

// One line per grid point: start, end (the same time, six decimals) and the
// label "M.B" on a beat's first step or "M.B.D" on a later division.
void WriteLabels(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                 ExportSink& sink);

#endif  // BEATSTAMPS_LABELS_EXPORT_H_
