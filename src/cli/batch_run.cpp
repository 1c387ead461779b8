#include "cli/batch_run.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cli/grid_arguments.h"
#include "cli/help_text.h"
#include "cli/report_writer.h"
#include "cli/session.h"
#include "maps/midi_file.h"

namespace {

// A tempo map names its sections near its start: this much of OUT is looked at.
constexpr size_t kLookedAtBytes = size_t{64} * 1024;

// Reads MAP: the batch run names its problems on standard error, the
// --format=grid run with its own lines, before its summary line.
bool LoadBatchMap(Console& console, RunState& state, const char* name, bool exportRun,
                  int64_t& problems) {
  if (!exportRun) return LoadMapNamed(console, state, name, problems);
  return LoadMapWithWarnings(console.out, console.in, state, name, problems);
}

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
  if (state.textMapInForce && state.map.sectionCount <= 0) {
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
  OutputFile file{};
  Failure failure;
  const char* path = exportRun && std::strcmp(name, "-") == 0 ? "/dev/stdout" : name;
  const bool saved = WriteData(state.report, path, OutputMode::kAppend, console.out, file, failure);
  const auto bytes = static_cast<uint64_t>(state.report.length);
  if (exportRun) {
    PrintSaveOutcome(lines, saved, bytes, failure);
  } else {
    PrintSaveResult(lines, name, saved, bytes);
  }
  PrintTruncationWarning(lines, console.errors, state.report);
  (void)std::fflush(lines);  // told before a held signal acts
  FinishOutput(file);
  return saved ? 0 : 1;
}

// The batch run, or with `exportRun` the --format=grid run, which also names
// the map's problems before its summary line.
int Batch(Console& console, const CommandLine& line, bool exportRun) {
  const Arguments& arguments = line.positional;
  const char* out = arguments.values[1];
  Console lines = console;
  const bool toStandardOutput = ReportsToStandardOutput(out, exportRun);
  if (toStandardOutput) lines.out = console.errors;
  PrintBanner(lines.out);
  Failure failure;
  GridArguments numbers{};
  const NumberReading reading =
      line.optionCount > 0 ? NumberReading::kWholeOnly : NumberReading::kStrtol;
  if (!ReadGridArguments(arguments, reading, line.firstMeasure, console.errors, numbers, failure)) {
    std::fputs(failure.message.c_str(), lines.out);
    return failure.status;
  }
  static_assert(sizeof(RunState) < size_t{512} * 1024, "the state lives on the stack");
  RunState state;
  InitRunState(state);
  state.midiBeat = line.beat;
  state.fitOptions = line.fit;
  int64_t warnings = 0;
  if (!LoadBatchMap(lines, state, arguments.values[0], exportRun, warnings)) return 1;
  if (!toStandardOutput && !CheckOutputKeepsMaps(arguments.values[0], out, failure)) {
    std::fputs(failure.message.c_str(), lines.out);
    return failure.status;
  }
  warnings += WarnOfSwappedNames(exportRun ? lines.out : console.errors, state, arguments);
  if (!StrictAllows(lines.out, line.strict, warnings)) return 1;
  ApplyGridArguments(numbers, line.firstMeasure, state.settings);
  ExportSettings placed;
  if (!ResolveRunSettings(line.exportOptions, state, arguments.values[0], placed, failure)) {
    std::fputs(failure.message.c_str(), lines.out);
    return failure.status;
  }
  if (!RenderReportWithOffset(lines, state, placed.offsetSamples)) return 1;
  const int status = SaveBatchReport(console, lines.out, state, out, exportRun);
  return std::fflush(lines.out) == 0 && !std::ferror(lines.out) ? status : 1;
}

}  // namespace

int RunBatch(Console& console, const CommandLine& line) {
  return Batch(console, line, false);
}

int RunGridExport(Console& console, const CommandLine& line) {
  return Batch(console, line, true);
}
