// MIDI files: the input is a file's bytes. A refused file must say why in
// one line; an accepted one must make a map whose tables agree with each
// other, whose walk gives as many points as it counts, in time order, and
// whose MIDI export, planned to the byte, reads back as the same grid, and
// placed in a recording is planned to the byte and reads back; its osu and
// ssc files are written or refused in one line.
//
// The last input byte picks the divisions per beat and the range, so the
// walk stays short whatever the map.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "exports/midi_export.h"
#include "exports/osu_export.h"
#include "exports/ssc_export.h"
#include "grid/midi_grid.h"
#include "grid/renderer.h"
#include "maps/midi_map.h"

namespace {

constexpr char kRefusal[] = "Error: Cannot read fuzz.mid as a MIDI file: ";

struct Tables {
  MidiReading reading;
  MidiMap map;
  MidiMap readBack;
  ReportText report;
  MidiPlan plan;
};
Tables* tables;  // too large for the stack; made once

void Check(bool holds) {
  if (!holds) std::abort();
}

bool Read(const uint8_t* data, size_t size, MidiMap& map, Failure& failure) {
  std::vector<uint8_t> bytes(data, data + size);
  FILE* file = fmemopen(bytes.data(), bytes.size(), "r");
  Check(file != nullptr);
  const bool read = ReadMidiMap(file, "fuzz.mid", tables->reading, map, failure);
  (void)std::fclose(file);
  return read;
}

// A refusal of an export: one line in the program's voice, "Error: ...!",
// with what it names, "(section 3)", after it.
void CheckOneLine(const Failure& failure) {
  const std::string& message = failure.message;
  Check(message.rfind("Error: ", 0) == 0);
  Check(message.find('!') != std::string::npos);
  Check(message.find('\n') == message.size() - 1);
}

void CheckRefusal(const Failure& failure) {
  const std::string& message = failure.message;
  Check(message.rfind(kRefusal, 0) == 0);
  Check(message.size() > sizeof kRefusal + 1 && message.ends_with("!\n"));
}

void CheckTables(const MidiMap& map) {
  Check(map.sectionCount >= 1 && map.sectionCount <= kMostMidiSections);
  Check(map.tempoCount >= 1 && map.tempoCount <= map.sectionCount);
  Check(map.meterCount >= 1 && map.meterCount <= kMostMidiEvents + 1);
  Check(map.totalMeasures >= 1 && map.totalBeats >= map.totalMeasures);
  int64_t measures = 0;
  for (int32_t k = 0; k < map.sectionCount; ++k) {
    Check(k == 0 || map.sections[k].tick > map.sections[k - 1].tick);
    Check(map.sections[k].measures >= 0);
    measures += map.sections[k].measures;
  }
  Check(measures == map.totalMeasures);
  for (int32_t k = 1; k < map.meterCount; ++k) {
    Check(map.meters[k].tick > map.meters[k - 1].tick);
    Check(map.meters[k].firstMeasure ==
          map.meters[k - 1].firstMeasure + map.meters[k - 1].measures);
  }
}

struct Points {
  std::vector<GridPoint> points;
};

bool KeepPoint(void* context, const GridPoint& point) {
  static_cast<Points*>(context)->points.push_back(point);
  return true;
}

Points Walk(const MidiMap& map, const GridSettings& settings) {
  Points walked;
  WalkMidiGrid(map, settings, GridVisitor{&walked, KeepPoint, nullptr});
  return walked;
}

void CheckWalk(const MidiMap& map, const GridSettings& settings, const Points& walked) {
  Check(CountMidiGridPoints(map, settings) == walked.points.size());
  const double rate = settings.sampleRate;
  for (size_t k = 0; k < walked.points.size(); ++k) {
    const GridPoint& point = walked.points[k];
    Check(point.section >= 0 && point.section < map.sectionCount);
    if (k == 0) continue;
    const GridPoint& before = walked.points[k - 1];
    Check(point.clock >= before.clock && point.samplePosition >= before.samplePosition);
    Check(point.section >= before.section);
  }
  for (const GridPoint& point : walked.points) {
    // The sample is the exact floor; the seconds, rounded, lie within a sample of it.
    Check(std::fabs(static_cast<double>(point.samplePosition) - point.clock * rate) <=
          1.0 + point.clock * rate * 1e-12);
  }
}

bool Collect(void* target, const void* data, size_t length) {
  auto& bytes = *static_cast<std::vector<uint8_t>*>(target);
  const auto* from = static_cast<const uint8_t*>(data);
  bytes.insert(bytes.end(), from, from + length);
  return true;
}

// Writes the MIDI export just planned into memory: exactly as many bytes as
// the plan said.
std::vector<uint8_t> WritePlannedMidi(const GridMap& grid, const GridSettings& settings) {
  std::vector<uint8_t> file;
  std::vector<uint8_t> buffer(4096);
  ExportSink sink = DrainingSink(Collect, &file, buffer.data(), buffer.size());
  WriteMidi(grid, settings, tables->plan, sink);
  Check(FlushSink(sink));
  Check(file.size() == 14u + 8 + tables->plan.tempoTrackLength + 8 + tables->plan.clickTrackLength);
  return file;
}

// The export holds as many bytes as planned, and read back walks the same.
void CheckExport(const MidiMap& map, const GridSettings& settings, const Points& walked) {
  const GridMap grid{nullptr, &map};
  Failure failure{};
  const ExportSettings unplaced{0,     false,   OffsetOption{}, 0, nullptr,
                                false, nullptr, nullptr,        0, BeatMarks{}};
  if (!PlanMidi(grid, settings, unplaced, tables->plan, failure)) return;
  const std::vector<uint8_t> file = WritePlannedMidi(grid, settings);
  Check(Read(file.data(), file.size(), tables->readBack, failure));
  const Points again = Walk(tables->readBack, settings);
  Check(again.points.size() == walked.points.size());
  for (size_t k = 0; k < again.points.size(); ++k) {
    const GridPoint& a = again.points[k];
    const GridPoint& b = walked.points[k];
    Check(a.section == b.section && a.kind == b.kind && a.measure == b.measure &&
          a.beat == b.beat && a.division == b.division && a.samplePosition == b.samplePosition &&
          std::bit_cast<uint64_t>(a.clock) == std::bit_cast<uint64_t>(b.clock));
  }
}

// The osu and ssc files of the map, placed: each refused in one line, or
// written in full.
void CheckBeatFiles(const GridMap& grid, const GridSettings& settings,
                    const ExportSettings& placed) {
  Failure failure{};
  ExportSink sink = CountingSink();
  if (PlanOsu(grid, settings, placed, failure)) {
    WriteOsu(grid, settings, placed, sink);
  } else {
    CheckOneLine(failure);
  }
  if (PlanSsc(grid, settings, placed, failure)) {
    WriteSsc(grid, settings, placed, sink);
  } else {
    CheckOneLine(failure);
  }
  Check(!sink.failed);
}

// Placed in a recording by an offset and a count-in that the input's last
// bytes pick, the export is refused in one line or planned to the byte, and
// reads back as a MIDI file whose tables agree.
void CheckPlacedExport(const MidiMap& map, const GridSettings& settings, const uint8_t* data,
                       size_t size) {
  if (size < 3) return;
  const uint8_t pick = data[size - 3];
  ExportSettings placed{0,     (pick & 4) != 0, OffsetOption{}, pick & 3, "audio.mp3",
                        false, "fuzz.mid",      nullptr,        0,        BeatMarks{}};
  if (placed.offsetGiven)
    placed.offsetSamples = int64_t{static_cast<int8_t>(data[size - 2])} * 1103;
  const GridMap grid{nullptr, &map};
  Failure failure{};
  CheckBeatFiles(grid, settings, placed);
  if (!PlanMidi(grid, settings, placed, tables->plan, failure)) {
    CheckOneLine(failure);
    return;
  }
  const std::vector<uint8_t> file = WritePlannedMidi(grid, settings);
  Check(Read(file.data(), file.size(), tables->readBack, failure));
  CheckTables(tables->readBack);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  tables = new Tables;  // lives as long as the process
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;  // fmemopen takes no empty buffer
  Failure failure{};
  if (!Read(data, size, tables->map, failure)) {
    CheckRefusal(failure);
    return 0;
  }
  const MidiMap& map = tables->map;
  CheckTables(map);
  const uint8_t pick = data[size - 1];
  const int32_t start = pick >> 6;
  const GridSettings settings{44100, 1 + (pick & 7), start, start + ((pick >> 3) & 3)};
  const Points walked = Walk(map, settings);
  CheckWalk(map, settings, walked);
  Check(BuildReport(GridMap{nullptr, &map}, settings, tables->report, failure));
  Check(tables->report.length <= kReportLimit);
  CheckExport(map, settings, walked);
  CheckPlacedExport(map, settings, data, size);
  return 0;
}
