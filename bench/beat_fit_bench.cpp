// Fitting long beat lists, up to 100,000 beats (about 14 hours at 120 beats a
// minute), with errors, misses and extra beats: the time grows with the beats.
#include <benchmark/benchmark.h>

#include <random>

#include "beat_list_maker.h"
#include "grid/beat_fit.h"

namespace {

// Sections of 100 measures of 4/4, each at another tempo from 88 to 136
// beats a minute, until the list holds `beats` beats.
MadeList LongList(int64_t beats) {
  std::mt19937 random(1);
  std::vector<TrueSection> sections;
  for (int64_t total = 0; total < beats; total += 400) {
    const auto step = static_cast<float>(sections.size() % 7);
    sections.push_back(TrueSection{88.0f + 8.0f * step + 0.25f, 4, 100});
  }
  return MakeBeatList(sections, 0.5, ListNoise{0.008, 0.02, 0.01, false}, 0.05, random);
}

void BM_FitBeatList(benchmark::State& state) {
  const MadeList made = LongList(state.range(0));
  FittedMap fitted;
  Failure failure{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(FitBeats(made.beats, DefaultFitOptions(), fitted, failure));
  }
  state.SetComplexityN(static_cast<int64_t>(made.beats.size()));
  state.counters["sections"] = static_cast<double>(fitted.sections.size());
}

}  // namespace

BENCHMARK(BM_FitBeatList)
    ->RangeMultiplier(2)
    ->Range(12500, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
