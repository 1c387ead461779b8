// The lines that name what is wrong with a map text:
// "MAP:LINE: what is wrong, and what is read instead".
#ifndef BEATSTAMPS_MAP_PROBLEMS_H_
#define BEATSTAMPS_MAP_PROBLEMS_H_

#include <cstdint>
#include <cstdio>
#include <vector>

#include "maps/beat_list_reader.h"
#include "maps/map_reader.h"
#include "maps/midi_file.h"

void PrintMapProblem(FILE* out, const char* mapName, const MapProblem& problem);

// Prints each problem of a read on `out` as it is met, and counts them.
struct ProblemPrinter {
  FILE* out;
  const char* mapName;
  int64_t count;
};

MapDiagnostics PrintingDiagnostics(ProblemPrinter& printer);

// What a MIDI file that was read holds besides its chunks: "MAP: what is
// passed over", counted as the text map's problems are.
void ReportMidiProblems(ProblemPrinter& printer, const MidiContents& contents);

// Each line of a beat list that could not be read, counted as a map's
// problems are.
void ReportBeatLineProblems(ProblemPrinter& printer, const std::vector<BeatLineProblem>& problems);

#endif  // BEATSTAMPS_MAP_PROBLEMS_H_
