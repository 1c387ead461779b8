#include "cli/batch_run.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "cli/grid_arguments.h"
#include "cli/help_text.h"
#include "cli/report_writer.h"
#include "cli/session.h"

namespace {

// A tempo map names its sections near its start: this much of OUT is looked at.
constexpr size_t kLookedAtBytes = size_t{64} * 1024;

// Whether `text` holds the command word "tmap" where a map reader takes it:
// at a line's start or after a tab, followed by a tab.
bool HoldsTmapWord(const char* text, size_t length) {
  constexpr size_t kWord = 5;  // "tmap\t"
  for (size_t k = 0; k + kWord <= length; ++k) {
    if ((k == 0 || text[k - 1] == '\n' || text[k - 1] == '\t') &&
        std::memcmp(text + k, "tmap\t", kWord) == 0) {
      return true;
    }
  }
  return false;
}

// OUT holds tmap lines: it looks like the map, given in MAP's place.
bool LooksLikeTempoMap(const char* name) {
  FILE* file = std::fopen(name, "r");
  if (file == nullptr) return false;
  auto text = std::make_unique<char[]>(kLookedAtBytes);
  const size_t length = std::fread(text.get(), 1, kLookedAtBytes, file);
  (void)std::fclose(file);  // read only: closing cannot lose data
  return HoldsTmapWord(text.get(), length);
}

// Swapped MAP and OUT append a made-up report onto the map: a MAP without a
// tmap line, or an OUT with one, is warned of. Returns the warnings printed.
int64_t WarnOfSwappedNames(FILE* out, const RunState& state, const Arguments& arguments) {
  int64_t warnings = 0;
  if (!state.midiInForce && state.map.sectionCount <= 0) {
    std::fprintf(out, "Warning: MAP %s holds no tmap line: are MAP and OUT swapped?\n",
                 arguments.values[0]);
    ++warnings;
  }
  if (LooksLikeTempoMap(arguments.values[1])) {
    std::fprintf(out,
                 "Warning: OUT %s holds tmap lines, and the report is appended to it: are MAP "
                 "and OUT swapped?\n",
                 arguments.values[1]);
    ++warnings;
  }
  return warnings;
}

// Appends the report to OUT; an export run takes any name the system takes
// and says why OUT could not be written. An empty name is asked for.
int SaveBatchReport(Console& console, RunState& state, const char* name, bool exportRun) {
  InputStatus input = InputStatus::kRead;
  if (!exportRun || name[0] == '\0') {
    if (!StoreFileName(console, state.outputFileName, name)) return 1;
    return SaveReport(console, state, true, OutputMode::kAppend, input) ? 0 : 1;
  }
  errno = 0;
  const bool saved = WriteData(state.report, name, OutputMode::kAppend);
  PrintSaveOutcome(console.out, name, saved, static_cast<uint64_t>(state.report.length), errno);
  PrintTruncationWarning(console, state.report);
  return saved ? 0 : 1;
}

// Reads MAP: the batch run names its problems on standard error, the
// --format=grid run on standard output, before its summary line.
bool LoadBatchMap(Console& console, RunState& state, const char* name, bool exportRun,
                  int64_t& problems) {
  if (!exportRun) return LoadMapNamed(console, state, name, problems);
  return LoadMapWithWarnings(console.out, console.in, state, name, problems);
}

// The batch run, or with `exportRun` the --format=grid run.
int Batch(Console& console, const CommandLine& line, bool exportRun) {
  PrintBanner(console.out);
  const Arguments& arguments = line.positional;
  Failure failure;
  GridArguments numbers{};
  const NumberReading reading =
      line.optionCount > 0 ? NumberReading::kWholeOnly : NumberReading::kStrtol;
  if (!ReadGridArguments(arguments, reading, line.firstMeasure, console.errors, numbers, failure)) {
    std::fputs(failure.message, console.out);
    return failure.status;
  }
  static_assert(sizeof(RunState) < size_t{512} * 1024, "the state lives on the stack");
  RunState state;
  InitRunState(state);
  state.midiBeat = line.beat;
  int64_t warnings = 0;
  if (!LoadBatchMap(console, state, arguments.values[0], exportRun, warnings)) return 1;
  warnings += WarnOfSwappedNames(exportRun ? console.out : console.errors, state, arguments);
  if (!StrictAllows(console.out, line.strict, warnings)) return 1;
  ApplyGridArguments(numbers, line.firstMeasure, state.settings);
  ExportSettings placed;
  if (!ResolveExportSettings(line.exportOptions, state.settings.sampleRate, arguments.values[0],
                             placed, failure)) {
    std::fputs(failure.message, console.out);
    return failure.status;
  }
  if (!RenderReportWithOffset(console, state, placed.offsetSamples)) return 1;
  return SaveBatchReport(console, state, arguments.values[1], exportRun);
}

}  // namespace

int RunBatch(Console& console, const CommandLine& line) {
  return Batch(console, line, false);
}

int RunGridExport(Console& console, const CommandLine& line) {
  return Batch(console, line, true);
}
