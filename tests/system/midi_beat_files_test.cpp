// The osu and ssc files of a MIDI map, whose sections may begin inside a
// beat or a measure: an osu! reader's beats are the grid's, the ssc file's
// tempos and meters stand where they change; what the files cannot place is
// refused.
#include <sstream>
#include <string>
#include <vector>

#include "midi_bytes.h"
#include "program_runner.h"

namespace {

using namespace midi_bytes;
using Arguments = std::vector<std::string>;

// 4 ticks a quarter, 3/4 at 0.1 s a tick; from tick 6 (inside beat 2) 0.2 s
// a tick; 2/4 from tick 10 (inside beat 3, cutting measure 1 short). The
// beats: ticks 0, 4, 8 | 10, 14 | 18, 22, at 0, 0.4, 1.0 | 1.4, 2.2 | 3.0, 3.8 s.
std::string Turns() {
  return Header(1, 1, 4) + Track(Meter(0, 3, 2) + Tempo(0, 400000) + Tempo(6, 800000) +
                                 Meter(4, 2, 2) + EndOfTrack(16));
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// The timing points' lines of an osu file.
std::vector<std::string> TimingPoints(const std::string& osu) {
  const size_t from = osu.find("[TimingPoints]\n") + 15;
  return Lines(osu.substr(from, osu.find("\n\n", from) - from));
}

// The beats a reader places from the points: each point's time plus whole
// beat lengths, up to half a beat before the next point, the last point's up
// to half a beat past `last`.
std::vector<double> ReaderBeats(const std::vector<std::string>& points, double last) {
  std::vector<double> beats;
  for (size_t k = 0; k < points.size(); ++k) {
    const double start = std::stod(points[k]);
    const double length = std::stod(points[k].substr(points[k].find(',') + 1));
    const double end =
        k + 1 < points.size() ? std::stod(points[k + 1]) - length / 2 : last + length / 2;
    for (double at = start; at < end; at += length) beats.push_back(at);
  }
  return beats;
}

class MidiBeatFiles : public SystemTest {
 protected:
};

TEST_F(MidiBeatFiles, OsuReaderFindsTheGridsBeatsAndSscPlacesTheChanges) {
  Write("turns.mid", Turns());
  const Arguments settings = {"48000", "1", "3", "2"};
  // Steady beats from a point; beat 2, which the tempo change falls inside, and
  // beat 3, which the time signature cuts short, each with its own length; 2/4
  // steady from its first downbeat. A point inside a measure omits the bar
  // line a reader would draw there (effect 8).
  const std::string osu = ExportedWith({}, "osu", "turns.mid", settings);
  EXPECT_EQ(TimingPoints(osu),
            (std::vector<std::string>{"0,400,3,1,0,100,1,0", "400,600,3,1,0,100,1,8",
                                      "1000,400,3,1,0,100,1,8", "1400,800,2,1,0,100,1,0"}));
  EXPECT_EQ(ReaderBeats(TimingPoints(osu), 3800),
            (std::vector<double>{0, 400, 1000, 1400, 2200, 3000, 3800}));
  // The beats file says the same.
  EXPECT_EQ(ExportedWith({}, "beats", "turns.mid", settings),
            "0.000000\t1\n0.400000\t2\n1.000000\t3\n1.400000\t1\n2.200000\t2\n3.000000\t1\n"
            "3.800000\t2\n");
  // Moved by an offset; one that leaves out the first two beats begins with
  // the beat that holds the first point kept.
  EXPECT_EQ(TimingPoints(ExportedWith({"--offset=1"}, "osu", "turns.mid", settings)),
            (std::vector<std::string>{"1000,400,3,1,0,100,1,0", "1400,600,3,1,0,100,1,8",
                                      "2000,400,3,1,0,100,1,8", "2400,800,2,1,0,100,1,0"}));
  EXPECT_EQ(
      TimingPoints(ExportedWith({"--offset=-0.5"}, "osu", "turns.mid", {"48000", "1", "3", "1"})),
      (std::vector<std::string>{"500,400,3,1,0,100,1,8", "900,800,2,1,0,100,1,0"}));

  // ssc: quarter notes per minute where the tempo changes (tick 6, 1.5
  // quarter notes in), the meter where it changes (tick 10).
  EXPECT_EQ(ExportedWith({"--offset=0.25"}, "ssc", "turns.mid", settings),
            "#VERSION:0.83;\n#TITLE:turns;\n#MUSIC:audio.mp3;\n#OFFSET:-0.250000;\n"
            "#BPMS:0.000000=150.000000,1.500000=75.000000;\n"
            "#TIMESIGNATURES:0.000000=3=4,2.500000=2=4;\n");
  // Through the section of the range's last point.
  const std::string first = ExportedWith({}, "ssc", "turns.mid", {"48000", "1", "1", "1"});
  EXPECT_EQ(first.substr(first.find("#BPMS")),
            "#BPMS:0.000000=150.000000,1.500000=75.000000;\n#TIMESIGNATURES:0.000000=3=4;\n");
}

TEST_F(MidiBeatFiles, SscRoundsABeatsDecimalsToTheNearest) {
  // At 480 ticks a quarter, tick 20 is 0.0416666... quarter notes in: two
  // of StepMania's rows, written to the nearest millionth.
  Write("early.mid",
        Header(0, 1, 480) + Track(Tempo(0, 500000) + Tempo(20, 600000) + EndOfTrack(940)));
  const std::string ssc = ExportedWith({}, "ssc", "early.mid", {"48000", "1", "1", "1"});
  EXPECT_EQ(ssc.substr(ssc.find("#BPMS")),
            "#BPMS:0.000000=120.000000,0.041667=100.000000;\n#TIMESIGNATURES:0.000000=4=4;\n");
}

TEST_F(MidiBeatFiles, AMeterOfAnotherNoteIsANewSection) {
  // 3/4, then 3/8 from measure 2: the numerators agree, the meters do not.
  Write("eighths.mid",
        Header(0, 1, 480) + Track(Meter(0, 3, 2) + Meter(1440, 3, 3) + EndOfTrack(720)));
  const ProgramRun run = Run({"--format=ssc", "eighths.mid", "eighths.ssc", "48000", "1", "2"});
  EXPECT_EQ(run.output, Banner() + "Read 2 sections, 2 measures, 6 beats\nSaved 137 bytes\n");
  const std::string ssc = Read("eighths.ssc");
  EXPECT_EQ(ssc.substr(ssc.find("#TIMESIGNATURES")),
            "#TIMESIGNATURES:0.000000=3=4,3.000000=3=8;\n");
}

TEST_F(MidiBeatFiles, WhatTheFilesCannotPlaceIsRefused) {
  // 96 ticks a quarter, 4/4: two tempos 1 tick apart in measure 3, inside
  // one of StepMania's 48ths (2 ticks), which a range up to measure 2 does
  // not reach.
  Write("late.mid", Header(0, 1, 96) + Track(Tempo(0, 500000) + Tempo(769, 600000) +
                                             Tempo(1, 400000) + EndOfTrack(382)));
  ProgramRun run = Run({"--format=ssc", "late.mid", "early.ssc", "48000", "1", "2"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(Read("early.ssc").find("#BPMS:0.000000=120.000000;"), std::string::npos);
  run = Run({"--format=ssc", "late.mid", "late.ssc", "48000", "1", "3"});
  ExpectRefused(run,
                "Read 3 sections, 3 measures, 12 beats\n"
                "Warning: An ssc file places the change in measure 3 (section 2) 1 tick later, on "
                "a 48th of a quarter note; the tempos beside it keep its time\n");
  EXPECT_EQ(run.output.substr(run.output.find("Error")),
            "Error: An ssc file cannot place the change in measure 3 at 4.011458 s (section 3): "
            "it shares a 48th of a quarter note with the one before!\n");
  EXPECT_FALSE(Exists("late.ssc"));
  // A time signature one tick after a beat at 960 ticks a quarter cuts it to
  // half a millisecond, shorter than an osu! reader takes a beat.
  Write("nick.mid", Header(0, 1, 960) + Track(Tempo(0, 500000) + Meter(961, 3, 2) + EndOfTrack(0)));
  run = Run({"--format=osu", "nick.mid", "nick.osu", "48000", "1", "2"});
  ExpectRefused(run, "Read 2 sections, 1 measures, 2 beats\n");
  EXPECT_EQ(run.output.substr(run.output.find("Error")),
            "Error: An osu! file holds beats of 6 to 60000 ms! (section 1)\n");
  EXPECT_FALSE(Exists("nick.osu"));
}

}  // namespace
