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

// How a map read ended. A refused MIDI file changes nothing at all: not
// even the after-load rule follows it.
enum class MapRead { kRead, kNotRead, kRefused };

void PrintSummary(FILE* out, int32_t sections, int32_t measures, int32_t beats) {
  std::fprintf(out, "Read %i sections, %i measures, %i beats\n", sections, measures, beats);
}

// A text map; the state changes only when the whole file was read.
bool ReadTextMap(FILE* out, RunState& state, FILE* file, const MapDiagnostics* diagnostics) {
  static_assert(sizeof(MapReadout) < size_t{64} * 1024, "the readout lives on the stack");
  MapReadout readout{state.map, state.settings, false, OffsetOption{}, SettingsLines{}, ""};
  if (state.stopAtMidiEnd) readout.settings.stopMeasure = 0;
  if (!ParseMapText(file, readout, diagnostics)) return false;
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
MapRead ReadMidiMapFile(FILE* out, RunState& state, FILE* file, const char* name,
                        ProblemPrinter* printer) {
  Failure failure;
  if (state.midi == nullptr) {
    state.midi.reset(new (std::nothrow) MidiState);
    if (state.midi == nullptr) {
      SetMidiFailure(failure, name, "not enough memory for its tables");
      std::fputs(failure.message, out);
      return MapRead::kRefused;
    }
    state.midi->slot = 0;
  }
  MidiState& midi = *state.midi;
  const int32_t slot = 1 - midi.slot;
  MidiMap& map = midi.maps[slot];
  if (!ReadMidiMap(file, name, midi.reading, map, failure, state.midiBeat)) {
    std::fputs(failure.message, out);
    return MapRead::kRefused;
  }
  midi.slot = slot;
  state.textMapInForce = false;
  state.mapOffset = OffsetOption{false, false, 0.0, 0};
  state.fitted.reset();
  if (state.stopAtMidiEnd) state.settings.stopMeasure = 0;
  state.stopAtMidiEnd = false;
  std::snprintf(midi.fileName, sizeof midi.fileName, "%s", name);
  state.mapTitle[0] = '\0';  // a MIDI file has no title line
  if (printer != nullptr) ReportMidiProblems(*printer, midi.reading.contents);
  PrintSummary(out, map.sectionCount, map.totalMeasures, map.totalBeats);
  return MapRead::kRead;
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
void PrintLeftOutBeats(FILE* out, const char* name, const FittedMap& fitted, int64_t& problems) {
  for (const FittedBeat& beat : fitted.beats) {
    if (!beat.leftOut) continue;
    std::fprintf(out,
                 "%s:%i: the beat at %.6f is left out: %.1f ms from the nearest grid beat, past "
                 "the tolerance\n",
                 name, beat.line, beat.seconds, std::fabs(beat.errorMs));
    ++problems;
  }
}

// Listed or found beats fitted into a text map that is then in force, with
// measure 1 where the fit puts it; beats that cannot be fitted are refused
// and change nothing. The beats left out go to `printer` when it is given.
MapRead FitIntoMap(FILE* out, RunState& state, const std::vector<ListedBeat>& beats,
                   const char* name, ProblemPrinter* printer) {
  auto fitted = std::make_unique<FittedMap>();
  Failure failure;
  if (!FitBeats(beats, state.fitOptions, *fitted, failure)) {
    std::fputs(failure.message, out);
    return MapRead::kRefused;
  }
  if (printer != nullptr) PrintLeftOutBeats(printer->out, name, *fitted, printer->count);
  FillTempoMap(*fitted, state.map);
  state.textMapInForce = true;
  state.mapTitle[0] = '\0';  // beats have no title line
  if (state.stopAtMidiEnd) state.settings.stopMeasure = 0;
  state.stopAtMidiEnd = false;
  state.mapOffset = OffsetOption{true, false, fitted->offsetSeconds, 0};
  PrintFitted(out, *fitted);
  PrintSummary(out, state.map.sectionCount, state.map.totalMeasures, state.map.totalBeats);
  state.fitted = std::move(fitted);
  return MapRead::kRead;
}

// A list of beat times, fitted into a text map that is then in force, with
// measure 1 where the fit puts it. A list that cannot be fitted is refused
// and changes nothing. Lines that cannot be read go to `printer` when given.
MapRead ReadBeatListMap(FILE* out, RunState& state, std::string_view text, const char* name,
                        ProblemPrinter* printer) {
  BeatListReadout readout;
  ReadBeatListText(text, readout);
  if (printer != nullptr) {
    for (const BeatLineProblem& problem : readout.problems) {
      PrintBeatLineProblem(printer->out, name, problem);
      ++printer->count;
    }
  }
  return FitIntoMap(out, state, readout.beats, name, printer);
}

// A recording: its beats found, then fitted as a beat list is. Without RATE
// its grid's sample positions are at the recording's own rate. One that
// cannot be read, or holds no beat, is refused and changes nothing.
MapRead ReadRecordingMap(FILE* out, RunState& state, const char* name, ProblemPrinter* printer) {
  RecordingBeats found;
  Failure failure;
  if (!FindRecordingBeats(name, state.fitOptions.meter, found, failure)) {
    std::fputs(failure.message, out);
    return MapRead::kRefused;
  }
  const MapRead read = FitIntoMap(out, state, found.beats, name, printer);
  if (read == MapRead::kRead) state.settings.sampleRate = found.sampleRate;
  return read;
}

// A recording is read by its name, and the bytes of a pipe that told it
// apart are gone from its start.
MapRead RefusePipedRecording(FILE* out) {
  std::fputs("Error: A recording cannot be read from standard input; name its file!\n", out);
  return MapRead::kRefused;
}

// A text file: a beat list, or a text map read from its text in memory.
MapRead ReadTextFile(FILE* out, RunState& state, FILE* file, const char* name,
                     ProblemPrinter* printer) {
  std::string text;
  if (!ReadWholeText(file, text)) return MapRead::kNotRead;
  if (IsBeatListText(text)) return ReadBeatListMap(out, state, text, name, printer);
  FILE* memory = fmemopen(text.data(), text.size(), "r");
  if (memory == nullptr) return MapRead::kNotRead;
  MapDiagnostics diagnostics{};
  if (printer != nullptr) diagnostics = PrintingDiagnostics(*printer);
  const bool read = ReadTextMap(out, state, memory, printer != nullptr ? &diagnostics : nullptr);
  (void)std::fclose(memory);
  return read ? MapRead::kRead : MapRead::kNotRead;
}

// Reads the map file `name` into the state and prints the summary line: a
// recording when it begins as a sound file, a MIDI file (or a RIFF file
// holding one) when it begins with "MThd", else a beat list or a text map;
// the problems of each go to `printer` when it is given. The name "-" is
// `standardInput` where that is given. The file is opened once, so a pipe
// works as well. Not read: errno says why.
MapRead ReadMapInto(FILE* out, RunState& state, const char* name, FILE* standardInput,
                    ProblemPrinter* printer) {
  const bool piped = standardInput != nullptr && IsStandardStream(name);
  FILE* file = piped ? standardInput : std::fopen(name, "r");
  if (file == nullptr) return MapRead::kNotRead;
  MapRead read = MapRead::kNotRead;
  if (StartsAsSoundFile(file)) {
    read = piped ? RefusePipedRecording(out) : ReadRecordingMap(out, state, name, printer);
  } else if (StartsAsMidiFile(file)) {
    read = ReadMidiMapFile(out, state, file, name, printer);
  } else {
    read = ReadTextFile(out, state, file, name, printer);
  }
  if (piped) return read;
  const int error = errno;
  (void)std::fclose(file);  // read only: closing cannot lose data
  errno = error;
  return read;
}

// Reads `state.mapFileName`, its problems told on standard error.
MapRead ReadNamedMap(Console& console, RunState& state, FILE* standardInput, int64_t& problems) {
  ProblemPrinter printer{console.errors, state.mapFileName, 0};
  const MapRead read = ReadMapInto(console.out, state, state.mapFileName, standardInput, &printer);
  if (read == MapRead::kNotRead) std::fputs("File not found!\n", console.out);
  problems = printer.count;
  return read;
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
  const MapRead read = StoreFileName(console, state.mapFileName, name)
                           ? ReadNamedMap(console, state, console.in, problems)
                           : MapRead::kNotRead;
  if (read != MapRead::kRefused) ApplyAfterLoadRule(state);
  return read == MapRead::kRead;
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
  errno = 0;
  const MapRead read = ReadMapInto(out, state, name, standardInput, &printer);
  if (read == MapRead::kNotRead) PrintFailedFile(out, "read", name, errno);
  if (read != MapRead::kRefused) ApplyAfterLoadRule(state);
  problems = printer.count;
  return read == MapRead::kRead;
}

InputStatus LoadAskedMap(Console& console, RunState& state) {
  const InputStatus asked =
      AskFileName(console, "Enter name of tempo map file\n", state.mapFileName);
  // Standard input holds the commands: "-" here is a file of that name.
  int64_t problems = 0;
  const MapRead read = asked == InputStatus::kRead ? ReadNamedMap(console, state, nullptr, problems)
                                                   : MapRead::kNotRead;
  if (asked != InputStatus::kEnded && read != MapRead::kRefused) ApplyAfterLoadRule(state);
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
    std::fputs(failure.message, console.out);
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
  std::fputs(failure.message, console.out);
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
