#include "cli/batch_run.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/int32_math.h"
#include "cli/help_text.h"
#include "cli/report_writer.h"
#include "cli/session.h"
#include "maps/midi_file.h"

namespace {

int32_t ArgumentNumber(const char* argument) {
  return ClampToInt32(std::strtol(argument, nullptr, 10));
}

bool LoadBatchMap(Console& console, RunState& state, const char* name, bool exportRun) {
  if (!exportRun) return LoadMapNamed(console, state, name);
  int64_t problems = 0;
  return LoadMapWithWarnings(console.out, state, name, problems);
}

// OUT is the standard output itself, or for --format=grid "-": the report
// goes there and the program's own lines to standard error.
bool ReportsToStandardOutput(const char* name, bool exportRun) {
  return (exportRun && std::strcmp(name, "-") == 0) || IsStandardOutputFile(name);
}

// A regular file that begins as a MIDI file does.
bool IsMidiFile(const char* name) {
  struct stat info {};
  if (stat(name, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  FILE* file = std::fopen(name, "rb");
  if (file == nullptr) return false;
  const bool midi = StartsAsMidiFile(file);
  (void)std::fclose(file);  // read only: closing cannot lose data
  return midi;
}

// A report added to the map it was made from, or to a MIDI file, would
// spoil it.
bool CheckOutputKeepsMaps(const char* mapName, const char* out, Failure& failure) {
  struct stat map {};
  struct stat output {};
  if (stat(mapName, &map) == 0 && stat(out, &output) == 0 && map.st_dev == output.st_dev &&
      map.st_ino == output.st_ino) {
    SetFailure(failure, "Error: %s is the tempo map itself; a report is never added to it!\n", out);
    return false;
  }
  if (IsMidiFile(out)) {
    SetFailure(failure, "Error: %s is a MIDI file; a report is never added to it!\n", out);
    return false;
  }
  return true;
}

// Appends the report to OUT; an export run takes any name the system takes
// and says why OUT could not be written. An empty name is asked for. The
// report goes to `console.out`, the lines to `lines`.
int SaveBatchReport(Console& console, FILE* lines, RunState& state, const char* name,
                    bool exportRun) {
  InputStatus input = InputStatus::kRead;
  if (name[0] == '\0') {
    state.outputFileName[0] = '\0';
    return SaveReport(console, state, true, OutputMode::kAppend, input) ? 0 : 1;
  }
  Console named{console.in, lines, console.errors};
  if (!exportRun && !StoreFileName(named, state.outputFileName, name)) return 1;
  errno = 0;
  OutputFile file{};
  const char* path = exportRun && std::strcmp(name, "-") == 0 ? "/dev/stdout" : name;
  const bool saved = WriteData(state.report, path, OutputMode::kAppend, console.out, file);
  const auto bytes = static_cast<uint64_t>(state.report.length);
  if (exportRun) {
    PrintSaveOutcome(lines, name, saved, bytes, errno);
  } else {
    PrintSaveResult(lines, name, saved, bytes);
  }
  PrintTruncationWarning(lines, state.report);
  (void)std::fflush(lines);  // told before a held signal acts
  FinishOutput(file);
  return saved ? 0 : 1;
}

// The batch run, or with `exportRun` the --format=grid run, which also names
// the map's problems before its summary line.
int Batch(Console& console, const Arguments& arguments, const ExportOptions& options,
          const FitOptions& fit, bool exportRun) {
  const char* out = arguments.values[1];
  Console lines = console;
  const bool toStandardOutput = ReportsToStandardOutput(out, exportRun);
  if (toStandardOutput) lines.out = console.errors;
  PrintBanner(lines.out);
  static_assert(sizeof(RunState) < size_t{512} * 1024, "the state lives on the stack");
  RunState state;
  InitRunState(state);
  state.fitOptions = fit;
  if (!LoadBatchMap(lines, state, arguments.values[0], exportRun)) return 1;
  ApplyBatchArguments(arguments, state.settings);
  ExportSettings placed;
  Failure failure;
  if ((!toStandardOutput && !CheckOutputKeepsMaps(arguments.values[0], out, failure)) ||
      !ResolveRunSettings(options, state, arguments.values[0], placed, failure)) {
    std::fputs(failure.message, lines.out);
    return failure.status;
  }
  if (!RenderReportWithOffset(lines, state, placed.offsetSamples)) return 1;
  const int status = SaveBatchReport(console, lines.out, state, out, exportRun);
  return std::fflush(lines.out) == 0 && !std::ferror(lines.out) ? status : 1;
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

int RunBatch(Console& console, const Arguments& arguments, const ExportOptions& options,
             const FitOptions& fit) {
  return Batch(console, arguments, options, fit, false);
}

int RunGridExport(Console& console, const Arguments& arguments, const ExportOptions& options,
                  const FitOptions& fit) {
  return Batch(console, arguments, options, fit, true);
}
