// The beats of a MIDI map's grid in runs that a reader who places beats at a
// start and whole multiples of one length after it finds exactly: a run is
// beats of one length under one tempo and one meter, starting where a
// section's steady beats begin or where a measure begins out of step with
// the run before; a beat that a tempo change falls inside, or that a time
// signature cuts short, is a run of its own with its own length.
#ifndef BEATSTAMPS_MIDI_BEAT_RUNS_H_
#define BEATSTAMPS_MIDI_BEAT_RUNS_H_

#include <cstdint>

#include "grid/grid_walk.h"
#include "maps/midi_map.h"

struct BeatRun {
  int32_t section;  // of its first beat
  double clock;     // seconds of its first beat
  int64_t beats;
  int32_t beatsPerMeasure;
  bool steady;  // whole beats under one tempo; else one beat, `milliseconds` long
  // A steady beat: 4 / 2^power quarter notes of this many microseconds.
  uint32_t microsecondsPerQuarter;
  uint8_t denominatorPower;
  double milliseconds;  // the length of a beat that is not steady
};

struct BeatRunVisitor {
  void* context;
  // False ends the walk.
  bool (*visitRun)(void* context, const BeatRun& run);
};

// Walks the runs of the range's beats from the one that holds `first`, a
// point of the grid walked with `settings`.
void WalkBeatRuns(const MidiMap& map, const GridSettings& settings, const GridPoint& first,
                  const BeatRunVisitor& visitor);

#endif  // BEATSTAMPS_MIDI_BEAT_RUNS_H_
