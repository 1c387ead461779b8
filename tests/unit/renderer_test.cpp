#include "grid/renderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "cli/session.h"

namespace {

struct Rendering {
  std::string text;
  bool truncated;
  std::string failure;
};

// The state is large; keep it off the test's stack.
std::unique_ptr<RunState> FreshState() {
  auto state = std::make_unique<RunState>();
  InitRunState(*state);
  return state;
}

Rendering Render(RunState& state) {
  Failure failure{};
  SizeDefaultSection(state.map, state.settings);
  BuildReport(TextGrid(state.map), state.settings, state.report, failure);
  EXPECT_EQ(std::strlen(state.report.text), static_cast<size_t>(state.report.length));
  return {state.report.text, state.report.truncated, failure.message};
}

void SetSection(RunState& state, int k, float tempo, int beats, int measures) {
  state.map.tempo[k] = tempo;
  state.map.beatsPerMeasure[k] = beats;
  state.map.measures[k] = measures;
}

TEST(BuildReport, FreshStateGivesTheDefaultReportOf168Bytes) {
  auto state = FreshState();
  const Rendering r = Render(*state);
  EXPECT_EQ(r.text,
            "\nSample Rate\t44100\n"
            "\nSection 1\tTempo 120.000\tBeats/Meas 4\tMeasures 1\n\n"
            "M 1\tB 1\t0.000 sec\t0 smp\n"
            "\tB 2\t0.500 sec\t22050 smp\n"
            "\tB 3\t1.000 sec\t44100 smp\n"
            "\tB 4\t1.500 sec\t66150 smp\n");
  EXPECT_EQ(r.text.size(), 168u);
  EXPECT_FALSE(r.truncated);
  EXPECT_EQ(r.failure, "");
  EXPECT_EQ(state->map.measures[0], 1) << "slot 0 keeps the measure count it was given";
}

TEST(BuildReport, TwoSectionsWithDivisionsAndARangeInTheMiddle) {
  auto state = FreshState();
  state->map.sectionCount = 2;
  SetSection(*state, 0, 120.0f, 3, 2);
  SetSection(*state, 1, 90.0f, 2, 1);
  state->settings.sampleRate = 48000;
  state->settings.divisionsPerBeat = 2;
  state->settings.startMeasure = 1;
  state->settings.stopMeasure = 2;
  EXPECT_EQ(Render(*state).text,
            "\nSample Rate\t48000\n"
            "\n"
            "\nSection 1\tTempo 120.000\tBeats/Meas 3\tMeasures 2\n\n"
            "M 2\tB 1\t1.500 sec\t72000 smp\n"
            "\t\t1.750 sec\t84000 smp\n"
            "\tB 2\t2.000 sec\t96000 smp\n"
            "\t\t2.250 sec\t108000 smp\n"
            "\tB 3\t2.500 sec\t120000 smp\n"
            "\t\t2.750 sec\t132000 smp\n"
            "\n"
            "\nSection 2\tTempo 90.000\tBeats/Meas 2\tMeasures 1\n\n"
            "M 3\tB 1\t3.000 sec\t144000 smp\n"
            "\t\t3.333 sec\t160000 smp\n"
            "\tB 2\t3.667 sec\t176000 smp\n"
            "\t\t4.000 sec\t192000 smp\n");
}

TEST(BuildReport, RangeEdges) {
  auto state = FreshState();
  state->map.sectionCount = 1;
  SetSection(*state, 0, 60.0f, 1, 4);
  state->settings.startMeasure = 3;
  state->settings.stopMeasure = 1;
  EXPECT_EQ(Render(*state).text, "\nSample Rate\t44100\n") << "inverted range";
  state->settings.startMeasure = 5;
  state->settings.stopMeasure = 7;
  EXPECT_EQ(Render(*state).text, "\nSample Rate\t44100\n") << "two past the end";
  state->settings.startMeasure = 4;
  EXPECT_EQ(Render(*state).text, "\nSample Rate\t44100\n\n") << "right after the end";
  state->settings.startMeasure = 3;
  EXPECT_EQ(Render(*state).text,
            "\nSample Rate\t44100\n\n"
            "\nSection 1\tTempo 60.000\tBeats/Meas 1\tMeasures 4\n\n"
            "M 4\tB 1\t3.000 sec\t132300 smp\n\n")
      << "a stop past the end leaves a trailing separator";
}

TEST(BuildReport, EmptySectionsAreSkippedButKeepTheirNumber) {
  auto state = FreshState();
  state->map.sectionCount = 3;
  SetSection(*state, 0, 120.0f, 1, 1);
  SetSection(*state, 1, 100.0f, 0, 0);
  SetSection(*state, 2, 60.0f, 1, 1);
  state->settings.stopMeasure = 1;
  EXPECT_EQ(Render(*state).text,
            "\nSample Rate\t44100\n"
            "\nSection 1\tTempo 120.000\tBeats/Meas 1\tMeasures 1\n\n"
            "M 1\tB 1\t0.000 sec\t0 smp\n\n"
            "\nSection 3\tTempo 60.000\tBeats/Meas 1\tMeasures 1\n\n"
            "M 2\tB 1\t0.500 sec\t22050 smp\n");
}

TEST(BuildReport, FailuresComeInTheirOrder) {
  auto state = FreshState();
  state->settings.divisionsPerBeat = 0;
  state->map.tempo[0] = 0.0f;
  EXPECT_EQ(Render(*state).failure, "Error: Divisions per beat must be greater than zero!\n");

  state = FreshState();
  state->map.sectionCount = 3;
  SetSection(*state, 0, 120.0f, 4, 1);
  SetSection(*state, 1, 120.0f, 0, 0);  // no measures: its beats are not looked at
  SetSection(*state, 2, 0.0f, 4, 1);
  EXPECT_EQ(Render(*state).failure, "Error: Tempo must be greater than zero! (section 3)\n");
  state->map.tempo[2] = std::nanf("");
  EXPECT_EQ(Render(*state).failure, "Error: Tempo must be greater than zero! (section 3)\n");
  state->map.tempo[2] = 90.0f;
  state->map.beatsPerMeasure[2] = -1;
  EXPECT_EQ(Render(*state).failure,
            "Error: Beats per measure must be greater than zero! (section 3)\n");
  state->map.beatsPerMeasure[2] = 1;
  EXPECT_EQ(Render(*state).failure, "");
}

TEST(BuildReport, InfiniteTempoStandsStill) {
  auto state = FreshState();
  state->map.tempo[0] = INFINITY;
  const Rendering r = Render(*state);
  EXPECT_EQ(r.failure, "");
  EXPECT_NE(r.text.find("Tempo inf\t"), std::string::npos);
  EXPECT_NE(r.text.find("\tB 4\t0.000 sec\t0 smp\n"), std::string::npos);
}

TEST(BuildReport, AFullReportKeepsWholeLinesOnly) {
  auto state = FreshState();
  state->settings.stopMeasure = 100000;
  const Rendering r = Render(*state);
  EXPECT_TRUE(r.truncated);
  EXPECT_LE(r.text.size(), 65535u);
  EXPECT_GT(r.text.size(), 65535u - 40u) << "only the unit that did not fit is missing";
  EXPECT_EQ(r.text.back(), '\n');
  // The last line is whole: a beat label and a time column.
  const std::string last = r.text.substr(r.text.rfind('\n', r.text.size() - 2) + 1);
  EXPECT_TRUE(last.rfind("\tB ", 0) == 0 || last.rfind("M ", 0) == 0) << last;
  EXPECT_NE(last.find(" smp\n"), std::string::npos) << last;
}

TEST(BuildReport, SamplePositionsPastThirtyTwoBitsStayExact) {
  auto state = FreshState();
  state->map.sectionCount = 1;
  SetSection(*state, 0, 60.0f, 1, 100000);
  state->settings.startMeasure = 99999;
  state->settings.stopMeasure = 99999;
  EXPECT_EQ(Render(*state).text,
            "\nSample Rate\t44100\n\n"
            "\nSection 1\tTempo 60.000\tBeats/Meas 1\tMeasures 100000\n\n"
            "M 100000\tB 1\t99999.000 sec\t4409955900 smp\n");
  state->settings.sampleRate = 4294967295u;  // shown as -1
  state->map.tempo[0] = 1e-30f;
  state->settings.startMeasure = 2;
  const std::string text = Render(*state).text;
  EXPECT_EQ(text.rfind("\nSample Rate\t-1\n", 0), 0u);
  EXPECT_NE(text.find("\t9223372036854775807 smp\n"), std::string::npos) << "held at the end";
}

}  // namespace
