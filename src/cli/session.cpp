#include "cli/session.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "base/int32_math.h"
#include "cli/map_problems.h"
#include "cli/report_writer.h"
#include "grid/renderer.h"
#include "maps/map_reader.h"
#include "maps/midi_file.h"

namespace {

// What a map read held, for its summary line.
struct MapSummary {
  int32_t sections;
  int32_t measures;
  int32_t beats;
  bool capped;  // a text map of more sections than a read stores
};

void PrintSummary(FILE* out, const MapSummary& summary) {
  std::fprintf(out, "Read %i sections, %i measures, %i beats\n", summary.sections, summary.measures,
               summary.beats);
  if (summary.capped) {
    std::fprintf(out, "Warning: only the first %i sections were read\n", kMaxReadSections);
  }
}

// A file that could not be read, with the system's reason (`error`, an errno
// value) where it gave one.
void SetUnreadFailure(Failure& failure, const char* name, int error) {
  if (error == 0) {
    SetFailure(failure, "Error: Cannot read %s!\n", name);
  } else {
    SetFailure(failure, "Error: Cannot read %s: %s!\n", name, std::strerror(error));
  }
}

// A text map; the state changes only when the whole file was read.
bool ReadTextMap(RunState& state, FILE* file, const char* name, const MapDiagnostics* diagnostics,
                 MapSummary& summary, Failure& failure) {
  static_assert(sizeof(MapReadout) < size_t{64} * 1024, "the readout lives on the stack");
  MapReadout readout{state.map, state.settings, false};
  if (state.stopAtMidiEnd) readout.settings.stopMeasure = 0;
  if (!ParseMapText(file, readout, diagnostics)) {
    SetUnreadFailure(failure, name, errno);
    return false;
  }
  state.textMapInForce = true;
  state.stopAtMidiEnd = false;
  state.map = readout.map;
  state.settings = readout.settings;
  summary = MapSummary{state.map.sectionCount, state.map.totalMeasures, state.map.totalBeats,
                       readout.capped};
  return true;
}

// A MIDI file, read into the slot not in force: a refused file leaves the
// map in force as it was, and a MIDI map never touches the text map.
bool ReadMidiMapFile(RunState& state, FILE* file, const char* name, MapSummary& summary,
                     Failure& failure) {
  if (state.midi == nullptr) {
    state.midi.reset(new (std::nothrow) MidiState);
    if (state.midi == nullptr) {
      SetMidiFailure(failure, name, "not enough memory for its tables");
      return false;
    }
    state.midi->slot = 0;
  }
  MidiState& midi = *state.midi;
  const int32_t slot = 1 - midi.slot;
  MidiMap& map = midi.maps[slot];
  if (!ReadMidiMap(file, name, midi.reading, map, failure)) return false;
  midi.slot = slot;
  state.textMapInForce = false;
  if (state.stopAtMidiEnd) state.settings.stopMeasure = 0;
  state.stopAtMidiEnd = false;
  std::snprintf(midi.fileName, sizeof midi.fileName, "%s", name);
  summary = MapSummary{map.sectionCount, map.totalMeasures, map.totalBeats, false};
  return true;
}

// A map that was not read: its line (the system's reason, or the
// interactive "File not found!"), and the after-load rule.
bool SayNotRead(FILE* out, RunState& state, const Failure& failure, bool nameTheReason) {
  std::fputs(nameTheReason ? failure.message : "File not found!\n", out);
  ApplyAfterLoadRule(state);
  return false;
}

// Reads the map file `name` into the state and prints the summary line: a
// MIDI file when it begins with "MThd", else a text map, whose problems go to
// `diagnostics` when it is given. The file is opened once, so a pipe works as
// well. The after-load rule follows, but for a refused MIDI file, which
// changes nothing at all. False when the map was not read.
bool LoadMap(FILE* out, RunState& state, const char* name, const MapDiagnostics* diagnostics,
             bool nameTheReason) {
  Failure failure;
  errno = 0;
  FILE* file = std::fopen(name, "r");
  if (file == nullptr) {
    SetUnreadFailure(failure, name, errno);
    return SayNotRead(out, state, failure, nameTheReason);
  }
  MapSummary summary{};
  const bool midi = StartsAsMidiFile(file);
  const bool read = midi ? ReadMidiMapFile(state, file, name, summary, failure)
                         : ReadTextMap(state, file, name, diagnostics, summary, failure);
  (void)std::fclose(file);  // read only: closing cannot lose data
  if (!read && midi) {
    std::fputs(failure.message, out);
    return false;
  }
  if (!read) return SayNotRead(out, state, failure, nameTheReason);
  PrintSummary(out, summary);
  ApplyAfterLoadRule(state);
  return true;
}

}  // namespace

