// The grid as CSV, for spreadsheets and scripts.
#ifndef BEATSTAMPS_CSV_EXPORT_H_
#define BEATSTAMPS_CSV_EXPORT_H_

#include "exports/export_options.h"
#include "exports/export_sink.h"
#include "grid/grid_walk.h"

// A header, then one line per grid point: section, measure, beat, division
// (all from 1), the seconds as the shortest decimal that reads back to the
// same double, and the sample position.
void WriteCsv(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
              ExportSink& sink);

#endif  // BEATSTAMPS_CSV_EXPORT_H_
