// The grid as a StepMania 5 song file without charts: the offset of beat 0,
// and tempos and time signatures placed in quarter notes from measure 1: of
// a text map, both where each section begins; of a MIDI map, a tempo where
// the tempo changes and a time signature where the meter does.
#ifndef BEATSTAMPS_SSC_EXPORT_H_
#define BEATSTAMPS_SSC_EXPORT_H_

#include "exports/export_options.h"
#include "exports/export_sink.h"
#include "grid/grid_walk.h"

// StepMania places a change on a row, 48 to a quarter note: a MIDI map's
// change between two rows goes to the nearest, told as a warning, and the
// tempos before and after it are set so that every change keeps its time
// (to the file's six decimals). Refuses with one line a change that cannot
// be placed so (two in one row), and a tempo the six decimals cannot hold
// (one that is infinite or too slow to show).
bool PlanSsc(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
             Failure& failure);

// A reader counts beats from beat 0 through every tempo before, so the file
// lists every section from measure 1 through the one that holds the range's
// last measure (of a MIDI map, its last point; the first section at least),
// whatever the offset leaves out.
void WriteSsc(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
              ExportSink& sink);

#endif  // BEATSTAMPS_SSC_EXPORT_H_
