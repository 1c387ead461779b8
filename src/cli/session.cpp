#include "cli/session.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

#include "base/int32_math.h"
#include "cli/map_problems.h"
#include "cli/options.h"
#include "cli/report_writer.h"
#include "grid/beat_fit.h"
#include "grid/renderer.h"
#include "maps/beat_list_reader.h"
#include "maps/map_reader.h"
#include "maps/midi_file.h"
#include "maps/recording_beats.h"
#include "maps/sound_signature.h"

namespace {

// Where a map is read from, and how what goes wrong with it is told.
struct MapSource {
  const char* name;
  FILE* standardInput;      // what the name "-" reads; none: a file of that name
  ProblemPrinter& printer;  // each problem of the map, as it is met
  bool namesSystemReason;   // a file not read is named with the system's reason
};

void PrintSummary(FILE* out, int32_t sections, int32_t measures, int32_t beats) {
  std::fprintf(out, "Read %i sections, %i measures, %i beats\n", sections, measures, beats);
}

// A file that could not be read leaves the map as it was, and the
// after-load rule follows all the same; `error` is the system's reason.
bool FailToRead(RunState& state, const MapSource& source, int error, Failure& failure) {
  if (!source.namesSystemReason) {
    SetFailure(failure, "File not found!\n");
  } else if (error == 0) {
    SetFailure(failure, "Error: Cannot read %s!\n", source.name);
  } else {
    SetFailure(failure, "Error: Cannot read %s: %s!\n", source.name, std::strerror(error));
  }
  ApplyAfterLoadRule(state);
  return false;
}

// A text map; the state changes only when the whole file was read.
bool ReadTextMap(FILE* out, RunState& state, FILE* file, const MapDiagnostics& diagnostics) {
  static_assert(sizeof(MapReadout) < size_t{64} * 1024, "the readout lives on the stack");
  MapReadout readout{state.map, state.settings, false, OffsetOption{}, SettingsLines{}, ""};
  if (state.stopAtMidiEnd) readout.settings.stopMeasure = 0;
  if (!ParseMapText(file, readout, &diagnostics)) return false;
  state.textMapInForce = true;
  state.stopAtMidiEnd = false;
  state.mapOffset = readout.offset;
  state.mapLines = readout.lines;
  state.fitted.reset();
  state.map = readout.map;
  state.settings = readout.settings;
  std::memcpy(state.mapTitle, readout.title, sizeof state.mapTitle);
  PrintSummary(out, state.map.sectionCount, state.map.totalMeasures, state.map.totalBeats);
  if (readout.capped) {
    std::fprintf(out, "Warning: only the first %i sections were read\n", kMaxReadSections);
  }
  return true;
}

// A MIDI file, read into the slot not in force: a refused file leaves the
// map in force as it was, and a MIDI map never touches the text map.
bool ReadMidiMapFile(FILE* out, RunState& state, FILE* file, const MapSource& source,
                     Failure& failure) {
  if (state.midi == nullptr) {
    state.midi.reset(new (std::nothrow) MidiState);
    if (state.midi == nullptr) {
      SetMidiFailure(failure, source.name, "not enough memory for its tables");
      return false;
    }
    state.midi->slot = 0;
  }
  MidiState& midi = *state.midi;
  const int32_t slot = 1 - midi.slot;
  MidiMap& map = midi.maps[slot];
  if (!ReadMidiMap(file, source.name, midi.reading, map, failure, state.midiBeat)) return false;
  midi.slot = slot;
  state.textMapInForce = false;
  state.mapOffset = OffsetOption{false, false, 0.0, 0};
  state.fitted.reset();
  if (state.stopAtMidiEnd) state.settings.stopMeasure = 0;
  state.stopAtMidiEnd = false;
  std::snprintf(midi.fileName, sizeof midi.fileName, "%s", source.name);
  state.mapTitle[0] = '\0';  // a MIDI file has no title line
  ReportMidiProblems(source.printer, midi.reading.contents);
  PrintSummary(out, map.sectionCount, map.totalMeasures, map.totalBeats);
  return true;
}

void PrintFitted(FILE* out, const FittedMap& fitted) {
  std::fprintf(out,
               "Fitted %zu beats into %zu sections: largest error %.1f ms (line %i), %lli beats "
               "left out, %lli missing\n",
               fitted.beats.size(), fitted.sections.size(), fitted.largestErrorMs,
               fitted.largestErrorLine, static_cast<long long>(fitted.leftOut),
               static_cast<long long>(fitted.missing));
}

// Each beat no section holds, by its line, as a problem of the list.
void PrintLeftOutBeats(ProblemPrinter& printer, const FittedMap& fitted) {
  for (const FittedBeat& beat : fitted.beats) {
    if (!beat.leftOut) continue;
    std::fprintf(printer.out,
                 "%s:%i: the beat at %.6f is left out: %.1f ms from the nearest grid beat, past "
                 "the tolerance\n",
                 printer.mapName, beat.line, beat.seconds, std::fabs(beat.errorMs));
    ++printer.count;
  }
}

// Listed or found beats fitted into a text map that is then in force, with
// measure 1 where the fit puts it; beats that cannot be fitted are refused
// and change nothing.
bool FitIntoMap(FILE* out, RunState& state, const std::vector<ListedBeat>& beats,
                const MapSource& source, Failure& failure) {
  auto fitted = std::make_unique<FittedMap>();
  if (!FitBeats(beats, state.fitOptions, *fitted, failure)) return false;
  PrintLeftOutBeats(source.printer, *fitted);
  FillTempoMap(*fitted, state.map);
  state.textMapInForce = true;
  state.mapTitle[0] = '\0';  // beats have no title line
  if (state.stopAtMidiEnd) state.settings.stopMeasure = 0;
  state.stopAtMidiEnd = false;
  state.mapOffset = OffsetOption{true, false, fitted->offsetSeconds, 0};
  PrintFitted(out, *fitted);
  PrintSummary(out, state.map.sectionCount, state.map.totalMeasures, state.map.totalBeats);
  state.fitted = std::move(fitted);
  return true;
}

// A list of beat times, fitted into a text map; the lines that cannot be
// read are the list's problems.
bool ReadBeatListMap(FILE* out, RunState& state, std::string_view text, const MapSource& source,
                     Failure& failure) {
  BeatListReadout readout;
  ReadBeatListText(text, readout);
  ReportBeatLineProblems(source.printer, readout.problems);
  return FitIntoMap(out, state, readout.beats, source, failure);
}

// A recording: its beats found, then fitted as a beat list is. Without RATE
// its grid's sample positions are at the recording's own rate. One that
// cannot be read, or holds no beat, is refused and changes nothing.
bool ReadRecordingMap(FILE* out, RunState& state, const MapSource& source, Failure& failure) {
  RecordingBeats found;
  if (!FindRecordingBeats(source.name, state.fitOptions.meter, found, failure) ||
      !FitIntoMap(out, state, found.beats, source, failure)) {
    return false;
  }
  state.settings.sampleRate = found.sampleRate;
  return true;
}

// A text file: a beat list, or a text map read from its text in memory.
bool ReadTextFile(FILE* out, RunState& state, FILE* file, const MapSource& source,
                  Failure& failure) {
  std::string text;
  if (!ReadWholeText(file, text)) return FailToRead(state, source, errno, failure);
  if (IsBeatListText(text)) return ReadBeatListMap(out, state, text, source, failure);
  FILE* memory = fmemopen(text.data(), text.size(), "r");
  if (memory == nullptr) return FailToRead(state, source, errno, failure);
  const bool read = ReadTextMap(out, state, memory, PrintingDiagnostics(source.printer));
  const int error = errno;
  (void)std::fclose(memory);
  return read || FailToRead(state, source, error, failure);
}

// An opened map file: a recording when it begins as a sound file (read
// again by its name, so never from a pipe, whose first bytes are gone), a
// MIDI file (or a RIFF file holding one) when it begins with "MThd", else a
// beat list or a text map.
bool ReadOpenedMap(FILE* out, RunState& state, FILE* file, bool piped, const MapSource& source,
                   Failure& failure) {
  if (StartsAsSoundFile(file)) {
    if (!piped) return ReadRecordingMap(out, state, source, failure);
    SetFailure(failure, "Error: A recording cannot be read from standard input; name its file!\n");
    return false;
  }
  if (StartsAsMidiFile(file)) return ReadMidiMapFile(out, state, file, source, failure);
  return ReadTextFile(out, state, file, source, failure);
}

// Reads the map file into the state and prints its summary line. The file
// is opened once, so a pipe works as well. A file that cannot be read and a
// map that is refused both leave the map in force as it was; only the
// first is followed by the after-load rule.
bool LoadMap(FILE* out, RunState& state, const MapSource& source, Failure& failure) {
  const bool piped = source.standardInput != nullptr && IsStandardStream(source.name);
  errno = 0;
  FILE* file = piped ? source.standardInput : std::fopen(source.name, "r");
  if (file == nullptr) return FailToRead(state, source, errno, failure);
  const bool read = ReadOpenedMap(out, state, file, piped, source, failure);
  if (!piped) (void)std::fclose(file);  // read only: closing cannot lose data
  if (read) ApplyAfterLoadRule(state);
  return read;
}

// The map named `state.mapFileName`, its problems told on standard error.
bool LoadStoredName(Console& console, RunState& state, FILE* standardInput, int64_t& problems) {
  ProblemPrinter printer{console.errors, state.mapFileName, 0};
  Failure failure;
  const bool read = LoadMap(console.out, state,
                            MapSource{state.mapFileName, standardInput, printer, false}, failure);
  if (!read) std::fputs(failure.message.c_str(), console.out);
  problems = printer.count;
  return read;
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

bool LoadMapNamed(Console& console, RunState& state, const char* name, int64_t& problems) {
  problems = 0;
  if (StoreFileName(console, state.mapFileName, name)) {
    return LoadStoredName(console, state, console.in, problems);
  }
  ApplyAfterLoadRule(state);
  return false;
}

void PrintFittedSections(FILE* out, const FittedMap& fitted) {
  for (size_t k = 0; k < fitted.sections.size(); ++k) {
    const FittedSection& section = fitted.sections[k];
    std::fprintf(out,
                 "Section %zu at measure %i: tempo %.3f, %i beats per measure, %i measures, "
                 "largest error %.1f ms (line %i)\n",
                 k + 1, section.firstMeasure + 1, static_cast<double>(section.tempo),
                 section.beatsPerMeasure, section.measures, section.largestErrorMs,
                 section.largestErrorLine);
  }
}

bool LoadMapWithWarnings(FILE* out, FILE* standardInput, RunState& state, const char* name,
                         int64_t& problems) {
  ProblemPrinter printer{out, name, 0};
  Failure failure;
  const bool read = LoadMap(out, state, MapSource{name, standardInput, printer, true}, failure);
  if (!read) std::fputs(failure.message.c_str(), out);
  problems = printer.count;
  return read;
}

InputStatus LoadAskedMap(Console& console, RunState& state) {
  const InputStatus asked =
      AskFileName(console, "Enter name of tempo map file\n", state.mapFileName);
  if (asked == InputStatus::kRead) {
    // Standard input holds the commands: "-" here is a file of that name.
    int64_t problems = 0;
    (void)LoadStoredName(console, state, nullptr, problems);
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
  ExportSettings placed;
  Failure failure;
  if (!ResolveRunSettings(ExportOptions{}, state, state.mapFileName, placed, failure)) {
    std::fputs(failure.message.c_str(), console.out);
    return false;
  }
  return RenderReportWithOffset(console, state, placed.offsetSamples);
}

bool ResolveRunSettings(const ExportOptions& options, const RunState& state, const char* mapName,
                        ExportSettings& placed, Failure& failure) {
  ExportOptions chosen = options;
  if (!options.offset.given && !IsNoOffset(state.mapOffset)) {
    if (state.settings.sampleRate == 0) {
      SetFailure(failure,
                 "Error: Measure 1 of %s begins at an offset, which needs a sample rate "
                 "above 0!\n",
                 mapName);
      return false;
    }
    chosen.offset = state.mapOffset;
  }
  if (!ResolveExportSettings(chosen, state.settings.sampleRate, mapName, placed, failure)) {
    return false;
  }
  if (state.textMapInForce && state.fitted == nullptr) placed.mapLines = &state.mapLines;
  // The map's title line names the song where a file names it.
  if (state.mapTitle[0] != '\0') placed.title = state.mapTitle;
  if (state.fitted != nullptr) {
    placed.marks =
        BeatMarks{state.fitted->beats.data(), static_cast<int64_t>(state.fitted->beats.size())};
  }
  return true;
}

bool RenderReportWithOffset(Console& console, RunState& state, int64_t offsetSamples) {
  if (state.textMapInForce) SizeDefaultSection(state.map, state.settings);
  Failure failure;
  if (BuildReportWithOffset(MapInForce(state), state.settings, offsetSamples, state.report,
                            failure)) {
    return true;
  }
  std::fputs(failure.message.c_str(), console.out);
  return false;
}

void PrintTruncationWarning(FILE* out, FILE* hints, const ReportText& report) {
  if (!report.truncated) return;
  std::fprintf(out, "Warning: report truncated to %i characters\n", report.length);
  std::fputs(
      "The whole grid, of any length: beatstamps1a --format=csv MAP OUT [RATE [START "
      "[STOP [DIVISIONS]]]]\n",
      hints);
}

bool StrictAllows(FILE* out, bool strict, int64_t warnings) {
  if (!strict || warnings == 0) return true;
  std::fprintf(out, "Error: --strict allows no warning, and there %s %lld; nothing written!\n",
               warnings == 1 ? "is" : "are", static_cast<long long>(warnings));
  return false;
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
    std::fputs(failure.message.c_str(), out);
  }
}

bool SaveReport(Console& console, RunState& state, bool nameGiven, OutputMode mode,
                InputStatus& input) {
  input = InputStatus::kRead;
  if (!nameGiven || state.outputFileName[0] == '\0') {
    input = AskFileName(console, "Enter file to write data to\n", state.outputFileName);
    if (input != InputStatus::kRead) return false;
  }
  OutputFile file{};
  Failure failure;  // the line of a failed save names no reason here
  const bool saved =
      WriteData(state.report, state.outputFileName, mode, console.out, file, failure);
  PrintSaveResult(console.out, state.outputFileName, saved,
                  static_cast<uint64_t>(state.report.length));
  PrintTruncationWarning(console.out, console.errors, state.report);
  (void)std::fflush(console.out);  // told before a held signal acts
  FinishOutput(file);
  return saved;
}
