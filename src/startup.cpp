#include "front_end.h"

namespace {

// Output that could not be written (a full disk) is a failure; the exit
// status must say so.
int StatusAfterOutput(Console& console, int status) {
  if (std::fflush(console.out) != 0 || std::ferror(console.out)) return 1;
  return status;
}

int Run(int argumentCount, char** arguments, Console& console) {
  PrintBanner(console.out);
  static_assert(sizeof(RunState) < size_t{512} * 1024, "the state lives on the stack");
  RunState state;
  InitRunState(state);
  if (argumentCount >= 2) {
    const bool loaded = LoadMapArgument(console, state, arguments[1]);
    if (argumentCount >= 3) {
      return loaded ? RunBatch(console, state, argumentCount, arguments) : 1;
    }
    state.mapLoaded = true;
  }
  return RunCommandLoop(console, state);
}

// After the options, the arguments are read as a whole command line of their
// own: `positional`[0] stands where the program's name stood.
int RunWithOptions(const CommandLine& line, int argumentCount, char** arguments, Console& console) {
  if (line.help) {
    PrintUsage(console.out);
    return 0;
  }
  if (line.version) {
    PrintBanner(console.out);
    return 0;
  }
  const int positionalCount = argumentCount - line.firstPositional + 1;
  char** positional = arguments + line.firstPositional - 1;
  if (line.formatGiven && positionalCount < 3) {
    std::fputs("Error: --format needs a tempo map and an output file! (see beatstamps1a --help)\n",
               console.out);
    return 1;
  }
  if (line.formatGiven && line.format != ExportFormat::kGrid) {
    return RunExport(console, line.format, positionalCount, positional);
  }
  return Run(positionalCount, positional, console);
}

}  // namespace

void PrintBanner(FILE* out) {
  std::fputs("Beatstamps 1.0 by Qorvel\n", out);
}

int RunBeatstamps(int argumentCount, char** arguments, Console& console) {
  CommandLine line;
  if (!ReadOptions(argumentCount, arguments, line)) {
    std::fputs(line.error, console.out);
    return StatusAfterOutput(console, 1);
  }
  return StatusAfterOutput(console, RunWithOptions(line, argumentCount, arguments, console));
}
