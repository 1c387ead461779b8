#include "batch_run.h"

#include <cstdlib>

#include "help_text.h"
#include "int32_math.h"
#include "session.h"

namespace {

int32_t ArgumentNumber(const char* argument) {
  return ClampToInt32(std::strtol(argument, nullptr, 10));
}

}  // namespace

void ApplyBatchArguments(const Arguments& arguments, GridSettings& settings) {
  const int count = arguments.count;
  char** values = arguments.values;
  if (count >= 3) settings.sampleRate = static_cast<uint32_t>(ArgumentNumber(values[2]));
  if (count >= 4) settings.startMeasure = WrappingSubtract(ArgumentNumber(values[3]), 1);
  if (count >= 5) settings.stopMeasure = WrappingSubtract(ArgumentNumber(values[4]), 1);
  if (count == 6) settings.divisionsPerBeat = ArgumentNumber(values[5]);
}

int RunBatch(Console& console, const Arguments& arguments, const ExportOptions& options) {
  PrintBanner(console.out);
  static_assert(sizeof(RunState) < size_t{512} * 1024, "the state lives on the stack");
  RunState state;
  InitRunState(state);
  if (!LoadMapNamed(console, state, arguments.values[0])) return 1;
  ApplyBatchArguments(arguments, state.settings);
  ExportSettings placed;
  Failure failure;
  if (!ResolveExportSettings(options, state.settings.sampleRate, arguments.values[0], placed,
                             failure)) {
    std::fputs(failure.message, console.out);
    return failure.status;
  }
  if (!RenderReportWithOffset(console, state, placed.offsetSamples)) return 1;
  if (!StoreFileName(console, state.outputFileName, arguments.values[1])) return 1;
  InputStatus input = InputStatus::kRead;
  return SaveReport(console, state, true, OutputMode::kAppend, input) ? 0 : 1;
}
