#include "batch_run.h"

#include <cerrno>
#include <cstdlib>

#include "help_text.h"
#include "int32_math.h"
#include "report_writer.h"
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

int RunBatch(Console& console, const Arguments& arguments) {
  PrintBanner(console.out);
  static_assert(sizeof(RunState) < size_t{512} * 1024, "the state lives on the stack");
  RunState state;
  InitRunState(state);
  if (!LoadMapNamed(console, state, arguments.values[0])) return 1;
  ApplyBatchArguments(arguments, state.settings);
  if (!RenderReport(console, state)) return 1;
  if (!StoreFileName(console, state.outputFileName, arguments.values[1])) return 1;
  InputStatus input = InputStatus::kRead;
  return SaveReport(console, state, true, OutputMode::kAppend, input) ? 0 : 1;
}

int RunGridExport(Console& console, const Arguments& arguments) {
  PrintBanner(console.out);
  static_assert(sizeof(RunState) < size_t{512} * 1024, "the state lives on the stack");
  RunState state;
  InitRunState(state);
  int64_t problems = 0;
  if (!LoadMapWithWarnings(console.out, state, arguments.values[0], problems)) return 1;
  ApplyBatchArguments(arguments, state.settings);
  if (!RenderReport(console, state)) return 1;
  const char* name = arguments.values[1];
  InputStatus input = InputStatus::kRead;
  if (name[0] == '\0') return SaveReport(console, state, false, OutputMode::kAppend, input) ? 0 : 1;
  errno = 0;
  const bool saved = WriteData(state.report, name, OutputMode::kAppend);
  PrintSaveOutcome(console.out, name, saved, static_cast<uint64_t>(state.report.length), errno);
  PrintTruncationWarning(console.out, state.report);
  return saved ? 0 : 1;
}
