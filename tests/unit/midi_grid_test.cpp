// The grid of a MIDI map: measures and beats cut by time signatures,
// sections, the map's length, the range and the continuation past the end,
// and every point's time against fractions worked out here on their own.
#include "grid/midi_grid.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "grid/renderer.h"
#include "midi_bytes.h"

namespace {

using namespace midi_bytes;

struct Walked {
  std::vector<GridPoint> points;
  std::vector<int64_t> entered;  // measures the walk announced
};

bool KeepPoint(void* context, const GridPoint& point) {
  static_cast<Walked*>(context)->points.push_back(point);
  return true;
}

bool KeepMeasure(void* context, int64_t measure) {
  static_cast<Walked*>(context)->entered.push_back(measure);
  return true;
}

// (measure, beat, division), counted from 0.
std::vector<std::vector<int64_t>> Labels(const Walked& walked) {
  std::vector<std::vector<int64_t>> labels;
  for (const GridPoint& p : walked.points) labels.push_back({p.measure, p.beat, p.division});
  return labels;
}

class MidiGrid : public ::testing::Test {
 protected:
  void Read(const std::string& bytes) {
    FILE* file = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "r");
    ASSERT_NE(file, nullptr);
    Failure failure{};
    const bool read = ReadMidiMap(file, "test.mid", *reading_, *map_, failure);
    std::fclose(file);
    ASSERT_TRUE(read) << failure.message;
  }
  Walked Walk(int32_t start, int32_t stop, int32_t divisions, uint32_t rate = 48000) {
    Walked walked;
    const GridSettings settings{rate, divisions, start, stop};
    WalkMidiGrid(*map_, settings, GridVisitor{&walked, KeepPoint, KeepMeasure});
    EXPECT_EQ(CountMidiGridPoints(*map_, settings), walked.points.size())
        << "range " << start << " to " << stop;
    return walked;
  }

  std::unique_ptr<MidiReading> reading_ = std::make_unique_for_overwrite<MidiReading>();
  std::unique_ptr<MidiMap> map_ = std::make_unique_for_overwrite<MidiMap>();
};

TEST_F(MidiGrid, ATimeSignatureCutsTheMeasureAndTheBeatItFallsIn) {
  // 3/4, then 2/4 at tick 1200: a quarter into the third beat's second half.
  // 120 quarter notes a minute, 480 ticks each: a tick is 1/960 s, 50 samples.
  Read(Header(1, 1, 480) + Track(Meter(0, 3, 2) + Meter(1200, 2, 2) + EndOfTrack(1920)));
  EXPECT_EQ(map_->sectionCount, 2);
  EXPECT_EQ(map_->totalMeasures, 3);  // at 0, 1200 and 2160; 3120 is the end
  EXPECT_EQ(map_->totalBeats, 7);     // three (the last cut short), then two and two
  const Walked walked = Walk(0, 1, 4);
  // The third beat keeps the two divisions before the cut.
  const std::vector<std::vector<int64_t>> expected = {
      {0, 0, 0}, {0, 0, 1}, {0, 0, 2}, {0, 0, 3}, {0, 1, 0}, {0, 1, 1},
      {0, 1, 2}, {0, 1, 3}, {0, 2, 0}, {0, 2, 1}, {1, 0, 0}, {1, 0, 1},
      {1, 0, 2}, {1, 0, 3}, {1, 1, 0}, {1, 1, 1}, {1, 1, 2}, {1, 1, 3}};
  EXPECT_EQ(Labels(walked), expected);
  const std::vector<uint64_t> ticks = {0,    120,  240,  360,  480,  600,  720,  840,  960,
                                       1080, 1200, 1320, 1440, 1560, 1680, 1800, 1920, 2040};
  for (size_t k = 0; k < ticks.size(); ++k) {
    EXPECT_EQ(walked.points[k].samplePosition, static_cast<int64_t>(ticks[k] * 50)) << k;
    EXPECT_EQ(walked.points[k].clock, static_cast<double>(ticks[k]) / 960.0) << k;
  }
  EXPECT_EQ(walked.points[10].kind, PointKind::kDownbeat);
  EXPECT_EQ(walked.points[10].section, 1);
  EXPECT_EQ(walked.points[9].section, 0);
  EXPECT_EQ(walked.entered, std::vector<int64_t>{1});
}

