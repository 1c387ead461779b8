// Saving reports with 'w' and 'a', and the batch run.
#include <string>

#include "program_runner.h"

namespace {

using Saving = SystemTest;
using BatchRun = SystemTest;

const std::string kSaved168 = "Saved 168 bytes\n";

std::string Measures(int count) {
  return "tmap\t120\t4\t" + std::to_string(count) + "\n";
}

TEST_F(Saving, WriteReplacesAndAppendAdds) {
  EXPECT_EQ(Run({}, "l w grid.txt w grid.txt q").output,
            Banner() + CommandList() + "Enter file to write data to\n" + kSaved168 +
                "Enter file to write data to\n" + kSaved168);
  EXPECT_EQ(Read("grid.txt"), DefaultReport());
  EXPECT_EQ(Run({}, "l a grid.txt a grid.txt q").status, 0);
  EXPECT_EQ(Read("grid.txt"), DefaultReport() + DefaultReport() + DefaultReport());
}

TEST_F(Saving, EverySaveAsksForTheName) {
  const ProgramRun run = Run({}, "l f first.txt w second.txt l q");
  EXPECT_EQ(run.output, Banner() + CommandList() + "Enter filename to save to\n" +
                            "Enter file to write data to\n" + kSaved168 +
                            CommandList({.file = "second.txt"}));
  EXPECT_FALSE(Exists("first.txt"));
  EXPECT_EQ(Read("second.txt"), DefaultReport());
}

TEST_F(Saving, AFailedSaveSaysSoAndTheLoopGoesOn) {
  EXPECT_EQ(Run({}, "l w /dev/full p q").output,
            Banner() + CommandList() + "Enter file to write data to\n" +
                "Error: Cannot write to /dev/full!\n" + DefaultReport());
  EXPECT_EQ(Run({}, "l a missing/grid.txt q").output,
            Banner() + CommandList() + "Enter file to write data to\n" +
                "Error: Cannot write to missing/grid.txt!\n");
  EXPECT_FALSE(Exists("missing"));
}

TEST_F(Saving, ALongNameWritesNothing) {
  const std::string name(128, 'g');
  EXPECT_EQ(Run({}, "l f keep.txt w " + name + " l q").output,
            Banner() + CommandList() + "Enter filename to save to\nEnter file to write data to\n" +
                "File name too long!\n" + CommandList({.file = "keep.txt"}));
  EXPECT_FALSE(Exists(name.substr(1)));
}

TEST_F(Saving, TheRangeGuardAndTheTempoErrorComeFirst) {
  // An inverted range without a map falls back to measure 1.
  EXPECT_EQ(Run({}, "l i 3 o 2 w grid.txt q").status, 0);
  EXPECT_EQ(Read("grid.txt"), DefaultReport());
  const ProgramRun run = Run({}, "l t -1 a bad.txt q");
  EXPECT_EQ(run.output, Banner() + CommandList() + "Enter tempo (beats per minute)\n" +
                            "Error: Tempo must be greater than zero! (section 1)\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_FALSE(Exists("bad.txt"));
}

TEST_F(Saving, ACutReportIsSavedWithAWarningAfterTheSavedLine) {
  const ProgramRun run = RunCapturingErrors({}, "l o 5000 w grid.txt q");
  const std::string grid = Read("grid.txt");
  EXPECT_LE(grid.size(), 65535u);
  EXPECT_EQ(run.output,
            Banner() + CommandList() + "Enter stop measure\n" + "Enter file to write data to\n" +
                "Saved " + std::to_string(grid.size()) + " bytes\n" +
                "Warning: report truncated to " + std::to_string(grid.size()) + " characters\n");
}

TEST_F(BatchRun, AppendsTheWholeMapToTheOutputFile) {
  Write("song.map", Measures(32));
  const ProgramRun run = Run({"song.map", "grid.txt"});
  const std::string grid = Read("grid.txt");
  EXPECT_EQ(run.output, Banner() + "Read 1 sections, 32 measures, 128 beats\n" + "Saved " +
                            std::to_string(grid.size()) + " bytes\n");
  EXPECT_EQ(run.status, 0);
  // Measures 1 to 32, ending with a measure separator.
  EXPECT_EQ(grid.substr(grid.size() - 29), "\tB 4\t63.500 sec\t2800350 smp\n\n");
  EXPECT_EQ(Run({"song.map", "grid.txt"}).status, 0);
  EXPECT_EQ(Read("grid.txt"), grid + grid);
}

TEST_F(BatchRun, RateStartAndStopArguments) {
  Write("song.map", Measures(32));
  EXPECT_EQ(Run({"song.map", "grid.txt", "48000", "5", "8"}).status, 0);
  const std::string grid = Read("grid.txt");
  EXPECT_EQ(grid.rfind("\nSample Rate\t48000\n\n\nSection 1\tTempo 120.000\tBeats/Meas 4\t"
                       "Measures 32\n\nM 5\tB 1\t8.000 sec\t384000 smp\n",
                       0),
            0u);
  EXPECT_EQ(grid.substr(grid.size() - 28), "\n\tB 4\t15.500 sec\t744000 smp\n") << "no separator";
  EXPECT_EQ(grid.find("M 9"), std::string::npos);
}

TEST_F(BatchRun, DivisionsOnlyWithExactlySixArguments) {
  Write("song.map", "div\t2\n" + Measures(1));
  EXPECT_EQ(Run({"song.map", "six.txt", "44100", "1", "1", "4"}).status, 0);
  EXPECT_EQ(Run({"song.map", "seven.txt", "44100", "1", "1", "4", "x"}).status, 0);
  EXPECT_NE(Read("six.txt").find("\t\t0.375 sec"), std::string::npos) << "4 divisions";
  EXPECT_EQ(Read("seven.txt"),
            "\nSample Rate\t44100\n\nSection 1\tTempo 120.000\tBeats/Meas 4\tMeasures 1\n\n"
            "M 1\tB 1\t0.000 sec\t0 smp\n\t\t0.250 sec\t11025 smp\n"
            "\tB 2\t0.500 sec\t22050 smp\n\t\t0.750 sec\t33075 smp\n"
            "\tB 3\t1.000 sec\t44100 smp\n\t\t1.250 sec\t55125 smp\n"
            "\tB 4\t1.500 sec\t66150 smp\n\t\t1.750 sec\t77175 smp\n");
}

TEST_F(BatchRun, NumbersFollowTheStrtolRules) {
  Write("song.map", Measures(4));
  // " 22050x": leading blank and trailing junk; "010" is ten; "abc" is 0.
  // Standard error says what each was read as, where that is not what was typed.
  ProgramRun run = RunCapturingErrors({"song.map", "grid.txt", " 22050x", "010", "abc"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.errors, "RATE \" 22050x\" is read as 22050\nSTOP \"abc\" is read as 0\n");
  EXPECT_EQ(Read("grid.txt"), "\nSample Rate\t22050\n") << "start 10 after stop 0";
  run = RunCapturingErrors({"song.map", "big.txt", "99999999999", "-99999999999", "1"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.errors,
            "RATE \"99999999999\" is read as 2147483647\n"
            "START \"-99999999999\" is read as -2147483648\n");
  // The start clamps to the minimum and wraps to the maximum less 1 wrapped: empty range.
  EXPECT_EQ(Read("big.txt"), "\nSample Rate\t2147483647\n");
}

TEST_F(BatchRun, AStopBeforeTheStartWritesTheHeaderAlone) {
  Write("song.map", Measures(32));
  EXPECT_EQ(Run({"song.map", "grid.txt", "44100", "9", "3"}).status, 0);
  EXPECT_EQ(Read("grid.txt"), "\nSample Rate\t44100\n");
}

TEST_F(BatchRun, AMapThatCannotBeReadTouchesNothing) {
  ProgramRun run = Run({"nowhere.map", "grid.txt", "48000", "1", "4"});
  EXPECT_EQ(run.output, Banner() + "File not found!\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_FALSE(Exists("grid.txt"));
  run = Run({std::string(128, 'm'), "grid.txt"});
  EXPECT_EQ(run.output, Banner() + "File name too long!\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_FALSE(Exists("grid.txt"));
}

TEST_F(BatchRun, ValuesTheRendererCannotWalkTouchNothing) {
  Write("song.map", Measures(2) + "tmap\t0\t4\t2\n");
  ProgramRun run = RunCapturingErrors({"song.map", "grid.txt", "44100", "1", "1"});
  EXPECT_EQ(run.output, Banner() + "Read 2 sections, 4 measures, 16 beats\n" +
                            "Error: Tempo must be greater than zero! (section 2)\n");
  EXPECT_EQ(run.status, 1);
  Write("song.map", Measures(2));
  run = RunCapturingErrors({"song.map", "grid.txt", "44100", "1", "1", "0"});
  EXPECT_EQ(run.output, Banner() + "Read 1 sections, 2 measures, 8 beats\n" +
                            "Error: Divisions per beat must be greater than zero!\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_FALSE(Exists("grid.txt"));
}

TEST_F(BatchRun, SavingFailuresEndWithStatusOne) {
  Write("song.map", Measures(1));
  ProgramRun run = Run({"song.map", "/dev/full"});
  EXPECT_EQ(run.output, Banner() + "Read 1 sections, 1 measures, 4 beats\n" +
                            "Error: Cannot write to /dev/full!\n");
  EXPECT_EQ(run.status, 1);
  run = Run({"song.map", "missing/grid.txt"});
  EXPECT_EQ(run.output, Banner() + "Read 1 sections, 1 measures, 4 beats\n" +
                            "Error: Cannot write to missing/grid.txt!\n");
  EXPECT_EQ(run.status, 1);
  run = Run({"song.map", std::string(128, 'g')});
  EXPECT_EQ(run.output,
            Banner() + "Read 1 sections, 1 measures, 4 beats\n" + "File name too long!\n");
  EXPECT_EQ(run.status, 1);
}

TEST_F(BatchRun, AnEmptyOutputNameIsAskedFor) {
  Write("song.map", Measures(1));
  ProgramRun run = Run({"song.map", ""}, "grid.txt\n");
  EXPECT_EQ(run.output, Banner() + "Read 1 sections, 1 measures, 4 beats\n" +
                            "Enter file to write data to\n" + "Saved 169 bytes\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Read("grid.txt"), DefaultReport() + "\n");
  // Nothing typed: nothing saved, and the run did not succeed.
  run = Run({"song.map", ""}, "");
  EXPECT_EQ(run.output,
            Banner() + "Read 1 sections, 1 measures, 4 beats\n" + "Enter file to write data to\n");
  EXPECT_EQ(run.status, 1);
}

TEST_F(BatchRun, ACutReportWarnsAfterTheSavedLine) {
  Write("song.map", Measures(5000));
  const ProgramRun run = RunCapturingErrors({"song.map", "grid.txt"});
  const std::string size = std::to_string(Read("grid.txt").size());
  EXPECT_EQ(run.output, Banner() + "Read 1 sections, 5000 measures, 20000 beats\n" + "Saved " +
                            size + " bytes\n" + "Warning: report truncated to " + size +
                            " characters\n");
  EXPECT_EQ(run.errors,
            "The whole grid, of any length: beatstamps1a --format=csv MAP OUT [RATE [START [STOP "
            "[DIVISIONS]]]]\n");
  EXPECT_EQ(run.status, 0);
}

TEST_F(BatchRun, StandardOutputThatCannotBeWrittenFails) {
  Write("song.map", Measures(1));
  EXPECT_EQ(RunInto({"song.map", "grid.txt"}, "", "/dev/full"), 1);
  EXPECT_EQ(RunInto({}, "p\nq\n", "/dev/full"), 1);
  EXPECT_EQ(RunInto({}, "p\nq\n", "/dev/null"), 0);
}

}  // namespace
