// The program's whole state: the tempo map, the run settings and the report.
#ifndef BEATSTAMPS_RUN_STATE_H_
#define BEATSTAMPS_RUN_STATE_H_

#include <cstdint>
#include <memory>

#include "base/name_limits.h"
#include "grid/beat_fit.h"
#include "grid/renderer.h"
#include "maps/map_offset.h"
#include "maps/map_reader.h"
#include "maps/midi_map.h"
#include "maps/tempo_map.h"

// A map read from a MIDI file, too large for the stack (65,536 sections):
// allocated once, at a run's first MIDI read. A read goes into the slot not
// in force, so a refused file changes nothing.
struct MidiState {
  int32_t slot;  // the slot in force
  char fileName[kFileNameLimit + 1];
  MidiMap maps[2];
  MidiReading reading;
};

struct RunState {
  GridSettings settings;
  char mapFileName[kFileNameLimit + 1];
  char outputFileName[kFileNameLimit + 1];
  bool mapLoaded;  // a map read has been attempted; never cleared
  ReportText report;
  TempoMap map;
  // `map` is the map in force, the one t and b change; false while a map
  // read from a MIDI file is, until a text map is read (reading the MIDI
  // file leaves `map` as it was).
  bool textMapInForce;
  // The stop is the one the after-load rule gave a MIDI map, its last
  // measure; a map read after it starts again from no stop chosen, as if
  // that MIDI map had never been read.
  bool stopAtMidiEnd;
  MidiBeat midiBeat;                // how a MIDI map read counts a compound meter's beats
  char mapTitle[kTitleLimit + 1];   // the title line of the map in force; empty when none
  std::unique_ptr<MidiState> midi;  // null until a MIDI file is read
  // Where the map in force puts measure 1 (a fitted beat list's first
  // measure); --offset replaces it.
  OffsetOption mapOffset;
  SettingsLines mapLines;  // of the text map read last
  FitOptions fitOptions;   // how a beat list read as a map is fitted
  // The fit that made the map in force, with every listed beat; null for
  // any other map.
  std::unique_ptr<FittedMap> fitted;
};

// Fills `state` with the values every run starts from.
void InitRunState(RunState& state);

#endif  // BEATSTAMPS_RUN_STATE_H_
