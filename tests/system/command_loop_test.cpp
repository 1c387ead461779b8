// The interactive program: banner, command list, setting commands and 'p'.
#include <string>

#include "program_runner.h"

namespace {

using CommandLoop = SystemTest;

const std::string kHeader = "\nSample Rate\t44100\n";

TEST_F(CommandLoop, PrintsTheDefaultReportBetweenTwoLists) {
  const ProgramRun run = Run({}, "p\nq\n");
  EXPECT_EQ(run.output, Banner() + CommandList() + DefaultReport() + CommandList());
  EXPECT_EQ(run.status, 0);
}

TEST_F(CommandLoop, EveryPromptAndTheSettingsItChanges) {
  const ProgramRun run = Run({}, "r 48000 t 90.5 b 3 i 2 o 5 d 2 f grid.txt q");
  ListedSettings s;
  std::string expected = Banner() + CommandList(s) + "Enter sample rate (samples per second\n";
  s.rate = 48000;
  expected += CommandList(s) + "Enter tempo (beats per minute)\n";
  s.tempo = "90.500";
  expected += CommandList(s) + "Enter beats per measure\n";
  s.beats = 3;
  expected += CommandList(s) + "Enter start measure\n";
  s.start = 2;
  expected += CommandList(s) + "Enter stop measure\n";
  s.stop = 5;
  expected += CommandList(s) + "Enter divisions per beat\n";
  s.divisions = 2;
  expected += CommandList(s) + "Enter filename to save to\n";
  s.file = "grid.txt";
  expected += CommandList(s);
  EXPECT_EQ(run.output, expected);
  EXPECT_EQ(run.status, 0);
}

TEST_F(CommandLoop, ListToggleAndUnknownWords) {
  const ProgramRun run = Run({}, "l x help p l q");
  EXPECT_EQ(run.output, Banner() + CommandList() + DefaultReport() + CommandList());
}

TEST_F(CommandLoop, HelpWithTheListHidden) {
  const ProgramRun run = Run({}, "l h q");
  EXPECT_EQ(run.output, Banner() + CommandList() + HelpText());
}

TEST_F(CommandLoop, RangeGuardWithoutAMapFallsBackToMeasureOne) {
  ListedSettings s;
  // i 3, o 2: 4 x 0 = 0 beats in range.
  ProgramRun run = Run({}, "l i 3 o 2 p l q");
  EXPECT_EQ(run.output, Banner() + CommandList() + "Enter start measure\nEnter stop measure\n" +
                            DefaultReport() + CommandList(s));
  // o 0: stop stored as -1.
  run = Run({}, "l o 0 p l q");
  EXPECT_EQ(run.output,
            Banner() + CommandList() + "Enter stop measure\n" + DefaultReport() + CommandList(s));
}

TEST_F(CommandLoop, ARangeWithoutAMapCoversSlotZero) {
  const ProgramRun run = Run({}, "l b 1 i 2 o 3 d 4 p q");
  EXPECT_EQ(run.output, Banner() + CommandList() +
                            "Enter beats per measure\nEnter start measure\nEnter stop measure\n"
                            "Enter divisions per beat\n" +
                            kHeader +
                            "\n"
                            "\nSection 1\tTempo 120.000\tBeats/Meas 1\tMeasures 3\n\n"
                            "M 2\tB 1\t0.500 sec\t22050 smp\n"
                            "\t\t0.625 sec\t27562 smp\n"
                            "\t\t0.750 sec\t33075 smp\n"
                            "\t\t0.875 sec\t38587 smp\n"
                            "\n"
                            "M 3\tB 1\t1.000 sec\t44100 smp\n"
                            "\t\t1.125 sec\t49612 smp\n"
                            "\t\t1.250 sec\t55125 smp\n"
                            "\t\t1.375 sec\t60637 smp\n");
}

TEST_F(CommandLoop, TypedIntegersFollowTheScanfRules) {
  ListedSettings s;
  s.start = 8;  // 010 is octal
  EXPECT_EQ(Run({}, "l i 010 l q").output,
            Banner() + CommandList() + "Enter start measure\n" + CommandList(s));
  s.start = 26;  // 0x1a is hexadecimal
  EXPECT_EQ(Run({}, "l i 0x1a l q").output,
            Banner() + CommandList() + "Enter start measure\n" + CommandList(s));
  s.start = 12;  // 12abc: 12 is read, abc is the next (unknown) word
  EXPECT_EQ(Run({}, "l i 12abc l q").output,
            Banner() + CommandList() + "Enter start measure\n" + CommandList(s));
  // abc: nothing read, the start stays, abc is ignored as a word.
  EXPECT_EQ(Run({}, "l i abc l q").output,
            Banner() + CommandList() + "Enter start measure\n" + CommandList());
  // The word left over is a command when it is one.
  EXPECT_EQ(Run({}, "l d p q").output,
            Banner() + CommandList() + "Enter divisions per beat\n" + DefaultReport());
}

TEST_F(CommandLoop, TypedRealsFollowTheScanfRules) {
  ListedSettings s;
  s.tempo = "144.600";
  EXPECT_EQ(Run({}, "l t 144.6 l q").output,
            Banner() + CommandList() + "Enter tempo (beats per minute)\n" + CommandList(s));
  s.tempo = "1500.000";
  EXPECT_EQ(Run({}, "l t 1.5e3 l q").output,
            Banner() + CommandList() + "Enter tempo (beats per minute)\n" + CommandList(s));
  EXPECT_EQ(Run({}, "l t fast l q").output,
            Banner() + CommandList() + "Enter tempo (beats per minute)\n" + CommandList());
}

TEST_F(CommandLoop, IntegersOutsideThirtyTwoBitsClampAndWrap) {
  ListedSettings s;
  s.rate = -1;  // -1 is stored as 4294967295 and shown signed
  s.start = 2147483647;
  s.stop = -2147483647;  // -99999999999 clamps to the minimum, minus 1 wraps to the maximum
  s.divisions = -2147483648;
  s.beats = 2147483647;
  // 'o' then shows the stored maximum plus 1, wrapped.
  s.stop = -2147483648;
  EXPECT_EQ(Run({}, "l r -1 i 99999999999 o -99999999999 d -5000000000 b 0x7fffffffff l q").output,
            Banner() + CommandList() +
                "Enter sample rate (samples per second\nEnter start measure\n"
                "Enter stop measure\nEnter divisions per beat\nEnter beats per measure\n" +
                CommandList(s));
}

TEST_F(CommandLoop, ALongCommandWordIsIgnoredWhole) {
  // Were it cut after 7 characters, the rest ("p") would print a report; were
  // more than the word skipped, the "l" would be lost.
  const ProgramRun run = Run({}, "l qqqqqqqp l q");
  EXPECT_EQ(run.output, Banner() + CommandList() + CommandList());
  EXPECT_EQ(run.status, 0);
}

TEST_F(CommandLoop, ALongOutputNameIsRefused) {
  const std::string name(128, 'n');
  ListedSettings s;
  s.file = "short";
  EXPECT_EQ(Run({}, "l f short f " + name + " l q").output,
            Banner() + CommandList() + "Enter filename to save to\nEnter filename to save to\n" +
                "File name too long!\n" + CommandList(s));
  s.file =
      "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"
      "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn";  // 127 fit
  EXPECT_EQ(Run({}, "l f " + name.substr(1) + " l q").output,
            Banner() + CommandList() + "Enter filename to save to\n" + CommandList(s));
}

TEST_F(CommandLoop, TheEndOfInputEndsTheLoopAsQuitDoes) {
  EXPECT_EQ(Run({}, "").output, Banner() + CommandList());
  EXPECT_EQ(Run({}, "").status, 0);
  for (const char* prompt : {"r", "t", "b", "i", "o", "d", "f", "m", "w", "a"}) {
    const ProgramRun run = Run({}, std::string("l ") + prompt);
    EXPECT_EQ(run.status, 0) << prompt;
    EXPECT_EQ(run.output.find("File not found"), std::string::npos) << prompt;
    EXPECT_EQ(run.output.find("Saved"), std::string::npos) << prompt;
  }
  // A sign without digits at the end of input changes nothing.
  EXPECT_EQ(Run({}, "l i -").output, Banner() + CommandList() + "Enter start measure\n");
}

TEST_F(CommandLoop, ValuesTheRendererCannotWalkEndTheProgram) {
  ProgramRun run = Run({}, "l t 0 p q");
  EXPECT_EQ(run.output, Banner() + CommandList() + "Enter tempo (beats per minute)\n" +
                            "Error: Tempo must be greater than zero! (section 1)\n");
  EXPECT_EQ(run.status, 1);
  run = Run({}, "l t nan p q");
  EXPECT_EQ(run.output, Banner() + CommandList() + "Enter tempo (beats per minute)\n" +
                            "Error: Tempo must be greater than zero! (section 1)\n");
  EXPECT_EQ(run.status, 1);
  run = Run({}, "l d 0 t 0 p q");
  EXPECT_EQ(run.output, Banner() + CommandList() +
                            "Enter divisions per beat\nEnter tempo (beats per minute)\n" +
                            "Error: Divisions per beat must be greater than zero!\n");
  EXPECT_EQ(run.status, 1);
  run = Run({}, "l b -4 o 2 p q");
  // -4 x 2 beats: the guard resets the range to measure 1, which still has -4 beats.
  EXPECT_EQ(run.output, Banner() + CommandList() + "Enter beats per measure\nEnter stop measure\n" +
                            "Error: Beats per measure must be greater than zero! (section 1)\n");
  EXPECT_EQ(run.status, 1);
}

TEST_F(CommandLoop, AnInfiniteTempoIsAllowed) {
  const ProgramRun run = Run({}, "l t inf p q");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("Tempo inf\tBeats/Meas 4\tMeasures 1\n\n"
                            "M 1\tB 1\t0.000 sec\t0 smp\n"
                            "\tB 2\t0.000 sec\t0 smp\n"),
            std::string::npos);
}

TEST_F(CommandLoop, AFullReportIsCutAtALineAndSaysSo) {
  const ProgramRun run = RunCapturingErrors({}, "l o 5000 p q");
  const std::string warning = "Warning: report truncated to ";
  const size_t at = run.output.rfind(warning);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(run.output.substr(at), warning +
                                       std::to_string(at - Banner().size() - CommandList().size() -
                                                      std::string("Enter stop measure\n").size()) +
                                       " characters\n");
  EXPECT_LE(at, 65535u + 2000u);
  EXPECT_EQ(run.output[at - 1], '\n');
  EXPECT_EQ(run.output.substr(at - 5, 5), " smp\n");
}

TEST_F(CommandLoop, SamplePositionsPastThirtyTwoBits) {
  // Measure 50,001 at 60 beats per minute, one beat per measure: 50,000 s.
  const ProgramRun run = Run({}, "l t 60 b 1 i 50001 o 50001 p q");
  EXPECT_NE(run.output.find("M 50001\tB 1\t50000.000 sec\t2205000000 smp\n"), std::string::npos);
}

}  // namespace
