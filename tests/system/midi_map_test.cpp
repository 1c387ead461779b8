// A MIDI file as the tempo map, wherever a map is read: the batch run, the
// exports, the first argument and 'm'; its refusals; and how it sits with
// the interactive commands and with text maps read before or after it.
#include <string>
#include <vector>

#include "midi_bytes.h"
#include "program_runner.h"

namespace {

using namespace midi_bytes;

// 4 ticks a quarter, 3/4; 0.1 s a tick, then 0.2 s a tick from tick 6 (mid
// beat 2). A second track of notes (running status, a SysEx) ends at tick 24:
// measures at 0 and 12 are the map's, 24 is its end.
std::string Song() {
  const std::string tempoTrack =
      Meter(0, 3, 2) + Tempo(0, 400000) + Tempo(6, 800000) + EndOfTrack(6);
  const std::string notes = NoteOn(0, 60) + Message(4, 0, "\x3E\x40") + SysEx(4, "\x7E\x7F\xF7") +
                            Message(4, 0, "\x40\x40") + EndOfTrack(12);
  return Header(1, 2, 4) + Track(tempoTrack) + Track(notes);
}

const std::string kSongSummary = "Read 2 sections, 2 measures, 6 beats\n";

// Points at ticks 0, 4, 8, 12, 16, 20: 0, 0.4, 1.0, 1.8, 2.6 and 3.4 s;
// `samples` are those after the first.
std::string SongReport(int rate, const std::vector<std::string>& samples) {
  return "\nSample Rate\t" + std::to_string(rate) + "\n" +
         "\nSection 1\tTempo 150.000\tBeats/Meas 3\tMeasures 1\n\n"
         "M 1\tB 1\t0.000 sec\t0 smp\n"
         "\tB 2\t0.400 sec\t" +
         samples[0] + " smp\n" + "\nSection 2\tTempo 75.000\tBeats/Meas 3\tMeasures 1\n\n" +
         "\tB 3\t1.000 sec\t" + samples[1] + " smp\n\n" + "M 2\tB 1\t1.800 sec\t" + samples[2] +
         " smp\n" + "\tB 2\t2.600 sec\t" + samples[3] + " smp\n" + "\tB 3\t3.400 sec\t" +
         samples[4] + " smp\n";
}

const std::vector<std::string> kSamplesAt44100 = {"17640", "44100", "79380", "114660", "149940"};

class MidiMaps : public SystemTest {
 protected:
  void SetUp() override {
    SystemTest::SetUp();
    Write("song.mid", Song());
    Write("bad.mid", Header(2, 1, 4) + Track(EndOfTrack(0)));
  }
};

TEST_F(MidiMaps, AreReadWhereverAMapIsRead) {
  const std::string report = SongReport(1000, {"400", "1000", "1800", "2600", "3400"});
  // The batch run; the after-load rule stops at the map's last measure.
  ProgramRun run = Run({"song.mid", "grid.txt", "1000"});
  EXPECT_EQ(run.output,
            Banner() + kSongSummary + "Saved " + std::to_string(report.size()) + " bytes\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Read("grid.txt"), report);
  // The same file through a path that can only be opened once in a while.
  EXPECT_EQ(Run({"/dev/stdin", "stdin.txt", "1000"}, Song()).status, 0);
  EXPECT_EQ(Read("stdin.txt"), report);
  // An export, the range past the map's end: the last tempo and meter go on.
  run = Run({"--format=csv", "song.mid", "grid.csv", "1000", "2", "3"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Read("grid.csv"),
            "section,measure,beat,division,seconds,sample\n"
            "2,2,1,1,1.8,1800\n2,2,2,1,2.6,2600\n2,2,3,1,3.4,3400\n"
            "2,3,1,1,4.2,4200\n2,3,2,1,5,5000\n2,3,3,1,5.8,5800\n");
  // Interactive, as the first argument and by 'm'.
  ListedSettings settings;
  settings.tempo = "150.000";
  settings.beats = 3;
  settings.stop = 2;
  const std::string interactive = SongReport(44100, kSamplesAt44100);
  run = Run({"song.mid"}, "p q");
  EXPECT_EQ(run.output,
            Banner() + kSongSummary + CommandList(settings) + interactive + CommandList(settings));
  run = Run({}, "l m song.mid p q");
  EXPECT_EQ(run.output, Banner() + CommandList() + "Enter name of tempo map file\n" + kSongSummary +
                            interactive);
}

TEST_F(MidiMaps, ARefusedFileChangesNothing) {
  const std::string refusal =
      "Error: Cannot read bad.mid as a MIDI file: format 2, a file of independent patterns!\n";
  Write("kept.txt", "kept\n");
  ProgramRun run = Run({"bad.mid", "kept.txt", "1000"});
  EXPECT_EQ(run.output, Banner() + refusal);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Read("kept.txt"), "kept\n");
  for (const char* format : {"--format=csv", "--format=click", "--format=grid"}) {
    run = Run({format, "bad.mid", "new.out"});
    EXPECT_EQ(run.output, Banner() + refusal) << format;
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(Exists("new.out"));
  }
  // Interactive: the map in force stays, MIDI or text, and the loop goes on.
  run = Run({"song.mid"}, "l m bad.mid p q");
  EXPECT_EQ(run.output.substr(run.output.find("Enter name")),
            "Enter name of tempo map file\n" + refusal + SongReport(44100, kSamplesAt44100));
  EXPECT_EQ(run.status, 0);
  Write("one.map", "tmap\t60\t2\t1\n");
  run = Run({"one.map"}, "l m bad.mid p q");
  EXPECT_EQ(run.output.substr(run.output.find("Enter name")),
            "Enter name of tempo map file\n" + refusal +
                "\nSample Rate\t44100\n\nSection 1\tTempo 60.000\tBeats/Meas 2\tMeasures 1\n\n"
                "M 1\tB 1\t0.000 sec\t0 smp\n\tB 2\t1.000 sec\t44100 smp\n\n");
}

TEST_F(MidiMaps, TakeTheirTempoAndMeterFromTheFileAndLeaveTheTextMapAlone) {
  // 't' and 'b' say where the tempo and meter come from, ask nothing, change nothing.
  ProgramRun run = Run({"song.mid"}, "l t b p q");
  EXPECT_EQ(run.output.substr(run.output.find("'q' to quit\n") + 12),
            "Tempo and meter come from the MIDI file song.mid\n"
            "Tempo and meter come from the MIDI file song.mid\n" +
                SongReport(44100, kSamplesAt44100));
  // A text map read later is read as if the MIDI map had never been: the same
  // report as a session that set the same stop and read only the text map.
  Write("two.map", "tmap\t90\t2\t3\ntmap\t45\t4\t1\n");
  run = Run({"song.mid"}, "l m two.map p t 100 l q");
  const std::string text = Run({}, "l o 2 m two.map p t 100 l q").output;
  const std::string tail = "Enter name of tempo map file\nRead 2 sections, 4 measures, 10 beats\n";
  EXPECT_EQ(run.output.substr(run.output.find(tail)), text.substr(text.find(tail)));
  EXPECT_NE(text.find("Enter tempo (beats per minute)\n"), std::string::npos);
  EXPECT_NE(text.find("'t' to change tempo (100.000)"), std::string::npos);
}

}  // namespace
