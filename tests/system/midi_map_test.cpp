// A MIDI file as the tempo map, wherever a map is read: the batch run, the
// exports, the first argument and 'm'; its refusals; and how it sits with
// the interactive commands and with text maps read before or after it.
#include <algorithm>
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
  // --check names the refusal as the map's one problem; a sound file passes.
  run = Run({"--check", "bad.mid"});
  EXPECT_EQ(run.output, Banner() + refusal);
  EXPECT_EQ(run.status, 1);
  run = Run({"--check", "song.mid"});
  EXPECT_EQ(run.output, Banner() + kSongSummary);
  EXPECT_EQ(run.status, 0);
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
  // Not even the after-load rule follows a refusal, as it follows a missing file.
  ListedSettings settings;
  settings.tempo = "60.000";
  settings.beats = 2;
  settings.stop = 1;
  run = Run({"one.map"}, "o 1 m bad.mid q");
  EXPECT_EQ(run.output.substr(run.output.rfind(refusal)), refusal + CommandList(settings));
  settings.stop = 2;
  run = Run({"one.map"}, "o 1 m nothing.map q");
  EXPECT_EQ(run.output.substr(run.output.rfind("File not found!\n")),
            "File not found!\n" + CommandList(settings));
}

TEST_F(MidiMaps, AreReadAsFoundPaddedWrappedInRiffOrEndingJustAfterABarLine) {
  const std::string report = SongReport(1000, {"400", "1000", "1800", "2600", "3400"});
  // Padding after the last chunk is passed over, and named.
  Write("padded.mid", Song() + std::string("\r\n\0\0", 4));
  const std::string note =
      "padded.mid: 4 bytes after the last chunk cannot start a chunk, and are passed over\n";
  ProgramRun run = RunCapturingErrors({"padded.mid", "padded.txt", "1000"});
  EXPECT_EQ(run.output,
            Banner() + kSongSummary + "Saved " + std::to_string(report.size()) + " bytes\n");
  EXPECT_EQ(run.errors, note);
  EXPECT_EQ(Read("padded.txt"), report);
  run = Run({"--check", "padded.mid"});
  EXPECT_EQ(run.output, Banner() + note + kSongSummary);
  EXPECT_EQ(run.status, 1);
  // A track the file cuts off is still refused.
  Write("cut.mid", Song() + "MTrk" + BigEndian(50, 4) + EndOfTrack(0));
  ExpectRefused(Run({"--check", "cut.mid"}), "");
  // An RMID file is read as the MIDI file it holds.
  Write("song.rmi", Rmid(Song()));
  run = Run({"--check", "song.rmi"});
  EXPECT_EQ(run.output, Banner() + kSongSummary);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ExportedWith({}, "csv", "song.rmi", {"1000"}),
            ExportedWith({}, "csv", "song.mid", {"1000"}));
  // End of Track 26 ticks after the last bar line adds no measure.
  Write("abc.mid", Header(0, 1, 480) + Track(Meter(0, 4, 2) + NoteOn(0, 60) +
                                             Message(3840, 0x80, "\x3C\x40") + EndOfTrack(26)));
  EXPECT_EQ(Run({"--check", "abc.mid"}).output,
            Banner() + "Read 1 sections, 2 measures, 8 beats\n");
}

