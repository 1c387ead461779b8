// The map format: the map in force written as a text map, to edit and keep.
// A title line, an offset line when measure 1 does not begin at 0, the
// settings lines a text map was read with, then one tmap line a section.
// A MIDI map is written when a text map holds it.
#ifndef BEATSTAMPS_MAP_EXPORT_H_
#define BEATSTAMPS_MAP_EXPORT_H_

#include "base/failure.h"
#include "exports/export_options.h"
#include "exports/export_sink.h"
#include "grid/grid_walk.h"

// Refuses a map that a text map cannot hold, naming its first such section:
// a MIDI map's section that begins inside a measure, or whose tempo a text
// map's single precision does not hold within a microsecond.
bool PlanMapText(const GridMap& map, const GridSettings& settings, Failure& failure);

// Every section of the map's view, whatever kind of map it is, as a tmap line.
void WriteMapText(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                  ExportSink& sink);

#endif  // BEATSTAMPS_MAP_EXPORT_H_
