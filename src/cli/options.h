// The options that may lead the command line: --help, --version, --format,
// which turns a batch run into an export, the options of the grid's place
// in a recording (export_options.h), and --check.
#ifndef BEATSTAMPS_OPTIONS_H_
#define BEATSTAMPS_OPTIONS_H_

#include <cstdio>

#include "base/failure.h"
#include "exports/export_formats.h"
#include "exports/export_options.h"
#include "grid/beat_fit.h"
#include "maps/midi_map.h"

// The arguments after the options: MAP, OUT, RATE, START, STOP, DIVISIONS.
struct Arguments {
  int count;
  char** values;
};

struct CommandLine {
  bool help;
  bool version;
  bool check;                  // --check: name what is wrong with MAP
  bool strict;                 // --strict: a warning ends the run before anything is written
  int optionCount;             // options read: with any, RATE... must be whole numbers
  const char* runOption;       // the first option typed that needs MAP and OUT; or null
  int32_t firstMeasure;        // --first-measure: the number of the map's first measure
  MidiBeat beat;               // --beat: how a MIDI map's compound meters are counted
  const ExportFormat* format;  // null without --format
  Arguments positional;
  ExportOptions exportOptions;
  FitOptions fit;  // how a beat list read as MAP is fitted
};

// Reads the options at the front of the arguments: only arguments that begin
// with "--" (and "-h", which is --help), up to the first that does not or up
// to "--". False, with the line to print, for an option or format it does not
// know, an option after MAP, options that do not go together or lack the map
// and output file they need, and "-" as the map of an interactive run.
bool ReadCommandLine(int argumentCount, char** arguments, CommandLine& line, Failure& failure);

// MAP "-" is standard input, as OUT "-" is standard output.
bool IsStandardStream(const char* name);

void PrintUsage(FILE* out);

#endif  // BEATSTAMPS_OPTIONS_H_
