#include "reference_walk.h"

#include <algorithm>
#include <cstdio>

namespace {

// Formats one fragment onto `text`; fragments are far shorter than the buffer.
template <typename... Values>
void Add(std::string& text, const char* format, Values... values) {
  char buffer[512];
  (void)std::snprintf(buffer, sizeof buffer, format, values...);
  text += buffer;
}

int64_t SamplePosition(uint32_t sampleRate, double clock) {
  const double position = static_cast<double>(sampleRate) * clock;
  if (position != position) return 0;
  if (position >= 0x1p63) return INT64_MAX;
  if (position <= -0x1p63) return INT64_MIN;
  return static_cast<int64_t>(position);
}

// The sections the walk visits: slot 0 alone, sized by the stop measure, when
// the map has none.
int32_t SectionsOf(TempoMap& map, int32_t stopMeasure) {
  const int32_t count = std::min(map.sectionCount, kMaxSections);
  if (count > 0) return count;
  map.measures[0] = static_cast<int32_t>(static_cast<int64_t>(stopMeasure) + 1);
  return 1;
}

// Why section k cannot be walked, in the order the walk finds it; empty when
// it can.
std::string SectionFailure(const TempoMap& map, int32_t k) {
  char message[96] = "";
  if (!(map.tempo[k] > 0.0f)) {
    (void)std::snprintf(message, sizeof message,
                        "Error: Tempo must be greater than zero! (section %i)\n", k + 1);
  } else if (map.measures[k] > 0 && map.beatsPerMeasure[k] < 1) {
    (void)std::snprintf(message, sizeof message,
                        "Error: Beats per measure must be greater than zero! (section %i)\n",
                        k + 1);
  }
  return message;
}

struct Step {
  int64_t measure;  // 0-based, global
  int32_t beat;
  int32_t division;
  bool header;  // the line opens with its section's header
  double clock;
};

std::string StepLine(const TempoMap& map, int32_t k, uint32_t sampleRate, const Step& step) {
  std::string line;
  if (step.header) {
    Add(line, "\nSection %i\tTempo %.3f\tBeats/Meas %i\tMeasures %i\n\n", k + 1,
        static_cast<double>(map.tempo[k]), map.beatsPerMeasure[k], map.measures[k]);
  }
  if (step.beat == 0 && step.division == 0) {
    Add(line, "M %lli\t", static_cast<long long>(step.measure) + 1);
  } else {
    line += "\t";
  }
  if (step.division == 0) {
    Add(line, "B %i\t", step.beat + 1);
  } else {
    line += "\t";
  }
  Add(line, "%.3f sec\t%lli smp\n", step.clock,
      static_cast<long long>(SamplePosition(sampleRate, step.clock)));
  return line;
}

struct Settings {
  uint32_t sampleRate;
  int32_t startMeasure;
  int32_t stopMeasure;
  int32_t divisions;
};

struct Walk {
  ReferenceReport out;
  int64_t m;  // global 0-based measure index
  double clock;
  bool firstLine;
};

bool InRange(const Settings& settings, int64_t m) {
  return settings.startMeasure <= m && m <= settings.stopMeasure;
}

// A unit that does not fit ends the report.
void Append(ReferenceReport& out, const std::string& unit) {
  if (out.truncated) return;
  if (out.text.size() + unit.size() > static_cast<size_t>(kReportLimit)) {
    out.truncated = true;
    return;
  }
  out.text += unit;
}

// Measure j of section k: every step adds its length to the clock.
void WalkMeasure(const TempoMap& map, int32_t k, int32_t j, const Settings& settings, Walk& walk) {
  const double step =
      60.0 / static_cast<double>(map.tempo[k]) / static_cast<double>(settings.divisions);
  for (int32_t b = 0; b < map.beatsPerMeasure[k]; ++b) {
    for (int32_t d = 0; d < settings.divisions; ++d) {
      // A full report takes nothing more: no line is formatted after it.
      if (walk.out.truncated) return;
      if (InRange(settings, walk.m)) {
        const Step at{walk.m, b, d, walk.firstLine || (j == 0 && b == 0 && d == 0), walk.clock};
        Append(walk.out, StepLine(map, k, settings.sampleRate, at));
        walk.firstLine = false;
      }
      walk.clock += step;
    }
  }
  ++walk.m;
  if (InRange(settings, walk.m)) Append(walk.out, "\n");
}

}  // namespace

Wide StepsToWalk(const TempoMap& map, int32_t /*startMeasure*/, int32_t stopMeasure,
                 int32_t divisionsPerBeat) {
  TempoMap copy = map;
  const int32_t sections = SectionsOf(copy, stopMeasure);
  Wide steps = 0;
  int64_t measure = 0;
  for (int32_t k = 0; k < sections && measure <= stopMeasure; ++k) {
    if (copy.measures[k] <= 0 || copy.beatsPerMeasure[k] < 1 || divisionsPerBeat < 1) continue;
    const int64_t walked = std::min<int64_t>(copy.measures[k], int64_t{stopMeasure} + 1 - measure);
    steps += static_cast<Wide>(walked) * static_cast<Wide>(copy.beatsPerMeasure[k]) *
             static_cast<Wide>(divisionsPerBeat);
    measure += copy.measures[k];
  }
  return steps;
}

ReferenceReport WalkEveryStep(TempoMap& map, uint32_t sampleRate, int32_t startMeasure,
                              int32_t stopMeasure, int32_t divisionsPerBeat) {
  Walk walk{{"", false, ""}, 0, 0.0, true};
  Add(walk.out.text, "\nSample Rate\t%i\n", static_cast<int32_t>(sampleRate));
  const int32_t sections = SectionsOf(map, stopMeasure);
  // A grid that cannot be walked gives the opening header alone.
  if (divisionsPerBeat < 1) {
    walk.out.failure = "Error: Divisions per beat must be greater than zero!\n";
    return walk.out;
  }
  for (int32_t k = 0; k < sections && walk.out.failure.empty(); ++k) {
    walk.out.failure = SectionFailure(map, k);
  }
  if (!walk.out.failure.empty()) return walk.out;
  const Settings settings{sampleRate, startMeasure, stopMeasure, divisionsPerBeat};
  for (int32_t k = 0; k < sections; ++k) {
    for (int32_t j = 0; j < map.measures[k] && walk.m <= stopMeasure && !walk.out.truncated; ++j) {
      WalkMeasure(map, k, j, settings, walk);
    }
  }
  return walk.out;
}
