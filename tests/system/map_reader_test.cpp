// Tempo map files, read from the first argument and with 'm'.
#include <string>

#include "program_runner.h"

namespace {

class MapFiles : public SystemTest {
 protected:
  // Runs with the map as the only argument and the list hidden at once.
  ProgramRun ReadThenType(const std::string& map, const std::string& typed) {
    Write("song.map", map);
    return RunCapturingErrors({"song.map"}, "l " + typed);
  }
};

std::string Sections(int count, const std::string& line) {
  std::string text;
  for (int k = 0; k < count; ++k) text += line;
  return text;
}

TEST_F(MapFiles, SummaryAndSettingsFromTheFile) {
  Write("song.map", "rate\t48000\ntmap\t120\t4\t8\ntmap\t90\t3\t2\n");
  const ProgramRun run = Run({"song.map"}, "q");
  ListedSettings s;
  s.rate = 48000;
  s.stop = 11;  // the after-load rule: one past the map's 10 measures
  EXPECT_EQ(run.output, Banner() + "Read 2 sections, 10 measures, 38 beats\n" + CommandList(s));
  EXPECT_EQ(run.status, 0);
}

TEST_F(MapFiles, StartAndStopAreStoredLessOne) {
  Write("song.map", "start\t5\nstop\t12\ntmap\t120\t4\t32\n");
  ListedSettings s;
  s.start = 5;
  s.stop = 12;
  EXPECT_EQ(Run({"song.map"}, "q").output,
            Banner() + "Read 1 sections, 32 measures, 128 beats\n" + CommandList(s));
}

TEST_F(MapFiles, CommandWordsStandAnywhereAsTokens) {
  // In the second column; a value is the rest of its line; blanks are no tabs.
  Write("song.map",
        "notes\trate\t96000\ttrailing text\n"
        "tmap 120 4 8\n"
        "div\t\t3\n"
        "Tmap\t100\t4\t4\n"
        "tmap\t\t144.6\t\t4\t\t2\t\tcomment\n");
  ListedSettings s;
  s.rate = 96000;
  s.divisions = 3;
  s.tempo = "144.600";
  s.stop = 3;
  EXPECT_EQ(RunCapturingErrors({"song.map"}, "q").output,
            Banner() + "Read 1 sections, 2 measures, 8 beats\n" + CommandList(s));
}

TEST_F(MapFiles, AFieldRunsAcrossTheLineEndWhenOneIsMissing) {
  const ProgramRun run = ReadThenType("tmap\t120\t4\ntmap\t90\t3\t2\n", "p q");
  EXPECT_EQ(run.output.substr(0, Banner().size() + 40),
            Banner() + "Read 1 sections, 90 measures, 360 beats\n");
  EXPECT_NE(run.output.find("Section 1\tTempo 120.000\tBeats/Meas 4\tMeasures 90\n"),
            std::string::npos);
}

TEST_F(MapFiles, CarriageReturnsEndValues) {
  Write("song.map", "rate\t48000\r\ndiv\t2\r\ntmap\t60\t2\t1\r\n");
  const ProgramRun run = Run({"song.map"}, "l p q");
  EXPECT_EQ(
      run.output,
      Banner() + "Read 1 sections, 1 measures, 2 beats\n" +
          CommandList({.rate = 48000, .tempo = "60.000", .beats = 2, .stop = 2, .divisions = 2}) +
          "\nSample Rate\t48000\n"
          "\nSection 1\tTempo 60.000\tBeats/Meas 2\tMeasures 1\n\n"
          "M 1\tB 1\t0.000 sec\t0 smp\n"
          "\t\t0.500 sec\t24000 smp\n"
          "\tB 2\t1.000 sec\t48000 smp\n"
          "\t\t1.500 sec\t72000 smp\n"
          "\n");
}

TEST_F(MapFiles, TheTextEndsAtAZeroByte) {
  Write("song.map", std::string("tmap\t120\t4\t8\n\0tmap\t90\t3\t2\n", 26));
  EXPECT_EQ(RunCapturingErrors({"song.map"}, "q").output.substr(Banner().size(), 38),
            "Read 1 sections, 8 measures, 32 beats\n");
  Write("song.map", std::string("tmap\t120\t4\t1\0", 13));
  EXPECT_EQ(RunCapturingErrors({"song.map"}, "q").output.substr(Banner().size(), 37),
            "Read 1 sections, 1 measures, 4 beats\n");
}

TEST_F(MapFiles, AnEmptyFileFallsBackToTheDefaultSection) {
  const ProgramRun run = ReadThenType("", "p q");
  EXPECT_EQ(run.output,
            Banner() + "Read 0 sections, 0 measures, 0 beats\n" + CommandList() + DefaultReport());
  EXPECT_EQ(run.errors,
            "song.map:1: no tmap line: the map has no sections, so a report is one made-up section "
            "at 120 beats per minute and the other formats refuse it\n")
      << "the map's problems on standard error";
}

TEST_F(MapFiles, AValueMissingAtTheEndOfTheTextReadsAsZero) {
  Write("song.map", "tmap\t100\t4\t8\nrate");
  ListedSettings s{.rate = 0, .tempo = "100.000", .stop = 9};
  EXPECT_EQ(RunCapturingErrors({"song.map"}, "q").output,
            Banner() + "Read 1 sections, 8 measures, 32 beats\n" + CommandList(s));
  Write("song.map", "tmap\t100");
  s = {.tempo = "100.000", .beats = 0};
  EXPECT_EQ(RunCapturingErrors({"song.map"}, "q").output,
            Banner() + "Read 1 sections, 0 measures, 0 beats\n" + CommandList(s));
}

TEST_F(MapFiles, NumbersClampToThirtyTwoBits) {
  Write("song.map",
        "rate\t99999999999\ndiv\t-99999999999\nstart\t-99999999999\n"
        "tmap\t120\t0000000000000000000000000000000000000000000000000004\t65536\n"
        "tmap\t1e999\t65536\t65536\n");
  // 4 x 65536 + 65536 x 65536 wraps to 262144; the start wraps to the maximum.
  ListedSettings s{
      .rate = 2147483647, .start = -2147483648, .stop = 131073, .divisions = -2147483648};
  EXPECT_EQ(RunCapturingErrors({"song.map"}, "q").output,
            Banner() + "Read 2 sections, 131072 measures, 262144 beats\n" + CommandList(s));
}

TEST_F(MapFiles, OnlyTheFirst510SectionsAreRead) {
  const ProgramRun run = ReadThenType(Sections(600, "tmap\t120\t4\t2\n"), "q");
  EXPECT_EQ(run.output, Banner() + "Read 510 sections, 1020 measures, 4080 beats\n" +
                            "Warning: only the first 510 sections were read\n" +
                            CommandList({.stop = 1021}));
  // Sections after the 510th do not reach the report either.
  const ProgramRun late =
      ReadThenType(Sections(510, "tmap\t120\t4\t1\n") + "tmap\t60\t4\t1\n", "i 510 p q");
  EXPECT_NE(late.output.find("\nSection 510\tTempo 120.000\tBeats/Meas 4\tMeasures 1\n"),
            std::string::npos);
  EXPECT_EQ(late.output.find("Section 511"), std::string::npos);
}

TEST_F(MapFiles, AfterLoadRuleFromTheArgument) {
  ProgramRun run = ReadThenType("tmap\t120\t1\t48\n", "p l q");
  EXPECT_NE(run.output.find("M 48\tB 1\t23.500 sec\t1036350 smp\n\n"), std::string::npos);
  EXPECT_NE(run.output.find(CommandList({.beats = 1, .stop = 49})), std::string::npos);
  run = ReadThenType("stop\t12\ntmap\t120\t1\t48\n", "l q");
  EXPECT_NE(run.output.find(CommandList({.beats = 1, .stop = 12})), std::string::npos);
}

TEST_F(MapFiles, AfterLoadRuleFromTheCommand) {
  Write("song.map", "tmap\t120\t4\t32\n");
  EXPECT_EQ(Run({}, "l o 8 m song.map l q").output,
            Banner() + CommandList() + "Enter stop measure\nEnter name of tempo map file\n" +
                "Read 1 sections, 32 measures, 128 beats\n" + CommandList({.stop = 8}));
  EXPECT_EQ(Run({}, "l m song.map l q").output,
            Banner() + CommandList() + "Enter name of tempo map file\n" +
                "Read 1 sections, 32 measures, 128 beats\n" + CommandList({.stop = 33}));
}

TEST_F(MapFiles, AMissingMapStillCountsAsLoaded) {
  // The guard no longer recomputes the beats: with none it falls back to measure 1.
  EXPECT_EQ(Run({}, "l o 3 m nowhere.map p l q").output,
            Banner() + CommandList() + "Enter stop measure\nEnter name of tempo map file\n" +
                "File not found!\n" + DefaultReport() + CommandList());
  EXPECT_EQ(Run({"nowhere.map"}, "p q").output,
            Banner() + "File not found!\n" + CommandList() + DefaultReport() + CommandList());
}

TEST_F(MapFiles, WhatCannotBeReadIsNotFound) {
  ASSERT_EQ(system(("mkdir " + Path("folder.map")).c_str()), 0);
  EXPECT_EQ(Run({"folder.map"}, "q").output, Banner() + "File not found!\n" + CommandList());
  EXPECT_EQ(Run({""}, "q").output, Banner() + "File not found!\n" + CommandList());
}

TEST_F(MapFiles, AFailedReadChangesNothing) {
  Write("song.map", "rate\t22050\ntmap\t100\t3\t4\n");
  EXPECT_EQ(Run({"song.map"}, "l m nowhere.map l q").output,
            Banner() + "Read 1 sections, 4 measures, 12 beats\n" +
                CommandList({.rate = 22050, .tempo = "100.000", .beats = 3, .stop = 5}) +
                "Enter name of tempo map file\nFile not found!\n" +
                CommandList({.rate = 22050, .tempo = "100.000", .beats = 3, .stop = 5}));
}

TEST_F(MapFiles, ALongMapNameIsRefused) {
  const std::string name(128, 'm');
  Write(name.substr(1), "tmap\t100\t4\t4\n");
  // Argument 1: refused, then the loop as after a missing map.
  EXPECT_EQ(Run({name}, "q").output, Banner() + "File name too long!\n" + CommandList());
  // Typed: the stored name stays, the after-load rule still runs.
  EXPECT_EQ(Run({}, "l m " + name + " l q").output,
            Banner() + CommandList() + "Enter name of tempo map file\nFile name too long!\n" +
                CommandList());
  // 127 characters fit.
  EXPECT_EQ(Run({name.substr(1)}, "q").output, Banner() +
                                                   "Read 1 sections, 4 measures, 16 beats\n" +
                                                   CommandList({.tempo = "100.000", .stop = 5}));
}

// Names longer than the system takes are still named whole, on a line of
// their own, when the map cannot be read or the export cannot be saved.
TEST_F(MapFiles, ANameThePathLimitRefusesIsToldWhole) {
  Write("song.map", "tmap\t100\t4\t4\n");
  const std::string name(5000, 'n');
  const std::string tooLong = ": File name too long!\n";
  const ProgramRun unread = Run({"--format=csv", name, "out.csv"}, "");
  EXPECT_EQ(unread.output, Banner() + "Error: Cannot read " + name + tooLong);
  const ProgramRun unsaved = Run({"--format=csv", "song.map", name}, "");
  EXPECT_TRUE(unsaved.output.ends_with(name + tooLong)) << unsaved.output.substr(0, 200);
  EXPECT_EQ(unsaved.status, 1);
}

TEST_F(MapFiles, ALargeFileIsReadWhole) {
  // 12 MB of notes, then the only section and a rate at the very end.
  std::string text(12 * 1024 * 1024, 'x');
  for (size_t k = 100; k < text.size(); k += 100) text[k] = '\n';
  text += "\ntmap\t100\t4\t4\nrate\t8000";
  const ProgramRun run = ReadThenType(text, "q");
  EXPECT_EQ(run.output, Banner() + "Read 1 sections, 4 measures, 16 beats\n" +
                            CommandList({.rate = 8000, .tempo = "100.000", .stop = 5}));
  // A single piece far longer than a line.
  Write("song.map", "tmap\t" + std::string(200000, '0') + "90\t4\t2\n");
  EXPECT_EQ(Run({"song.map"}, "q").output, Banner() + "Read 1 sections, 2 measures, 8 beats\n" +
                                               CommandList({.tempo = "90.000", .stop = 3}));
}

TEST_F(MapFiles, ShippedExamplesReadWithoutComplaint) {
  for (const char* name :
       {"shoreline.map", "night_drive_crlf.map", "chorale_settings.map", "warehouse_set.map"}) {
    const ProgramRun run = Run({std::string(BEATSTAMPS_EXAMPLES) + "/" + name}, "l p q");
    EXPECT_EQ(run.status, 0) << name;
    EXPECT_EQ(run.output.find("Read "), Banner().size()) << name;
    EXPECT_EQ(run.output.find("Warning"), std::string::npos) << name;
    EXPECT_EQ(run.output.find("Error"), std::string::npos) << name;
    EXPECT_EQ(run.output.find("File "), std::string::npos) << name;
  }
}

}  // namespace
