// BuildReport against a plain walk of the map, one step at a time, over many maps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "cli/session.h"
#include "grid/renderer.h"
#include "reference_walk.h"

namespace {

struct Rendering {
  std::string text;
  bool truncated;
  std::string failure;
  int32_t slotZeroMeasures;
};

bool operator==(const Rendering& a, const Rendering& b) {
  return a.text == b.text && a.truncated == b.truncated && a.failure == b.failure &&
         a.slotZeroMeasures == b.slotZeroMeasures;
}

// Everything BuildReport is given.
struct Input {
  TempoMap map;
  uint32_t sampleRate;
  int32_t startMeasure;
  int32_t stopMeasure;
  int32_t divisions;
};

__attribute__((format(printf, 2, 3))) void Add(std::string& text, const char* format, ...) {
  char buffer[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  text += buffer;
}

// The plain walk's rendering of `input`.
Rendering WalkEveryStep(Input input) {
  const ReferenceReport walked = WalkEveryStep(input.map, input.sampleRate, input.startMeasure,
                                               input.stopMeasure, input.divisions);
  return {walked.text, walked.truncated, walked.failure, input.map.measures[0]};
}

Rendering Render(Input input) {
  auto report = std::make_unique<ReportText>();
  Failure failure{};
  const GridSettings settings{input.sampleRate, input.divisions, input.startMeasure,
                              input.stopMeasure};
  SizeDefaultSection(input.map, settings);
  BuildReport(TextGrid(input.map), settings, *report, failure);
  EXPECT_EQ(std::strlen(report->text), static_cast<size_t>(report->length));
  return {std::string(report->text, report->length), report->truncated, failure.message,
          input.map.measures[0]};
}

std::string Describe(const Input& input) {
  std::string text;
  Add(text, "rate %u, start %i, stop %i, divisions %i, sections %i:", input.sampleRate,
      input.startMeasure, input.stopMeasure, input.divisions, input.map.sectionCount);
  for (int k = 0; k < std::max(input.map.sectionCount, 1); ++k) {
    Add(text, " [%a %i %i]", static_cast<double>(input.map.tempo[k]), input.map.beatsPerMeasure[k],
        input.map.measures[k]);
  }
  return text;
}

// Where the two first differ, with some text around it.
std::string FirstDifference(const std::string& a, const std::string& b) {
  size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  const size_t from = at > 80 ? at - 80 : 0;
  return "at " + std::to_string(at) + ":\n  display: " + a.substr(from, 160) +
         "\n  walk:    " + b.substr(from, 160);
}

// Returns the walk's rendering, for the caller's statistics.
Rendering ExpectSameAsEveryStep(const Input& input) {
  const Rendering expected = WalkEveryStep(input);
  const Rendering actual = Render(input);
  if (actual == expected) return expected;
  ADD_FAILURE() << Describe(input) << "\ntruncated " << actual.truncated << " / "
                << expected.truncated << ", failure '" << actual.failure << "' / '"
                << expected.failure << "', slot 0 measures " << actual.slotZeroMeasures << " / "
                << expected.slotZeroMeasures << "\n"
                << FirstDifference(actual.text, expected.text);
  return expected;
}

float RandomTempo(std::mt19937_64& random) {
  static const float kTempos[] = {120.0f, 144.6f, 90.0f, 60.0f, 152.0f, 88.5f, 133.33f, 97.3f};
  switch (random() % 6) {
    case 0:
    case 1:
      return kTempos[random() % 8];
    case 2:  // a minute or more per beat: a clock large enough to show its last bit
      return std::uniform_real_distribution<float>(0.01f, 1.0f)(random);
    default:
      return std::uniform_real_distribution<float>(20.0f, 320.0f)(random);
  }
}

uint32_t RandomRate(std::mt19937_64& random) {
  static const uint32_t kRates[] = {44100u, 48000u, 96000u,      8000u,
                                    0u,     1u,     2147483648u, 4294967295u};
  return random() % 3 == 0 ? static_cast<uint32_t>(random()) : kRates[random() % 8];
}

// A measure number around the map: before it, inside it, at its end, past it.
int32_t RandomMeasure(std::mt19937_64& random, int32_t total) {
  switch (random() % 8) {
    case 0:
      return -static_cast<int32_t>(random() % 5) - 1;
    case 1:
      return random() % 2 ? INT32_MAX : INT32_MIN;
    case 2:
      return total - 1 + static_cast<int32_t>(random() % 4);
    default:
      return static_cast<int32_t>(random() % (total + 2));
  }
}

// Unused slots hold values that would fail or explode if they were walked.
void FillUnusedSlots(TempoMap& map) {
  for (int k = std::max(map.sectionCount, 1); k < kMaxSections; ++k) {
    map.tempo[k] = -1.0f;
    map.beatsPerMeasure[k] = 0;
    map.measures[k] = INT32_MAX;
  }
}

Input RandomSmallMap(std::mt19937_64& random, bool large) {
  Input input{};
  input.sampleRate = RandomRate(random);
  input.divisions = static_cast<int32_t>(random() % 4) + 1;
  TempoMap& map = input.map;
  map.sectionCount = static_cast<int32_t>(random() % 9);
  int32_t total = 0;
  for (int k = 0; k < std::max(map.sectionCount, 1); ++k) {
    map.tempo[k] = RandomTempo(random);
    map.beatsPerMeasure[k] = static_cast<int32_t>(random() % 7) + 1;
    map.measures[k] = static_cast<int32_t>(random() % (large ? 151 : 13));
    if (random() % 16 == 0) map.measures[k] = -static_cast<int32_t>(random() % 3);
    if (map.measures[k] > 0) total += map.measures[k];
  }
  if (map.sectionCount > 1 && random() % 25 == 0) {  // a bad section, found on the way
    const int bad = static_cast<int>(random() % map.sectionCount);
    if (random() % 2) {
      map.tempo[bad] = random() % 2 ? 0.0f : -120.0f;
    } else {
      map.beatsPerMeasure[bad] = -static_cast<int32_t>(random() % 2);
    }
  }
  FillUnusedSlots(map);
  input.startMeasure = RandomMeasure(random, total);
  input.stopMeasure = RandomMeasure(random, total);
  if (random() % 4 == 0) {  // the whole map
    input.startMeasure = 0;
    input.stopMeasure = total + static_cast<int32_t>(random() % 2);
  }
  if (map.sectionCount == 0) {
    // Slot 0 becomes stop + 1 measures: keep that few enough to walk.
    map.measures[0] = 777;
    input.stopMeasure = random() % 5 == 0 ? INT32_MAX : static_cast<int32_t>(random() % 40) - 3;
  }
  return input;
}

TEST(DisplayWalk, SmallRandomMapsMatchTheStepByStepWalk) {
  std::mt19937_64 random(1234);
  int truncated = 0;
  int failed = 0;
  int empty = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const Rendering r = ExpectSameAsEveryStep(RandomSmallMap(random, trial % 8 == 0));
    if (HasFailure()) return;
    truncated += r.truncated;
    failed += !r.failure.empty();
    empty += r.text.find("Section") == std::string::npos;
  }
  // The trials reach every kind of ending.
  EXPECT_GT(truncated, 50);
  EXPECT_GT(failed, 20);
  EXPECT_GT(empty, 100);
}

TEST(DisplayWalk, RangesDeepIntoLongMapsMatchTheStepByStepWalk) {
  std::mt19937_64 random(99);
  for (int trial = 0; trial < 40; ++trial) {
    Input input{};
    input.sampleRate = trial % 2 ? 4294967295u : RandomRate(random);
    input.divisions = static_cast<int32_t>(random() % 4) + 1;
    TempoMap& map = input.map;
    map.sectionCount = static_cast<int32_t>(random() % 6) + 1;
    int32_t total = 0;
    int32_t lastStart = 0;
    for (int k = 0; k < map.sectionCount; ++k) {
      map.tempo[k] = RandomTempo(random);
      map.beatsPerMeasure[k] = static_cast<int32_t>(random() % 7) + 1;
      map.measures[k] = static_cast<int32_t>(random() % 4000) + 1000;
      lastStart = total;
      total += map.measures[k];
    }
    FillUnusedSlots(map);
    switch (trial % 4) {
      case 0:  // the last few measures and past the end
        input.startMeasure = total - static_cast<int32_t>(random() % 5) - 1;
        input.stopMeasure = total + 3;
        break;
      case 1:  // from the middle of the last section until the report is full
        input.startMeasure = lastStart + static_cast<int32_t>(random() % (total - lastStart));
        input.stopMeasure = INT32_MAX;
        break;
      case 2:  // a few measures somewhere, maybe across a section boundary
        input.startMeasure = static_cast<int32_t>(random() % total);
        input.stopMeasure = input.startMeasure + static_cast<int32_t>(random() % 3);
        break;
      default:  // right at the end: only the separator after the last measure
        input.startMeasure = total;
        input.stopMeasure = total + static_cast<int32_t>(random() % 3);
        break;
    }
    ExpectSameAsEveryStep(input);
    if (HasFailure()) return;
  }
}

TEST(DisplayWalk, AUnitThatEndsRightAtTheLimitIsKept) {
  // Sample rates change the line lengths; look for reports whose last unit,
  // a line or a separator, ends exactly at the limit.
  std::mt19937_64 random(8);
  int exact = 0;
  for (int trial = 0; trial < 400 && exact < 6; ++trial) {
    Input input{};
    input.sampleRate = static_cast<uint32_t>(random() % 1000000);
    input.divisions = trial % 2 ? 1 : static_cast<int32_t>(random() % 3) + 2;
    input.map.sectionCount = 2;
    input.map.tempo[0] = 60.0f;
    input.map.beatsPerMeasure[0] = static_cast<int32_t>(random() % 3) + 1;
    input.map.measures[0] = 5000;
    input.map.tempo[1] = 144.6f;
    input.map.beatsPerMeasure[1] = 1;
    input.map.measures[1] = 5000;
    FillUnusedSlots(input.map);
    input.startMeasure = static_cast<int32_t>(random() % 100);
    input.stopMeasure = INT32_MAX;
    const Rendering r = ExpectSameAsEveryStep(input);
    if (HasFailure()) return;
    ASSERT_TRUE(r.truncated);
    exact += r.text.size() == static_cast<size_t>(kReportLimit);
  }
  EXPECT_GE(exact, 6);
}

}  // namespace
