#include "cli/report_writer.h"

#include <cstdio>

namespace {

uint64_t ReportLength(const void* report) {
  return static_cast<uint64_t>(static_cast<const ReportText*>(report)->length);
}

}  // namespace

bool WriteData(const ReportText& report, const char* fileName, OutputMode mode, FILE* out,
               OutputFile& file, Failure& failure) {
  if (IsStandardOutputFile(fileName)) {
    const auto length = static_cast<size_t>(report.length);
    if (std::fwrite(report.text, 1, length, out) == length && std::fflush(out) == 0) return true;
    SetWriteFailure(failure, fileName, errno);
    return false;
  }
  if (!OpenOutput(fileName, mode, OutputLength{ReportLength, &report}, file, failure)) {
    return false;
  }
  // One write: an appended report never mixes with another writer's bytes.
  if (!WriteOutput(file, report.text, static_cast<size_t>(report.length), failure)) {
    AbandonOutput(file);
    return false;
  }
  return CommitOutput(file, failure);
}
