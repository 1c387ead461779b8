#include <cstdlib>

#include "front_end.h"
#include "int32_math.h"
#include "renderer.h"
#include "report_writer.h"

namespace {

// Command-line numbers: base 10 by the strtol rules, clamped to 32 bits.
int32_t ArgumentNumber(const char* argument) {
  return ClampToInt32(std::strtol(argument, nullptr, 10));
}

// Saves the rendered report; false when nothing, or not all, was saved.
bool Save(Console& console, RunState& state, bool nameGiven, int overwrite, Next& next) {
  SaveStatus status = SaveStatus::kFailed;
  WriteData(console, state.report, state.outputFileName, nameGiven, overwrite, status);
  next = status == SaveStatus::kInputEnded ? Next::kQuit : Next::kGoOn;
  if (status == SaveStatus::kSaved || status == SaveStatus::kFailed) {
    PrintTruncationWarning(console, state.report);
  }
  return status == SaveStatus::kSaved;
}

}  // namespace

void ApplyBatchArguments(RunState& state, int argumentCount, char** arguments) {
  if (argumentCount >= 4) state.sampleRate = static_cast<uint32_t>(ArgumentNumber(arguments[3]));
  if (argumentCount >= 5) state.startMeasure = WrappingSubtract(ArgumentNumber(arguments[4]), 1);
  if (argumentCount >= 6) state.stopMeasure = WrappingSubtract(ArgumentNumber(arguments[5]), 1);
  if (argumentCount == 7) state.divisionsPerBeat = ArgumentNumber(arguments[6]);
}

bool RenderReport(Console& console, RunState& state) {
  RenderFailure failure;
  Display(state.map, state.sampleRate, state.startMeasure, state.stopMeasure,
          state.divisionsPerBeat, state.report, failure);
  if (failure.message[0] == '\0') return true;
  std::fputs(failure.message, console.out);
  return false;
}

void PrintTruncationWarning(Console& console, const ReportText& report) {
  if (report.truncated) {
    std::fprintf(console.out, "Warning: report truncated to %i characters\n", report.length);
  }
}

Next SaveCommand(Console& console, RunState& state, int overwrite) {
  ApplyRangeGuard(state);
  if (!RenderReport(console, state)) return Next::kFail;
  Next next = Next::kGoOn;
  Save(console, state, false, overwrite, next);
  return next;
}

int RunBatch(Console& console, RunState& state, int argumentCount, char** arguments) {
  ApplyBatchArguments(state, argumentCount, arguments);
  if (!RenderReport(console, state)) return 1;
  if (!StoreFileName(console, state.outputFileName, arguments[2])) return 1;
  Next next = Next::kGoOn;
  return Save(console, state, true, 0, next) ? 0 : 1;
}
