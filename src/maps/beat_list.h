// Beats as a list of times: tapped, written by a beat tracker, or found in a
// recording. A list is fitted into a tempo map of whole measures.
#ifndef BEATSTAMPS_BEAT_LIST_H_
#define BEATSTAMPS_BEAT_LIST_H_

#include <cstdint>

// One beat of a list, as it was read or found.
struct ListedBeat {
  double seconds;         // from the start of the recording
  int32_t beatInMeasure;  // 1 on a downbeat, 2 on the next beat...; 0 when the list does not say
  int32_t line;  // where it came from: the line of its file, or its number among the found beats
};

#endif  // BEATSTAMPS_BEAT_LIST_H_
