// The tempo track of the MIDI export: the map's changes as meta events, each
// at the time the grid gives it, placed as the plan's placement places them
// (after its lead-in, the map's events from its cut on, moved).
#ifndef BEATSTAMPS_MIDI_TEMPO_TRACK_H_
#define BEATSTAMPS_MIDI_TEMPO_TRACK_H_

#include <cstdint>

#include "exports/export_sink.h"
#include "exports/midi_plan.h"
#include "grid/grid_walk.h"

// The events of the export without --offset and --count-in, as they come,
// in its ticks. At one tick a time signature comes before a tempo.
struct TempoEventVisitor {
  void* context;
  void (*tempo)(void* context, Wide tick, uint32_t microsecondsPerQuarter);
  void (*meter)(void* context, Wide tick, uint8_t numerator, uint8_t denominatorPower);
  // The track's end: at `tick`, or right after its last event where that is later.
  void (*end)(void* context, Wide tick);
};

// A time signature wherever the map has one (a repeat included, as each
// starts a measure) and a tempo wherever it sets one; the end where the map
// ends. Of a map with a running clock, whose beats are quarter notes, up to
// the beat of the last click every beat lasts the whole microseconds that
// bring it nearest the report's time of the next beat, so the rounding is
// carried from beat to beat and never adds up, and a tempo event stands where
// that changes; later beats, where no click sounds, keep their section's tempo
// rounded; the track ends right after its last event.
void StreamTempoEvents(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
                       const TempoEventVisitor& visitor);

// Tempo repeats that fill the gaps between the map's changes (and its end)
// longer than a delta time holds: the count the track would take.
Wide GapFillersOf(const GridMap& map, const GridSettings& settings, const MidiPlan& plan);

void WriteTempoTrack(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
                     ExportSink& sink);

#endif  // BEATSTAMPS_MIDI_TEMPO_TRACK_H_
