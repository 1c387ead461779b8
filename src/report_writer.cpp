#include "report_writer.h"

#include <cstdio>

#include "output_file.h"

namespace {

// True only when every byte reached the disk and is in place; otherwise the
// file is left as it was.
bool WriteFile(const char* fileName, OutputMode mode, const ReportText& report) {
  OutputFile file{};
  if (!OpenOutput(fileName, mode, file)) return false;
  const size_t length = static_cast<size_t>(report.length);
  if (std::fwrite(report.text, 1, length, file.stream) != length) {
    AbandonOutput(file);
    return false;
  }
  return CommitOutput(file);
}

}  // namespace

void WriteData(Console& console, const ReportText& report, char* fileName, bool nameGiven,
               int overwrite, SaveStatus& status) {
  const OutputMode mode = overwrite == 1 ? OutputMode::kReplace : OutputMode::kAppend;
  if (!nameGiven || fileName[0] == '\0') {
    const InputStatus asked = AskFileName(console, "Enter file to write data to\n", fileName);
    if (asked == InputStatus::kEnded) {
      status = SaveStatus::kInputEnded;
      return;
    }
    if (asked == InputStatus::kTooLong) {
      status = SaveStatus::kNameTooLong;
      return;
    }
  }
  if (!WriteFile(fileName, mode, report)) {
    std::fprintf(console.out, "Error: Cannot write to %s!\n", fileName);
    status = SaveStatus::kFailed;
    return;
  }
  std::fprintf(console.out, "Saved %i bytes\n", report.length);
  status = SaveStatus::kSaved;
}
