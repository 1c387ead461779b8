// The report writer: stores a report text in a file.
#ifndef BEATSTAMPS_REPORT_WRITER_H_
#define BEATSTAMPS_REPORT_WRITER_H_

#include "console.h"
#include "run_state.h"

enum class SaveStatus {
  kSaved,
  kFailed,       // the file could not be opened, written whole or closed
  kNameTooLong,  // the typed name was refused; nothing was written
  kInputEnded,   // standard input ended at the name prompt; nothing was written
};

// Writes the report to `fileName`, replacing the file's contents when
// `overwrite` is 1 and adding to its end otherwise. Asks for the name unless
// `nameGiven` and the name is not empty.
void WriteData(Console& console, const ReportText& report, char* fileName, bool nameGiven,
               int overwrite, SaveStatus& status);

#endif  // BEATSTAMPS_REPORT_WRITER_H_
