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

// The arguments after the options: MAP, OUT, RATE, START, STOP, DIVISIONS.
struct Arguments {
  int count;
  char** values;
};

struct CommandLine {
  bool help;
  bool version;
  bool check;                  // --check: name what is wrong with MAP
  const ExportFormat* format;  // null without --format
  Arguments positional;
  ExportOptions exportOptions;
  FitOptions fit;  // how a beat list read as MAP is fitted
};

// Reads the options at the front of the arguments: only arguments that begin
// with "--", up to the first that does not or up to "--". False, with the
// line to print, for an option or format it does not know, or options that
// do not go together or lack the map and output file they need.
bool ReadCommandLine(int argumentCount, char** arguments, CommandLine& line, Failure& failure);

void PrintUsage(FILE* out);

#endif  // BEATSTAMPS_OPTIONS_H_
