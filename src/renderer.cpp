#include "renderer.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "clock.h"
#include "int32_math.h"

namespace {

// Long enough for the longest section header and step line (a tempo near the
// single-precision maximum prints 39 digits; a clock, up to 79).
constexpr int kLineCapacity = 512;

struct Line {
  char text[kLineCapacity];
  int length;
};

struct Range {
  int64_t start;
  int64_t stop;
};

// The walk's running state, carried across section boundaries.
struct Walk {
  int64_t measure;  // global 0-based measure index; 64 bits so it never wraps
  double clock;     // seconds from the start of the map to the current step
  bool firstLine;   // no step has been written yet
  bool finished;    // the range has ended or the report is full
};

struct Section {
  int32_t number;  // 1-based, as the user sees it
  float tempo;
  int32_t beatsPerMeasure;
  int32_t measures;
  int32_t divisions;
  double step;  // seconds per division
};

__attribute__((format(printf, 2, 3))) void AddToLine(Line& line, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int room = kLineCapacity - line.length;
  const int written = vsnprintf(line.text + line.length, room, format, arguments);
  va_end(arguments);
  if (written > 0) line.length += std::min(written, room - 1);
}

__attribute__((format(printf, 2, 3))) void Fail(RenderFailure& failure, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(failure.message, sizeof failure.message, format, arguments);
  va_end(arguments);
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

bool InRange(const Range& range, int64_t measure) {
  return range.start <= measure && measure <= range.stop;
}

// The clock as a sample position: the product truncated toward zero, held at
// the ends of the 64-bit range.
int64_t SamplePosition(uint32_t sampleRate, double clock) {
  const double position = static_cast<double>(sampleRate) * clock;
  if (position != position) return 0;
  if (position >= 0x1p63) return INT64_MAX;
  if (position <= -0x1p63) return INT64_MIN;
  return static_cast<int64_t>(position);
}

void StartReport(ReportText& report, uint32_t sampleRate) {
  report.length = std::snprintf(report.text, sizeof report.text, "\nSample Rate\t%i\n",
                                static_cast<int32_t>(sampleRate));
  report.truncated = false;
}

void AppendMeasureSeparator(ReportText& report, Walk& walk) {
  if (!AppendUnit(report, "\n", 1)) walk.finished = true;
}

void WriteStep(const Section& section, uint32_t sampleRate, int64_t beat, int64_t division,
               bool sectionStart, Walk& walk, ReportText& report) {
  Line line{};
  if (walk.firstLine || sectionStart) {
    AddToLine(line, "\nSection %i\tTempo %.3f\tBeats/Meas %i\tMeasures %i\n\n", section.number,
              static_cast<double>(section.tempo), section.beatsPerMeasure, section.measures);
  }
  if (beat == 0 && division == 0) {
    AddToLine(line, "M %lli\t", static_cast<long long>(walk.measure) + 1);
  } else {
    AddToLine(line, "\t");
  }
  if (division == 0) {
    AddToLine(line, "B %lli\t", static_cast<long long>(beat) + 1);
  } else {
    AddToLine(line, "\t");
  }
  AddToLine(line, "%.3f sec\t%lli smp\n", walk.clock,
            static_cast<long long>(SamplePosition(sampleRate, walk.clock)));
  walk.firstLine = false;
  if (!AppendUnit(report, line.text, line.length)) walk.finished = true;
}

// Writes every step of the measure at walk.measure, which lies in the range.
void WriteMeasure(const Section& section, uint32_t sampleRate, bool sectionStart, Walk& walk,
                  ReportText& report) {
  for (int64_t beat = 0; beat < section.beatsPerMeasure; ++beat) {
    for (int64_t division = 0; division < section.divisions; ++division) {
      WriteStep(section, sampleRate, beat, division, sectionStart && beat == 0 && division == 0,
                walk, report);
      if (walk.finished) return;
      walk.clock += section.step;
    }
  }
}

// Moves the walk over the section's measures that lie before the range, in
// one exact jump of the clock.
void SkipToRange(const Section& section, const Range& range, int64_t sectionEnd, Walk& walk,
                 ReportText& report) {
  if (walk.measure >= range.start) return;
  const int64_t skipped = std::min(range.start, sectionEnd) - walk.measure;
  const StepCount steps = static_cast<StepCount>(skipped) *
                          static_cast<StepCount>(section.beatsPerMeasure) *
                          static_cast<StepCount>(section.divisions);
  walk.clock = AdvanceClock(walk.clock, section.step, steps);
  walk.measure += skipped;
  if (InRange(range, walk.measure)) AppendMeasureSeparator(report, walk);
}

void WalkSection(const Section& section, uint32_t sampleRate, const Range& range, Walk& walk,
                 ReportText& report) {
  const int64_t sectionStart = walk.measure;
  const int64_t sectionEnd = sectionStart + section.measures;
  SkipToRange(section, range, sectionEnd, walk, report);
  while (!walk.finished && walk.measure < sectionEnd) {
    if (walk.measure > range.stop) {
      walk.finished = true;
      return;
    }
    WriteMeasure(section, sampleRate, walk.measure == sectionStart, walk, report);
    if (walk.finished) return;
    walk.measure += 1;
    if (InRange(range, walk.measure)) AppendMeasureSeparator(report, walk);
  }
}

}  // namespace

void Display(TempoMap& map, uint32_t sampleRate, int32_t startMeasure, int32_t stopMeasure,
             int32_t divisionsPerBeat, ReportText& report, RenderFailure& failure) {
  failure.message[0] = '\0';
  StartReport(report, sampleRate);
  if (divisionsPerBeat < 1) {
    Fail(failure, "Error: Divisions per beat must be greater than zero!\n");
    return;
  }
  int32_t sectionCount = std::min(map.sectionCount, kMaxSections);
  if (sectionCount <= 0) {
    map.measures[0] = WrappingAdd(stopMeasure, 1);
    sectionCount = 1;
  }
  const Range range{startMeasure, stopMeasure};
  Walk walk{0, 0.0, true, range.start > range.stop};
  for (int32_t k = 0; k < sectionCount; ++k) {
    const float tempo = map.tempo[k];
    if (!(tempo > 0.0f)) {
      Fail(failure, "Error: Tempo must be greater than zero! (section %i)\n", k + 1);
      return;
    }
    // Two divisions, in this order: the last bit of the step depends on it.
    const double step = 60.0 / static_cast<double>(tempo) / static_cast<double>(divisionsPerBeat);
    if (map.measures[k] <= 0) continue;
    if (map.beatsPerMeasure[k] < 1) {
      Fail(failure, "Error: Beats per measure must be greater than zero! (section %i)\n", k + 1);
      return;
    }
    const Section section{k + 1, tempo, map.beatsPerMeasure[k], map.measures[k], divisionsPerBeat,
                          step};
    if (!walk.finished) WalkSection(section, sampleRate, range, walk, report);
  }
}
