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

}  // namespace