const MidiMap& MidiMapInForce(const RunState& state) {
  return state.midi->maps[state.midi->slot];
}

GridMap MapInForce(const RunState& state) {
  return state.textMapInForce ? TextGrid(state.map) : MidiGrid(MidiMapInForce(state));
}

// On a MIDI map the stop becomes its last measure: its grid goes on past
// the end, where a text map's holds nothing.
void ApplyAfterLoadRule(RunState& state) {
  if (state.settings.stopMeasure != 0) return;
  if (state.textMapInForce) {
    state.settings.stopMeasure = state.map.totalMeasures;
    return;
  }
  state.settings.stopMeasure = MidiMapInForce(state).totalMeasures - 1;
  state.stopAtMidiEnd = true;
}

bool LoadMapNamed(Console& console, RunState& state, const char* name) {
  if (!StoreFileName(console, state.mapFileName, name)) {
    ApplyAfterLoadRule(state);
    return false;
  }
  return LoadMap(console.out, state, state.mapFileName, nullptr, false);
}

bool LoadMapWithWarnings(FILE* out, RunState& state, const char* name, int64_t& problems) {
  ProblemPrinter printer{out, name, 0};
  const MapDiagnostics diagnostics = PrintingDiagnostics(printer);
  const bool read = LoadMap(out, state, name, &diagnostics, true);
  problems = printer.count;
  return read;
}

InputStatus LoadAskedMap(Console& console, RunState& state) {
  const InputStatus asked =
      AskFileName(console, "Enter name of tempo map file\n", state.mapFileName);
  if (asked == InputStatus::kRead) {
    LoadMap(console.out, state, state.mapFileName, nullptr, false);
  } else if (asked != InputStatus::kEnded) {
    ApplyAfterLoadRule(state);
  }
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
  const int32_t beats = state.textMapInForce ? map.totalBeats : MidiMapInForce(state).totalBeats;
  if (beats <= 0) {
    settings.startMeasure = 0;
    settings.stopMeasure = 0;
    state.stopAtMidiEnd = false;
  }
}

void SizeDefaultSection(TempoMap& map, const GridSettings& settings) {
  if (map.sectionCount <= 0) map.measures[0] = WrappingAdd(settings.stopMeasure, 1);
}

bool RenderReport(Console& console, RunState& state) {
  return RenderReportWithOffset(console, state, 0);
}

bool RenderReportWithOffset(Console& console, RunState& state, int64_t offsetSamples) {
  if (state.textMapInForce) SizeDefaultSection(state.map, state.settings);
  Failure failure;
  if (BuildReportWithOffset(MapInForce(state), state.settings, offsetSamples, state.report,
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

void PrintSaveOutcome(FILE* out, bool saved, uint64_t bytes, const Failure& failure) {
  if (saved) {
    std::fprintf(out, "Saved %llu bytes\n", static_cast<unsigned long long>(bytes));
  } else {
    std::fputs(failure.message, out);
  }
}

bool SaveReport(Console& console, RunState& state, bool nameGiven, OutputMode mode,
                InputStatus& input) {
  input = InputStatus::kRead;
  if (!nameGiven || state.outputFileName[0] == '\0') {
    input = AskFileName(console, "Enter file to write data to\n", state.outputFileName);
    if (input != InputStatus::kRead) return false;
  }
  Failure failure;  // the line of a failed save names no reason here
  const bool saved = WriteData(state.report, state.outputFileName, mode, failure);
  PrintSaveResult(console.out, state.outputFileName, saved,
                  static_cast<uint64_t>(state.report.length));
  PrintTruncationWarning(console.out, state.report);
  return saved;
}
