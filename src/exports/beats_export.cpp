#include "exports/beats_export.h"

#include "exports/text_line.h"
#include "grid/shifted_walk.h"

namespace {

bool WriteBeatLine(void* context, const GridPoint& point) {
  if (point.kind == PointKind::kDivision) return true;
  ExportSink& sink = *static_cast<ExportSink*>(context);
  TextLine line;
  line.length = 0;
  AddFixed(line, point.clock, 6);
  AddCharacter(line, '\t');
  AddInteger(line, point.beat + 1);
  AddCharacter(line, '\n');
  return PutLine(sink, line);
}

}  // namespace

void WriteBeats(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                ExportSink& sink) {
  WalkShiftedGrid(map, settings, placed.offsetSamples, GridVisitor{&sink, WriteBeatLine, nullptr});
}
