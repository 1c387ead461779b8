// The batch run: read MAP, take the numbers that follow OUT, append the
// report to OUT and exit, without a question unless OUT is empty.
#ifndef BEATSTAMPS_BATCH_RUN_H_
#define BEATSTAMPS_BATCH_RUN_H_

#include "cli/console.h"
#include "cli/options.h"
#include "cli/run_state.h"

// RATE, START and STOP when given, and DIVISIONS only when all six
// arguments are: base 10 by the strtol rules, held to 32 bits.
void ApplyBatchArguments(const Arguments& arguments, GridSettings& settings);

// Runs the batch on MAP and OUT (two or more arguments), the report placed
// by --offset (or the map's own offset), a beat list fitted by `fit`; returns
// the exit status.
int RunBatch(Console& console, const Arguments& arguments, const ExportOptions& options,
             const FitOptions& fit);

// --format=grid: the batch run, with the map's problems named before the
// summary line, any name the system takes, and the system's reason when OUT
// cannot be written.
int RunGridExport(Console& console, const Arguments& arguments, const ExportOptions& options,
                  const FitOptions& fit);

#endif  // BEATSTAMPS_BATCH_RUN_H_
