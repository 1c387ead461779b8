// The grid as an osu! beatmap: the timing of a song for rhythm-game editors,
// and no hit objects. Of a text map, one uninherited timing point where each
// section begins; of a MIDI map, whose sections may begin inside a measure or
// a beat, one where each run of its beats begins (see midi_beat_runs), so
// that a reader's beats are the grid's.
#ifndef BEATSTAMPS_OSU_EXPORT_H_
#define BEATSTAMPS_OSU_EXPORT_H_

#include <cstdint>

#include "exports/export_options.h"
#include "exports/export_sink.h"
#include "grid/grid_walk.h"

// A timing point: a section and the time it begins, in whole milliseconds.
struct OsuTimingPoint {
  int32_t section;
  int64_t milliseconds;
};

// The sections listed are those that hold points of the export: the range's,
// less those whose every point lands before 0. Each is timed from its first
// step, even where that lies before the range or before 0, so that a reader
// places the section's beats from it.
struct OsuPlan {
  int32_t pointCount;
  OsuTimingPoint points[kMaxSections];
};

// Lists a text map's timing points (a MIDI map's are found as they are
// written), or refuses with one line what an osu! reader cannot take: a beat
// outside 6 to 60,000 ms (which it clamps) or a time beyond its 32-bit
// milliseconds.
bool PlanOsu(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
             OsuPlan& plan, Failure& failure);

void WriteOsu(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
              const OsuPlan& plan, ExportSink& sink);

#endif  // BEATSTAMPS_OSU_EXPORT_H_
