// The lines a beat list is read from: each kind of file a beat list comes
// in, and the lines that break the rules.
#include "maps/beat_list_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Read {
  std::vector<ListedBeat> beats;
  std::vector<BeatLineProblem> problems;
};

Read ReadList(const std::string& text) {
  BeatListReadout readout;
  ReadBeatListText(text, readout);
  return Read{readout.beats, readout.problems};
}

std::string Times(const Read& read) {
  std::string times;
  for (const ListedBeat& beat : read.beats) {
    times += std::to_string(beat.seconds).substr(0, 5) + "/" + std::to_string(beat.beatInMeasure) +
             "@" + std::to_string(beat.line) + " ";
  }
  return times;
}

TEST(BeatListReader, EveryKindOfListAndWhatIsNoList) {
  EXPECT_EQ(Times(ReadList("\xEF\xBB\xBF"
                           "0.5\n\n1.0\r\n1.5")),
            "0.500/0@1 1.000/0@3 1.500/0@4 ");
  EXPECT_EQ(Times(ReadList("0.5\t1\n1.0 2\n")), "0.500/1@1 1.000/2@2 ");
  // A label track: divisions passed over, other labels say nothing.
  EXPECT_EQ(Times(ReadList("0.5\t0.5\t1.1\n0.75\t0.75\t1.1.2\n1.0\t1.0\tverse one\n")),
            "0.500/1@1 1.000/0@3 ");
  // The program's csv: rows of a later division passed over.
  EXPECT_EQ(Times(ReadList("section,measure,beat,division,seconds,sample\n"
                           "1,1,1,1,0.5,24000\n1,1,1,2,0.75,36000\n1,1,2,1,1,48000\n")),
            "0.500/1@2 1.000/2@4 ");
  EXPECT_EQ(Times(ReadList("label,time\nx,2.5\ny,3\n")), "2.500/0@2 3.000/0@3 ");

  EXPECT_TRUE(IsBeatListText("0.5\n1.0\n"));
  EXPECT_TRUE(IsBeatListText("\n  \nseconds,beat\n0.5,1\n"));
  EXPECT_FALSE(IsBeatListText("120 bpm song\ntmap\t120\t4\t8\n"));
  EXPECT_FALSE(IsBeatListText("Song\n0.5\n"));
  EXPECT_FALSE(IsBeatListText(""));
}

TEST(BeatListReader, LinesThatBreakTheRulesAreNamedAndLeftOut) {
  const Read read = ReadList("0.5\nabc\n1.0\t0\n0.4\n1.5\n");
  EXPECT_EQ(Times(read), "0.500/0@1 1.500/0@5 ");
  ASSERT_EQ(read.problems.size(), 3u);
  EXPECT_EQ(read.problems[0].kind, BeatLineProblemKind::kNotATime);
  EXPECT_EQ(read.problems[0].line, 2);
  EXPECT_EQ(read.problems[0].text, "abc");
  EXPECT_EQ(read.problems[1].kind, BeatLineProblemKind::kBadBeatNumber);
  EXPECT_EQ(read.problems[2].kind, BeatLineProblemKind::kNotAfterPrevious);
  EXPECT_EQ(read.problems[2].line, 4);
}

}  // namespace
