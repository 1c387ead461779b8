// The MIDI format placed in a recording: --offset and --count-in move every
// click, put the count-in's clicks on their beats before measure 1, and keep
// the file's bar lines on the map's measures. The click track's count-in of
// a MIDI map takes section 1's beat, an eighth or a half note.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "midi_bytes.h"
#include "program_runner.h"

namespace {

using namespace midi_bytes;
using Arguments = std::vector<std::string>;

constexpr int kDownbeat = 76, kOther = 77;  // the notes of a downbeat's click and the rest

// A MIDI file as a sequencer times it: every click's microseconds and note,
// and every bar line's microseconds, summed exactly from its ticks and tempos.
struct Timeline {
  std::vector<double> clicks;
  std::vector<int> notes;
  std::vector<double> bars;
};

Timeline TimelineOf(const std::string& file) {
  int ticksPerQuarter = 0;
  const std::vector<Event> events = EventsOf(file, ticksPerQuarter);
  std::vector<std::pair<uint64_t, uint64_t>> tempos;  // tick, microseconds per quarter
  std::vector<std::pair<uint64_t, uint64_t>> meters;  // tick, ticks of a measure
  uint64_t end = 0;
  for (const Event& event : events) {
    end = std::max(end, event.tick);
    if (event.status != 0xFF || event.track != 0) continue;
    const auto byte = [&](size_t k) {
      return static_cast<uint64_t>(static_cast<uint8_t>(event.data[k]));
    };
    if (event.data[0] == 0x51)
      tempos.emplace_back(event.tick, byte(1) << 16 | byte(2) << 8 | byte(3));
    if (event.data[0] == 0x58)
      meters.emplace_back(event.tick, 4 * ticksPerQuarter * byte(1) >> byte(2));
  }
  auto microseconds = [&](uint64_t tick) {
    unsigned __int128 sum = 0;  // ticks x microseconds per quarter
    for (size_t k = 0; k < tempos.size() && tempos[k].first < tick; ++k) {
      const uint64_t upto = k + 1 < tempos.size() ? std::min(tick, tempos[k + 1].first) : tick;
      sum += static_cast<unsigned __int128>(upto - tempos[k].first) * tempos[k].second;
    }
    return static_cast<double>(sum) / ticksPerQuarter;
  };
  Timeline timeline;
  for (const Event& event : events) {
    if (event.track != 1 || event.status != 0x99) continue;
    timeline.clicks.push_back(microseconds(event.tick));
    timeline.notes.push_back(event.data[0]);
  }
  for (size_t k = 0; k < meters.size(); ++k) {
    const uint64_t stop = k + 1 < meters.size() ? meters[k + 1].first : end + 1;
    for (uint64_t tick = meters[k].first; tick < stop; tick += meters[k].second) {
      timeline.bars.push_back(microseconds(tick));
    }
  }
  return timeline;
}

// Microseconds of each CSV line.
std::vector<double> CsvMicroseconds(const std::string& csv) {
  std::vector<double> times;
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line)) {
    times.push_back(std::stod(line.substr(line.rfind(',', line.rfind(',') - 1) + 1)) * 1e6);
  }
  return times;
}

// The first sample of each click of a WAV file written by the program.
std::vector<std::pair<size_t, int>> ClickStarts(const std::string& wav) {
  std::vector<std::pair<size_t, int>> starts;
  size_t silent = 100;
  for (size_t at = 44; at + 1 < wav.size(); at += 2) {
    const auto sample = static_cast<int16_t>(static_cast<uint8_t>(wav[at]) |
                                             static_cast<uint8_t>(wav[at + 1]) << 8);
    if (sample != 0 && silent >= 100) starts.emplace_back((at - 44) / 2, sample);
    silent = sample == 0 ? silent + 1 : 0;
  }
  return starts;
}

class MidiPlacement : public SystemTest {
 protected:
  // Count-in clicks at `countIn` (microseconds, downbeat or not), then the
  // grid's at the CSV's times moved by `shift` microseconds; all within `bound`.
  void ExpectClicks(const Timeline& file, const std::vector<std::pair<double, bool>>& countIn,
                    const std::vector<double>& grid, double shift, double bound) {
    ASSERT_EQ(file.clicks.size(), countIn.size() + grid.size());
    for (size_t k = 0; k < countIn.size(); ++k) {
      EXPECT_NEAR(file.clicks[k], countIn[k].first, bound) << "count-in click " << k;
      EXPECT_EQ(file.notes[k], countIn[k].second ? kDownbeat : kOther) << "count-in click " << k;
    }
    for (size_t k = 0; k < grid.size(); ++k) {
      EXPECT_NEAR(file.clicks[countIn.size() + k], grid[k] + shift, bound) << "click " << k;
    }
  }

  // The file's bar lines up to `last` microseconds.
  static std::vector<double> BarsUpTo(const Timeline& file, double last) {
    std::vector<double> bars;
    for (const double bar : file.bars) {
      if (bar <= last + 1) bars.push_back(std::round(bar));
    }
    return bars;
  }
};

