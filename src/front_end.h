// The console front end: start-up, the command loop, loading maps, saving
// reports, the batch run and the help text.
#ifndef BEATSTAMPS_FRONT_END_H_
#define BEATSTAMPS_FRONT_END_H_

#include <cstdio>

#include "console.h"
#include "options.h"
#include "run_state.h"

// Runs the program on its command-line arguments (`arguments`[0] is the
// program's own name) and returns its exit status.
int RunBeatstamps(int argumentCount, char** arguments, Console& console);
// The program's name, version and maker: the first line of every run.
void PrintBanner(FILE* out);

// What the command loop does after a command.
enum class Next {
  kGoOn,
  kQuit,  // as after "q": standard input has ended
  kFail,  // end the program with status 1
};

int RunCommandLoop(Console& console, RunState& state);
void PrintCommandList(FILE* out, const RunState& state);
void PrintHelp(FILE* out);

// Without a map an empty or inverted range falls back to measure 1; with a
// map loaded only the map's beat total decides.
void ApplyRangeGuard(RunState& state);

// Renders the report; on a value the renderer cannot walk, prints why and
// returns false.
bool RenderReport(Console& console, RunState& state);
void PrintTruncationWarning(Console& console, const ReportText& report);

// A stored stop of measure 1 counts as none chosen: the report then runs to
// the end of the map.
void ApplyAfterLoadRule(RunState& state);
// Reads the map named on the command line; false if it could not be read.
bool LoadMapArgument(Console& console, RunState& state, const char* name);
Next LoadMapCommand(Console& console, RunState& state);

Next SaveCommand(Console& console, RunState& state, int overwrite);
// Arguments 3 to 6 of a batch run: rate, start, stop and (only when exactly
// six are given) divisions.
void ApplyBatchArguments(RunState& state, int argumentCount, char** arguments);
int RunBatch(Console& console, RunState& state, int argumentCount, char** arguments);

// A batch run that writes the grid of argument 1 to argument 2 in `format`,
// replacing it; "-" sends the data to standard output and the program's own
// lines to standard error.
int RunExport(Console& console, ExportFormat format, int argumentCount, char** arguments);

#endif  // BEATSTAMPS_FRONT_END_H_
