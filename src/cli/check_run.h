// The check run: reads MAP as every run reads it and names each problem the
// reader meets, one line each, then the summary line.
#ifndef BEATSTAMPS_CHECK_RUN_H_
#define BEATSTAMPS_CHECK_RUN_H_

#include "cli/console.h"
#include "cli/options.h"

// One argument, MAP; returns 0 when the map has no problem, 1 otherwise.
int RunCheck(Console& console, const Arguments& arguments, const FitOptions& fit);

#endif  // BEATSTAMPS_CHECK_RUN_H_
