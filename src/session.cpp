#include "session.h"

#include <cerrno>
#include <cstring>

#include "int32_math.h"
#include "map_problems.h"
#include "map_reader.h"
#include "renderer.h"
#include "report_writer.h"

namespace {

// Reads the map file `name` into the state and prints the summary line; the
// state changes only when the whole file was read. False (errno kept) when
// it was not.
bool ReadMapInto(FILE* out, RunState& state, const char* name, const MapDiagnostics* diagnostics) {
  static_assert(sizeof(MapReadout) < size_t{64} * 1024, "the readout lives on the stack");
  MapReadout readout{state.map, state.settings, false};
  if (!ReadMapFile(name, readout, diagnostics)) return false;
  state.map = readout.map;
  state.settings = readout.settings;
  std::fprintf(out, "Read %i sections, %i measures, %i beats\n", state.map.sectionCount,
               state.map.totalMeasures, state.map.totalBeats);
  if (readout.capped) {
    std::fprintf(out, "Warning: only the first %i sections were read\n", kMaxReadSections);
  }
  return true;
}

// Reads `state.mapFileName`.
bool ReadNamedMap(Console& console, RunState& state) {
  if (ReadMapInto(console.out, state, state.mapFileName, nullptr)) return true;
  std::fputs("File not found!\n", console.out);
  return false;
}

// The system's reason for the failure that set `error`, when it gave one.
void PrintFailedFile(FILE* out, const char* what, const char* name, int error) {
  if (error == 0) {
    std::fprintf(out, "Error: Cannot %s %s!\n", what, name);
  } else {
    std::fprintf(out, "Error: Cannot %s %s: %s!\n", what, name, std::strerror(error));
  }
}

}  // namespace

void ApplyAfterLoadRule(RunState& state) {
  if (state.settings.stopMeasure == 0) state.settings.stopMeasure = state.map.totalMeasures;
}

bool LoadMapNamed(Console& console, RunState& state, const char* name) {
  const bool read = StoreFileName(console, state.mapFileName, name) && ReadNamedMap(console, state);
  ApplyAfterLoadRule(state);
  return read;
}

bool LoadMapWithWarnings(FILE* out, RunState& state, const char* name, int64_t& problems) {
  ProblemPrinter printer{out, name, 0};
  const MapDiagnostics diagnostics = PrintingDiagnostics(printer);
  errno = 0;
  const bool read = ReadMapInto(out, state, name, &diagnostics);
  if (!read) PrintFailedFile(out, "read", name, errno);
  ApplyAfterLoadRule(state);
  problems = printer.count;
  return read;
}

InputStatus LoadAskedMap(Console& console, RunState& state) {
  const InputStatus asked =
      AskFileName(console, "Enter name of tempo map file\n", state.mapFileName);
  if (asked == InputStatus::kRead) ReadNamedMap(console, state);
  if (asked != InputStatus::kEnded) ApplyAfterLoadRule(state);
  return asked;
}

void ApplyRangeGuard(RunState& state) {
  TempoMap& map = state.map;
  GridSettings& settings = state.settings;
  if (!state.mapLoaded) {
    const int32_t measures =
        WrappingAdd(WrappingSubtract(settings.stopMeasure, settings.startMeasure), 1);
    map.totalBeats = WrappingMultiply(map.beatsPerMeasure[0], measures);
  }
  if (map.totalBeats <= 0) {
    settings.startMeasure = 0;
    settings.stopMeasure = 0;
  }
}

void SizeDefaultSection(TempoMap& map, const GridSettings& settings) {
  if (map.sectionCount <= 0) map.measures[0] = WrappingAdd(settings.stopMeasure, 1);
}

bool RenderReport(Console& console, RunState& state) {
  return RenderReportWithOffset(console, state, 0);
}

bool RenderReportWithOffset(Console& console, RunState& state, int64_t offsetSamples) {
  SizeDefaultSection(state.map, state.settings);
  Failure failure;
  if (DisplayWithOffset(TextGrid(state.map), state.settings, offsetSamples, state.report,
                        failure)) {
    return true;
  }
  std::fputs(failure.message, console.out);
  return false;
}

void PrintTruncationWarning(FILE* out, const ReportText& report) {
  if (report.truncated) {
    std::fprintf(out, "Warning: report truncated to %i characters\n", report.length);
  }
}

void PrintSaveResult(FILE* out, const char* name, bool saved, uint64_t bytes) {
  if (saved) {
    std::fprintf(out, "Saved %llu bytes\n", static_cast<unsigned long long>(bytes));
  } else {
    std::fprintf(out, "Error: Cannot write to %s!\n", name);
  }
}

void PrintSaveOutcome(FILE* out, const char* name, bool saved, uint64_t bytes, int error) {
  if (saved) {
    PrintSaveResult(out, name, saved, bytes);
  } else {
    PrintFailedFile(out, "write to", name, error);
  }
}

bool SaveReport(Console& console, RunState& state, bool nameGiven, OutputMode mode,
                InputStatus& input) {
  input = InputStatus::kRead;
  if (!nameGiven || state.outputFileName[0] == '\0') {
    input = AskFileName(console, "Enter file to write data to\n", state.outputFileName);
    if (input != InputStatus::kRead) return false;
  }
  const bool saved = WriteData(state.report, state.outputFileName, mode);
  PrintSaveResult(console.out, state.outputFileName, saved,
                  static_cast<uint64_t>(state.report.length));
  PrintTruncationWarning(console.out, state.report);
  return saved;
}
