// The program's fixed texts: its banner and the help of the "h" command.
#ifndef BEATSTAMPS_HELP_TEXT_H_
#define BEATSTAMPS_HELP_TEXT_H_

#include <cstdio>

// The program's name, version and maker: the first line of every run.
void PrintBanner(FILE* out);

// How to hide the command list, the command-line arguments and how to write
// a tempo map file.
void PrintHelp(FILE* out);

#endif  // BEATSTAMPS_HELP_TEXT_H_