TEST_F(MidiGrid, ARepeatedMeterStartsAMeasureButNoSection) {
  Read(Header(1, 1, 480) + Track(Meter(0, 4, 2) + Meter(2640, 4, 2) + EndOfTrack(1920)));
  EXPECT_EQ(map_->sectionCount, 1);
  EXPECT_EQ(map_->meterCount, 2);
  // Measures at 0, 1920 (cut at 2640, a beat and a half on) and 2640; 4560 is the end.
  EXPECT_EQ(map_->totalMeasures, 3);
  EXPECT_EQ(map_->totalBeats, 4 + 2 + 4);
  EXPECT_EQ(map_->sections[0].measures, 3);
  const Walked walked = Walk(1, 2, 2);
  const std::vector<std::vector<int64_t>> expected = {{1, 0, 0}, {1, 0, 1}, {1, 1, 0}, {2, 0, 0},
                                                      {2, 0, 1}, {2, 1, 0}, {2, 1, 1}, {2, 2, 0},
                                                      {2, 2, 1}, {2, 3, 0}, {2, 3, 1}};
  EXPECT_EQ(Labels(walked), expected);
  EXPECT_EQ(walked.points[2].samplePosition, 2400 * 50);
  EXPECT_EQ(walked.points[3].samplePosition, 2640 * 50);
  // The first measure of a range after others is announced too, as on a text map.
  EXPECT_EQ(walked.entered, (std::vector<int64_t>{1, 2}));
}

// Ramps, pickups, odd meters and a fraction of a tick: each point's time from
// its tick position, summed here tempo by tempo.
TEST_F(MidiGrid, EveryPointIsTheExactTimeOfItsPosition) {
  // 96 ticks a quarter; 7/16 (a beat of 24 ticks); 5 divisions: 4.8 ticks each.
  // Tempos change mid-beat and mid-division, on two tracks.
  struct Change {
    uint64_t tick;
    uint32_t microseconds;
  };
  const std::vector<Change> tempos = {{0, 500000}, {10, 612345}, {77, 433333}, {301, 1000001}};
  std::string first = Meter(0, 7, 4) + Tempo(0, 500000) + Tempo(10, 612345) + Tempo(67, 433333);
  std::string second = NoteOn(0, 60) + Tempo(301, 1000001) + EndOfTrack(1000);
  Read(Header(1, 2, 96) + Track(first + EndOfTrack(0)) + Track(second));
  const uint32_t rate = 44100;
  const Walked walked = Walk(0, 6, 5, rate);
  ASSERT_EQ(walked.points.size(), 7u * 7u * 5u);
  for (size_t k = 0; k < walked.points.size(); ++k) {
    // Position 24k/5 ticks: microsecond-ticks x 5, summed over the tempos before it.
    const uint64_t position5 = 24 * k;
    uint64_t time5 = 0;
    for (size_t t = 0; t < tempos.size(); ++t) {
      const uint64_t from = tempos[t].tick * 5;
      const uint64_t to = t + 1 < tempos.size() ? tempos[t + 1].tick * 5 : UINT64_MAX;
      if (position5 > from) time5 += (std::min(position5, to) - from) * tempos[t].microseconds;
    }
    const uint64_t denominator = uint64_t{5} * 96 * 1000000;
    EXPECT_EQ(walked.points[k].clock, static_cast<double>(time5) / static_cast<double>(denominator))
        << k;
    EXPECT_EQ(walked.points[k].samplePosition,
              static_cast<int64_t>(static_cast<Wide>(time5) * rate / denominator))
        << k;
  }
}

TEST_F(MidiGrid, TheGridGoesOnPastTheEndAtTheLastTempoAndMeter) {
  // Two measures of 6/8 at 250,000 us a quarter: an eighth is 0.125 s.
  Read(Header(0, 1, 120) + Track(Meter(0, 6, 3) + Tempo(0, 250000) + EndOfTrack(720)));
  EXPECT_EQ(map_->totalMeasures, 2);
  EXPECT_EQ(map_->totalBeats, 12);
  EXPECT_EQ(map_->sections[0].measures, 2);
  const Walked walked = Walk(999, 1000, 1);
  ASSERT_EQ(walked.points.size(), 12u);
  EXPECT_EQ(walked.points[0].clock, 999 * 0.75);
  EXPECT_EQ(walked.points[11].clock, 1000 * 0.75 + 5 * 0.125);
  EXPECT_EQ(walked.points[11].beat, 5);
  EXPECT_EQ(walked.entered, (std::vector<int64_t>{999, 1000}));
  // Deep ranges are counted without a walk, and a range before measure 1 starts there.
  EXPECT_EQ(CountMidiGridPoints(*map_, GridSettings{48000, 3, 0, INT32_MAX}),
            uint64_t{INT32_MAX} * 6 * 3 + 6 * 3);
  EXPECT_EQ(Labels(Walk(-5, 0, 1)).size(), 6u);
  EXPECT_EQ(Walk(-5, -1, 1).points.size(), 0u);
  EXPECT_EQ(Walk(3, 2, 1).points.size(), 0u);
  EXPECT_EQ(LastMidiMeasureInRange(GridSettings{48000, 1, 3, 2}), -1);
  EXPECT_EQ(LastMidiMeasureInRange(GridSettings{48000, 1, -3, 2}), 2);
}

