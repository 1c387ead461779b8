// Beat lists as maps: the program's own beats, labels and csv files read
// back, the map format of a fit, --check of a list, and the offset line.
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "program_runner.h"

namespace {

class BeatLists : public SystemTest {};

struct Section {
  double tempo;
  int meter;
  int measures;
};

// The map's tmap lines, a section that goes on as the one before merged
// into it: a list of beats cannot tell them apart.
std::vector<Section> SectionsOf(const std::string& map) {
  std::vector<Section> sections;
  for (std::string line : Split(map, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> fields = Split(line, '\t');
    if (fields.size() != 4 || fields[0] != "tmap") continue;
    const Section section{std::strtod(fields[1].c_str(), nullptr), std::atoi(fields[2].c_str()),
                          std::atoi(fields[3].c_str())};
    if (!sections.empty() && sections.back().tempo == section.tempo &&
        sections.back().meter == section.meter) {
      sections.back().measures += section.measures;
    } else {
      sections.push_back(section);
    }
  }
  return sections;
}

// Every shipped text map's beats, labels (with divisions) and csv (with
// divisions) files read back as beat lists give that map again.
TEST_F(BeatLists, TheProgramsOwnFilesGiveTheirMapAgain) {
  for (const char* name : {"shoreline", "night_drive_crlf", "chorale_settings"}) {
    const std::string map = std::string(BEATSTAMPS_EXAMPLES) + "/" + name + ".map";
    const std::vector<Section> truth = SectionsOf(ReadWholeFile(map));
    for (const char* format : {"beats", "labels", "csv"}) {
      const std::string list = std::string(name) + "." + format;
      ASSERT_EQ(
          Run({"--format=" + std::string(format), map, list, "48000", "1", "9999", "2"}).status, 0);
      ASSERT_EQ(Run({"--format=map", list, "fitted.map"}).status, 0) << list;
      const std::vector<Section> fitted = SectionsOf(Read("fitted.map"));
      ASSERT_EQ(fitted.size(), truth.size()) << list;
      for (size_t k = 0; k < truth.size(); ++k) {
        EXPECT_EQ(fitted[k].meter, truth[k].meter) << list << " " << k;
        EXPECT_EQ(fitted[k].measures, truth[k].measures) << list << " " << k;
        EXPECT_NEAR(fitted[k].tempo, truth[k].tempo, 0.001) << list << " " << k;
      }
    }
  }
}

// A tapped list: its fit written as a map and read back gives the grid of
// the run that fitted it, byte for byte; --check names the line that is no
// time and the beat no section holds; the Fitted line goes where the other
// messages go.
TEST_F(BeatLists, ATappedListItsMapAndItsCheck) {
  std::string list;
  for (int k = 0; k < 96; ++k) {
    if (k == 4) list += "oops\n";
    const double error = 0.006 * std::sin(k * 1.3);
    list += Fixed(0.731 + k * 0.55 + error, 6) + "\n";
    if (k == 40) list += Fixed(0.731 + k * 0.55 + 0.27, 6) + "\n";  // an extra tap
  }
  Write("taps.txt", list);
  const ProgramRun check = Run({"--check", "taps.txt"});
  EXPECT_EQ(check.status, 1);
  EXPECT_NE(check.output.find("taps.txt:5: \"oops\" is not a time in seconds"), std::string::npos)
      << check.output;
  EXPECT_NE(check.output.find("taps.txt:43: the beat at 23.001000 is left out"), std::string::npos)
      << check.output;
  EXPECT_NE(check.output.find("Fitted 97 beats into 1 sections: largest error "),
            std::string::npos);
  EXPECT_NE(check.output.find(", 1 beats left out, 0 missing\nRead 1 sections, 24 measures, 96 "
                              "beats\nSection 1 at measure 1: tempo 109.09"),
            std::string::npos)
      << check.output;

  const ProgramRun fitted =
      RunCapturingErrors({"--format=csv", "taps.txt", "-", "44100", "1", "24", "3"});
  ASSERT_EQ(fitted.status, 0);
  EXPECT_NE(fitted.errors.find("Fitted 97 beats"), std::string::npos) << fitted.errors;
  ASSERT_EQ(Run({"--format=map", "taps.txt", "taps.map"}).status, 0);
  const std::string written = Read("taps.map");
  EXPECT_EQ(written.rfind("taps\noffset\t0.7", 0), 0u) << written;
  const ProgramRun again =
      RunCapturingErrors({"--format=csv", "taps.map", "-", "44100", "1", "24", "3"});
  EXPECT_EQ(again.output, fitted.output);
}

// An offset line puts measure 1 there in the report and every export, and
// --offset replaces it; a text map's settings lines are written back as read.
TEST_F(BeatLists, TheOffsetLineOfATextMap) {
  Write("song.map", "Song\noffset\t1.5\nrate\t48000\ntmap\t120\t4\t2\n");
  const std::string csv = ExportedWith({}, "csv", "song.map", {});
  EXPECT_EQ(Split(csv, '\n')[1], "1,1,1,1,1.5,72000");
  EXPECT_EQ(Split(ExportedWith({"--offset=0"}, "csv", "song.map", {}), '\n')[1], "1,1,1,1,0,0");
  ASSERT_EQ(Run({"song.map", "report.txt"}).status, 0);
  EXPECT_NE(Read("report.txt").find("M 1\tB 1\t1.500 sec\t72000 smp"), std::string::npos);
  EXPECT_EQ(ExportedWith({}, "map", "song.map", {}),
            "song\noffset\t1.5\nrate\t48000\ntmap\t120\t4\t2\n");
  Write("bad.map", "offset\t1.5 s\ntmap\t120\t4\t2\n");
  EXPECT_NE(Run({"--check", "bad.map"}).output.find("bad.map:1: offset \"1.5 s\" is not a time"),
            std::string::npos);
}

}  // namespace
