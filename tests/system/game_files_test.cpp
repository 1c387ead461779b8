// The rhythm-game files as their games take them: what an osu! file credits
// and which game it is played in.
#include <string>

#include "midi_bytes.h"
#include "program_runner.h"

namespace {

using namespace midi_bytes;

class GameFiles : public SystemTest {};

// The [General] and [Metadata] lines of an osu! file.
std::string OsuHead(const std::string& osu) {
  return osu.substr(0, osu.find("\n[Difficulty]"));
}

TEST_F(GameFiles, OsuFilesNameTheSongAndItsPeopleAndTheirGame) {
  Write("song.map", "Shoreline: album #2\r\ntmap\t96\t4\t8\n");
  EXPECT_EQ(OsuHead(ExportedWith({"--artist=Mara Quell", "--creator=tester", "--osu-mode=mania"},
                                 "osu", "song.map", {"48000"})),
            "osu file format v14\n\n[General]\nAudioFilename: audio.mp3\nAudioLeadIn: 0\n"
            "PreviewTime: -1\nCountdown: 0\nSampleSet: Normal\nMode: 3\n\n[Metadata]\n"
            "Title:Shoreline_ album _2\nTitleUnicode:Shoreline_ album _2\nArtist:Mara Quell\n"
            "ArtistUnicode:Mara Quell\nCreator:tester\nVersion:Beat grid\nSource:\nTags:\n"
            "BeatmapID:0\nBeatmapSetID:-1\n");
  // Without a title line, the file's name; the game is osu! itself.
  Write("jig.mid", Header(0, 1, 480) + Track(EndOfTrack(1920)));
  const std::string midi = OsuHead(ExportedWith({}, "osu", "jig.mid", {"48000"}));
  EXPECT_NE(midi.find("Mode: 0\n"), std::string::npos);
  EXPECT_NE(midi.find("Title:jig\nTitleUnicode:jig\nArtist:Unknown artist\n"), std::string::npos);
  EXPECT_NE(midi.find("Creator:beatstamps1a\n"), std::string::npos);
  for (const char* option : {"--osu-mode=drums", "--artist=", "--creator=a;b"}) {
    const ProgramRun run = Run({option, "--format=osu", "song.map", "x.osu"});
    EXPECT_EQ(run.status, 1) << option;
    EXPECT_EQ(run.output.rfind("Error: --", 0), 0u) << run.output;
  }
  EXPECT_FALSE(Exists("x.osu"));
}

TEST_F(GameFiles, SscFilesMoveAChangeOntoStepManiasRowsKeepingItsTime) {
  // As abc2midi writes them: each tempo one tick after its bar line, at 480
  // ticks a quarter (a row is 10 ticks). Each moves a tick back to the bar
  // line; the tempo before it is the one that reaches it on time (4 beats
  // in 2.0010417 s), the one after keeps its value, its two ends moved alike.
  Write("abc.mid", Header(0, 1, 480) + Track(Tempo(0, 500000) + Tempo(1921, 400000) +
                                             Tempo(1920, 600000) + EndOfTrack(1919)));
  const std::string ssc = ExportedWith({}, "ssc", "abc.mid", {"48000"});
  EXPECT_NE(ssc.find("#BPMS:0.000000=119.937533,4.000000=150.000000,8.000000=100.000000;\n"),
            std::string::npos)
      << ssc;
  const std::string moved =
      " 1 tick earlier, on a 48th of a quarter note; the tempos beside it keep its time\n";
  ProgramRun run = Run({"--first-measure=0", "--format=ssc", "abc.mid", "abc.ssc", "48000"});
  EXPECT_EQ(run.output, Banner() + "Read 3 sections, 3 measures, 12 beats\n" +
                            "Warning: An ssc file places the change in measure 1 (section 2)" +
                            moved +
                            "Warning: An ssc file places the change in measure 2 (section 3)" +
                            moved + "Saved " + std::to_string(ssc.size()) + " bytes\n");
  run = Run({"--strict", "--format=ssc", "abc.mid", "strict.ssc", "48000"});
  EXPECT_EQ(run.status, 1);
  EXPECT_FALSE(Exists("strict.ssc"));
}

}  // namespace
