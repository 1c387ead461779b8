// The grid as a Standard MIDI File, format 1: track 1 holds the tempo map of
// the whole map, track 2 a click on the percussion channel at every grid
// point in range. Of a text map, track 1 has a time signature and a tempo
// where each section begins, and a tempo wherever the carried rounding of
// the beats up to the last click changes; of a MIDI map, its own tempo and
// time signature events at the same times.
#ifndef BEATSTAMPS_MIDI_EXPORT_H_
#define BEATSTAMPS_MIDI_EXPORT_H_

#include <cstdint>

#include "exports/export_options.h"
#include "exports/export_sink.h"
#include "exports/midi_placement.h"
#include "grid/grid_walk.h"

struct MidiPlan {
  int32_t ticksPerQuarter;                  // of a text map: a multiple of the divisions
  int32_t ticksPerStep;                     // of a text map: ticks per division of a beat
  uint64_t sectionStartTick[kMaxSections];  // of a text map
  int64_t sectionStartMeasure[kMaxSections];
  int64_t lastClickBeat;      // of a text map: the beat (a quarter) of the last click; -1: none
  bool clicksOnTicks;         // of a MIDI map: every grid point falls on a whole tick
  uint32_t tempoTrackLength;  // bytes of each track's events
  uint32_t clickTrackLength;
  MidiPlacement placement;  // where --offset and --count-in put the grid
};

// Lays the file out, or refuses with one line what a MIDI file cannot hold:
// too many divisions for its ticks, more than 255 beats per measure, a tempo
// beyond its 24-bit microseconds, a gap longer than a delta time, or an
// offset longer than its slowest tempo makes of a delta time.
//
// Placed in a recording, the file holds the time before measure 1: the
// count-in's measures at the first section's meter and tempo, ending where
// measure 1 begins, and before them, with --offset, bars whose tempo makes up
// the rest of the offset; or, with a negative offset, it begins inside the
// map where the recording does, the clicks before it left out. Every time is
// the export's without the options, moved by the offset's samples as nearly
// as the file's whole microseconds and ticks hold it.
bool PlanMidi(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
              MidiPlan& plan, Failure& failure);

void WriteMidi(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
               ExportSink& sink);

#endif  // BEATSTAMPS_MIDI_EXPORT_H_
