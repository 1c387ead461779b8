#include "cli/batch_run.h"

#include <cstdlib>

#include "base/int32_math.h"
#include "cli/help_text.h"
#include "cli/report_writer.h"
#include "cli/session.h"

namespace {

int32_t ArgumentNumber(const char* argument) {
  return ClampToInt32(std::strtol(argument, nullptr, 10));
}

bool LoadBatchMap(Console& console, RunState& state, const char* name, bool exportRun) {
  if (!exportRun) return LoadMapNamed(console, state, name);
  int64_t problems = 0;
  return LoadMapWithWarnings(console.out, state, name, problems);
}

// Appends the report to OUT; an export run takes any name the system takes
// and says why OUT could not be written. An empty name is asked for.
int SaveBatchReport(Console& console, RunState& state, const char* name, bool exportRun) {
  InputStatus input = InputStatus::kRead;
  if (!exportRun || name[0] == '\0') {
    if (!StoreFileName(console, state.outputFileName, name)) return 1;
    return SaveReport(console, state, true, OutputMode::kAppend, input) ? 0 : 1;
  }
  Failure failure;
  const bool saved = WriteData(state.report, name, OutputMode::kAppend, failure);
  PrintSaveOutcome(console.out, saved, static_cast<uint64_t>(state.report.length), failure);
  PrintTruncationWarning(console.out, state.report);
  return saved ? 0 : 1;
}

// The batch run, or with `exportRun` the --format=grid run, which also names
// the map's problems before its summary line.
int Batch(Console& console, const Arguments& arguments, const ExportOptions& options,
          bool exportRun) {
  PrintBanner(console.out);
  static_assert(sizeof(RunState) < size_t{512} * 1024, "the state lives on the stack");
  RunState state;
  InitRunState(state);
  if (!LoadBatchMap(console, state, arguments.values[0], exportRun)) return 1;
  ApplyBatchArguments(arguments, state.settings);
  ExportSettings placed;
  Failure failure;
  if (!ResolveExportSettings(options, state.settings.sampleRate, arguments.values[0], placed,
                             failure)) {
    std::fputs(failure.message, console.out);
    return failure.status;
  }
  if (!RenderReportWithOffset(console, state, placed.offsetSamples)) return 1;
  return SaveBatchReport(console, state, arguments.values[1], exportRun);
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
  return Batch(console, arguments, options, false);
}

int RunGridExport(Console& console, const Arguments& arguments, const ExportOptions& options) {
  return Batch(console, arguments, options, true);
}
