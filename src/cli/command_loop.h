// The interactive command loop: one-letter commands read from standard
// input, with the command list shown before each unless hidden.
#ifndef BEATSTAMPS_COMMAND_LOOP_H_
#define BEATSTAMPS_COMMAND_LOOP_H_

#include <cstdio>

#include "cli/console.h"
#include "cli/run_state.h"

// Runs commands until "q" or the end of standard input; returns the exit
// status.
int RunCommandLoop(Console& console, RunState& state);

void PrintCommandList(FILE* out, const RunState& state);

#endif  // BEATSTAMPS_COMMAND_LOOP_H_
