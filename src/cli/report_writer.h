// The report writer: stores a report text in a file.
#ifndef BEATSTAMPS_REPORT_WRITER_H_
#define BEATSTAMPS_REPORT_WRITER_H_

#include "cli/run_state.h"
#include "files/output_file.h"

// Writes the report to `fileName`, replacing the file's contents or adding to
// its end; a name that is the standard output itself gets it through `out`,
// in order with the program's lines. False, with the line that says why,
// when not every byte was saved; the file is then as it was. An ending
// signal that comes once the save is done waits in `file` until
// FinishOutput(file), which follows the line that tells the outcome.
bool WriteData(const ReportText& report, const char* fileName, OutputMode mode, FILE* out,
               OutputFile& file, Failure& failure);

#endif  // BEATSTAMPS_REPORT_WRITER_H_
