#include "maps/map_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "cli/run_state.h"

namespace {

// Parses `text` over a readout that starts from a fresh state.
bool Parse(const std::string& text, MapReadout& readout) {
  FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  if (text.empty()) file = std::fopen("/dev/null", "r");
  EXPECT_NE(file, nullptr);
  const bool read = ParseMapText(file, readout);
  std::fclose(file);
  return read;
}

std::unique_ptr<MapReadout> FreshReadout() {
  RunState state;
  InitRunState(state);
  return std::make_unique<MapReadout>(
      MapReadout{state.map, state.settings, false, OffsetOption{}, SettingsLines{}, ""});
}

TEST(ParseMapText, ALaterShorterMapLeavesTheSlotsAboveItsCount) {
  auto readout = FreshReadout();
  ASSERT_TRUE(
      Parse("tmap\t100\t3\t1\ntmap\t101\t3\t2\ntmap\t102\t3\t3\n"
            "tmap\t103\t3\t4\ntmap\t104\t3\t5\n",
            *readout));
  EXPECT_EQ(readout->map.sectionCount, 5);
  ASSERT_TRUE(Parse("tmap\t60\t2\t7\ntmap\t61\t2\t8\ntmap\t62\t2\t9\n", *readout));
  const TempoMap& map = readout->map;
  EXPECT_EQ(map.sectionCount, 3);
  EXPECT_EQ(map.totalMeasures, 24);
  EXPECT_EQ(map.totalBeats, 48);
  EXPECT_EQ(map.tempo[2], 62.0f);
  EXPECT_EQ(map.tempo[3], 103.0f);
  EXPECT_EQ(map.measures[4], 5);
  EXPECT_EQ(map.tempo[5], 120.0f) << "never written";
}

TEST(ParseMapText, AFirstLineOfTextAloneIsTheTitle) {
  auto readout = FreshReadout();
  const std::pair<std::string, std::string> cases[] = {
      {"  Shoreline - album version \r\ntmap\t96\t4\t8\n", "Shoreline - album version"},
      {"\xEF\xBB\xBFNight Drive", "Night Drive"},
      {"tmap\t96\t4\t8\nShoreline\n", ""},
      {"Shoreline\tnote\n", ""},
      {"tmap 96 4 8\n", ""},
      {"\nShoreline\n", ""},
      {std::string(200, 'x'), std::string(127, 'x')},
  };
  for (const auto& [text, title] : cases) {
    ASSERT_TRUE(Parse(text, *readout));
    EXPECT_EQ(readout->title, title) << text;
  }
}

TEST(ParseMapText, ValuesTakeTheRestOfTheirLine) {
  auto readout = FreshReadout();
  ASSERT_TRUE(Parse("rate\t\t  +48000 samples\tper second\r\nstart\t-3\nstop\t\n", *readout));
  EXPECT_EQ(readout->settings.sampleRate, 48000u);
  EXPECT_EQ(readout->settings.startMeasure, -4);
  // The stop value is the next line's text (there is none): 0, less 1.
  EXPECT_EQ(readout->settings.stopMeasure, -1);
  EXPECT_EQ(readout->map.sectionCount, 0);
}

TEST(ParseMapText, TempoIsRoundedToSinglePrecisionAndNumbersKeepTheirLibraryRules) {
  auto readout = FreshReadout();
  ASSERT_TRUE(
      Parse("tmap\t144.6\t4\t1\ntmap\t0x1p4\t4\t1\ntmap\t-0\t4\t1\ntmap\t00x10\t4\t1\n"
            "tmap\tnan\t1\t1\n",
            *readout));
  EXPECT_EQ(readout->map.tempo[0], 144.6f);
  EXPECT_EQ(readout->map.tempo[1], 16.0f) << "hexadecimal reals, as strtod reads them";
  EXPECT_TRUE(std::signbit(readout->map.tempo[2]));
  EXPECT_EQ(readout->map.tempo[3], 0.0f) << "\"00x10\" is a zero followed by other text";
  EXPECT_TRUE(std::isnan(readout->map.tempo[4]));
}

TEST(ParseMapText, AFileThatCannotBeReadIsReported) {
  auto readout = FreshReadout();
  FILE* folder = std::fopen("/", "r");
  ASSERT_NE(folder, nullptr);
  EXPECT_FALSE(ParseMapText(folder, *readout));
  std::fclose(folder);
}

}  // namespace
