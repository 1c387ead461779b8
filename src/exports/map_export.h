// The map format: the map in force written as a text map, to edit and keep.
// A title line, an offset line when measure 1 does not begin at 0, the
// settings lines a text map was read with, then one tmap line a section.
#ifndef BEATSTAMPS_MAP_EXPORT_H_
#define BEATSTAMPS_MAP_EXPORT_H_

#include "base/failure.h"
#include "exports/export_options.h"
#include "exports/export_sink.h"
#include "grid/grid_walk.h"

// Refuses a map that a text map cannot hold, naming its first such section.
bool PlanMapText(const GridMap& map, const ExportSettings& placed, Failure& failure);

void WriteMapText(const GridMap& map, const ExportSettings& placed, ExportSink& sink);

#endif  // BEATSTAMPS_MAP_EXPORT_H_
