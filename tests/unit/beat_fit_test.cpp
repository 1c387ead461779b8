// The fit of beat lists made from known maps, with the errors, misses and
// extra beats of real taps and trackers.
#include "grid/beat_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <utility>

#include "beat_list_maker.h"
#include "grid/text_grid.h"
#include "maps/beat_list_reader.h"

namespace {

constexpr double kToleranceMs = 25.0;

// The fitted grid's beat times, measure 1 at the fit's offset, as the
// report's clock times them.
std::vector<double> FittedGrid(const FittedMap& fitted) {
  std::vector<double> times;
  double clock = 0.0;
  for (const FittedSection& section : fitted.sections) {
    const double step = StepLength(section.tempo, 1);
    for (int64_t beat = 0; beat < int64_t{section.measures} * section.beatsPerMeasure; ++beat) {
      times.push_back(fitted.offsetSeconds + clock);
      clock += step;
    }
  }
  return times;
}

// The true section that holds measure `measure`.
const TrueSection& TrueSectionAt(const std::vector<TrueSection>& sections, int32_t measure) {
  for (const TrueSection& section : sections) {
    if (measure < section.measures) return section;
    measure -= section.measures;
  }
  return sections.back();
}

// The first point of the bar that the fit of a list made from `truth`
// misses, or nothing when it meets them all.
std::string MissOfTheBar(const std::vector<TrueSection>& truth, double offset, const MadeList& made,
                         const FittedMap& fitted) {
  const std::vector<double> grid = FittedGrid(fitted);
  if (grid.size() < made.trueTimes.size()) return "the grid ends before the last true beat";
  for (size_t k = 0; k < made.trueTimes.size(); ++k) {
    if (std::fabs(made.trueTimes[k] - grid[k]) * 1000 > kToleranceMs) {
      return "true beat " + std::to_string(k) + " is past the tolerance";
    }
  }
  for (size_t k = 0; k < made.beats.size(); ++k) {
    if (fitted.beats[k].leftOut != made.extra[k]) {
      return "line " + std::to_string(made.beats[k].line) +
             (made.extra[k] ? ", an extra beat, is kept" : ", a true beat, is left out");
    }
  }
  if (fitted.sections.size() > truth.size()) return "more sections than the true map";
  for (const FittedSection& section : fitted.sections) {
    if (section.measures < 8) continue;
    const TrueSection& at = TrueSectionAt(truth, section.firstMeasure);
    if (std::fabs(section.tempo - at.tempo) > 0.05 ||
        section.beatsPerMeasure != at.beatsPerMeasure) {
      return "the section at measure " + std::to_string(section.firstMeasure + 1) +
             " is not the true one's tempo and meter";
    }
  }
  if (std::fabs(fitted.offsetSeconds - offset) > 0.002) {
    return "measure 1 is " + std::to_string((fitted.offsetSeconds - offset) * 1000) + " ms off";
  }
  return "";
}

// A random map of the kinds a list comes from, its list fitted and held to
// the bar: every third without beat numbers, in 4/4; half the numbered ones
// with a pickup. What it misses, or nothing.
std::string FitARandomMap(uint32_t seed) {
  std::mt19937 random(seed);
  const bool numbered = seed % 3 != 0;
  const std::vector<TrueSection> truth =
      RandomMap(random, numbered && seed % 2 == 0, numbered ? 0 : 4);
  const double offset = std::uniform_real_distribution<double>(-0.5, 3.0)(random);
  const ListNoise noise{kToleranceMs / 3000, 0.02, 0.01, numbered};
  const MadeList made = MakeBeatList(truth, offset, noise, 2 * kToleranceMs / 1000, random);
  FittedMap fitted;
  Failure failure{};
  if (!FitBeats(made.beats, DefaultFitOptions(), fitted, failure)) return failure.message;
  return MissOfTheBar(truth, offset, made, fitted);
}

uint32_t SeedOfTheDraw() {
  const char* given = std::getenv("BEATSTAMPS_FIT_SEED");
  if (given != nullptr && *given != '\0') return static_cast<uint32_t>(std::stoul(given));
  return std::random_device{}();
}

// New maps at every run, each of a seed of its own that a miss names, so
// that its list can be fitted again alone; BEATSTAMPS_FIT_SEED repeats a
// draw and BEATSTAMPS_FIT_SWEEP draws more maps. Not every map meets the
// bar: over 30,000 maps about 1 in 150 misses a point of it, five in six of
// them only by measure 1 just over 2 ms off, where the least squares of the
// true sections puts it as well. The draw fails when more than 1 map in
// 25 misses, which a fit that keeps that rate does less than once in a
// million draws of 300 maps.
TEST(BeatFit, MapsFromTheirBeatsWithErrorsMissesAndExtraBeats) {
  const char* sweep = std::getenv("BEATSTAMPS_FIT_SWEEP");
  const int maps = sweep != nullptr && *sweep != '\0' ? std::stoi(sweep) : 300;
  const uint32_t seed = SeedOfTheDraw();
  std::string misses;
  int missed = 0;
  for (int map = 0; map < maps; ++map) {
    const uint32_t own = seed + static_cast<uint32_t>(map);
    const std::string miss = FitARandomMap(own);
    if (miss.empty()) continue;
    ++missed;
    misses += "BEATSTAMPS_FIT_SEED=" + std::to_string(own) + ": " + miss + "\n";
  }
  std::printf("%d of %d maps from BEATSTAMPS_FIT_SEED=%u missed the bar\n%s", missed, maps, seed,
              misses.c_str());
  EXPECT_LE(missed, maps / 25) << misses;
}

}  // namespace

