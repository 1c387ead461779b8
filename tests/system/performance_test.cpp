// The largest maps a file can hold, with the range anywhere, give the reports
// the step-by-step walk gives. (How fast: bench/export_bench.cpp.)
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "program_runner.h"

namespace {

constexpr int kSections = 510;

using Performance = SystemTest;

std::string Repeat(int count, const std::string& line) {
  std::string text;
  for (int k = 0; k < count; ++k) text += line;
  return text;
}

std::string SectionHeader(int number, const char* tempo, long long beats, long long measures) {
  char text[160];
  std::snprintf(text, sizeof text, "\nSection %d\tTempo %s\tBeats/Meas %lld\tMeasures %lld\n\n",
                number, tempo, beats, measures);
  return text;
}

// A step line whose time is `halves` / 2 seconds, exactly.
std::string StepLine(long long measure, long long beat, long long halves, long long rate) {
  char text[160];
  const std::string time = std::to_string(halves / 2) + (halves % 2 ? ".500" : ".000");
  const long long position = halves * rate / 2;
  if (beat == 1) {
    std::snprintf(text, sizeof text, "M %lld\tB 1\t%s sec\t%lld smp\n", measure, time.c_str(),
                  position);
  } else {
    std::snprintf(text, sizeof text, "\tB %lld\t%s sec\t%lld smp\n", beat, time.c_str(), position);
  }
  return text;
}

TEST_F(Performance, LongestMapWithTheRangeNearTheLargestStart) {
  Write("long.map", Repeat(kSections, "tmap\t120\t4\t2147483647\n"));
  const ProgramRun run =
      RunCapturingErrors({"long.map", "out.txt", "44100", "2147483000", "2147483002"});
  EXPECT_EQ(run.status, 0) << run.output;
  // Half a second a beat: measure m (from 1) starts at 2 (m - 1) seconds,
  // exactly, however many steps lie before it.
  std::string expected = "\nSample Rate\t44100\n\n" + SectionHeader(1, "120.000", 4, 2147483647);
  for (long long m = 2147483000; m <= 2147483002; ++m) {
    for (long long b = 1; b <= 4; ++b) expected += StepLine(m, b, 4 * (m - 1) + b - 1, 44100);
    if (m < 2147483002) expected += "\n";
  }
  EXPECT_EQ(Read("out.txt"), expected);
}

TEST_F(Performance, LongestMapWithTheRangeFromItsOwnStartAndStopLines) {
  // The largest start a map can give is the last measure of its first section;
  // the 509 sections after it are still checked for their tempo.
  Write("long.map",
        "start\t2147483647\nstop\t2147483647\n" + Repeat(kSections, "tmap\t120\t4\t2147483647\n"));
  const ProgramRun run = RunCapturingErrors({"long.map", "out.txt"});
  EXPECT_EQ(run.status, 0) << run.output;
  std::string expected = "\nSample Rate\t44100\n\n" + SectionHeader(1, "120.000", 4, 2147483647);
  for (long long b = 1; b <= 4; ++b) {
    expected += StepLine(2147483647, b, 4 * 2147483646LL + b - 1, 44100);
  }
  EXPECT_EQ(Read("out.txt"), expected);
}

TEST_F(Performance, ABadTempoInTheLastOfTheLongestSectionsIsStillFound) {
  Write("long.map", Repeat(kSections - 1, "tmap\t120\t4\t2147483647\n") + "tmap\t0\t4\t1\n");
  const ProgramRun run = RunCapturingErrors({"long.map", "out.txt", "44100", "1", "1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("Error: Tempo must be greater than zero! (section 510)\n"),
            std::string::npos)
      << run.output;
  EXPECT_FALSE(Exists("out.txt"));
}

TEST_F(Performance, RangeAtTheEndOfTheLastOfManySections) {
  // 510 sections that hold nearly 2^31 measures together, each measure one
  // second long in steps of a half, a quarter or an eighth of a second; all
  // sums are exact, so measure m (from 1) starts at m - 1 seconds.
  const long long measures = 2147483647 / kSections;
  const long long total = measures * kSections;
  static const char* kLines[] = {"tmap\t60\t1\t", "tmap\t120\t2\t", "tmap\t240\t4\t"};
  std::string map = "div\t2\nrate\t48000\n";
  for (int k = 0; k < kSections; ++k) map += kLines[k % 3] + std::to_string(measures) + "\n";
  Write("long.map", map);
  const ProgramRun run = RunCapturingErrors(
      {"long.map", "out.txt", "48000", std::to_string(total - 1), std::to_string(total + 5)});
  EXPECT_EQ(run.status, 0) << run.output;
  // Section 510 is the third kind: 240 beats per minute, 4 beats, 8 steps a measure.
  std::string expected = "\nSample Rate\t48000\n\n" + SectionHeader(510, "240.000", 4, measures);
  for (long long m = total - 1; m <= total; ++m) {
    for (long long s = 0; s < 8; ++s) {
      const long long eighths = 8 * (m - 1) + s;
      char line[160];
      std::snprintf(line, sizeof line, "%s%s%lld.%03lld sec\t%lld smp\n",
                    s == 0 ? ("M " + std::to_string(m) + "\t").c_str() : "\t",
                    s % 2 == 0 ? ("B " + std::to_string(s / 2 + 1) + "\t").c_str() : "\t",
                    eighths / 8, eighths % 8 * 125, eighths * 6000);
      expected += line;
    }
    expected += "\n";  // measure total + 1 is still inside the range
  }
  EXPECT_EQ(Read("out.txt"), expected);
}

TEST_F(Performance, WidestSectionWithTheRangeDeepInside) {
  Write("wide.map", "div\t2147483647\ntmap\t120\t2147483647\t2147483647\n");
  const ProgramRun run =
      RunCapturingErrors({"wide.map", "out.txt", "44100", "1000000000", "1000000000"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("Warning: report truncated to "), std::string::npos) << run.output;
  // A step is 0.5 / (2^31 - 1) s, a little more than 2^-32: below 2^22 s it
  // is more than half an ulp, so each step moves the clock and the clock
  // reaches 2^22 exactly within the first measure's 2^62 steps; from 2^22 on
  // it is less than half an ulp and the clock stands still there.
  const std::string time = "4194304.000 sec\t" + std::to_string(4194304LL * 44100) + " smp\n";
  std::string expected = "\nSample Rate\t44100\n\n" +
                         SectionHeader(1, "120.000", 2147483647, 2147483647) +
                         "M 1000000000\tB 1\t" + time;
  const std::string next = "\t\t" + time;
  while (expected.size() + next.size() <= 65535) expected += next;
  EXPECT_EQ(Read("out.txt"), expected);
}

}  // namespace
