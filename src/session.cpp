#include "session.h"

#include "int32_math.h"
#include "map_reader.h"
#include "renderer.h"
#include "report_writer.h"

namespace {

// Reads `state.mapFileName`; the state changes only when the whole file was read.
bool ReadNamedMap(Console& console, RunState& state) {
  static_assert(sizeof(MapReadout) < size_t{64} * 1024, "the readout lives on the stack");
  MapReadout readout{state.map, state.settings, false};
  if (!ReadMapFile(state.mapFileName, readout)) {
    std::fputs("File not found!\n", console.out);
    return false;
  }
  state.map = readout.map;
  state.settings = readout.settings;
  std::fprintf(console.out, "Read %i sections, %i measures, %i beats\n", state.map.sectionCount,
               state.map.totalMeasures, state.map.totalBeats);
  if (readout.capped) {
    std::fprintf(console.out, "Warning: only the first %i sections were read\n", kMaxReadSections);
  }
  return true;
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
