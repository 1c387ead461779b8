// The batch run: read MAP, take the numbers that follow OUT, append the
// report to OUT and exit, without a question unless OUT is empty.
#ifndef BEATSTAMPS_BATCH_RUN_H_
#define BEATSTAMPS_BATCH_RUN_H_

#include "cli/console.h"
#include "cli/options.h"

// Runs the batch on MAP and OUT (two or more arguments), the report placed
// by --offset (or the map's own offset), a beat list fitted by the line's fit
// options; returns the exit status. MAP "-" is standard input.
int RunBatch(Console& console, const CommandLine& line);

// --format=grid: the batch run, with the map's problems named before the
// summary line, any name the system takes, and the system's reason when OUT
// cannot be written.
int RunGridExport(Console& console, const CommandLine& line);

#endif  // BEATSTAMPS_BATCH_RUN_H_
