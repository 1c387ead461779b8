// The grid as a click track: a 16-bit mono PCM WAV file at the run's sample
// rate whose sample 0 is the start of the map, with a short decaying click
// starting exactly at every grid point's sample position.
#ifndef BEATSTAMPS_CLICK_TRACK_H_
#define BEATSTAMPS_CLICK_TRACK_H_

#include <cstdint>

#include "export_sink.h"
#include "grid_walk.h"

struct ClickPlan {
  uint64_t sampleCount;  // one click length past the last grid point
  int64_t clickLength;   // samples of a click that is not cut short (10 ms)
};

// Lays the file out, or refuses with one line what a WAV file cannot hold: a
// sample rate of 0 or beyond its header, or more than its 4 GiB.
bool PlanClickTrack(const GridMap& map, const GridSettings& settings, ClickPlan& plan,
                    Failure& failure);

void WriteClickTrack(const GridMap& map, const GridSettings& settings, const ClickPlan& plan,
                     ExportSink& sink);

#endif  // BEATSTAMPS_CLICK_TRACK_H_
