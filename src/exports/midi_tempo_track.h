// The tempo track of the MIDI export: the tempo map as meta events, each at
// the time the grid gives it, for a map of either kind.
#ifndef BEATSTAMPS_MIDI_TEMPO_TRACK_H_
#define BEATSTAMPS_MIDI_TEMPO_TRACK_H_

#include <cstdint>

#include "exports/export_sink.h"
#include "exports/midi_export.h"
#include "exports/midi_placement.h"
#include "maps/midi_map.h"

// 60,000,000 / tempo, to the nearest whole; 0 where the tempo has none that
// a MIDI file can hold.
uint32_t RoundedMicrosecondsPerQuarter(float tempo);

// Both tracks are written as the plan's placement places them: after its
// lead-in, the map's events from its cut on, moved.

// A text map's tempo track: a time signature (its beats over 4: a beat is a
// quarter note) and a tempo where each section begins. Up to the beat of the
// last click every beat lasts the whole microseconds that bring it nearest
// the report's time of the next beat, so the rounding is carried from beat to
// beat and never adds up; a tempo event stands where that changes. Later
// beats, where no click sounds, keep their section's tempo rounded.
void WriteTextTempoTrack(const TempoMap& map, const GridSettings& settings, const MidiPlan& plan,
                         ExportSink& sink);

// The tick of the export where the MIDI map's tick `tick` lies; whole for
// every tick the map has an event at.
MidiTicks ExportTickOf(const MidiMap& map, const MidiPlan& plan, uint64_t tick);

// Tempo repeats that fill the gaps between the MIDI map's events (and its
// end) longer than a delta time holds: the count the track would take.
MidiTicks GapFillersOf(const MidiMap& map, const MidiPlan& plan);

// A MIDI map's tempo track: a time signature wherever the map has one (a
// repeat included, as each starts a measure), a tempo wherever its value
// changes, and the end of the track at the map's last tick.
void WriteMidiMapTempoTrack(const MidiMap& map, const MidiPlan& plan, ExportSink& sink);

// Where the export without --offset and --count-in reaches a time: its
// first tick at or after it, or the first click kept where that comes
// first; with the time there, the tempo and meter in force there (its
// events at that tick included), and the first measure start at or after it.
struct MidiCut {
  MidiTicks tick;
  Wide time;  // units of a microsecond over the export's ticks per quarter note
  uint32_t tempo;
  MidiTicks meterTick;  // where the meter in force began
  uint8_t numerator;
  uint8_t denominatorPower;
  MidiTicks barTick;
};

MidiCut FindMidiCut(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
                    Wide time, MidiTicks firstKept);

#endif  // BEATSTAMPS_MIDI_TEMPO_TRACK_H_
