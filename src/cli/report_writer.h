// The report writer: stores a report text in a file.
#ifndef BEATSTAMPS_REPORT_WRITER_H_
#define BEATSTAMPS_REPORT_WRITER_H_

#include "cli/run_state.h"
#include "files/output_file.h"

// Writes the report to `fileName`, replacing the file's contents or adding to
// its end. False, with the line that says why, when not every byte was
// saved; the file is then as it was.
bool WriteData(const ReportText& report, const char* fileName, OutputMode mode, Failure& failure);

#endif  // BEATSTAMPS_REPORT_WRITER_H_
