// The MIDI export of a text map keeps to the report's times however long the
// map: each beat's whole microseconds carry the rounding of the one before.
#include <cmath>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "midi_bytes.h"
#include "program_runner.h"

namespace {

using namespace midi_bytes;
using MidiDrift = SystemTest;

// Seconds of each CSV line.
std::vector<double> CsvSeconds(const std::string& csv) {
  std::vector<double> seconds;
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line))
    seconds.push_back(std::stod(line.substr(line.rfind(',', line.rfind(',') - 1) + 1)));
  return seconds;
}

// How a MIDI file's clicks keep to the CSV's times.
struct Drift {
  size_t clicks;
  double worst;  // microseconds
  size_t tempos;
  size_t repeats;   // tempos that repeat the one before
  double halfTick;  // microseconds, at the file's slowest tempo
};

Drift DriftOf(const std::string& midi, const std::vector<double>& seconds) {
  int ticksPerQuarter = 0;
  const std::vector<Event> events = EventsOf(midi, ticksPerQuarter);
  // The tempo map: (tick, microseconds per quarter), each a change.
  std::vector<std::pair<uint64_t, uint64_t>> tempos;
  Drift drift{0, 0, 0, 0, 0};
  for (const Event& event : events) {
    if (event.track != 0 || event.status != 0xFF || event.data[0] != 0x51) continue;
    const uint64_t tempo = static_cast<unsigned char>(event.data[1]) << 16 |
                           static_cast<unsigned char>(event.data[2]) << 8 |
                           static_cast<unsigned char>(event.data[3]);
    drift.repeats += !tempos.empty() && tempos.back().second == tempo;
    drift.halfTick = std::max(drift.halfTick, 0.5 * static_cast<double>(tempo) / ticksPerQuarter);
    tempos.emplace_back(event.tick, tempo);
  }
  drift.tempos = tempos.size();
  // Each click's time in microsecond-ticks (ticks x microseconds per quarter), summed exactly.
  size_t next = 0;
  uint64_t from = 0, tempo = 500000, elapsed = 0;
  for (const Event& event : events) {
    if (event.track != 1 || event.status != 0x99 || drift.clicks >= seconds.size()) continue;
    for (; next < tempos.size() && tempos[next].first <= event.tick; ++next) {
      elapsed += (tempos[next].first - from) * tempo;
      from = tempos[next].first;
      tempo = tempos[next].second;
    }
    const double microseconds =
        static_cast<double>(elapsed + (event.tick - from) * tempo) / ticksPerQuarter;
    drift.worst = std::max(drift.worst, std::abs(microseconds - seconds[drift.clicks++] * 1e6));
  }
  return drift;
}

TEST_F(MidiDrift, EveryClickOfAnHourIsWithinAMicrosecondOfTheReport) {
  // An hour at 140 beats a minute: 428,571.43 microseconds a beat.
  Write("hour.map", "tmap\t140\t4\t2100\ntmap\t96\t3\t10\n");
  for (const std::string divisions : {"1", "3"}) {
    ASSERT_EQ(
        Run({"--format=midi", "hour.map", "hour.mid", "48000", "1", "2110", divisions}).status, 0);
    ASSERT_EQ(Run({"--format=csv", "hour.map", "hour.csv", "48000", "1", "2110", divisions}).status,
              0);
    const std::vector<double> seconds = CsvSeconds(Read("hour.csv"));
    const Drift drift = DriftOf(Read("hour.mid"), seconds);
    EXPECT_EQ(drift.clicks, seconds.size());
    EXPECT_EQ(drift.clicks, (2100u * 4 + 10 * 3) * std::stoul(divisions));
    EXPECT_LT(drift.worst, 1.0) << divisions << " divisions";
    // A tempo where the rounding changes, and at the second section, only.
    EXPECT_GT(drift.tempos, 1000u);
    EXPECT_LE(drift.repeats, 1u);
  }
  // One tempo a section, as a sequencer's user reads it: each click on the
  // tick nearest its time, within half a tick, the largest distance said.
  const ProgramRun run = Run({"--midi-tempo=section", "--format=midi", "hour.map", "section.mid",
                              "48000", "1", "2110", "3"});
  ASSERT_EQ(run.status, 0);
  const Drift drift = DriftOf(Read("section.mid"), CsvSeconds(Read("hour.csv")));
  EXPECT_EQ(drift.tempos, 2u);
  EXPECT_EQ(drift.clicks, (2100u * 4 + 10 * 3) * 3);
  EXPECT_LE(drift.worst, drift.halfTick + 0.001);
  EXPECT_NE(run.output.find("One tempo a section: every click within " +
                            Fixed(drift.worst / 1000, 3) + " ms of its time (the nearest tick)\n"),
            std::string::npos)
      << run.output;
  ExpectRefused(Run({"--midi-tempo=section", "--count-in=1", "--format=midi", "hour.map", "x.mid"}),
                "Read 2 sections, 2110 measures, 8430 beats\n");
}

TEST_F(MidiDrift, ALongSectionOfWholeMicrosecondBeatsLeavesTheCarryingAsItWas) {
  // 120 and 128 beats a minute make beats of whole microseconds (500,000 and
  // 468,750), for thousands of measures; 140 and 100, between and after them, do not.
  Write("steady.map",
        "tmap\t120\t4\t20000\ntmap\t140\t4\t300\ntmap\t128\t4\t3000\n"
        "tmap\t100\t4\t300\n");
  for (const std::string divisions : {"1", "2"}) {
    ASSERT_EQ(
        Run({"--format=midi", "steady.map", "steady.mid", "48000", "1", "23600", divisions}).status,
        0);
    ASSERT_EQ(
        Run({"--format=csv", "steady.map", "steady.csv", "48000", "1", "23600", divisions}).status,
        0);
    const std::vector<double> seconds = CsvSeconds(Read("steady.csv"));
    const Drift drift = DriftOf(Read("steady.mid"), seconds);
    EXPECT_EQ(drift.clicks, 23600u * 4 * std::stoul(divisions));
    // Each beat ends on the microsecond nearest its time; a division between
    // two lies within one.
    EXPECT_LE(drift.worst, divisions == "1" ? 0.5 + 1e-3 : 1.0) << divisions << " divisions";
    EXPECT_LE(drift.repeats, 1u);
  }
}

}  // namespace
