#include "beat_list_maker.h"

#include <algorithm>
#include <cmath>

#include "grid/text_grid.h"

namespace {

double Uniform(std::mt19937& random, double low, double high) {
  return std::uniform_real_distribution<double>(low, high)(random);
}

int32_t Between(std::mt19937& random, int32_t low, int32_t high) {
  return std::uniform_int_distribution<int32_t>(low, high)(random);
}

}  // namespace

MadeList MakeBeatList(const std::vector<TrueSection>& sections, double offset,
                      const ListNoise& noise, double extraClearance, std::mt19937& random) {
  MadeList made;
  std::vector<double> grid;
  std::vector<int32_t> numbers;
  double clock = 0.0;
  int32_t measure = 0;
  for (const TrueSection& section : sections) {
    const double step = StepLength(section.tempo, 1);
    for (int32_t m = 0; m < section.measures; ++m, ++measure) {
      for (int32_t beat = 1; beat <= section.beatsPerMeasure; ++beat) {
        grid.push_back(offset + clock);
        numbers.push_back(beat);
        made.measureOf.push_back(measure);
        clock += step;
      }
    }
  }
  int32_t line = 0;
  for (size_t k = 0; k < grid.size(); ++k) {
    // Up to the jitter either way, most errors small, as a tapper's are.
    const double half = noise.jitterSeconds / 2;
    const double listed = grid[k] + Uniform(random, -half, half) + Uniform(random, -half, half);
    made.trueTimes.push_back(listed);
    const bool missed = k > 0 && k + 1 < grid.size() && Uniform(random, 0, 1) < noise.missed;
    if (!missed) {
      made.beats.push_back(ListedBeat{listed, noise.numbered ? numbers[k] : 0, ++line});
      made.extra.push_back(false);
      made.gridBeat.push_back(static_cast<int64_t>(k));
    }
    const double gap = k + 1 < grid.size() ? grid[k + 1] - grid[k] : 0.0;
    if (gap > 2 * extraClearance && Uniform(random, 0, 1) < noise.extra) {
      const double at = grid[k] + Uniform(random, extraClearance, gap - extraClearance);
      made.beats.push_back(ListedBeat{at, noise.numbered ? numbers[k] : 0, ++line});
      made.extra.push_back(true);
      made.gridBeat.push_back(-1);
    }
  }
  return made;
}

std::vector<TrueSection> RandomMap(std::mt19937& random, bool pickup, int32_t meter) {
  std::vector<TrueSection> sections;
  const int32_t count = Between(random, 3, 6);
  for (int32_t k = 0; k < count; ++k) {
    TrueSection section{static_cast<float>(std::round(Uniform(random, 70, 160) * 100) / 100),
                        meter > 0 ? meter : Between(random, 2, 7), Between(random, 16, 32)};
    if (!sections.empty()) {
      const TrueSection& before = sections.back();
      const bool sameMeter = section.beatsPerMeasure == before.beatsPerMeasure;
      if (std::fabs(section.tempo - before.tempo) < 3.0f) {
        const bool meterAlone = !sameMeter && Between(random, 0, 1) == 1;
        section.tempo =
            meterAlone ? before.tempo : before.tempo + (before.tempo < 120.0f ? 12.5f : -12.5f);
      }
    }
    sections.push_back(section);
  }
  if (pickup) {
    sections.insert(sections.begin(),
                    TrueSection{sections.front().tempo, Between(random, 1, 3), 1});
  }
  return sections;
}
