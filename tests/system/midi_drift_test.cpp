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

TEST_F(MidiDrift, EveryClickOfAnHourIsWithinAMicrosecondOfTheReport) {
  // An hour at 140 beats a minute: 428,571.43 microseconds a beat.
  Write("hour.map", "tmap\t140\t4\t2100\ntmap\t96\t3\t10\n");
  for (const std::string divisions : {"1", "3"}) {
    ASSERT_EQ(
        Run({"--format=midi", "hour.map", "hour.mid", "48000", "1", "2110", divisions}).status, 0);
    ASSERT_EQ(Run({"--format=csv", "hour.map", "hour.csv", "48000", "1", "2110", divisions}).status,
              0);
    const std::vector<double> seconds = CsvSeconds(Read("hour.csv"));
    int ticksPerQuarter = 0;
    const std::vector<Event> events = EventsOf(Read("hour.mid"), ticksPerQuarter);
    // The tempo map: (tick, microseconds per quarter), each a change.
    std::vector<std::pair<uint64_t, uint64_t>> tempos;
    size_t repeats = 0;
    for (const Event& event : events) {
      if (event.track != 0 || event.status != 0xFF || event.data[0] != 0x51) continue;
      const uint64_t tempo = static_cast<unsigned char>(event.data[1]) << 16 |
                             static_cast<unsigned char>(event.data[2]) << 8 |
                             static_cast<unsigned char>(event.data[3]);
      repeats += !tempos.empty() && tempos.back().second == tempo;
      tempos.emplace_back(event.tick, tempo);
    }
    // Each click's time in microsecond-ticks (ticks x microseconds per quarter), summed exactly.
    size_t point = 0, next = 0;
    uint64_t from = 0, tempo = 500000, elapsed = 0;
    double worst = 0;
    for (const Event& event : events) {
      if (event.track != 1 || event.status != 0x99 || point >= seconds.size()) continue;
      for (; next < tempos.size() && tempos[next].first <= event.tick; ++next) {
        elapsed += (tempos[next].first - from) * tempo;
        from = tempos[next].first;
        tempo = tempos[next].second;
      }
      const double microseconds =
          static_cast<double>(elapsed + (event.tick - from) * tempo) / ticksPerQuarter;
      worst = std::max(worst, std::abs(microseconds - seconds[point++] * 1e6));
    }
    EXPECT_EQ(point, seconds.size());
    EXPECT_EQ(point, (2100u * 4 + 10 * 3) * std::stoul(divisions));
    EXPECT_LT(worst, 1.0) << divisions << " divisions";
    // A tempo where the rounding changes, and at the second section, only.
    EXPECT_GT(tempos.size(), 1000u);
    EXPECT_LE(repeats, 1u);
  }
}

}  // namespace
