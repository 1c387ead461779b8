// The tempo map reader.
#ifndef BEATSTAMPS_MAP_READER_H_
#define BEATSTAMPS_MAP_READER_H_

#include <cstdint>
#include <cstdio>

#include "console.h"
#include "run_state.h"

enum class MapReadStatus {
  kRead,
  kNotFound,     // the file could not be opened or read; nothing changed
  kNameTooLong,  // the typed name was refused; nothing changed
  kInputEnded,   // standard input ended at the name prompt
};

// Everything a map text may set. A read starts from the current values, so
// that what the text does not name stays as it was.
struct MapReadout {
  TempoMap map;
  uint32_t sampleRate;
  int32_t divisionsPerBeat;
  int32_t startMeasure;
  int32_t stopMeasure;
  bool capped;  // section lines past the last readable section were ignored
};

// Reads the map text of `file` (up to its end or first zero byte) into
// `readout`. False when the file could not be read.
bool ParseMapText(FILE* file, MapReadout& readout);

// Asks for a map name unless `nameGiven`, then reads that file into the tempo
// map and settings and prints what it read.
void ReadMap(Console& console, RunState& state, bool nameGiven, MapReadStatus& status);

#endif  // BEATSTAMPS_MAP_READER_H_
