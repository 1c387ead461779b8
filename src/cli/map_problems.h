// The lines that name what is wrong with a map text:
// "MAP:LINE: what is wrong, and what is read instead".
#ifndef BEATSTAMPS_MAP_PROBLEMS_H_
#define BEATSTAMPS_MAP_PROBLEMS_H_

#include <cstdint>
#include <cstdio>

#include "maps/map_reader.h"

void PrintMapProblem(FILE* out, const char* mapName, const MapProblem& problem);

// Prints each problem of a read on `out` as it is met, and counts them.
struct ProblemPrinter {
  FILE* out;
  const char* mapName;
  int64_t count;
};

MapDiagnostics PrintingDiagnostics(ProblemPrinter& printer);

#endif  // BEATSTAMPS_MAP_PROBLEMS_H_
