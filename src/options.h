// The options that may lead the command line: --help, --version and
// --format, which turns a batch run into an export.
#ifndef BEATSTAMPS_OPTIONS_H_
#define BEATSTAMPS_OPTIONS_H_

#include <cstdio>

enum class ExportFormat {
  kGrid,    // the report, appended: a batch run as without options
  kLabels,  // a label track for audio editors
  kCsv,
  kMidi,   // a Standard MIDI File
  kClick,  // a WAV click track
};

struct CommandLine {
  bool help;
  bool version;
  bool formatGiven;
  ExportFormat format;
  int firstPositional;  // index of the first argument after the options
  char error[192];      // why the options were refused
};

// Reads the options at the front of the arguments: only arguments that begin
// with "--", up to the first that does not or up to "--". False, with the
// line to print in `line.error`, for an option or format it does not know.
bool ReadOptions(int argumentCount, char** arguments, CommandLine& line);

void PrintUsage(FILE* out);

#endif  // BEATSTAMPS_OPTIONS_H_
