#include "exports/labels_export.h"

#include "exports/text_line.h"
#include "grid/shifted_walk.h"

namespace {

struct LabelWriting {
  ExportSink* sink;
  int32_t firstMeasureNumber;
};

bool WriteLabel(void* context, const GridPoint& point) {
  const auto& writing = *static_cast<const LabelWriting*>(context);
  ExportSink& sink = *writing.sink;
  TextLine line;
  line.length = 0;
  AddFixed(line, point.clock, 6);
  const size_t timeLength = line.length;
  AddCharacter(line, '\t');
  AddText(line, line.text, timeLength);
  AddCharacter(line, '\t');
  AddInteger(line, point.measure + writing.firstMeasureNumber);
  AddCharacter(line, '.');
  AddInteger(line, point.beat + 1);
  if (point.kind == PointKind::kDivision) {
    AddCharacter(line, '.');
    AddInteger(line, point.division + 1);
  }
  AddCharacter(line, '\n');
  return PutLine(sink, line);
}

}  // namespace

void WriteLabels(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                 ExportSink& sink) {
  LabelWriting writing{&sink, settings.firstMeasureNumber};
  WalkShiftedGrid(map, settings, placed.offsetSamples, GridVisitor{&writing, WriteLabel, nullptr});
}
