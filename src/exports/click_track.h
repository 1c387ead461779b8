// The grid as a click track: a 16-bit mono PCM WAV file at the run's sample
// rate whose sample 0 is the start of the map (or of the recording, with an
// offset or a count-in), with a short decaying click starting exactly at
// every grid point's sample position.
#ifndef BEATSTAMPS_CLICK_TRACK_H_
#define BEATSTAMPS_CLICK_TRACK_H_

#include <cstdint>

#include "exports/export_options.h"
#include "exports/export_sink.h"
#include "grid/grid_walk.h"

struct ClickPlan {
  uint64_t sampleCount;  // one click length past the last click
  int64_t clickLength;   // samples of a click that is not cut short (10 ms)
  // Where the count-in and the grid lie: measure 1 begins at the offset, or
  // without one after the count-in.
  int64_t gridShift;     // samples every grid point moves by
  int64_t countInBeats;  // clicks of the count-in, those before 0 included
  int32_t countInMeter;  // beats of a count-in measure
  double countInBeat;    // samples of a count-in beat
};

// Lays the file out, or refuses with one line what a WAV file cannot hold: a
// sample rate of 0 or beyond its header, or more than its 4 GiB; and a
// count-in of more clicks than an export holds points.
bool PlanClickTrack(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                    ClickPlan& plan, Failure& failure);

void WriteClickTrack(const GridMap& map, const GridSettings& settings, const ClickPlan& plan,
                     ExportSink& sink);

#endif  // BEATSTAMPS_CLICK_TRACK_H_
