// The grid as a StepMania 5 song file without charts: the offset of beat 0,
// and a tempo and a time signature where each section begins, placed in
// quarter notes from measure 1.
#ifndef BEATSTAMPS_SSC_EXPORT_H_
#define BEATSTAMPS_SSC_EXPORT_H_

#include "export_options.h"
#include "export_sink.h"
#include "grid_walk.h"

// Refuses with one line a tempo the file's six decimals cannot hold: one
// that is infinite or too slow to show.
bool PlanSsc(const GridMap& map, const GridSettings& settings, Failure& failure);

// A reader counts beats from beat 0 through every tempo before, so the file
// lists every section from measure 1 through the one that holds the range's
// last measure (the first section at least), whatever the offset leaves out.
void WriteSsc(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
              ExportSink& sink);

#endif  // BEATSTAMPS_SSC_EXPORT_H_
