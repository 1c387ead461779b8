// The grid as a Standard MIDI File, format 1: track 1 holds the tempo map of
// the whole map (a time signature and a tempo where each section begins),
// track 2 a click on the percussion channel at every grid point in range.
#ifndef BEATSTAMPS_MIDI_EXPORT_H_
#define BEATSTAMPS_MIDI_EXPORT_H_

#include <cstdint>

#include "export_sink.h"
#include "grid_walk.h"

struct MidiPlan {
  int32_t ticksPerQuarter;  // a beat is a quarter note; a multiple of the divisions
  int32_t ticksPerStep;     // ticks per division of a beat
  uint64_t sectionStartTick[kMaxSections];
  int64_t sectionStartMeasure[kMaxSections];
  uint32_t tempoTrackLength;  // bytes of each track's events
  uint32_t clickTrackLength;
};

// Lays the file out, or refuses with one line what a MIDI file cannot hold:
// too many divisions for its ticks, more than 255 beats per measure, a tempo
// beyond its 24-bit microseconds, or a gap longer than a delta time.
bool PlanMidi(const GridMap& map, const GridSettings& settings, MidiPlan& plan, Failure& failure);

void WriteMidi(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
               ExportSink& sink);

#endif  // BEATSTAMPS_MIDI_EXPORT_H_
