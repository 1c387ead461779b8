// The MIDI file reader: every refusal with its reason, and what it keeps of
// a file it accepts (which events, in which order, where the file ends).
#include "maps/midi_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "maps/midi_map.h"
#include "midi_bytes.h"

namespace {

using namespace midi_bytes;

const std::string kEnd = EndOfTrack(0);

// Bytes that may hold zeros.
std::string Bytes(const char* bytes, size_t count) {
  return std::string(bytes, count);
}

class MidiFileReading : public ::testing::Test {
 protected:
  // Reads `bytes` as the file song.mid: "" when it was read, else the reason given.
  std::string ReadBytes(const std::string& bytes) {
    FILE* file = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "r");
    EXPECT_NE(file, nullptr);
    const bool read = ReadMidiMap(file, "song.mid", *reading_, *map_, failure_);
    std::fclose(file);
    if (read) return "";
    const std::string message = failure_.message;
    const std::string head = "Error: Cannot read song.mid as a MIDI file: ";
    EXPECT_EQ(message.substr(0, head.size()), head);
    EXPECT_EQ(message.substr(message.size() - 2), "!\n");
    return message.substr(head.size(), message.size() - head.size() - 2);
  }
  std::string ReadTracks(const std::vector<std::string>& tracks, int division = 480) {
    std::string bytes = Header(1, static_cast<int>(tracks.size()), division);
    for (const std::string& track : tracks) bytes += Track(track);
    return ReadBytes(bytes);
  }
  const MidiContents& Contents() const { return reading_->contents; }

  std::unique_ptr<MidiReading> reading_ = std::make_unique_for_overwrite<MidiReading>();
  std::unique_ptr<MidiMap> map_ = std::make_unique_for_overwrite<MidiMap>();
  Failure failure_{};
};

TEST_F(MidiFileReading, EachMalformedFileIsRefusedWithItsReason) {
  const std::string track = Track(Tempo(0, 500000) + kEnd);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {Header(2, 1, 480) + track, "format 2, a file of independent patterns"},
      {Header(3, 1, 480) + track, "an unknown format"},
      {Header(1, 1, 0xE250) + track, "SMPTE time division"},
      {Header(1, 1, 0) + track, "0 ticks per quarter note"},
      {"MThd" + BigEndian(4, 4) + BigEndian(1, 2) + BigEndian(1, 2) + track,
       "a header chunk shorter than 6 bytes"},
      {"MThd" + BigEndian(6, 4) + BigEndian(1, 2), "a chunk runs past the end of the file"},
      {Header(1, 1, 480) + "MTrk" + BigEndian(100, 4) + Tempo(0, 500000) + kEnd,
       "a chunk runs past the end of the file"},
      {Header(1, 1, 480) + track + "MTrk" + BigEndian(10, 4) + kEnd,
       "a chunk runs past the end of the file"},
      {Header(1, 1, 480) + track + "MTr", "a chunk runs past the end of the file"},
      {Header(1, 1, 480) + "MTrk" + BigEndian(4, 4) + Bytes("\x00\xFF\x51\x03", 4),
       "an event runs past the end of the file"},
      {Header(1, 2, 480) + Track(Bytes("\x00\x90\x3C", 3)) + track,
       "an event runs past the end of its track"},
      {Header(1, 1, 480) + Track(Bytes("\x81\x81\x81\x81\x01\xFF\x2F\x00", 8)),
       "a variable-length number of more than 4 bytes"},
      {Header(1, 1, 480) + Track(Bytes("\x00\xFF\x01\x81\x80\x80\x80\x00", 8)),
       "a variable-length number of more than 4 bytes"},
      {Header(1, 1, 480) + Track(Bytes("\x00\x3C\x40", 3) + kEnd),
       "a data byte with no running status to use"},
      {Header(1, 1, 480) + Track(Tempo(0, 500000) + Bytes("\x00\x3C\x40", 3) + kEnd),
       "a data byte with no running status to use"},
      {Header(1, 1, 480) + Chunk("XFIL", "abc"), "no MTrk chunk"},
      {Header(0, 0, 480), "no MTrk chunk"},
      {Header(1, 1, 480) + Track(Tempo(0, 0) + kEnd), "a tempo of 0"},
      {Header(1, 1, 480) + Track(Meter(0, 0, 2) + kEnd), "a time signature of 0 beats"},
      {Header(1, 1, 480) + Track(Meter(0, 4, 30) + kEnd),
       "a time signature denominator above 2^29"},
      {Header(1, 1, 480) + Track(Meta(0, 0x51, "\x07\xA1") + kEnd),
       "a tempo event shorter than 3 bytes"},
      {Header(1, 1, 480) + Track(Meta(0, 0x58, "\x04") + kEnd),
       "a time signature event shorter than 2 bytes"},
      {Header(1, 1, 480) + Track(Message(0, 0xF4, "") + kEnd), "an undefined status byte"},
  };
  for (const auto& [bytes, reason] : cases) EXPECT_EQ(ReadBytes(bytes), reason) << reason;
}

