#include "front_end.h"

namespace {

// Output that could not be written (a full disk) is a failure; the exit
// status must say so.
int StatusAfterOutput(Console& console, int status) {
  if (std::fflush(console.out) != 0 || std::ferror(console.out)) return 1;
  return status;
}

int Run(int argumentCount, char** arguments, Console& console) {
  std::fputs("Beatstamps 1.0 by Qorvel\n", console.out);
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

}  // namespace

int RunBeatstamps(int argumentCount, char** arguments, Console& console) {
  return StatusAfterOutput(console, Run(argumentCount, arguments, console));
}
