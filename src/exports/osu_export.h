// The grid as an osu! beatmap: the timing of a song for rhythm-game editors,
// and no hit objects: one uninherited timing point where each run of the
// grid's beats begins (see grid/beat_runs.h: of a text map, each section; of a
// MIDI map, whose sections may begin inside a measure or a beat, finer), so
// that a reader's beats are the grid's. The timing points listed are those
// of the export's points: the range's, less those that land before 0; each
// run is timed from its first beat, even where that lies before the range or
// before 0, so that a reader places the run's beats from it.
#ifndef BEATSTAMPS_OSU_EXPORT_H_
#define BEATSTAMPS_OSU_EXPORT_H_

#include <cstdint>

#include "exports/export_options.h"
#include "exports/export_sink.h"
#include "grid/grid_walk.h"

// Refuses with one line what an osu! reader cannot take: a beat outside 6 to
// 60,000 ms (which it clamps) or a time beyond its 32-bit milliseconds. The
// timing points are found again as they are written.
bool PlanOsu(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
             Failure& failure);

void WriteOsu(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
              ExportSink& sink);

#endif  // BEATSTAMPS_OSU_EXPORT_H_