namespace {

TEST(BeatFit, WholeTempoStepsPlaceTheSectionsSoThatNoBeatDrifts) {
  std::mt19937 random(7);
  const std::vector<TrueSection> truth{{97.3f, 4, 40}, {131.62f, 3, 48}, {88.8f, 4, 40}};
  const MadeList made = MakeBeatList(truth, 1.25, ListNoise{0.004, 0.0, 0.0, true}, 0.05, random);
  FitOptions options = DefaultFitOptions();
  options.tempoStep = 1.0;
  FittedMap fitted;
  Failure failure{};
  ASSERT_TRUE(FitBeats(made.beats, options, fitted, failure)) << failure.message;
  EXPECT_EQ(fitted.leftOut, 0);
  EXPECT_LE(fitted.largestErrorMs, kToleranceMs);
  for (const FittedSection& section : fitted.sections) {
    EXPECT_EQ(section.tempo, std::round(section.tempo));
  }
  const std::vector<double> grid = FittedGrid(fitted);
  for (size_t k = 0; k < made.trueTimes.size(); ++k) {
    ASSERT_LE(std::fabs(made.trueTimes[k] - grid[k]) * 1000, kToleranceMs) << k;
  }
}

// The fit of a hand-made list with the default options; a list it refuses
// fails the test.
FittedMap FitOf(const std::vector<ListedBeat>& beats) {
  FittedMap fitted;
  Failure failure{};
  EXPECT_TRUE(FitBeats(beats, DefaultFitOptions(), fitted, failure)) << failure.message;
  return fitted;
}

// The beats of `measures` measures of `meter` beats at `bpm` from `start`,
// each moved by a small error, those numbered in `missed` (counted from 0)
// left out; with their numbers in their measures when `numbered`.
struct Stretch {
  double start;
  double bpm;
  int32_t meter;
  int32_t measures;
  bool numbered;
};

void ListMeasures(const Stretch& stretch, const std::set<int32_t>& missed,
                  std::vector<ListedBeat>& beats) {
  for (int32_t beat = 0; beat < stretch.measures * stretch.meter; ++beat) {
    const double error = 0.005 * std::sin(beat * 2.3);
    const int32_t number = stretch.numbered ? beat % stretch.meter + 1 : 0;
    const auto line = static_cast<int32_t>(beats.size()) + 1;
    if (missed.count(beat) == 0) {
      beats.push_back(ListedBeat{stretch.start + beat * 60.0 / stretch.bpm + error, number, line});
    }
  }
}

// Every other beat missed for a while makes most gaps there two beats long:
// the tempo still holds through them. A tempo that halves leaves no gap of
// the old length, and takes a section of its own.
TEST(BeatFit, MissedBeatsCloseTogetherKeepTheTempoAndAHalvedTempoDoesNot) {
  std::vector<ListedBeat> beats;
  ListMeasures(Stretch{1.0, 120.0, 4, 32, false}, {41, 43, 45, 47, 49}, beats);
  const FittedMap steady = FitOf(beats);
  EXPECT_EQ(steady.leftOut, 0);
  ASSERT_EQ(steady.sections.size(), 1u);
  EXPECT_NEAR(steady.sections[0].tempo, 120.0, 0.05);

  beats.clear();
  ListMeasures(Stretch{1.0, 120.0, 4, 16, false}, {}, beats);
  ListMeasures(Stretch{33.0, 60.0, 4, 16, false}, {}, beats);
  const FittedMap halved = FitOf(beats);
  EXPECT_EQ(halved.leftOut, 0);
  ASSERT_EQ(halved.sections.size(), 2u);
  EXPECT_NEAR(halved.sections[0].tempo, 120.0, 0.05);
  EXPECT_NEAR(halved.sections[1].tempo, 60.0, 0.05);
}

// Where a tempo doubles and the first beat after the new section's first is
// missed, one slow beat and two fast ones span the same time: the beat
// numbers say which.
TEST(BeatFit, BeatNumbersTellTwoFastBeatsFromOneSlowOne) {
  std::vector<ListedBeat> beats;
  ListMeasures(Stretch{1.0, 80.0, 2, 12, true}, {}, beats);
  ListMeasures(Stretch{1.0 + 24 * 0.75, 160.0, 7, 12, true}, {1}, beats);
  const FittedMap fitted = FitOf(beats);
  EXPECT_EQ(fitted.leftOut, 0);
  ASSERT_EQ(fitted.sections.size(), 2u);
  EXPECT_NEAR(fitted.sections[0].tempo, 80.0, 0.05);
  EXPECT_NEAR(fitted.sections[1].tempo, 160.0, 0.05);
  EXPECT_EQ(fitted.sections[1].beatsPerMeasure, 7);
}

// Where the tempo slows by less than a tenth, an extra beat just after the
// new section's first beat lies nearer the new beat length than the first
// beat does: the beat length before the change still places that first
// beat, and the extra one is left out.
TEST(BeatFit, AnExtraBeatJustAfterASmallTempoChangeLeavesTheTrueBeatIn) {
  std::vector<ListedBeat> beats;
  ListMeasures(Stretch{1.0, 124.0, 3, 16, true}, {}, beats);
  const double change = 1.0 + 48 * 60.0 / 124.0;
  ListMeasures(Stretch{change, 112.0, 6, 8, true}, {}, beats);
  beats.insert(beats.begin() + 49, ListedBeat{change + 0.06, 1, 0});
  const FittedMap fitted = FitOf(beats);
  EXPECT_EQ(fitted.leftOut, 1);
  EXPECT_TRUE(fitted.beats[49].leftOut);
  EXPECT_FALSE(fitted.beats[48].leftOut);
  ASSERT_EQ(fitted.sections.size(), 2u);
  EXPECT_NEAR(fitted.sections[1].tempo, 112.0, 0.05);
}

// Where the meter changes, the beats missed in the first measures of the
// new meter leave a gap between two numbered bar lines that the new meter
// fills: two measures of two beats after a meter of seven, one measure of
// four (not two of two) after a meter of two.
TEST(BeatFit, MeasuresMissedWhereTheMeterChangesTakeTheNewMeter) {
  const std::pair<int32_t, int32_t> changes[] = {{7, 2}, {2, 4}};
  for (const auto& [old, meter] : changes) {
    std::vector<ListedBeat> beats;
    ListMeasures(Stretch{1.0, 120.0, old, 8, true}, {}, beats);
    ListMeasures(Stretch{1.0 + old * 8 * 0.5, 120.0, meter, 8, true}, {2, 3}, beats);
    const FittedMap fitted = FitOf(beats);
    EXPECT_EQ(fitted.leftOut, 0);
    ASSERT_EQ(fitted.sections.size(), 2u) << old << " to " << meter;
    EXPECT_EQ(fitted.sections[1].beatsPerMeasure, meter);
    EXPECT_EQ(fitted.sections[1].measures, 8);
  }
}

TEST(BeatFit, AListThatNeedsMoreSectionsThanAMapHoldsNamesATolerance) {
  std::vector<ListedBeat> beats;
  double time = 0.0;
  for (int32_t k = 0; k < 4000; ++k) {
    beats.push_back(ListedBeat{time, 0, k + 1});
    time += 0.5 + 0.02 * std::sin(k * 0.7);  // a beat length that never settles
  }
  FitOptions options = DefaultFitOptions();
  options.toleranceMs = 10.0;
  FittedMap fitted;
  Failure failure{};
  ASSERT_FALSE(FitBeats(beats, options, fitted, failure));
  EXPECT_NE(std::string(failure.message).find("--tolerance="), std::string::npos)
      << failure.message;
}

// The tempo halves where a beat is missed: the first beat after the gap
// lies a fast beat and a slow one on. The last fast beats, each close to
// its place, stay in though the slow beat after them reads, by the new
// length, as the same grid beat.
TEST(BeatFit, ABeatMissedWhereTheTempoHalvesLeavesTheLastFastBeatsIn) {
  const double times[] = {1.000, 1.386, 1.782, 2.175, 2.570, 2.956,  3.347,  3.749,  4.905, 5.679,
                          6.454, 7.230, 8.007, 8.776, 9.554, 10.333, 11.871, 12.644, 13.420};
  std::vector<ListedBeat> beats;
  for (const double time : times) {
    beats.push_back(ListedBeat{time, 0, static_cast<int32_t>(beats.size()) + 1});
  }
  const FittedMap fitted = FitOf(beats);
  EXPECT_EQ(fitted.leftOut, 0);
  ASSERT_EQ(fitted.sections.size(), 2u);
  EXPECT_EQ(fitted.sections[0].measures, 2);
  EXPECT_NEAR(fitted.sections[1].tempo, 77.5, 0.2);
}

// Three extra beats within a few beats of one another split three gaps into
// short pieces that outnumber the whole gaps there; each pair of pieces
// still spans one beat of the true length, so every true beat is kept and
// only the extra ones are left out.
TEST(BeatFit, ExtraBeatsCloseTogetherLeaveTheTrueBeatsBesideThemIn) {
  const double length = 60.0 / 140.0;
  const std::pair<int32_t, double> extras[] = {{45, 0.21}, {44, 0.70}, {40, 0.77}};
  std::vector<ListedBeat> beats;
  ListMeasures(Stretch{1.0, 140.0, 4, 24, false}, {}, beats);
  for (const auto& [after, part] : extras) {
    beats.insert(beats.begin() + after + 1, ListedBeat{1.0 + (after + part) * length, 0, 0});
  }
  const FittedMap fitted = FitOf(beats);
  EXPECT_EQ(fitted.leftOut, 3);
  for (const size_t extra : {41u, 46u, 48u}) EXPECT_TRUE(fitted.beats[extra].leftOut) << extra;
  for (const size_t beside : {40u, 42u, 45u, 47u, 49u}) {
    EXPECT_FALSE(fitted.beats[beside].leftOut) << beside;
  }
  EXPECT_EQ(fitted.sections.size(), 1u);
}

// Every beat of the first measure in a new meter missed: the gap between the
// numbered bar lines around it holds one measure of the old meter and one
// of the new, not a measure of a meter of its own.
TEST(BeatFit, AMeasureMissedWhereTheMeterChangesSplitsItsGapBetweenBothMeters) {
  const std::pair<int32_t, int32_t> changes[] = {{4, 2}, {5, 3}};
  for (const auto& [old, meter] : changes) {
    std::vector<ListedBeat> beats;
    ListMeasures(Stretch{1.0, 120.0, old, 8, true}, {}, beats);
    ListMeasures(Stretch{1.0 + old * 8 * 0.5, 100.0, meter, 8, true}, {0, 1, 2}, beats);
    const FittedMap fitted = FitOf(beats);
    EXPECT_EQ(fitted.leftOut, 0);
    ASSERT_EQ(fitted.sections.size(), 2u) << old << " to " << meter;
    EXPECT_EQ(fitted.sections[0].measures, 8);
    EXPECT_EQ(fitted.sections[1].beatsPerMeasure, meter);
    EXPECT_EQ(fitted.sections[1].measures, 8);
  }
}

// The meter changes one measure before a small tempo change: that measure
// fits both tempos, and as a part of the first section it would be cut off
// at the meter change anyway, a section more, so the tempo changes with the
// meter.
TEST(BeatFit, ASmallTempoChangeAMeasureAfterTheMeterTakesNoSectionMore) {
  const std::pair<double, double> changes[] = {{120.0, 117.0}, {100.0, 98.0}};
  for (const auto& [old, bpm] : changes) {
    std::vector<ListedBeat> beats;
    ListMeasures(Stretch{1.0, old, 5, 12, true}, {}, beats);
    ListMeasures(Stretch{1.0 + 60 * 60.0 / old, old, 2, 1, true}, {}, beats);
    ListMeasures(Stretch{1.0 + 62 * 60.0 / old, bpm, 2, 11, true}, {}, beats);
    const FittedMap fitted = FitOf(beats);
    EXPECT_EQ(fitted.leftOut, 0);
    ASSERT_EQ(fitted.sections.size(), 2u) << old << " to " << bpm;
    EXPECT_EQ(fitted.sections[1].firstMeasure, 12);
    EXPECT_EQ(fitted.sections[1].beatsPerMeasure, 2);
  }
}

// The tempo halves at a numbered bar line and the last beat before it is
// missed: the gap there spans two beats of the old length or one of the new
// alike, and the numbers before it say the old measure runs to its end.
TEST(BeatFit, AMeasureEndMissedBeforeAHalvedTempoKeepsTheOldMeter) {
  struct Change {
    int32_t old;
    int32_t meter;
    std::set<int32_t> missedAfter;
  };
  const Change changes[] = {{4, 4, {}}, {7, 7, {}}, {6, 5, {0}}};
  for (const Change& change : changes) {
    std::vector<ListedBeat> beats;
    ListMeasures(Stretch{1.0, 150.0, change.old, 8, true}, {change.old * 8 - 1}, beats);
    ListMeasures(Stretch{1.0 + change.old * 8 * 0.4, 75.0, change.meter, 8, true},
                 change.missedAfter, beats);
    const FittedMap fitted = FitOf(beats);
    EXPECT_EQ(fitted.leftOut, 0) << change.old << " to " << change.meter;
    ASSERT_EQ(fitted.sections.size(), 2u) << change.old << " to " << change.meter;
    EXPECT_EQ(fitted.sections[0].measures, 8);
    EXPECT_EQ(fitted.sections[1].beatsPerMeasure, change.meter);
  }
}

// The tempo doubles at a numbered bar line whose measure misses its second
// beat: the gap to the next bar line spans one beat of the old length or two
// of the new alike, and a measure of one beat is neither meter around it.
TEST(BeatFit, AMeasureMissingItsSecondBeatAfterADoubledTempoTakesTheNewMeter) {
  const std::pair<int32_t, int32_t> changes[] = {{4, 2}, {3, 2}};
  for (const auto& [old, meter] : changes) {
    std::vector<ListedBeat> beats;
    ListMeasures(Stretch{1.0, 75.0, old, 8, true}, {}, beats);
    ListMeasures(Stretch{1.0 + old * 8 * 0.8, 150.0, meter, 8, true}, {1}, beats);
    const FittedMap fitted = FitOf(beats);
    EXPECT_EQ(fitted.leftOut, 0) << old << " to " << meter;
    ASSERT_EQ(fitted.sections.size(), 2u) << old << " to " << meter;
    EXPECT_EQ(fitted.sections[0].measures, 8);
    EXPECT_EQ(fitted.sections[1].beatsPerMeasure, meter);
    EXPECT_EQ(fitted.sections[1].measures, 8);
  }
}

// The tempo slows at a numbered bar line and beats are missed close
// together just after it: gaps of two new beats outnumber those of one in
// the window there, and its median, two new beats, is a length of neither
// side. The gaps from the first beat after the change are still one length.
TEST(BeatFit, MissedBeatsCloseTogetherJustAfterATempoChangeKeepItsLength) {
  const std::set<int32_t> missedAfter[] = {{3, 5, 8, 11}, {2, 4, 7, 9}};
  for (const std::set<int32_t>& missed : missedAfter) {
    std::vector<ListedBeat> beats;
    ListMeasures(Stretch{1.0, 150.0, 6, 8, true}, {}, beats);
    ListMeasures(Stretch{1.0 + 6 * 8 * 0.4, 102.0, 4, 8, true}, missed, beats);
    const FittedMap fitted = FitOf(beats);
    EXPECT_EQ(fitted.leftOut, 0);
    ASSERT_EQ(fitted.sections.size(), 2u);
    EXPECT_EQ(fitted.sections[0].measures, 8);
    EXPECT_EQ(fitted.sections[1].beatsPerMeasure, 4);
    EXPECT_EQ(fitted.sections[1].measures, 8);
  }
}

}  // namespace