TEST_F(MidiGrid, SectionsCountTheMapsOwnMeasuresAndShowTheTempoOfTheirBeat) {
  // 4/4; a tempo change inside measure 2; 6/8 from tick 2400 (measure 2 cut), a
  // repeated tempo and a repeated 6/8 later, and a change at the very end.
  const std::string events = Meter(0, 4, 2) + Tempo(0, 600000) + Tempo(2000, 500000) +
                             Meter(400, 6, 3) + Tempo(480, 500000) + Meter(960, 6, 3) +
                             Tempo(1440, 400000);
  Read(Header(1, 1, 480) + Track(events + EndOfTrack(0)));
  // Ticks: measures at 0, 1920, 2400, 3840, 5280 (then the end, 5280: not held).
  EXPECT_EQ(map_->lastTick, 5280u);
  EXPECT_EQ(map_->totalMeasures, 4);
  ASSERT_EQ(map_->sectionCount, 4);
  const std::vector<uint64_t> starts = {0, 2000, 2400, 5280};
  const std::vector<int32_t> measures = {2, 0, 2, 0};
  const std::vector<double> tempos = {100.0, 120.0, 240.0, 300.0};
  // 0.6 s a quarter up to tick 2000, then 0.5 s.
  const std::vector<double> seconds = {0.0, 2000 * 0.6 / 480, 2.5 + 400 * 0.5 / 480,
                                       2.5 + 3280 * 0.5 / 480};
  for (int32_t k = 0; k < 4; ++k) {
    EXPECT_EQ(map_->sections[k].tick, starts[k]);
    const SectionHeading heading = MidiSectionHeading(*map_, k);
    EXPECT_EQ(heading.measures, measures[k]) << k;
    EXPECT_EQ(heading.tempo, tempos[k]) << k;
    EXPECT_EQ(heading.beatsPerMeasure, k < 2 ? 4 : 6);
    EXPECT_DOUBLE_EQ(NearestSeconds(SectionStartTime(*map_, k)), seconds[k]) << k;
  }
  // A map that ends where it begins holds one measure.
  Read(Header(0, 1, 480) + Track(Meter(0, 5, 2) + EndOfTrack(0)));
  EXPECT_EQ(map_->totalMeasures, 1);
  EXPECT_EQ(map_->totalBeats, 5);
  EXPECT_EQ(map_->sections[0].measures, 1);
}

TEST_F(MidiGrid, TheReportHeadsEachSectionBeforeItsFirstLine) {
  // 2/4 at 120; 60 quarter notes a minute from the second beat's second half.
  Read(Header(0, 1, 2) + Track(Meter(0, 2, 2) + Tempo(3, 1000000) + EndOfTrack(1)));
  auto report = std::make_unique<ReportText>();
  Failure failure{};
  ASSERT_TRUE(
      BuildReport(GridMap{nullptr, map_.get()}, GridSettings{10, 2, 0, 1}, *report, failure));
  EXPECT_STREQ(report->text,
               "\nSample Rate\t10\n"
               "\nSection 1\tTempo 120.000\tBeats/Meas 2\tMeasures 1\n\n"
               "M 1\tB 1\t0.000 sec\t0 smp\n"
               "\t\t0.250 sec\t2 smp\n"
               "\tB 2\t0.500 sec\t5 smp\n"
               "\nSection 2\tTempo 60.000\tBeats/Meas 2\tMeasures 0\n\n"
               "\t\t0.750 sec\t7 smp\n"
               "\n"
               "M 2\tB 1\t1.250 sec\t12 smp\n"
               "\t\t1.750 sec\t17 smp\n"
               "\tB 2\t2.250 sec\t22 smp\n"
               "\t\t2.750 sec\t27 smp\n");
  EXPECT_FALSE(CheckMidiGrid(GridSettings{10, 0, 0, 1}, failure));
  EXPECT_EQ(failure.message, "Error: Divisions per beat must be greater than zero!\n");
}

}  // namespace
