#include "grid/text_grid.h"

#include <algorithm>

#include "grid/clock.h"

namespace {

struct Range {
  int64_t start;
  int64_t stop;
};

// The walk's running state, carried across section boundaries.
struct TextWalk {
  int64_t measure;  // global 0-based measure index; 64 bits so it never wraps
  double clock;     // seconds from the start of the map to the current step
  bool finished;    // the range has ended or the visitor asked to stop
  // Points before this sample are passed over; 0 once the first one after
  // them is found.
  int64_t firstSample;
  int64_t resumeAt;  // the point of walk.measure its walk starts at
};

struct Section {
  int32_t slot;
  int32_t beatsPerMeasure;
  int32_t measures;
  int32_t divisions;
  double step;  // seconds per division
};

Range RangeOf(const GridSettings& settings) {
  return Range{settings.startMeasure, settings.stopMeasure};
}

bool InRange(const Range& range, int64_t measure) {
  return range.start <= measure && measure <= range.stop;
}

Section WalkedSection(const TempoMap& map, int32_t slot, const GridSettings& settings) {
  return Section{slot, map.beatsPerMeasure[slot], map.measures[slot], settings.divisionsPerBeat,
                 StepLength(map.tempo[slot], settings.divisionsPerBeat)};
}

void EnterMeasure(const GridVisitor& visitor, const Range& range, TextWalk& walk) {
  if (visitor.enterMeasure == nullptr || !InRange(range, walk.measure)) return;
  if (!visitor.enterMeasure(visitor.context, walk.measure)) walk.finished = true;
}

// Visits every step of the measure at walk.measure, which lies in the range.
void WalkTextMeasure(const Section& section, uint32_t sampleRate, const GridVisitor& visitor,
                     TextWalk& walk) {
  int64_t beat = walk.resumeAt / section.divisions;
  int64_t division = walk.resumeAt % section.divisions;
  walk.resumeAt = 0;
  for (; beat < section.beatsPerMeasure; ++beat) {
    for (; division < section.divisions; ++division) {
      const GridPoint point{
          section.slot, PointKindOf(beat, division),          walk.measure, beat, division,
          walk.clock,   SampleOfClock(sampleRate, walk.clock)};
      if (!visitor.visitPoint(visitor.context, point)) {
        walk.finished = true;
        return;
      }
      walk.clock += section.step;
    }
    division = 0;
  }
}

int64_t SampleAfterSteps(const Section& section, uint32_t sampleRate, const TextWalk& walk,
                         Wide steps) {
  return SampleOfClock(sampleRate, AdvanceClock(walk.clock, section.step, steps));
}

// Passes over the section's points in range that lie before walk.firstSample
// without visiting them: the clock only grows, so the first point at or
// after it is found by halving, each look an exact jump of the clock.
void SkipEarlyPoints(const Section& section, uint32_t sampleRate, const Range& range,
                     int64_t sectionEnd, TextWalk& walk) {
  const int64_t last = std::min(range.stop, sectionEnd - 1);
  if (walk.firstSample <= 0 || walk.measure > last) return;
  const Wide perMeasure =
      static_cast<Wide>(section.beatsPerMeasure) * static_cast<Wide>(section.divisions);
  Wide low = 0;
  Wide high = static_cast<Wide>(last - walk.measure + 1) * perMeasure;
  while (low < high) {
    const Wide middle = low + (high - low) / 2;
    if (SampleAfterSteps(section, sampleRate, walk, middle) >= walk.firstSample) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  walk.clock = AdvanceClock(walk.clock, section.step, low);
  walk.measure += static_cast<int64_t>(low / perMeasure);
  walk.resumeAt = static_cast<int64_t>(low % perMeasure);
  if (walk.measure <= last) walk.firstSample = 0;
}

// Moves the walk over the section's measures that lie before the range, in
// one exact jump of the clock.
void SkipToRange(const Section& section, const Range& range, int64_t sectionEnd,
                 const GridVisitor& visitor, TextWalk& walk) {
  if (walk.measure >= range.start) return;
  const int64_t skipped = std::min(range.start, sectionEnd) - walk.measure;
  const Wide steps = static_cast<Wide>(skipped) * static_cast<Wide>(section.beatsPerMeasure) *
                     static_cast<Wide>(section.divisions);
  walk.clock = AdvanceClock(walk.clock, section.step, steps);
  walk.measure += skipped;
  EnterMeasure(visitor, range, walk);
}

void WalkSection(const Section& section, const GridSettings& settings, const GridVisitor& visitor,
                 TextWalk& walk) {
  const Range range = RangeOf(settings);
  const int64_t sectionEnd = walk.measure + section.measures;
  SkipToRange(section, range, sectionEnd, visitor, walk);
  SkipEarlyPoints(section, settings.sampleRate, range, sectionEnd, walk);
  while (!walk.finished && walk.measure < sectionEnd) {
    if (walk.measure > range.stop) {
      walk.finished = true;
      return;
    }
    WalkTextMeasure(section, settings.sampleRate, visitor, walk);
    if (walk.finished) return;
    walk.measure += 1;
    EnterMeasure(visitor, range, walk);
  }
}

// The measures the range holds of a section that begins at `sectionStart`.
int64_t MeasuresInRange(const Range& range, int64_t sectionStart, int32_t measures) {
  const int64_t first = std::max(range.start, sectionStart);
  const int64_t last = std::min(range.stop, sectionStart + measures - 1);
  return last < first ? 0 : last - first + 1;
}

// A section with measures must have beats; every section, walked or not, a
// tempo above zero.
bool CheckSection(const TempoMap& map, int32_t slot, Failure& failure) {
  if (!(map.tempo[slot] > 0.0f)) {
    SetFailure(failure, "Error: Tempo must be greater than zero! (section %i)\n", slot + 1);
    return false;
  }
  if (map.measures[slot] > 0 && map.beatsPerMeasure[slot] < 1) {
    SetFailure(failure, "Error: Beats per measure must be greater than zero! (section %i)\n",
               slot + 1);
    return false;
  }
  return true;
}

}  // namespace

// Two divisions, in this order: the last bit of the step depends on it.
double StepLength(float tempo, int32_t divisionsPerBeat) {
  return 60.0 / static_cast<double>(tempo) / static_cast<double>(divisionsPerBeat);
}

int64_t SampleOfClock(uint32_t sampleRate, double clock) {
  const double position = static_cast<double>(sampleRate) * clock;
  if (position != position) return 0;
  if (position >= 0x1p63) return INT64_MAX;
  if (position <= -0x1p63) return INT64_MIN;
  return static_cast<int64_t>(position);
}

int32_t SectionsToWalk(const TempoMap& map) {
  return std::clamp(map.sectionCount, 1, kMaxSections);
}

bool CheckTextGrid(const TempoMap& map, const GridSettings& settings, Failure& failure) {
  if (settings.divisionsPerBeat < 1) {
    SetFailure(failure, "Error: Divisions per beat must be greater than zero!\n");
    return false;
  }
  const int32_t sectionCount = SectionsToWalk(map);
  for (int32_t k = 0; k < sectionCount; ++k) {
    if (!CheckSection(map, k, failure)) return false;
  }
  return true;
}

void WalkTextGrid(const TempoMap& map, const GridSettings& settings, int64_t firstSample,
                  const GridVisitor& visitor) {
  const Range range = RangeOf(settings);
  TextWalk walk{0, 0.0, range.start > range.stop, firstSample, 0};
  const int32_t sectionCount = SectionsToWalk(map);
  for (int32_t k = 0; k < sectionCount && !walk.finished; ++k) {
    if (map.measures[k] > 0) WalkSection(WalkedSection(map, k, settings), settings, visitor, walk);
  }
}

uint64_t CountTextGridPoints(const TempoMap& map, const GridSettings& settings) {
  const Range range = RangeOf(settings);
  const int32_t sectionCount = SectionsToWalk(map);
  Wide points = 0;
  int64_t sectionStart = 0;
  for (int32_t k = 0; k < sectionCount; ++k) {
    const int32_t measures = map.measures[k];
    if (measures <= 0) continue;
    points += static_cast<Wide>(MeasuresInRange(range, sectionStart, measures)) *
              static_cast<uint64_t>(map.beatsPerMeasure[k]) *
              static_cast<uint64_t>(settings.divisionsPerBeat);
    sectionStart += measures;
  }
  return points > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(points);
}

SectionHeading TextSectionHeading(const TempoMap& map, int32_t slot) {
  return SectionHeading{static_cast<double>(map.tempo[slot]), map.beatsPerMeasure[slot],
                        map.measures[slot]};
}

int64_t LastTextMeasureInRange(const TempoMap& map, const GridSettings& settings) {
  const int32_t sectionCount = SectionsToWalk(map);
  int64_t measures = 0;
  for (int32_t k = 0; k < sectionCount; ++k) {
    if (map.measures[k] > 0) measures += map.measures[k];
  }
  const int64_t last = std::min<int64_t>(settings.stopMeasure, measures - 1);
  return last >= settings.startMeasure ? last : -1;
}
