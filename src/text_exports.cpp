#include "text_exports.h"

#include <charconv>
#include <cstdio>

namespace {

// Long enough for any line: a clock of up to 309 digits before the point,
// four 64-bit numbers and the separators.
constexpr int kLineCapacity = 768;

bool PutLine(ExportSink& sink, const char* line, int length) {
  if (length > 0) PutBytes(sink, line, static_cast<size_t>(length));
  return !sink.failed;
}

bool WriteLabel(void* context, const GridPoint& point) {
  ExportSink& sink = *static_cast<ExportSink*>(context);
  char time[kLineCapacity / 2];
  std::snprintf(time, sizeof time, "%.6f", point.clock);
  const long long measure = point.measure + 1;
  const long long beat = point.beat + 1;
  char line[kLineCapacity];
  const int length =
      point.division == 0
          ? std::snprintf(line, sizeof line, "%s\t%s\t%lli.%lli\n", time, time, measure, beat)
          : std::snprintf(line, sizeof line, "%s\t%s\t%lli.%lli.%lli\n", time, time, measure, beat,
                          static_cast<long long>(point.division) + 1);
  return PutLine(sink, line, length);
}

bool WriteCsvLine(void* context, const GridPoint& point) {
  ExportSink& sink = *static_cast<ExportSink*>(context);
  char seconds[kLineCapacity / 2];
  const std::to_chars_result end =
      std::to_chars(seconds, seconds + sizeof seconds - 1, point.clock);
  *end.ptr = '\0';
  char line[kLineCapacity];
  const int length = std::snprintf(line, sizeof line, "%i,%lli,%lli,%lli,%s,%lli\n",
                                   point.section + 1, static_cast<long long>(point.measure) + 1,
                                   static_cast<long long>(point.beat) + 1,
                                   static_cast<long long>(point.division) + 1, seconds,
                                   static_cast<long long>(point.samplePosition));
  return PutLine(sink, line, length);
}

}  // namespace

void WriteLabels(const TempoMap& map, int32_t sectionCount, const GridSettings& settings,
                 ExportSink& sink) {
  WalkCheckedGrid(map, sectionCount, settings, GridVisitor{&sink, WriteLabel, nullptr});
}

void WriteCsv(const TempoMap& map, int32_t sectionCount, const GridSettings& settings,
              ExportSink& sink) {
  static const char kHeader[] = "section,measure,beat,division,seconds,sample\n";
  PutBytes(sink, kHeader, sizeof kHeader - 1);
  WalkCheckedGrid(map, sectionCount, settings, GridVisitor{&sink, WriteCsvLine, nullptr});
}
