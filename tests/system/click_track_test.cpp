// The click track read back: a WAV header that says what follows, a click
// beginning at every grid point's sample and silence everywhere else.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "program_runner.h"

namespace {

uint32_t Little(const std::string& bytes, size_t at, int count) {
  uint32_t value = 0;
  for (int k = count - 1; k >= 0; --k) value = value << 8 | static_cast<uint8_t>(bytes.at(at + k));
  return value;
}

class ClickTrack : public SystemTest {
 protected:
  // `settings`: rate, start, stop and divisions.
  void ExpectClicksOnTheGrid(const std::string& map, std::vector<std::string> settings,
                             bool wholeClicksOfEveryKind) {
    settings.insert(settings.begin(), {"--format=csv", map, "grid.csv"});
    ASSERT_EQ(Run(settings).status, 0);
    settings[0] = "--format=click", settings[2] = "click.wav";
    ASSERT_EQ(Run(settings).status, 0);
    std::vector<int64_t> points;  // the grid's sample positions, from the CSV
    std::vector<int> kinds;       // 0 a downbeat, 1 a beat, 2 a later division
    const std::string csv = Read("grid.csv");
    for (size_t end = csv.find('\n', csv.find('\n') + 1); end != std::string::npos;
         end = csv.find('\n', end + 1)) {
      const size_t line = csv.rfind('\n', end - 1) + 1;
      int section = 0, beat = 0, division = 0;
      long long measure = 0;
      std::sscanf(csv.c_str() + line, "%d,%lld,%d,%d", &section, &measure, &beat, &division);
      kinds.push_back(division > 1 ? 2 : beat > 1 ? 1 : 0);
      points.push_back(std::stoll(csv.substr(csv.rfind(',', end) + 1)));
    }
    ASSERT_GT(points.size(), 1u);
    const std::string wav = Read("click.wav");
    const uint32_t rate = std::stoul(settings[3]), clickLength = std::max(1u, rate / 100);
    const uint32_t dataBytes = 2 * static_cast<uint32_t>(points.back() + clickLength);
    ASSERT_EQ(wav.size(), 44 + dataBytes);
    EXPECT_EQ(wav.substr(0, 4) + wav.substr(8, 8) + wav.substr(36, 4), "RIFFWAVEfmt data");
    EXPECT_EQ(Little(wav, 4, 4), 36 + dataBytes);
    EXPECT_EQ(Little(wav, 16, 4), 16u);  // the format fields' size
    EXPECT_EQ(Little(wav, 20, 2), 1u);   // PCM
    EXPECT_EQ(Little(wav, 22, 2), 1u);   // mono
    EXPECT_EQ(Little(wav, 24, 4), rate);
    EXPECT_EQ(Little(wav, 28, 4), 2 * rate);
    EXPECT_EQ(Little(wav, 32, 2), 2u);   // bytes a sample
    EXPECT_EQ(Little(wav, 34, 2), 16u);  // bits a sample
    EXPECT_EQ(Little(wav, 40, 4), dataBytes);
    auto sample = [&](int64_t at) { return static_cast<int16_t>(Little(wav, 44 + 2 * at, 2)); };
    int64_t silentFrom = 0;  // where the click before has ended
    for (size_t k = 0; k < points.size(); ++k) {
      EXPECT_NE(sample(points[k]), 0) << "no click at grid point " << k << ", sample " << points[k];
      for (int64_t at = silentFrom; at < points[k]; ++at) {
        if (sample(at) == 0) continue;
        ADD_FAILURE() << "sound at sample " << at << " before grid point " << k;
        break;
      }
      silentFrom = std::max(silentFrom, points[k] + clickLength);
    }
    // A downbeat, a beat and a division each sound alike and unlike the
    // others: louder and higher from division to downbeat.
    std::vector<int16_t> level(3, 0);
    std::vector<int> crossings(3, -1);
    for (size_t k = 0; k < points.size(); ++k) {
      if (level[kinds[k]] == 0) level[kinds[k]] = sample(points[k]);
      EXPECT_EQ(sample(points[k]), level[kinds[k]]) << "grid point " << k;
      const bool whole = k + 1 == points.size() || points[k + 1] - points[k] >= clickLength;
      if (!whole || crossings[kinds[k]] >= 0) continue;
      crossings[kinds[k]] = 0;
      for (int64_t at = points[k] + 1; at < points[k] + clickLength; ++at) {
        crossings[kinds[k]] += (sample(at) < 0) != (sample(at - 1) < 0);
      }
    }
    if (wholeClicksOfEveryKind) {
      EXPECT_GT(level[0], level[1]);
      EXPECT_GT(level[1], level[2]);
      EXPECT_GT(crossings[0], crossings[1]);
      EXPECT_GT(crossings[1], crossings[2]);
    }
  }
};

TEST_F(ClickTrack, ClicksSoundAtTheGridAndNowhereElse) {
  ExpectClicksOnTheGrid(std::string(BEATSTAMPS_EXAMPLES) + "/shoreline.map",
                        {"48000", "1", "2147483647", "2"}, true);
  // Silence up to measure 3; 24 divisions at 300 beats a minute come closer
  // than a click lasts, so each is cut short by the next.
  Write("song.map", "tmap\t90\t3\t4\ntmap\t300\t7\t2\ntmap\t61.7\t5\t2\n");
  ExpectClicksOnTheGrid("song.map", {"22050", "3", "7", "24"}, false);
}

TEST_F(ClickTrack, RatesAndLengthsAWavFileCannotHoldAreRefused) {
  LimitFileSize(1 << 20);                // should a refusal fail, the run ends soon
  Write("one.map", "tmap\t60\t1\t1\n");  // a single click, at sample 0
  Write("kept.wav", "kept");
  for (const char* rate : {"0", "-1", "-2147483648"}) {
    for (const char* out : {"kept.wav", "new.wav"}) {
      ExpectRefused(Run({"--format=click", "one.map", out, rate}),
                    "Read 1 sections, 1 measures, 1 beats\n");
    }
  }
  // Past 4 GiB: a map's rate beyond 32 bits is held at 2147483647.
  Write("rate.map", "rate\t4294967295\ntmap\t120\t4\t2\n");
  ExpectRefused(Run({"--format=click", "rate.map", "new.wav"}),
                "rate.map:1: rate \"4294967295\" is past the 32-bit range, and is read as "
                "2147483647\nRead 1 sections, 2 measures, 8 beats\n");
  // At 2126221415 a second, a click at one second ends at 4 GiB exactly; one faster passes it.
  Write("two.map", "tmap\t60\t1\t2\n");
  ExpectRefused(Run({"--format=click", "two.map", "new.wav", "2126221416"}),
                "Read 1 sections, 2 measures, 2 beats\n");
  EXPECT_EQ(Read("kept.wav"), "kept");
  EXPECT_EQ(Listing(), (std::vector<std::string>{"kept.wav", "one.map", "rate.map", "two.map"}));
  // The highest rate a WAV file holds.
  EXPECT_EQ(RunInto({"--format=click", "one.map", "-", "2147483647"}, "", "/dev/null"), 0);
}

}  // namespace