TEST_F(MidiFileReading, AFileThatCannotBeReadIsRefused) {
  FILE* folder = std::fopen("/", "r");
  ASSERT_NE(folder, nullptr);
  EXPECT_FALSE(StartsAsMidiFile(folder));
  EXPECT_FALSE(ReadMidiFile(folder, "/", *reading_, failure_));
  std::fclose(folder);
  EXPECT_EQ(failure_.message, "Error: Cannot read / as a MIDI file: the file could not be read!\n");
}

TEST_F(MidiFileReading, TablesThatWouldOverflowAreRefused) {
  // Tick 0 and 65,535 changes of tempo: as many sections as a map holds; one more is too many.
  std::string changes = Tempo(0, 400000);
  for (int k = 0; k < 65535; ++k) changes += Tempo(1, k % 2 == 0 ? 500000 : 400000);
  EXPECT_EQ(ReadTracks({changes + kEnd}), "");
  EXPECT_EQ(map_->sectionCount, 65536);
  EXPECT_EQ(map_->tempoCount, 65536);
  EXPECT_EQ(ReadTracks({changes + Tempo(1, 700000) + kEnd}), "more than 65536 sections");
  // Repeats start no section, but each one is kept until the merge.
  std::string repeats;
  for (int k = 0; k < kMostMidiEvents; ++k) repeats += Tempo(1, 500000);
  EXPECT_EQ(ReadTracks({repeats + kEnd}), "");
  EXPECT_EQ(map_->sectionCount, 1);
  EXPECT_EQ(ReadTracks({repeats, Meter(0, 4, 2) + kEnd}),
            "more than 262144 tempo and time signature events");
  // A beat of 4/2^29 ticks at 1 tick per quarter: 2^27 measures of 1 beat a tick.
  EXPECT_EQ(ReadTracks({Meter(0, 1, 29) + EndOfTrack(15)}, 1), "");
  EXPECT_EQ(map_->totalMeasures, 15 * (1 << 27));
  EXPECT_EQ(ReadTracks({Meter(0, 1, 29) + EndOfTrack(16)}, 1), "more than 2147483647 measures");
  // 255 such beats a measure: ceil(2^31 / 255) measures, 255 beats each.
  EXPECT_EQ(ReadTracks({Meter(0, 255, 29) + EndOfTrack(16)}, 1), "more than 2147483647 beats");
}

TEST_F(MidiFileReading, SkipsWhatIsNotATempoMapAndKeepsRunningStatusAcrossMetaAndSysEx) {
  const std::string notes = NoteOn(0, 60) + Tempo(10, 400000) +
                            Message(5, 0, "\x3E\x40") +  // running status after a meta event
                            SysEx(5, "\x7E\x7F\xF7") + Message(5, 0, "\x40\x40") +
                            Message(1, 0xC0, "\x05") + Message(1, 0, "\x06") +  // one data byte
                            Meta(1, 0x03, std::string(300, 'x')) +              // a long name
                            Message(1, 0xE0, Bytes("\x00\x40", 2)) + EndOfTrack(100);
  // A header longer than 6 bytes, and chunks of other types, are skipped.
  const std::string bytes = "MThd" + BigEndian(10, 4) + BigEndian(0, 2) + BigEndian(1, 2) +
                            BigEndian(96, 2) + "more" + Chunk("XFIL", "skipped") + Track(notes) +
                            Chunk("XMRK", "");
  ASSERT_EQ(ReadBytes(bytes), "");
  EXPECT_EQ(Contents().ticksPerQuarter, 96u);
  EXPECT_EQ(Contents().trackCount, 1);
  EXPECT_EQ(Contents().lastTick, 129u);
  ASSERT_EQ(Contents().eventCount, 1);
  EXPECT_EQ(Contents().events[0].tick, 10u);
  EXPECT_EQ(TempoOf(Contents().events[0]), 400000u);
}