TEST_F(MidiMaps, CountFromAPickupAndInDottedBeats) {
  // 480 ticks a quarter at 120: a pickup of 1/8, then 6/8 (a half second a
  // dotted beat), then 3/8, which is no compound meter and keeps its eighths.
  Write("jig.mid", Header(0, 1, 480) + Track(Meter(0, 1, 3) + Meter(240, 6, 3) + Meter(1440, 3, 3) +
                                             EndOfTrack(720)));
  // Measure 0 is the pickup; START and STOP count in those numbers too.
  EXPECT_EQ(ExportedWith({"--first-measure=0"}, "labels", "jig.mid", {"48000", "0", "1"}),
            "0.000000\t0.000000\t0.1\n0.250000\t0.250000\t1.1\n0.500000\t0.500000\t1.2\n"
            "0.750000\t0.750000\t1.3\n1.000000\t1.000000\t1.4\n1.250000\t1.250000\t1.5\n"
            "1.500000\t1.500000\t1.6\n");
  EXPECT_EQ(ExportedWith({"--first-measure=0"}, "csv", "jig.mid", {"48000", "2", "2"}),
            "section,measure,beat,division,seconds,sample\n3,2,1,1,1.75,84000\n"
            "3,2,2,1,2,96000\n3,2,3,1,2.25,108000\n");
  EXPECT_NE(ExportedWith({"--first-measure=0"}, "svg", "jig.mid", {"48000", "0", "1"})
                .find("class=\"measure\" x=\"23.000\" y=\"50.000\">0</text>"),
            std::string::npos);
  ProgramRun run = Run({"--first-measure=0", "jig.mid", "grid.txt", "48000", "0", "0"});
  EXPECT_EQ(Read("grid.txt"),
            "\nSample Rate\t48000\n\nSection 1\tTempo 240.000\tBeats/Meas 1\tMeasures 1\n\n"
            "M 0\tB 1\t0.000 sec\t0 smp\n");
  // Dotted beats: two a measure of 6/8, at 80 a minute; 3/8 as it was.
  const std::string beats =
      "0.000000\t1\n0.250000\t1\n1.000000\t2\n1.750000\t1\n"
      "2.000000\t2\n2.250000\t3\n";
  EXPECT_EQ(ExportedWith({"--beat=dotted"}, "beats", "jig.mid", {"48000"}), beats);
  const std::string osu = ExportedWith({"--beat=dotted"}, "osu", "jig.mid", {"48000"});
  EXPECT_NE(osu.find("[TimingPoints]\n0,250,1,1,0,100,1,0\n250,750,2,1,0,100,1,0\n"
                     "1750,250,3,1,0,100,1,0\n"),
            std::string::npos)
      << osu;
  run = Run({"--beat=dotted", "--format=grid", "jig.mid", "dotted.txt", "48000", "2", "2", "3"});
  EXPECT_EQ(run.output, Banner() + "Read 3 sections, 3 measures, 6 beats\n" + "Saved 210 bytes\n");
  EXPECT_EQ(Read("dotted.txt"),
            "\nSample Rate\t48000\n\n\nSection 2\tTempo 80.000\tBeats/Meas 2\tMeasures 1\n\n"
            "M 2\tB 1\t0.250 sec\t12000 smp\n\t\t0.500 sec\t24000 smp\n\t\t0.750 sec\t36000 smp\n"
            "\tB 2\t1.000 sec\t48000 smp\n\t\t1.250 sec\t60000 smp\n\t\t1.500 sec\t72000 smp\n");
  // The MIDI file's count-in clicks dotted beats of 6/8 too, its bars those of 6/8.
  Write("six.mid", Header(0, 1, 480) + Track(Meter(0, 6, 3) + EndOfTrack(2880)));
  int ticksPerQuarter = 0;
  std::vector<uint64_t> clicks;
  for (const Event& event : EventsOf(
           ExportedWith({"--beat=dotted", "--count-in=1"}, "midi", "six.mid", {"48000", "1", "1"}),
           ticksPerQuarter)) {
    if (event.track == 1 && event.status == 0x99) clicks.push_back(event.tick);
  }
  EXPECT_EQ(clicks, (std::vector<uint64_t>{0, 720, 1440, 2160}));
  EXPECT_EQ(Run({"--beat=triplet", "jig.mid", "x.txt"}).output,
            "Error: --beat takes dotted or note, not \"triplet\"!\n");
  EXPECT_EQ(Run({"--first-measure=0"}).output,
            "Error: --first-measure needs a tempo map and an output file! (see beatstamps1a "
            "--help)\n");
}

