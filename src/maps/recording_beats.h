// The beats and bar lines of a recording, found by qm-dsp: its onset
// detection function, its tempo tracker and its downbeat finder, run on the
// recording mixed to one channel and brought down to about 11 kHz.
#ifndef BEATSTAMPS_RECORDING_BEATS_H_
#define BEATSTAMPS_RECORDING_BEATS_H_

#include <cstdint>
#include <vector>

#include "base/failure.h"
#include "maps/beat_list.h"

struct RecordingBeats {
  std::vector<ListedBeat> beats;  // in time order, numbered from 1
  uint32_t sampleRate;            // the recording's own
  double seconds;                 // its length
};

// Longest recording read: the analysis keeps up to about 20 kB per second of it.
constexpr double kMostRecordingSeconds = 12.0 * 3600.0;

// Finds the beats of the recording `name`, each numbered in its measure of
// `meter` beats from its downbeats. False with one line when the file is not
// a recording that can be read whole, or holds no beat (silence, noise).
bool FindRecordingBeats(const char* name, int32_t meter, RecordingBeats& found, Failure& failure);

#endif  // BEATSTAMPS_RECORDING_BEATS_H_
