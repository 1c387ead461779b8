// The export run: a batch run that writes the grid of MAP to OUT in a
// format of the table, replacing OUT whole; OUT "-" sends the data to
// standard output and the program's own lines to standard error.
#ifndef BEATSTAMPS_EXPORT_RUN_H_
#define BEATSTAMPS_EXPORT_RUN_H_

#include "cli/console.h"
#include "cli/options.h"
#include "exports/export_formats.h"

// Two or more arguments; returns the exit status. MAP "-" is standard input.
int RunExport(Console& console, const ExportFormat& format, const CommandLine& line);

#endif  // BEATSTAMPS_EXPORT_RUN_H_
