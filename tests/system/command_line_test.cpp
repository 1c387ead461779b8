// The command line as it is typed: numbers read whole or said how they are
// read, options only before MAP, "-h" and "-", --strict, and names swapped.
#include <string>

#include "program_runner.h"

namespace {

const std::string kMap = "tmap\t120\t4\t2\n";
const std::string kSummary = "Read 1 sections, 2 measures, 8 beats\n";

class CommandLine : public SystemTest {};

TEST_F(CommandLine, NumbersAreWholeWithOptionsAndReadAsStrtolSaysWithout) {
  Write("song.map", kMap);
  for (const char* format : {"--format=click", "--format=grid"}) {
    const ProgramRun run = Run({format, "song.map", "out", "48k"});
    EXPECT_EQ(run.output, Banner() + "Error: RATE \"48k\" is not a whole number!\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(Exists("out"));
  }
  ExpectRefused(Run({"--strict", "song.map", "out", "48000", " 1"}), "");
  ExpectRefused(Run({"--format=csv", "song.map", "out", "48000", "1", "99999999999"}), "");
  ExpectRefused(Run({"--format=csv", "song.map", "out", "48000", "1", "2", "2x"}), "");
  EXPECT_FALSE(Exists("out"));
  EXPECT_EQ(Run({"--format=csv", "song.map", "out", "+48000", "-1", "2", "2"}).status, 0);
  // The batch run alone keeps the strtol reading, and says what it read.
  const ProgramRun batch = RunCapturingErrors({"song.map", "grid.txt", "44.1k"});
  EXPECT_EQ(batch.output, Banner() + kSummary + "Saved 252 bytes\n");
  EXPECT_EQ(batch.errors, "RATE \"44.1k\" is read as 44\n");
  EXPECT_EQ(Read("grid.txt").substr(0, 16), "\nSample Rate\t44\n");
}

TEST_F(CommandLine, OptionsComeFirstHIsHelpAndDashIsStandardInput) {
  Write("song.map", kMap);
  ProgramRun run = Run({"song.map", "out.csv", "--format=csv"});
  EXPECT_EQ(run.output,
            "Error: Options come first, before MAP: --format=csv stands after it! (see "
            "beatstamps1a --help)\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_FALSE(Exists("out.csv"));
  EXPECT_EQ(Run({"--", "song.map", "--odd.txt"}).status, 0) << "after --, a name";
  EXPECT_TRUE(Exists("--odd.txt"));
  EXPECT_EQ(Run({"-h"}).output, Run({"--help"}).output);
  // "-" as MAP: the map comes through a pipe, to the batch run, an export and --check.
  const std::string csv = ExportedWith({}, "csv", "song.map", {"48000"});
  run = RunCapturingErrors({"--format=csv", "-", "-", "48000"}, kMap);
  EXPECT_EQ(run.output, csv);
  EXPECT_EQ(run.errors, Banner() + kSummary + "Saved " + std::to_string(csv.size()) + " bytes\n");
  EXPECT_EQ(Run({"-", "piped.txt", "48000"}, kMap).status, 0);
  EXPECT_EQ(Run({"song.map", "named.txt", "48000"}).status, 0);
  EXPECT_EQ(Read("piped.txt"), Read("named.txt"));
  run = Run({"--check", "-"}, "tmap\t9o\t4\t2\n");
  EXPECT_EQ(run.output, Banner() + "-:1: tempo \"9o\" is read as 9\n" + kSummary);
  // The interactive mode reads its commands there.
  run = Run({"-"}, "q\n");
  EXPECT_EQ(run.output,
            "Error: An interactive run reads its commands from standard input; its map cannot "
            "come from there!\n");
  EXPECT_EQ(run.status, 1);
}

TEST_F(CommandLine, MapProblemsAndSwappedNamesWarnAndStrictRefusesThem) {
  Write("odd.map", "tmap\t120\t4\t2\tcomment\n");
  const std::string problem = "odd.map:1: measures \"2\\tcomment\" is read as 2\n";
  ProgramRun run = RunCapturingErrors({"odd.map", "grid.txt"});
  EXPECT_EQ(run.output, Banner() + kSummary + "Saved 276 bytes\n") << "as without the problem";
  EXPECT_EQ(run.errors, problem);
  run = RunCapturingErrors({"odd.map"}, "m odd.map q\n");
  EXPECT_EQ(run.errors, problem + problem) << "the argument and m";
  for (const char* format : {"--format=grid", "--format=labels"}) {
    ExpectRefused(Run({"--strict", format, "odd.map", "strict.txt"}), problem + kSummary);
    EXPECT_FALSE(Exists("strict.txt"));
  }
  // The report and the map swapped: the report gets appended to the map.
  Write("song.map", kMap);
  run = RunCapturingErrors({"grid.txt", "song.map"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.errors.find("Warning: MAP grid.txt holds no tmap line: are MAP and OUT swapped?\n"
                            "Warning: OUT song.map holds tmap lines, and the report is appended "
                            "to it: are MAP and OUT swapped?\n"),
            std::string::npos)
      << run.errors;
  const std::string swapped = Read("song.map");
  run = RunCapturingErrors({"--strict", "grid.txt", "song.map"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("Error: --strict allows no warning, and there are 3; nothing written!"),
            std::string::npos);
  EXPECT_EQ(Read("song.map"), swapped);
}

}  // namespace
