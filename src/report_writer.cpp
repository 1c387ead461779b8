#include "report_writer.h"

#include <cstdio>

namespace {

// True only when every byte went out and the file closed cleanly: a full
// disk often shows only when the buffered bytes are flushed at the close.
bool WriteFile(const char* fileName, const char* mode, const ReportText& report) {
  FILE* file = std::fopen(fileName, mode);
  if (file == nullptr) return false;
  const size_t length = static_cast<size_t>(report.length);
  const size_t written = std::fwrite(report.text, 1, length, file);
  const bool closed = std::fclose(file) == 0;
  return written == length && closed;
}

}  // namespace

void WriteData(Console& console, const ReportText& report, char* fileName, bool nameGiven,
               int overwrite, SaveStatus& status) {
  const char* mode = overwrite == 1 ? "w" : "a";
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
