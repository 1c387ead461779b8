#include "cli/export_run.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "cli/grid_arguments.h"
#include "cli/help_text.h"
#include "cli/session.h"
#include "files/output_file.h"
#include "maps/beat_list_reader.h"
#include "maps/midi_file.h"

namespace {

// Exports are written as they are walked, in fixed memory; this bounds how
// long one may take and how large it may grow.
constexpr uint64_t kMostExportedPoints = 16777216;
// Bytes handed to the file or stream at once.
constexpr size_t kExportBufferBytes = size_t{1} << 20;

// "-", or a name that is the standard output itself (/dev/stdout).
bool IsStandardOutput(const char* name) {
  return IsStandardStream(name) || IsStandardOutputFile(name);
}

bool CheckPointCount(const GridMap& map, const GridSettings& settings, Failure& failure) {
  const uint64_t points = CountGridPoints(map, settings);
  if (points <= kMostExportedPoints) return true;
  SetFailure(failure, "Error: The range holds %llu grid points; an export holds at most %llu!\n",
             static_cast<unsigned long long>(points),
             static_cast<unsigned long long>(kMostExportedPoints));
  return false;
}

// Everything that could refuse the export is found here, before a byte is written.
bool PlanExport(const ExportFormat& format, const GridMap& map, const GridSettings& settings,
                const ExportSettings& placed, ExportPlan& plan, Failure& failure) {
  return CheckGrid(map, settings, failure) && CheckPointCount(map, settings, failure) &&
         (format.plan == nullptr || format.plan(map, settings, placed, plan, failure));
}

bool DrainToStream(void* stream, const void* data, size_t length) {
  return std::fwrite(data, 1, length, static_cast<FILE*>(stream)) == length;
}

// A file being saved, and the line of its failure.
struct SavingFile {
  OutputFile* file;
  Failure* failure;
};

bool DrainToFile(void* saving, const void* data, size_t length) {
  SavingFile& to = *static_cast<SavingFile*>(saving);
  return WriteOutput(*to.file, data, length, *to.failure);
}

// Writes the export through `sink`; false when a byte was lost.
bool WriteThrough(ExportSink& sink, const ExportFormat& format, const RunState& state,
                  const ExportSettings& placed, const ExportPlan& plan) {
  format.write(MapInForce(state), state.settings, placed, plan, sink);
  return FlushSink(sink);
}

bool SendToStandardOutput(FILE* out, const char* name, const ExportFormat& format,
                          const RunState& state, const ExportSettings& placed,
                          const ExportPlan& plan, uint64_t& bytes, Failure& failure) {
  auto buffer = std::make_unique<uint8_t[]>(kExportBufferBytes);
  ExportSink sink = DrainingSink(DrainToStream, out, buffer.get(), kExportBufferBytes);
  errno = 0;
  const bool written = WriteThrough(sink, format, state, placed, plan);
  bytes = sink.bytes;
  if (written && std::fflush(out) == 0 && !std::ferror(out)) return true;
  SetWriteFailure(failure, name, errno);
  return false;
}

struct ExportSource {
  const ExportFormat* format;
  const RunState* state;
  const ExportSettings* placed;
  const ExportPlan* plan;
};

// The export's length, walked without writing: asked only when a file must
// be overwritten in place, with its room reserved first.
uint64_t CountExportBytes(const void* source) {
  const auto& job = *static_cast<const ExportSource*>(source);
  ExportSink sink = CountingSink();
  WriteThrough(sink, *job.format, *job.state, *job.placed, *job.plan);
  return sink.bytes;
}

// Replaces the file whole, or leaves it as it was; FinishOutput(file)
// follows once the outcome is told.
bool SaveToFile(const char* name, const ExportFormat& format, const RunState& state,
                const ExportSettings& placed, const ExportPlan& plan, uint64_t& bytes,
                OutputFile& file, Failure& failure) {
  SavingFile saving{&file, &failure};
  const ExportSource source{&format, &state, &placed, &plan};
  if (!OpenOutput(name, OutputMode::kReplace, OutputLength{CountExportBytes, &source}, *saving.file,
                  failure)) {
    return false;
  }
  auto buffer = std::make_unique<uint8_t[]>(kExportBufferBytes);
  ExportSink sink = DrainingSink(DrainToFile, &saving, buffer.get(), kExportBufferBytes);
  const bool written = WriteThrough(sink, format, state, placed, plan);
  bytes = sink.bytes;
  if (!written) {
    AbandonOutput(*saving.file);
    return false;
  }
  return CommitOutput(*saving.file, failure);
}

// A map a beat list's export would replace: a text map unless the export
// is one, or a MIDI file unless the export is one. With the two names
// swapped, the map would be read as the list and lost.
bool IsMapToKeep(const char* out, const ExportFormat& format) {
  FILE* file = std::fopen(out, "r");
  if (file == nullptr) return false;
  std::string text;
  const bool midi = StartsAsMidiFile(file);
  const bool keep = midi ? std::strcmp(format.name, "midi") != 0
                         : std::strcmp(format.name, "map") != 0 && ReadWholeText(file, text) &&
                               HoldsTmapWord(text);
  (void)std::fclose(file);  // read only: closing cannot lose data
  return keep;
}

// An export replaces OUT whole: it must not be the map it was made from
// (the two names swapped), nor come from a file that held no tempo map.
bool CheckMapIsKept(const RunState& state, const ExportFormat& format, const char* mapName,
                    const char* out, Failure& failure) {
  // A MIDI map always holds one: its tempo and meter start at tick 0.
  if (state.textMapInForce && state.map.sectionCount <= 0) {
    SetFailure(failure, "Error: %s holds no tempo map; nothing exported!\n", mapName);
    return false;
  }
  if (state.fitted != nullptr && !IsStandardOutput(out) && IsMapToKeep(out, format)) {
    SetFailure(failure,
               "Error: %s is a tempo map; an export of the beat list %s never replaces it!\n", out,
               mapName);
    return false;
  }
  struct stat map {};
  struct stat output {};
  if (IsStandardOutput(out) || IsStandardStream(mapName) || stat(mapName, &map) != 0 ||
      stat(out, &output) != 0 || map.st_dev != output.st_dev || map.st_ino != output.st_ino) {
    return true;
  }
  SetFailure(failure, "Error: %s is the tempo map itself; an export never replaces it!\n", out);
  return false;
}

// The warnings of an export's plan, printed with its other lines and counted.
struct WarningPrinter {
  FILE* out;
  int64_t count;
};

void PrintWarning(void* context, const char* line) {
  auto& printer = *static_cast<WarningPrinter*>(context);
  std::fputs(line, printer.out);
  ++printer.count;
}

// The plan's warnings are `told`, and what it says besides `notes`.
bool TellPlanLines(const ExportWarnings& told, const ExportWarnings& notes,
                   ExportSettings& placed) {
  placed.warnings = &told;
  placed.notes = &notes;
  return true;
}

int Export(Console& console, FILE* messages, const ExportFormat& format, const CommandLine& line) {
  PrintBanner(messages);
  const Arguments& arguments = line.positional;
  Failure failure;
  GridArguments numbers{};
  if (!ReadGridArguments(arguments, NumberReading::kWholeOnly, line.firstMeasure, messages, numbers,
                         failure)) {
    std::fputs(failure.message.c_str(), messages);
    return failure.status;
  }
  static_assert(sizeof(RunState) + sizeof(ExportPlan) < size_t{512} * 1024,
                "the state and the plan live on the stack");
  RunState state;
  InitRunState(state);
  state.fitOptions = line.fit;
  state.midiBeat = line.beat;
  int64_t problems = 0;
  if (!LoadMapWithWarnings(messages, console.in, state, arguments.values[0], problems) ||
      !StrictAllows(messages, line.strict, problems)) {
    return 1;
  }
  ApplyGridArguments(numbers, line.firstMeasure, state.settings);
  if (state.textMapInForce) SizeDefaultSection(state.map, state.settings);
  ExportSettings placed;
  ExportPlan plan{};
  WarningPrinter printer{messages, 0};
  const ExportWarnings told{&printer, PrintWarning};
  WarningPrinter notePrinter{messages, 0};
  const ExportWarnings notes{&notePrinter, PrintWarning};
  if (!CheckMapIsKept(state, format, arguments.values[0], arguments.values[1], failure) ||
      !ResolveRunSettings(line.exportOptions, state, arguments.values[0], placed, failure) ||
      !TellPlanLines(told, notes, placed) ||
      !PlanExport(format, MapInForce(state), state.settings, placed, plan, failure)) {
    std::fputs(failure.message.c_str(), messages);
    return failure.status;
  }
  if (!StrictAllows(messages, line.strict, printer.count)) return 1;
  const char* name = arguments.values[1];
  uint64_t bytes = 0;
  OutputFile file{};
  const bool saved =
      IsStandardOutput(name)
          ? SendToStandardOutput(console.out, name, format, state, placed, plan, bytes, failure)
          : SaveToFile(name, format, state, placed, plan, bytes, file, failure);
  PrintSaveOutcome(messages, saved, bytes, failure);
  (void)std::fflush(messages);  // told before a held signal acts
  FinishOutput(file);
  return saved ? 0 : 1;
}

}  // namespace

int RunExport(Console& console, const ExportFormat& format, const CommandLine& line) {
  const Arguments& arguments = line.positional;
  if (arguments.values[1][0] == '\0') {
    std::fputs("Error: An export needs an output file name, or - for standard output!\n",
               console.out);
    return 1;
  }
  FILE* messages = IsStandardOutput(arguments.values[1]) ? console.errors : console.out;
  const int status = Export(console, messages, format, line);
  return std::fflush(messages) == 0 && !std::ferror(messages) ? status : 1;
}
