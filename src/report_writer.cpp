#include "report_writer.h"

bool WriteData(const ReportText& report, const char* fileName, OutputMode mode) {
  OutputFile file{};
  if (!OpenOutput(fileName, mode, file)) return false;
  if (!WriteOutput(file, report.text, static_cast<size_t>(report.length))) {
    AbandonOutput(file);
    return false;
  }
  return CommitOutput(file);
}
