// The grid as beat annotations, the "time label" lines that beat-tracking
// research scores its trackers against.
#ifndef BEATSTAMPS_BEATS_EXPORT_H_
#define BEATSTAMPS_BEATS_EXPORT_H_

#include "exports/export_options.h"
#include "exports/export_sink.h"
#include "grid/grid_walk.h"

// One line per beat (not per later division): the time (six decimals), a
// tab and the beat's number within its measure, 1 on every downbeat.
void WriteBeats(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                ExportSink& sink);

#endif  // BEATSTAMPS_BEATS_EXPORT_H_
