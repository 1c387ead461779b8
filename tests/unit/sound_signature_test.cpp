// Recordings told from maps by their first bytes: each container or stream
// mark libsndfile reads, and nothing a text map or a MIDI file begins with.
#include "maps/sound_signature.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

bool Signs(const std::string& head) {
  return IsSoundSignature(reinterpret_cast<const uint8_t*>(head.data()), head.size());
}

TEST(SoundSignature, TellsRecordingsFromMaps) {
  const std::string length("\x24\x08\x00\x00", 4);
  for (const std::string& recording :
       {"RIFF" + length + "WAVEfmt ", "RF64" + length + "WAVE", "FORM" + length + "AIFF",
        "FORM" + length + "AIFC", std::string("fLaC\0\0\0\x22", 8), std::string("OggS\0\x02", 6),
        std::string("ID3\x04\0\0", 6), std::string("\xFF\xFB\x90\x64", 4),
        std::string(".snd\0\0\0\x18", 8), std::string("caff\0\x01", 6)}) {
    EXPECT_TRUE(Signs(recording)) << recording;
  }
  for (const std::string& other :
       {std::string("tmap\t120\t4\t8\n"), std::string("\xEF\xBB\xBFtmap"), std::string("MThd"),
        "RIFF" + length + "AVI ", "FORM" + length + "8SVX", std::string("RIF"), std::string(""),
        // a frame sync with the reserved layer, one with the forbidden bit rate, and
        // UTF-16 text's byte order mark, which would be a layer I frame
        std::string("\xFF\xF9\x90", 3), std::string("\xFF\xFB\xF0", 3),
        std::string("t\0m\0", 4).insert(0, "\xFF\xFE")}) {
    EXPECT_FALSE(Signs(other)) << other;
  }
}

TEST(SoundSignature, PutsBackWhatItLookedAt) {
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fputs("fLaC and more", file);
  std::rewind(file);
  EXPECT_TRUE(StartsAsSoundFile(file));
  char read[16] = {};
  EXPECT_EQ(std::fread(read, 1, sizeof read, file), 13u);
  EXPECT_EQ(std::string(read), "fLaC and more");
  (void)std::fclose(file);
}

}  // namespace