TEST_F(MidiPlacement, OffsetAndCountInMoveEveryClickAndKeepTheBarsOnTheMeasures) {
  // Two measures of 3/4 at 90 beats a minute (666,666.67 us a beat), one of 4/4 at 120.
  Write("waltz.map", "tmap\t90\t3\t2\ntmap\t120\t4\t1\n");
  const Arguments settings = {"8000", "1", "3", "1"};
  const double beat = 60e6 / 90;
  const std::vector<double> grid = CsvMicroseconds(ExportedWith({}, "csv", "waltz.map", settings));
  ASSERT_EQ(grid.size(), 10u);
  const std::string plain = ExportedWith({}, "midi", "waltz.map", settings);
  // Without an offset two measures of count-in open the file, measure 1 after them.
  Timeline file = TimelineOf(ExportedWith({"--count-in=2"}, "midi", "waltz.map", settings));
  std::vector<std::pair<double, bool>> countIn;
  for (int k = 0; k < 6; ++k) countIn.emplace_back(k * beat, k % 3 == 0);
  ExpectClicks(file, countIn, grid, 4e6, 1.0);
  EXPECT_EQ(BarsUpTo(file, 8e6), (std::vector<double>{0, 2e6, 4e6, 6e6, 8e6}));
  // With one, measure 1 stands there: the count-in's clicks before 0 are left
  // out, and one bar holds the time before the rest (whose downbeat is cut).
  file = TimelineOf(ExportedWith({"--offset=1.5", "--count-in=1"}, "midi", "waltz.map", settings));
  ExpectClicks(file, {{1.5e6 - 2 * beat, false}, {1.5e6 - beat, false}}, grid, 1.5e6, 1.0);
  EXPECT_EQ(BarsUpTo(file, 5.5e6), (std::vector<double>{0, 1.5e6, 3.5e6, 5.5e6}));
  // A negative offset begins the file inside measure 1, with a bar up to measure 2.
  const std::vector<double> kept =
      CsvMicroseconds(ExportedWith({"--offset=-1"}, "csv", "waltz.map", settings));
  ASSERT_EQ(kept.size(), 8u);
  file = TimelineOf(ExportedWith({"--offset=-1", "--count-in=2"}, "midi", "waltz.map", settings));
  ExpectClicks(file, {}, kept, 0, 1.0);
  EXPECT_EQ(BarsUpTo(file, 3e6), (std::vector<double>{0, 1e6, 3e6}));
  // An offset of 0 puts measure 1 at the start and every count-in click before it.
  EXPECT_EQ(ExportedWith({"--offset=0", "--count-in=3"}, "midi", "waltz.map", settings), plain);
  ExpectRefused(Run({"--offset=2147483647", "--format=midi", "waltz.map", "far.mid"}),
                "Read 2 sections, 3 measures, 10 beats\n");
  EXPECT_FALSE(Exists("far.mid"));

  // A MIDI map in 6/8, an eighth 0.3 s: its times are whole microseconds, held exactly.
  Write("jig.mid", Header(1, 1, 4) + Track(Meter(0, 6, 3) + Tempo(0, 600000) + EndOfTrack(24)));
  const Arguments jigSettings = {"1000", "1", "2", "2"};
  const std::vector<double> jig = CsvMicroseconds(ExportedWith({}, "csv", "jig.mid", jigSettings));
  ASSERT_EQ(jig.size(), 24u);
  file = TimelineOf(ExportedWith({"--count-in=1"}, "midi", "jig.mid", jigSettings));
  countIn.clear();
  for (int k = 0; k < 6; ++k) countIn.emplace_back(k * 3e5, k == 0);
  ExpectClicks(file, countIn, jig, 1.8e6, 1e-3);
  EXPECT_EQ(BarsUpTo(file, 5.4e6), (std::vector<double>{0, 1.8e6, 3.6e6, 5.4e6}));
  file = TimelineOf(ExportedWith({"--count-in=1", "--offset=1"}, "midi", "jig.mid", jigSettings));
  ExpectClicks(file, {{1e5, false}, {4e5, false}, {7e5, false}}, jig, 1e6, 1e-3);
  // The click track counts in on the same eighths, and on a half note in 2/2.
  std::vector<std::pair<size_t, int>> starts =
      ClickStarts(ExportedWith({"--count-in=1"}, "click", "jig.mid", jigSettings));
  ASSERT_GE(starts.size(), 7u);
  for (size_t k = 0; k < 7; ++k) EXPECT_EQ(starts[k].first, 300 * k) << k;
  EXPECT_GT(starts[0].second, starts[1].second) << "a downbeat sounds louder";
  Write("cut.mid", Header(0, 1, 4) + Track(Meter(0, 2, 1) + Tempo(0, 500000) + EndOfTrack(16)));
  starts = ClickStarts(ExportedWith({"--count-in=2"}, "click", "cut.mid", {"1000", "1", "1"}));
  ASSERT_EQ(starts.size(), 6u);
  for (size_t k = 0; k < 6; ++k) EXPECT_EQ(starts[k].first, 1000 * k) << k;
  EXPECT_EQ(starts[2].second, starts[0].second) << "each count-in measure's downbeat";
}

TEST_F(MidiPlacement, AMapOfNoMeasuresIsCutWithoutAFault) {
  // Its one section skipped, the grid holds no point: the file begins where
  // the recording does, with the section's meter and tempo.
  Write("empty.map", "tmap\t100000\t3\t0\n");
  const ProgramRun run =
      Run({"--offset=-0.5", "--format=midi", "empty.map", "empty.mid", "44100", "1", "2", "3"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Read("empty.mid").substr(0, 4), "MThd");
}

}  // namespace
