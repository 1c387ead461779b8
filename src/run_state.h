// The program's whole state: the tempo map, the run settings and the report.
#ifndef BEATSTAMPS_RUN_STATE_H_
#define BEATSTAMPS_RUN_STATE_H_

#include <cstdint>
#include <memory>

#include "midi_map.h"

// Slots in each section table.
constexpr int32_t kMaxSections = 512;
// Sections a map read stores; the last two slots are never filled from a file.
constexpr int32_t kMaxReadSections = 510;
// Characters a report may hold, not counting its terminator.
constexpr int32_t kReportLimit = 65535;
// Characters a file name may hold, not counting its terminator.
constexpr int32_t kFileNameLimit = 127;

// Three parallel tables: slot k of each together is section k, in time order.
// Slot 0 doubles as the single section used while no map sections exist.
struct TempoMap {
  float tempo[kMaxSections];              // beats per minute
  int32_t beatsPerMeasure[kMaxSections];  // beats in each measure
  int32_t measures[kMaxSections];         // measures in the section
  int32_t sectionCount;                   // sections of the last successful read
  int32_t totalMeasures;                  // measures of the last read
  int32_t totalBeats;                     // beats of the last read (or of the range guard)
};

struct ReportText {
  char text[kReportLimit + 1];  // always zero-terminated
  int32_t length;               // characters before the terminator
  bool truncated;               // a line did not fit and the report stops short
};

// The settings a grid is walked with, wherever they come from: the map
// file, the command line or the interactive commands.
struct GridSettings {
  uint32_t sampleRate;
  int32_t divisionsPerBeat;
  int32_t startMeasure;  // 0-based, inclusive
  int32_t stopMeasure;   // 0-based, inclusive
};

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
  // A map read from a MIDI file is in force instead of `map` until a text
  // map is read; reading it leaves `map` as it was.
  bool midiInForce;
  // The stop is the one the after-load rule gave a MIDI map, its last
  // measure; a map read after it starts again from no stop chosen, as if
  // that MIDI map had never been read.
  bool stopAtMidiEnd;
  std::unique_ptr<MidiState> midi;  // null until a MIDI file is read
};

// Fills `state` with the values every run starts from.
void InitRunState(RunState& state);

#endif  // BEATSTAMPS_RUN_STATE_H_
