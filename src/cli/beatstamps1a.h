// The program as a function, for the entry point and for harnesses that run
// it in their own process.
#ifndef BEATSTAMPS_BEATSTAMPS1A_H_
#define BEATSTAMPS_BEATSTAMPS1A_H_

#include "cli/console.h"

// Runs the program on its command-line arguments (`arguments`[0] is the
// program's own name) and returns its exit status.
int RunBeatstamps(int argumentCount, char** arguments, Console& console);

#endif  // BEATSTAMPS_BEATSTAMPS1A_H_
