// How long a rendering and a map read take, from the smallest report to the
// largest maps the program accepts.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "cli/session.h"
#include "grid/renderer.h"
#include "maps/map_reader.h"

namespace {

// The state is large; keep it off the stack.
std::unique_ptr<RunState> FreshState() {
  auto state = std::make_unique<RunState>();
  InitRunState(*state);
  return state;
}

void Render(benchmark::State& bench, RunState& state) {
  Failure failure{};
  SizeDefaultSection(state.map, state.settings);
  for (auto _ : bench) {
    BuildReport(TextGrid(state.map), state.settings, state.report, failure);
    benchmark::DoNotOptimize(state.report.length);
    benchmark::ClobberMemory();
  }
  if (!failure.message.empty()) bench.SkipWithError(failure.message.c_str());
  bench.counters["chars"] = state.report.length;
  bench.counters["truncated"] = state.report.truncated;
}

// One section of 120 beats per minute, 4 beats per measure, 1 measure.
void BM_DefaultReport(benchmark::State& bench) {
  auto state = FreshState();
  Render(bench, *state);
}
BENCHMARK(BM_DefaultReport);

// Measures without end: the report fills its 65,535 characters.
void BM_FullReport(benchmark::State& bench) {
  auto state = FreshState();
  state->settings.stopMeasure = INT32_MAX - 1;
  Render(bench, *state);
}
BENCHMARK(BM_FullReport);

void FillSections(RunState& state, int32_t measures) {
  static const float kTempos[] = {120.0f, 144.6f, 88.5f, 97.3f};
  state.map.sectionCount = kMaxReadSections;
  for (int32_t k = 0; k < kMaxReadSections; ++k) {
    state.map.tempo[k] = kTempos[k % 4];
    state.map.beatsPerMeasure[k] = 4 + k % 3;
    state.map.measures[k] = measures;
  }
}

// 510 sections of 2,147,483,647 measures, with the range at the last
// measures a measure number can reach; every later section is still checked.
void BM_LongestMapRangeAtTheNumberLimit(benchmark::State& bench) {
  auto state = FreshState();
  FillSections(*state, INT32_MAX);
  state->settings.startMeasure = INT32_MAX - 9;
  state->settings.stopMeasure = INT32_MAX;
  Render(bench, *state);
}
BENCHMARK(BM_LongestMapRangeAtTheNumberLimit);

// 510 sections that together hold nearly 2^31 measures, with the range at the
// end of the last one: the clock jumps over every section before it.
void BM_LongMapRangeAtItsEnd(benchmark::State& bench) {
  auto state = FreshState();
  const int32_t measures = INT32_MAX / kMaxReadSections;
  FillSections(*state, measures);
  state->settings.startMeasure = measures * kMaxReadSections - 10;
  state->settings.stopMeasure = measures * kMaxReadSections + 1;
  Render(bench, *state);
}
BENCHMARK(BM_LongMapRangeAtItsEnd);

// One section of 2,147,483,647 measures of 2,147,483,647 beats of
// 2,147,483,647 divisions, with the range deep inside.
void BM_WidestSectionDeepStart(benchmark::State& bench) {
  auto state = FreshState();
  state->map.sectionCount = 1;
  state->map.tempo[0] = 120.0f;
  state->map.beatsPerMeasure[0] = INT32_MAX;
  state->map.measures[0] = INT32_MAX;
  state->settings.divisionsPerBeat = INT32_MAX;
  state->settings.startMeasure = 2147483000;
  state->settings.stopMeasure = INT32_MAX;
  Render(bench, *state);
}
BENCHMARK(BM_WidestSectionDeepStart);

std::string LongMapText() {
  std::string text = "Long map: every section a reader may store, and more\nrate\t48000\ndiv\t2\n";
  static const char* kTempos[] = {"120", "144.6", "88.5", "97.25", "152", "60.001"};
  char line[64];
  for (int k = 0; k < 600; ++k) {
    std::snprintf(line, sizeof line, "tmap\t%s\t%d\t%d\n", kTempos[k % 6], 3 + k % 5, 8 + k % 24);
    text += line;
    if (k % 50 == 0) text += "notes about the next part of the set\n";
  }
  return text + "start\t17\nstop\t1200\n";
}

std::string ShippedMapText() {
  std::ifstream file(BEATSTAMPS_EXAMPLES "/warehouse_set.map", std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void ParseText(benchmark::State& bench, std::string text) {
  auto state = FreshState();
  auto readout = std::make_unique<MapReadout>();
  for (auto _ : bench) {
    FILE* file = fmemopen(text.data(), text.size(), "r");
    readout->map = state->map;
    const bool read = ParseMapText(file, *readout);
    std::fclose(file);
    benchmark::DoNotOptimize(read);
    benchmark::DoNotOptimize(readout->map.sectionCount);
  }
  bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations()) *
                          static_cast<int64_t>(text.size()));
  bench.counters["sections"] = readout->map.sectionCount;
}

void BM_ParseLongMap(benchmark::State& bench) {
  ParseText(bench, LongMapText());
}
BENCHMARK(BM_ParseLongMap);

void BM_ParseShippedMap(benchmark::State& bench) {
  const std::string text = ShippedMapText();
  if (text.empty()) {
    bench.SkipWithError("examples/warehouse_set.map not found");
    return;
  }
  ParseText(bench, text);
}
BENCHMARK(BM_ParseShippedMap);

}  // namespace
