// The beats of a grid in runs that a reader who places beats at a start and
// whole multiples of one length after it finds exactly. Of a map whose
// sections are whole measures of whole beats (a text map), a run is a
// section, timed from its first step. Of a map whose changes may fall inside
// a measure or a beat (a MIDI map), a run is beats of one length under one
// tempo and one meter, starting where a section's steady beats begin or
// where a measure begins out of step with the run before; a beat that a
// tempo change falls inside, or that a time signature cuts short, is a run
// of its own with its own length.
#ifndef BEATSTAMPS_BEAT_RUNS_H_
#define BEATSTAMPS_BEAT_RUNS_H_

#include <cstdint>

#include "grid/grid_walk.h"

struct BeatRun {
  int32_t section;  // of its first beat
  double clock;     // seconds of its first beat
  int64_t beats;
  int32_t beatsPerMeasure;
  bool steady;  // whole beats under one tempo; else one beat
  // A steady beat of a MIDI map: notes x 4 / 2^power quarter notes of this
  // many microseconds (notes 3 for a dotted beat, else 1).
  uint32_t microsecondsPerQuarter;
  uint8_t denominatorPower;
  uint8_t beatNotes;
  double milliseconds;  // the length of each beat
  bool downbeat;        // its first beat begins a measure
};

struct BeatRunVisitor {
  void* context;
  // False ends the walk.
  bool (*visitRun)(void* context, const BeatRun& run);
};

// Walks the runs of the range's beats from the one that holds `first`, a
// point of the grid walked with `settings`.
void WalkBeatRuns(const GridMap& map, const GridSettings& settings, const GridPoint& first,
                  const BeatRunVisitor& visitor);

#endif  // BEATSTAMPS_BEAT_RUNS_H_