TEST_F(MidiMaps, TakeTheirTempoAndMeterFromTheFileAndLeaveTheTextMapAlone) {
  // 't' and 'b' say where the tempo and meter come from, ask nothing, change nothing.
  ProgramRun run = Run({"song.mid"}, "l t b p q");
  EXPECT_EQ(run.output.substr(run.output.find("'q' to quit\n") + 12),
            "Tempo and meter come from the MIDI file song.mid\n"
            "Tempo and meter come from the MIDI file song.mid\n" +
                SongReport(44100, kSamplesAt44100));
  // A text map read later is read as if the MIDI map had never been: the same
  // report as a session that read only the text map (the stop the MIDI map's
  // last measure gave is not kept), where a stop typed in between stays.
  Write("two.map", "tmap\t90\t2\t3\ntmap\t45\t4\t1\n");
  run = Run({"song.mid"}, "l m two.map p t 100 l q");
  const std::string text = Run({}, "l m two.map p t 100 l q").output;
  const std::string tail = "Enter name of tempo map file\nRead 2 sections, 4 measures, 10 beats\n";
  EXPECT_EQ(run.output.substr(run.output.find(tail)), text.substr(text.find(tail)));
  EXPECT_NE(text.find("Enter tempo (beats per minute)\n"), std::string::npos);
  EXPECT_NE(text.find("'t' to change tempo (100.000)"), std::string::npos);
  run = Run({"song.mid"}, "l o 2 m two.map p q");
  const std::string typed = Run({}, "l o 2 m two.map p q").output;
  EXPECT_EQ(run.output.substr(run.output.find(tail)), typed.substr(typed.find(tail)));
  // So is a second MIDI map: its own last measure ends the range, both ways.
  Write("four.mid", Header(0, 1, 4) + Track(Meter(0, 3, 2) + Tempo(0, 400000) + EndOfTrack(48)));
  for (const auto& [first, second] :
       {std::pair{"song.mid", "four.mid"}, {"four.mid", "song.mid"}}) {
    run = Run({first}, std::string("l m ") + second + " p q");
    const std::string alone = Run({second}, "l p q").output;
    const std::string report = "\nSample Rate";
    EXPECT_EQ(run.output.substr(run.output.find(report)), alone.substr(alone.find(report)))
        << first << " then " << second;
  }
}

