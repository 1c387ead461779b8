#include "exports/csv_export.h"

#include "exports/text_line.h"
#include "grid/shifted_walk.h"

namespace {

struct CsvWriting {
  ExportSink* sink;
  int32_t firstMeasureNumber;
};

bool WriteCsvLine(void* context, const GridPoint& point) {
  const auto& writing = *static_cast<const CsvWriting*>(context);
  ExportSink& sink = *writing.sink;
  TextLine line;
  line.length = 0;
  AddInteger(line, int64_t{point.section} + 1);
  AddCharacter(line, ',');
  AddInteger(line, point.measure + writing.firstMeasureNumber);
  AddCharacter(line, ',');
  AddInteger(line, point.beat + 1);
  AddCharacter(line, ',');
  AddInteger(line, point.division + 1);
  AddCharacter(line, ',');
  AddShortest(line, point.clock);
  AddCharacter(line, ',');
  AddInteger(line, point.samplePosition);
  AddCharacter(line, '\n');
  return PutLine(sink, line);
}

}  // namespace

void WriteCsv(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
              ExportSink& sink) {
  static const char kHeader[] = "section,measure,beat,division,seconds,sample\n";
  PutBytes(sink, kHeader, sizeof kHeader - 1);
  CsvWriting writing{&sink, settings.firstMeasureNumber};
  WalkShiftedGrid(map, settings, placed.offsetSamples,
                  GridVisitor{&writing, WriteCsvLine, nullptr});
}
