// The tempo map reader: a parser of map texts that neither prompts nor prints.
#ifndef BEATSTAMPS_MAP_READER_H_
#define BEATSTAMPS_MAP_READER_H_

#include <cstdint>
#include <cstdio>

#include "run_state.h"

// Everything a map text may set. A read starts from the current values, so
// that what the text does not name stays as it was.
struct MapReadout {
  TempoMap map;
  GridSettings settings;
  bool capped;  // section lines past the last readable section were ignored
};

// Reads the map text of `file` (up to its end or first zero byte) into
// `readout`. False when the file could not be read.
bool ParseMapText(FILE* file, MapReadout& readout);

// Reads the map file `name` into `readout`. False (errno kept) when the file
// could not be opened or read whole; `readout` is then not to be used.
bool ReadMapFile(const char* name, MapReadout& readout);

#endif  // BEATSTAMPS_MAP_READER_H_