TEST_F(MidiMaps, ExportInEveryFormatTheMidiExportReadingBackAsTheSameGrid) {
  const std::vector<std::string> pastTheEnd = {"48000", "1", "4", "2"};
  auto exported = [&](const std::string& format, const std::string& map, const std::string& out,
                      const std::vector<std::string>& settings) {
    std::vector<std::string> arguments = {"--format=" + format, map, out};
    arguments.insert(arguments.end(), settings.begin(), settings.end());
    const ProgramRun run = Run(arguments);
    EXPECT_EQ(run.status, 0) << run.output;
    return Read(out);
  };
  // Every format, each with a line or a click per grid point.
  const std::string csv = exported("csv", "song.mid", "song.csv", pastTheEnd);
  const std::string labels = exported("labels", "song.mid", "song.txt", pastTheEnd);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 25);
  EXPECT_EQ(std::count(labels.begin(), labels.end(), '\n'), 24);
  EXPECT_EQ(labels.substr(0, 46), "0.000000\t0.000000\t1.1\n0.200000\t0.200000\t1.1.2\n");
  const std::string wav = exported("click", "song.mid", "song.wav", pastTheEnd);
  // Ends a click (10 ms) after the last point, at tick 46: 0.6 + 40 x 0.2 s in.
  EXPECT_EQ(wav.size(), 44u + 2u * (8.6 * 48000 + 480));
  // MIDI: 480 ticks a quarter put every tick of the map and every point on a whole tick.
  int ticksPerQuarter = 0;
  std::vector<Event> events =
      EventsOf(exported("midi", "song.mid", "song_out.mid", pastTheEnd), ticksPerQuarter);
  EXPECT_EQ(ticksPerQuarter, 480);
  std::vector<std::string> tempoMap;
  std::vector<uint64_t> clicks;
  for (const Event& event : events) {
    if (event.track == 0 && event.status == 0xFF && event.data[0] != 0x03) {
      tempoMap.push_back(std::to_string(event.tick) + ":" + event.data.substr(0, 3));
    }
    if (event.track == 1 && event.status == 0x99) clicks.push_back(event.tick);
  }
  EXPECT_EQ(tempoMap,
            (std::vector<std::string>{"0:" + std::string("\x58\x03\x02", 3), "0:\x51\x06\x1A",
                                      "720:\x51\x0C\x35", "2880:\x2F"}));
  ASSERT_EQ(clicks.size(), 24u);
  for (size_t k = 0; k < clicks.size(); ++k) EXPECT_EQ(clicks[k], 240 * k);
  // Read back, the export is the same map: the same grid, past its end too.
  EXPECT_EQ(exported("csv", "song_out.mid", "again.csv", pastTheEnd), csv);
  exported("midi", "song.mid", "inside.mid", {"48000", "1", "2", "2"});
  // Its tracks end where the map does: the same length, the same report.
  EXPECT_EQ(Run({"inside.mid", "inside.txt"}).output, Run({"song.mid", "report.txt"}).output);
  EXPECT_EQ(Read("inside.txt"), Read("report.txt"));

  // 30,011 ticks a quarter and a tempo at tick 1: no ticks per quarter note up
  // to 32,767 put a half beat on a whole tick, so each click takes the nearest.
  Write("fine.mid", Header(0, 1, 30011) +
                        Track(Tempo(0, 500000) + Tempo(1, 600000) + EndOfTrack(4 * 30011 - 1)));
  events = EventsOf(exported("midi", "fine.mid", "fine_out.mid", {"44100", "1", "1", "2"}),
                    ticksPerQuarter);
  EXPECT_EQ(ticksPerQuarter, 30011);
  clicks.clear();
  for (const Event& event : events) {
    if (event.track == 1 && event.status == 0x99) clicks.push_back(event.tick);
  }
  EXPECT_EQ(clicks, (std::vector<uint64_t>{0, 15006, 30011, 45017, 60022, 75028, 90033, 105039}));
  EXPECT_EQ(exported("csv", "fine_out.mid", "fine_again.csv", pastTheEnd),
            exported("csv", "fine.mid", "fine.csv", pastTheEnd));

  // A tempo 600,000,000 ticks in, more than a delta time holds: the tempo in
  // force is repeated on the way, and the export reads back the same.
  const std::string text = Meta(0x0FFFFFFF, 0x01, "far");
  Write("far.mid",
        Header(0, 1, 480) + Track(Tempo(0, 500000) + text + text +
                                  Tempo(600000000 - 2 * 0x0FFFFFFF, 400000) + EndOfTrack(0)));
  events =
      EventsOf(exported("midi", "far.mid", "far_out.mid", {"44100", "1", "1"}), ticksPerQuarter);
  std::vector<uint64_t> tempoTicks;
  for (const Event& event : events) {
    if (event.track == 0 && event.status == 0xFF && event.data[0] == 0x51) {
      tempoTicks.push_back(event.tick);
    }
  }
  EXPECT_EQ(tempoTicks, (std::vector<uint64_t>{0, 0x0FFFFFFF, 2 * 0x0FFFFFFF, 600000000}));
  const std::vector<std::string> deep = {"44100", "312499", "312501"};
  EXPECT_EQ(exported("csv", "far_out.mid", "far_again.csv", deep),
            exported("csv", "far.mid", "far.csv", deep));
}

}  // namespace