TEST_F(MidiFileReading, MergesTracksByTickALaterTrackAndALaterEventWinning) {
  const std::string first =
      Tempo(0, 600000) + Tempo(480, 400000) + Meter(0, 3, 2) + EndOfTrack(960);
  const std::string second = Tempo(480, 300000) + Meter(0, 5, 2) + Meter(0, 6, 3) + EndOfTrack(10);
  // The header's track count is not what counts: the MTrk chunks found are.
  ASSERT_EQ(ReadBytes(Header(1, 7, 480) + Track(first) + Track(second)), "");
  EXPECT_EQ(Contents().trackCount, 2);
  EXPECT_EQ(Contents().lastTick, 1440u);
  ASSERT_EQ(Contents().eventCount, 6);
  for (int k = 1; k < 6; ++k) EXPECT_EQ(Contents().events[k].tick, 480u);
  EXPECT_EQ(TempoOf(Contents().events[1]), 400000u);
  EXPECT_EQ(TempoOf(Contents().events[3]), 300000u) << "the later track's, sorted after";
  ASSERT_EQ(map_->tempoCount, 2);
  EXPECT_EQ(map_->tempos[1].microsecondsPerQuarter, 300000u);
  ASSERT_EQ(map_->meterCount, 2);
  EXPECT_EQ(map_->meters[1].numerator, 6);
  EXPECT_EQ(map_->meters[1].denominatorPower, 3);
  // Format 0, a track without End of Track, and events after one, which are skipped.
  ASSERT_EQ(ReadBytes(Header(0, 1, 480) + Track(Tempo(7, 450000) + NoteOn(20, 60))), "");
  EXPECT_EQ(Contents().lastTick, 27u);
  ASSERT_EQ(ReadBytes(Header(0, 1, 480) + Track(EndOfTrack(5) + Bytes("\x00\x3C", 2))), "");
  EXPECT_EQ(Contents().lastTick, 5u);
  EXPECT_EQ(Contents().eventCount, 0);
}

TEST_F(MidiFileReading, PassesOverBytesAfterTheLastChunkThatCannotStartOne) {
  const std::string file = Header(1, 1, 480) + Track(Tempo(0, 400000) + EndOfTrack(960));
  const std::vector<std::pair<std::string, uint64_t>> tails = {
      {"", 0},
      {std::string(128, '\0'), 128},
      {std::string(5, '\x1A'), 5},
      {"\r\n", 2},
      {"Created with a sequencer\n", 25},
      {Chunk("XFIL", "abc").substr(0, 9), 9},  // a chunk of another type, cut short
  };
  for (const auto& [tail, count] : tails) {
    ASSERT_EQ(ReadBytes(file + tail), "") << tail;
    EXPECT_EQ(Contents().trailingBytes, count) << tail;
    EXPECT_EQ(Contents().lastTick, 960u);
  }
  // An RMID file holds the same MIDI file, and only it, in its data chunk.
  ASSERT_EQ(ReadBytes(Rmid(file + "\r\n")), "");
  EXPECT_EQ(Contents().trailingBytes, 2u) << "the INFO list after the data chunk is not read";
  EXPECT_EQ(map_->tempos[0].microsecondsPerQuarter, 400000u);
  EXPECT_EQ(ReadBytes(Rmid(file).substr(0, 40)), "a chunk runs past the end of the file");
}

TEST_F(MidiFileReading, AMeasureCountsOnlyWhenItsFirstBeatEndsByTheLastTick) {
  // 480 ticks a quarter, 4/4: measure 3 begins at 3840, its first beat ends at 4320.
  for (const auto& [end, measures] :
       std::vector<std::pair<int, int>>{{3840, 2}, {3866, 2}, {4319, 2}, {4320, 3}, {0, 1}}) {
    ASSERT_EQ(ReadTracks({Meter(0, 4, 2) + EndOfTrack(end)}), "");
    EXPECT_EQ(map_->totalMeasures, measures) << end;
    EXPECT_EQ(map_->totalBeats, 4 * measures) << end;
  }
}

TEST(StartsAsMidiFile, LooksAtFourBytesAndPutsThemBack) {
  for (const std::string& text :
       {std::string("MThd\0\0\0\6", 8), std::string("MTh"), std::string("tmap\t120\t4\t2\n"),
        std::string("RIFF\0\0\0\0RMID", 12), std::string("RIFF\0\0\0\0WAVE", 12)}) {
    FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(StartsAsMidiFile(file), text.size() == 8 || text.find("RMID") != std::string::npos)
        << text;
    char back[16] = {};
    EXPECT_EQ(std::fread(back, 1, sizeof back, file), text.size());
    EXPECT_EQ(std::string(back, text.size()), text);
    std::fclose(file);
  }
}

}  // namespace
