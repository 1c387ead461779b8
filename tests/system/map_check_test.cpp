// --check names each problem of a map by its line, and what is read instead;
// every --format run names them before it writes.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "program_runner.h"

namespace {

class MapCheck : public SystemTest {
 protected:
  // Checks `text` as song.map: the problem lines, then the summary line.
  void ExpectProblems(const std::string& text, const std::string& lines,
                      const std::string& summary) {
    Write("song.map", text);
    const ProgramRun run = Run({"--check", "song.map"});
    EXPECT_EQ(run.output, Banner() + lines + summary);
    EXPECT_EQ(run.status, lines.empty() ? 0 : 1);
  }
};

TEST_F(MapCheck, NumbersThatReadAsOtherNumbers) {
  ExpectProblems(
      "tmap\t9o\t4\t2\n"
      "tmap\t120,5\t3\t1\n"
      "rate\t48k\n"
      "tmap\t100\t4\t8\tcomment\n"
      "tmap\tfast\t4\t1\n"
      "div\t   \n"
      "start\t99999999999\n"
      "stop\t-99999999999\n"
      "tmap\t0009x\t4\t1\n",
      "song.map:1: tempo \"9o\" is read as 9\n"
      "song.map:2: tempo \"120,5\" is read as 120\n"
      "song.map:3: rate \"48k\" is read as 48\n"
      "song.map:4: measures \"8\\tcomment\" is read as 8\n"
      "song.map:5: tempo \"fast\" is not a number, and is read as 0\n"
      "song.map:5: tempo 0 is not above 0: the map's grid is refused\n"
      "song.map:6: div is empty, and is read as 0\n"
      "song.map:6: div 0 is not above 0: the map's grid is refused\n"
      "song.map:7: start \"99999999999\" is past the 32-bit range, and is read as 2147483647\n"
      "song.map:8: stop \"-99999999999\" is past the 32-bit range, and is read as -2147483648\n"
      "song.map:9: tempo \"0009x\" is read as 9\n",
      "Read 5 sections, 13 measures, 51 beats\n");
}

TEST_F(MapCheck, LinesThatAreNotReadAsTheyLook) {
  // Notes, even one that starts with a command word, are no problem.
  ExpectProblems(
      "Shoreline - album version\n"
      "tmap 120 4 8\n"
      "Tmap\t100\t4\t4\n"
      " tmap\t90\t4\t4\n"
      "Stop here\n"
      "tmap\t120\t4\n"
      "tmap\t90\t3\t2\n"
      "rate\t\n"
      "48000\n"
      "tmap\t60\t2",
      "song.map:2: \"tmap 120 4 8\" is not a command word (blanks stand where tabs belong): "
      "the line is skipped\n"
      "song.map:3: \"Tmap\" is not a command word (command words are lower case): "
      "the line is skipped\n"
      "song.map:4: \" tmap\" is not a command word (a blank stands before it): "
      "the line is skipped\n"
      "song.map:6: the tmap line ends before its measures: read from line 7 as 90, "
      "which swallows line 7\n"
      "song.map:8: the rate line ends before its value: read from line 9 as 48000, "
      "which swallows line 9\n"
      "song.map:10: the tmap line ends before its measures, at the end of the map: read as 0\n"
      "song.map:10: measures 0 is not above 0: the section is skipped\n",
      "Read 2 sections, 90 measures, 360 beats\n");
}

TEST_F(MapCheck, ValuesTheGridRefusesOrSkips) {
  ExpectProblems(
      "rate\t-44100\n"
      "tmap\t-5\t4\t2\n"
      "tmap\t120\t0\t4\n"
      "tmap\t120\t0\t0\n"
      "tmap\t120\t4\t-1\n"
      "div\t0\n",
      "song.map:1: rate \"-44100\" is read as 4294923196, above 2147483647 samples per second\n"
      "song.map:2: tempo -5 is not above 0: the map's grid is refused\n"
      "song.map:3: beats 0 is not above 0: the map's grid is refused\n"
      "song.map:4: measures 0 is not above 0: the section is skipped\n"
      "song.map:5: measures -1 is not above 0: the section is skipped, yet its measures count "
      "in the map's totals\n"
      "song.map:6: div 0 is not above 0: the map's grid is refused\n",
      "Read 4 sections, 5 measures, 4 beats\n");
  ExpectProblems("tmap\t120\t4\t1\nrate\t0\n",
                 "song.map:2: rate 0 gives every sample position as 0\n",
                 "Read 1 sections, 1 measures, 4 beats\n");
}

TEST_F(MapCheck, ProblemsOfTheWholeText) {
  const std::string noSections =
      "no tmap line: the map has no sections, so a report is one made-up section at 120 beats "
      "per minute and the other formats refuse it\n";
  const std::string nothingRead = "Read 0 sections, 0 measures, 0 beats\n";
  ExpectProblems("", "song.map:1: " + noSections, nothingRead);
  // UTF-16 with its byte order mark: the text is "\xFF\xFEt", one unknown word.
  ExpectProblems(std::string("\xFF\xFEt\0m\0a\0p\0\t\0001\0\n\0", 16),
                 "song.map:1: a zero byte (UTF-16 text?): the map is read only up to it\n"
                 "song.map:1: " +
                     noSections,
                 nothingRead);
  ExpectProblems("tmap\t120\t4\t8\rtmap\t90\t3\t2\r",
                 "song.map:1: a CR ends a line without a LF: lines are read as one up to the "
                 "next LF\n",
                 "Read 1 sections, 8 measures, 32 beats\n");
  ExpectProblems("tmap\t120\t4\t2147483647\ntmap\t120\t4\t1\n",
                 "song.map:1: the map's beats pass the 32-bit range here: their total wraps to "
                 "-4\n"
                 "song.map:2: the map's measures pass the 32-bit range here: their total wraps "
                 "to -2147483648\n",
                 "Read 2 sections, -2147483648 measures, 0 beats\n");
  std::string sections;
  for (int k = 0; k < 512; ++k) sections += "tmap\t120\t4\t1\n";
  ExpectProblems(sections,
                 "song.map:511: section 511 is past the 510 that are read: this tmap line and "
                 "every later one are ignored\n",
                 "Read 510 sections, 510 measures, 2040 beats\n"
                 "Warning: only the first 510 sections were read\n");
}

TEST_F(MapCheck, SoundMapsPassAndOnlyAMapIsTaken) {
  for (const char* name : {"shoreline", "warehouse_set", "night_drive_crlf", "chorale_settings"}) {
    const ProgramRun run = Run({"--check", std::string(BEATSTAMPS_EXAMPLES) + "/" + name + ".map"});
    EXPECT_EQ(run.output.find(".map:"), std::string::npos) << run.output;
    EXPECT_EQ(run.status, 0) << name;
  }
  // A byte order mark is no problem: it is passed over everywhere.
  ExpectProblems("\xEF\xBB\xBFtmap\t120\t4\t8\n", "", "Read 1 sections, 8 measures, 32 beats\n");
  ProgramRun run = Run({"--check", "nowhere.map"});
  EXPECT_EQ(run.output, Banner() + "Error: Cannot read nowhere.map: No such file or directory!\n");
  EXPECT_EQ(run.status, 1);
  for (const auto& arguments : {std::vector<std::string>{"--check"},
                                std::vector<std::string>{"--check", "a.map", "out.txt"}}) {
    run = Run(arguments);
    EXPECT_EQ(run.output,
              "Error: --check takes one tempo map and nothing more! (see beatstamps1a --help)\n");
    EXPECT_EQ(run.status, 1);
  }
  EXPECT_EQ(Listing(), std::vector<std::string>{"song.map"});
}

TEST_F(MapCheck, TheByteOrderMarkHidesNoSection) {
  Write("song.map", "\xEF\xBB\xBFtmap\t120\t4\t8\ntmap\t90\t3\t2\n");
  const ProgramRun run = Run({"song.map", "grid.txt"});
  EXPECT_EQ(run.output, Banner() + "Read 2 sections, 10 measures, 38 beats\n" + "Saved " +
                            std::to_string(Read("grid.txt").size()) + " bytes\n");
  EXPECT_NE(Read("grid.txt").find("Section 1\tTempo 120.000\tBeats/Meas 4\tMeasures 8\n"),
            std::string::npos);
}

TEST_F(MapCheck, ExportsNameTheProblemsBeforeTheyWrite) {
  Write("song.map", "tmap\t9o\t4\t2\n");
  const std::string head = Banner() + "song.map:1: tempo \"9o\" is read as 9\n" +
                           "Read 1 sections, 2 measures, 8 beats\n";
  ProgramRun run = Run({"--format=csv", "song.map", "grid.csv"});
  EXPECT_EQ(run.output, head + "Saved " + std::to_string(Read("grid.csv").size()) + " bytes\n");
  EXPECT_EQ(run.status, 0);
  run = Run({"--format=grid", "song.map", "grid.txt"});
  EXPECT_EQ(run.output, head + "Saved " + std::to_string(Read("grid.txt").size()) + " bytes\n");
  // With the data on standard output, the lines go to standard error.
  run = RunCapturingErrors({"--format=labels", "song.map", "-"});
  EXPECT_EQ(run.errors, head + "Saved " + std::to_string(run.output.size()) + " bytes\n");
  EXPECT_EQ(run.output.substr(0, 22), "0.000000\t0.000000\t1.1\n");
  // A file that cannot be written is named with the system's reason.
  run = Run({"--format=midi", "song.map", "/dev/full"});
  EXPECT_EQ(run.output, head + "Error: Cannot write to /dev/full: No space left on device!\n");
  EXPECT_EQ(run.status, 1);
}

TEST_F(MapCheck, ExportsTakeLongNames) {
  // A realistic absolute path of well over 127 characters, for MAP and OUT alike.
  const std::string folder = Path(
      "recordings of the spring tour, night two, second set, the long version with the count-in");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const std::string map = folder + "/shoreline - album version.map";
  const std::string out = folder + "/shoreline - album version, beat grid.csv";
  ASSERT_GT(map.size(), 137u);
  WriteWholeFile(map, "tmap\t96\t4\t8\n");
  const ProgramRun run = Run({"--format=csv", map, out});
  EXPECT_EQ(run.output, Banner() + "Read 1 sections, 8 measures, 32 beats\n" + "Saved " +
                            std::to_string(ReadWholeFile(out).size()) + " bytes\n");
  EXPECT_EQ(Run({"--check", map}).status, 0);
}

}  // namespace
