// The grid as text for other tools: a label track for audio editors, and CSV.
#ifndef BEATSTAMPS_TEXT_EXPORTS_H_
#define BEATSTAMPS_TEXT_EXPORTS_H_

#include "export_sink.h"
#include "grid_walk.h"

// One line per grid point: start, end (the same time, six decimals) and the
// label "M.B" on a beat's first step or "M.B.D" on a later division.
void WriteLabels(const TempoMap& map, int32_t sectionCount, const GridSettings& settings,
                 ExportSink& sink);

// A header, then one line per grid point: section, measure, beat, division
// (all from 1), the seconds as the shortest decimal that reads back to the
// same double, and the sample position.
void WriteCsv(const TempoMap& map, int32_t sectionCount, const GridSettings& settings,
              ExportSink& sink);

#endif  // BEATSTAMPS_TEXT_EXPORTS_H_
