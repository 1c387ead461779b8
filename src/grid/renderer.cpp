#include "grid/renderer.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "grid/shifted_walk.h"

namespace {

// Long enough for the longest section header and step line (a tempo near the
// single-precision maximum prints 39 digits; a clock, up to 79).
constexpr int kLineCapacity = 512;

struct Line {
  char text[kLineCapacity];
  int length;
};

// What the report's walk carries besides the grid itself.
struct ReportWriting {
  const GridMap* map;
  ReportText* report;
  int32_t headedSection;       // the section of the last step written; -1 before the first
  int32_t firstMeasureNumber;  // the number measure index 0 is shown with
};

__attribute__((format(printf, 2, 3))) void AddToLine(Line& line, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int room = kLineCapacity - line.length;
  const int written = vsnprintf(line.text + line.length, room, format, arguments);
  va_end(arguments);
  if (written > 0) line.length += std::min(written, room - 1);
}

// Appends a whole unit of text, or nothing and marks the report full.
bool AppendUnit(ReportText& report, const char* unit, int length) {
  if (report.length + length > kReportLimit) {
    report.truncated = true;
    return false;
  }
  std::memcpy(report.text + report.length, unit, length);
  report.length += length;
  report.text[report.length] = '\0';
  return true;
}

void StartReport(ReportText& report, uint32_t sampleRate) {
  report.length = std::snprintf(report.text, sizeof report.text, "\nSample Rate\t%i\n",
                                static_cast<int32_t>(sampleRate));
  report.truncated = false;
}

void AddSectionHeader(Line& line, const GridMap& map, int32_t section) {
  const SectionHeading heading = HeadingOf(map, section);
  AddToLine(line, "\nSection %i\tTempo %.3f\tBeats/Meas %i\tMeasures %i\n\n", section + 1,
            heading.tempo, heading.beatsPerMeasure, heading.measures);
}

bool WriteStep(void* context, const GridPoint& point) {
  ReportWriting& writing = *static_cast<ReportWriting*>(context);
  Line line{};
  // A section's header stands before its first line.
  if (point.section != writing.headedSection) {
    AddSectionHeader(line, *writing.map, point.section);
  }
  if (point.kind == PointKind::kDownbeat) {
    AddToLine(line, "M %lli\t", static_cast<long long>(point.measure) + writing.firstMeasureNumber);
  } else {
    AddToLine(line, "\t");
  }
  if (point.kind != PointKind::kDivision) {
    AddToLine(line, "B %lli\t", static_cast<long long>(point.beat) + 1);
  } else {
    AddToLine(line, "\t");
  }
  AddToLine(line, "%.3f sec\t%lli smp\n", point.clock,
            static_cast<long long>(point.samplePosition));
  writing.headedSection = point.section;
  return AppendUnit(*writing.report, line.text, line.length);
}

bool WriteMeasureSeparator(void* context, int64_t /*measure*/) {
  return AppendUnit(*static_cast<ReportWriting*>(context)->report, "\n", 1);
}

}  // namespace

bool BuildReport(const GridMap& map, const GridSettings& settings, ReportText& report,
                 Failure& failure) {
  return BuildReportWithOffset(map, settings, 0, report, failure);
}

bool BuildReportWithOffset(const GridMap& map, const GridSettings& settings, int64_t offsetSamples,
                           ReportText& report, Failure& failure) {
  StartReport(report, settings.sampleRate);
  if (!CheckGrid(map, settings, failure)) return false;
  ReportWriting writing{&map, &report, -1, settings.firstMeasureNumber};
  WalkShiftedGrid(map, settings, offsetSamples,
                  GridVisitor{&writing, WriteStep, WriteMeasureSeparator});
  return true;
}
