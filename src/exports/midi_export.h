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
#include "exports/midi_plan.h"
#include "grid/grid_walk.h"

// Lays the file out, or refuses with one line what a MIDI file cannot hold:
// too many divisions for its ticks, more than 255 beats per measure, a tempo
// beyond its 24-bit microseconds, changes too far apart, a range that begins
// too far in, or an offset longer than its slowest tempo makes of a delta
// time. Placed in a recording as midi_placement.h says.
bool PlanMidi(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
              MidiPlan& plan, Failure& failure);

void WriteMidi(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
               ExportSink& sink);

#endif  // BEATSTAMPS_MIDI_EXPORT_H_
