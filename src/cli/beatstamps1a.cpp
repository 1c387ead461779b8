// Turns a tempo map into a beat grid: the time and sample position of every
// measure, beat and beat division in a chosen range.
#include "cli/beatstamps1a.h"

#include <cstdio>

#include "cli/batch_run.h"
#include "cli/check_run.h"
#include "cli/command_loop.h"
#include "cli/export_run.h"
#include "cli/help_text.h"
#include "cli/options.h"
#include "cli/session.h"

namespace {

// Output that could not be written (a full disk) is a failure; the exit
// status must say so.
int Finish(Console& console, int status) {
  if (std::fflush(console.out) != 0 || std::ferror(console.out)) return 1;
  return status;
}

// Interactive: the command loop, with MAP read first when it is given.
int RunInteractive(Console& console, const Arguments& arguments, const FitOptions& fit) {
  PrintBanner(console.out);
  static_assert(sizeof(RunState) < size_t{512} * 1024, "the state lives on the stack");
  RunState state;
  InitRunState(state);
  state.fitOptions = fit;
  if (arguments.count == 1) {
    int64_t problems = 0;
    LoadMapNamed(console, state, arguments.values[0], problems);
    state.mapLoaded = true;
  }
  return RunCommandLoop(console, state);
}

}  // namespace

// The program's modes: interactive, the batch run, the export and the check.
int RunBeatstamps(int argumentCount, char** arguments, Console& console) {
  CommandLine line;
  Failure failure;
  if (!ReadCommandLine(argumentCount, arguments, line, failure)) {
    std::fputs(failure.message.c_str(), console.out);
    return Finish(console, failure.status);
  }
  if (line.help) {
    PrintUsage(console.out);
  } else if (line.version) {
    PrintBanner(console.out);
  } else if (line.check) {
    return Finish(console, RunCheck(console, line.positional, line.fit));
  } else if (line.format != nullptr && line.format->write != nullptr) {
    return Finish(console, RunExport(console, *line.format, line));
  } else if (line.format != nullptr) {
    return Finish(console, RunGridExport(console, line));
  } else if (line.positional.count >= 2) {
    return Finish(console, RunBatch(console, line));
  } else {
    return Finish(console, RunInteractive(console, line.positional, line.fit));
  }
  return Finish(console, 0);
}

#ifndef BEATSTAMPS_IN_PROCESS  // the fuzzing harness runs the program in its own process
int main(int argc, char** argv) {
  Console console{stdin, stdout, stderr};
  return RunBeatstamps(argc, argv, console);
}
#endif
