// The formats a grid can be exported in: one row each, with how the format
// is named, how --help shows it, how it is planned and how it is written.
#ifndef BEATSTAMPS_EXPORT_FORMATS_H_
#define BEATSTAMPS_EXPORT_FORMATS_H_

#include "base/failure.h"
#include "exports/click_track.h"
#include "exports/export_options.h"
#include "exports/export_sink.h"
#include "exports/midi_export.h"
#include "exports/osu_export.h"
#include "exports/svg_export.h"
#include "grid/grid_walk.h"

// What planning found out, for the writing: the layout of the formats that
// state their sizes before their contents.
struct ExportPlan {
  MidiPlan midi;
  ClickPlan click;
  SvgPlan svg;
};

struct ExportFormat {
  const char* name;
  const char* summary;  // what --help says the format is
  const char* example;  // a command line that writes it
  // Finds everything that could refuse the export before a byte is written;
  // null when the format has nothing beyond the grid's own checks.
  bool (*plan)(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
               ExportPlan& plan, Failure& failure);
  // Writes the whole file as the grid is walked; null for the report
  // itself, which is appended as the batch run appends it.
  void (*write)(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                const ExportPlan& plan, ExportSink& sink);
};

// The format of that name, or null.
const ExportFormat* FindExportFormat(const char* name);

// The formats in the order --help lists them; null past the last.
const ExportFormat* ExportFormatAt(int index);

#endif  // BEATSTAMPS_EXPORT_FORMATS_H_
