#include <cstring>

#include "click_track.h"
#include "export_sink.h"
#include "front_end.h"
#include "grid_walk.h"
#include "midi_export.h"
#include "output_file.h"
#include "text_exports.h"

namespace {

// Exports are written as they are walked, in fixed memory; this bounds how
// long one may take and how large it may grow.
constexpr uint64_t kMostExportedPoints = 16777216;

struct ExportPlan {
  ExportFormat format;
  int32_t sectionCount;
  GridSettings settings;
  MidiPlan midi;
  ClickPlan click;
};

bool IsStandardOutput(const char* name) {
  return std::strcmp(name, "-") == 0;
}

bool CheckPointCount(const TempoMap& map, const ExportPlan& plan, RenderFailure& failure) {
  const uint64_t points = CountGridPoints(map, plan.sectionCount, plan.settings);
  if (points <= kMostExportedPoints) return true;
  SetFailure(failure, "Error: The range holds %llu grid points; an export holds at most %llu!\n",
             static_cast<unsigned long long>(points),
             static_cast<unsigned long long>(kMostExportedPoints));
  return false;
}

// Everything that could refuse the export is found here, before a byte is written.
bool PlanExport(RunState& state, ExportPlan& plan, RenderFailure& failure) {
  plan.settings =
      GridSettings{state.sampleRate, state.startMeasure, state.stopMeasure, state.divisionsPerBeat};
  if (!PrepareGrid(state.map, plan.settings, plan.sectionCount, failure)) return false;
  if (!CheckGrid(state.map, plan.sectionCount, failure)) return false;
  if (!CheckPointCount(state.map, plan, failure)) return false;
  if (plan.format == ExportFormat::kMidi) {
    return PlanMidi(state.map, plan.sectionCount, plan.settings, plan.midi, failure);
  }
  if (plan.format == ExportFormat::kClick) {
    return PlanClickTrack(state.map, plan.sectionCount, plan.settings, plan.click, failure);
  }
  return true;
}

void WriteExport(const TempoMap& map, const ExportPlan& plan, ExportSink& sink) {
  switch (plan.format) {
    case ExportFormat::kLabels:
      WriteLabels(map, plan.sectionCount, plan.settings, sink);
      break;
    case ExportFormat::kCsv:
      WriteCsv(map, plan.sectionCount, plan.settings, sink);
      break;
    case ExportFormat::kMidi:
      WriteMidi(map, plan.sectionCount, plan.settings, plan.midi, sink);
      break;
    case ExportFormat::kClick:
      WriteClickTrack(map, plan.sectionCount, plan.settings, plan.click, sink);
      break;
    case ExportFormat::kGrid:  // appended through the report writer instead
      break;
  }
}

bool SendToStandardOutput(FILE* out, const TempoMap& map, const ExportPlan& plan, uint64_t& bytes) {
  ExportSink sink = StreamSink(out);
  WriteExport(map, plan, sink);
  bytes = sink.bytes;
  return !sink.failed && std::fflush(out) == 0 && !std::ferror(out);
}

// Replaces the file whole, or leaves it as it was.
bool SaveToFile(const char* name, const TempoMap& map, const ExportPlan& plan, uint64_t& bytes) {
  OutputFile file;
  if (!OpenOutput(name, OutputMode::kReplace, file)) return false;
  ExportSink sink = StreamSink(file.stream);
  WriteExport(map, plan, sink);
  bytes = sink.bytes;
  if (sink.failed) {
    AbandonOutput(file);
    return false;
  }
  return CommitOutput(file);
}

bool SaveExport(Console& console, const char* name, const TempoMap& map, const ExportPlan& plan,
                uint64_t& bytes) {
  if (IsStandardOutput(name)) return SendToStandardOutput(console.out, map, plan, bytes);
  return SaveToFile(name, map, plan, bytes);
}

int Export(Console& console, Console& messages, ExportFormat format, int argumentCount,
           char** arguments) {
  PrintBanner(messages.out);
  static_assert(sizeof(RunState) + sizeof(ExportPlan) < size_t{512} * 1024,
                "the state and the plan live on the stack");
  RunState state;
  InitRunState(state);
  if (!LoadMapArgument(messages, state, arguments[1])) return 1;
  ApplyBatchArguments(state, argumentCount, arguments);
  ExportPlan plan{};
  plan.format = format;
  RenderFailure failure;
  if (!PlanExport(state, plan, failure)) {
    std::fputs(failure.message, messages.out);
    return 1;
  }
  const char* name = arguments[2];
  if (!StoreFileName(messages, state.outputFileName, name)) return 1;
  uint64_t bytes = 0;
  if (!SaveExport(console, name, state.map, plan, bytes)) {
    std::fprintf(messages.out, "Error: Cannot write to %s!\n", name);
    return 1;
  }
  std::fprintf(messages.out, "Saved %llu bytes\n", static_cast<unsigned long long>(bytes));
  return 0;
}

}  // namespace

int RunExport(Console& console, ExportFormat format, int argumentCount, char** arguments) {
  if (arguments[2][0] == '\0') {
    std::fputs("Error: An export needs an output file name, or - for standard output!\n",
               console.out);
    return 1;
  }
  Console messages = console;
  if (IsStandardOutput(arguments[2])) messages.out = console.errors;
  const int status = Export(console, messages, format, argumentCount, arguments);
  return std::fflush(messages.out) == 0 && !std::ferror(messages.out) ? status : 1;
}
