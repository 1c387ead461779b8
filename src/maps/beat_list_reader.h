// The reader of beat lists: text files of beat times, one beat a line, as
// beat trackers, tapping, label tracks and this program's own beats, labels
// and csv formats write them.
#ifndef BEATSTAMPS_BEAT_LIST_READER_H_
#define BEATSTAMPS_BEAT_LIST_READER_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "maps/beat_list.h"

// Why a line of a beat list is left out.
enum class BeatLineProblemKind : uint8_t {
  kNotATime,          // its first field is not a number of seconds
  kNotAfterPrevious,  // its time does not come after the beat before it
  kBadBeatNumber,     // its beat number is 0 or less
};

struct BeatLineProblem {
  BeatLineProblemKind kind;
  int32_t line;      // counted from 1
  std::string text;  // the field as written, cut to a readable length
  double seconds;    // kNotAfterPrevious: the time read
  double previous;   // kNotAfterPrevious: the beat before it
};

struct BeatListReadout {
  std::vector<ListedBeat> beats;
  std::vector<BeatLineProblem> problems;
};

// The whole text of `file`; false (errno kept) when it could not be read.
bool ReadWholeText(FILE* file, std::string& text);

// The text holds a tmap command word where the map reader would take one.
bool HoldsTmapWord(std::string_view text);

// A text with no tmap line whose first line that holds anything (after the
// header line of a comma-separated file) begins with a number. The text ends
// at its first zero byte; a byte order mark at its start is passed over.
bool IsBeatListText(std::string_view text);

// Reads every line of a beat list; a line that breaks the rules becomes a
// problem and is left out.
void ReadBeatListText(std::string_view text, BeatListReadout& readout);

#endif  // BEATSTAMPS_BEAT_LIST_READER_H_
