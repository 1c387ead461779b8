#include "exports/ssc_export.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "exports/song_title.h"
#include "exports/text_line.h"
#include "grid/section_view.h"
#include "grid/shifted_walk.h"

namespace {

// The slowest tempo that six decimals show as more than 0.
constexpr double kSlowestTempo = 0.000001;
// StepMania's rows: 48 to a quarter note.
constexpr uint64_t kRowsPerQuarter = 48;

// Quarter notes from measure 1 to `start` units, to six decimals.
void AddQuarterNotes(TextLine& line, Wide start, uint64_t unitsPerQuarter) {
  auto whole = static_cast<uint64_t>(start / unitsPerQuarter);
  const auto rest = static_cast<uint64_t>(start % unitsPerQuarter);
  uint64_t millionths = static_cast<uint64_t>(
      (static_cast<Wide>(rest) * 1000000 + unitsPerQuarter / 2) / unitsPerQuarter);
  if (millionths == 1000000) {
    whole += 1;
    millionths = 0;
  }
  char digits[24];
  std::snprintf(digits, sizeof digits, ".%06llu", static_cast<unsigned long long>(millionths));
  AddInteger(line, static_cast<int64_t>(whole));
  AddText(line, digits, 7);
}

// Where a change stands in the file: on the row nearest its place, at its
// own time.
struct SscChange {
  Wide rows;        // 48ths of a quarter note from measure 1
  int64_t movedBy;  // 48ths of a map unit, later (+) or earlier (-): 0 on a row
  double time;      // seconds on the grid's clock
  double tempo;     // quarter notes a minute
  int64_t measure;  // 0-based
  int32_t slot;
};

SscChange PlaceChange(const MapSection& section, uint64_t unitsPerQuarter) {
  const Wide scaled = section.start * kRowsPerQuarter;  // 48ths of a unit
  // The nearest row, a half rounding up.
  const Wide halfRowsUp = scaled * 2 + unitsPerQuarter;
  const Wide rows = halfRowsUp / (static_cast<Wide>(unitsPerQuarter) * 2);
  // Half a row at the most: far inside 64 bits.
  const Wide placedAt = rows * unitsPerQuarter;
  const int64_t movedBy = placedAt >= scaled ? static_cast<int64_t>(placedAt - scaled)
                                             : -static_cast<int64_t>(scaled - placedAt);
  return SscChange{
      rows,        movedBy, section.startTime, section.quarterNotesPerMinute, section.firstMeasure,
      section.slot};
}

// The tempo from `from` up to `to`: the section's own where neither moved,
// else the one that takes the beats between their rows in the time between.
double TempoBetween(const SscChange& from, const SscChange& to) {
  if (from.movedBy == 0 && to.movedBy == 0) return from.tempo;
  const double quarterNotes =
      static_cast<double>(to.rows - from.rows) / static_cast<double>(kRowsPerQuarter);
  return 60.0 * quarterNotes / (to.time - from.time);
}

bool HoldsTempo(double tempo) {
  return tempo >= kSlowestTempo && std::isfinite(tempo);
}

// One of the file's lists as the sections come: a tempo waits for the next
// change, which may move the time its beats take.
struct SscList {
  ExportSink* sink;  // null while planning
  bool tempos;       // #BPMS; else #TIMESIGNATURES
  bool any;
  bool written;    // an entry stands in the file
  SscChange last;  // the last listed
  MapSection lastSection;
  TextLine line;
};

void PutEntry(SscList& list, Wide rows, double tempo, const MapSection& section) {
  if (list.written) AddCharacter(list.line, ',');
  list.written = true;
  AddQuarterNotes(list.line, rows, kRowsPerQuarter);
  AddCharacter(list.line, '=');
  if (list.tempos) {
    AddFixed(list.line, tempo, 6);
  } else {
    AddInteger(list.line, section.beatsPerMeasure);
    AddCharacter(list.line, '=');
    AddInteger(list.line, int64_t{1} << section.denominatorPower);
  }
  PutLine(*list.sink, list.line);
}

bool Listed(const SscList& list, const MapSection& section) {
  return list.tempos ? section.setsTempo : section.meterChanges;
}

// Whether `change` follows the last listed on a later row, and (of tempos)
// leaves the last one a tempo the file holds.
bool Follows(const SscList& list, const SscChange& change) {
  if (!list.any) return true;
  if (change.rows <= list.last.rows) return false;
  return !list.tempos || HoldsTempo(TempoBetween(list.last, change));
}

void Take(SscList& list, const SscChange& change, const MapSection& section) {
  if (list.any && list.sink != nullptr) {
    const double tempo = list.tempos ? TempoBetween(list.last, change) : 0.0;
    PutEntry(list, list.last.rows, tempo, list.lastSection);
  }
  list.any = true;
  list.last = change;
  list.lastSection = section;
}

void Finish(SscList& list) {
  if (list.any && list.sink != nullptr) {
    PutEntry(list, list.last.rows, list.last.tempo, list.lastSection);
  }
}

// Both lists over the sections the range reaches, checked or written.
struct SscPlacing {
  const GridSettings* settings;
  const ExportSettings* placed;
  uint64_t unitsPerQuarter;
  SscList lists[2];
  Failure* failure;  // set while planning
  bool refused;
};

// Measures as the user numbers them.
long long MeasureNumber(const SscPlacing& placing, int64_t measure) {
  return static_cast<long long>(measure) + placing.settings->firstMeasureNumber;
}

void WarnOfMove(const SscPlacing& placing, const SscChange& change) {
  const ExportWarnings* warnings = placing.placed->warnings;
  if (warnings == nullptr) return;
  const int64_t distance = change.movedBy < 0 ? -change.movedBy : change.movedBy;
  char ticks[64];
  constexpr int64_t kRows = kRowsPerQuarter;
  if (distance % kRows == 0) {
    const auto whole = static_cast<long long>(distance / kRows);
    std::snprintf(ticks, sizeof ticks, "%lld tick%s", whole, whole == 1 ? "" : "s");
  } else {
    std::snprintf(ticks, sizeof ticks, "%.3f ticks",
                  static_cast<double>(distance) / static_cast<double>(kRows));
  }
  char line[256];
  std::snprintf(line, sizeof line,
                "Warning: An ssc file places the change in measure %lld (section %i) %s %s, on "
                "a 48th of a quarter note; the tempos beside it keep its time\n",
                MeasureNumber(placing, change.measure), change.slot + 1, ticks,
                change.movedBy < 0 ? "earlier" : "later");
  warnings->warn(warnings->context, line);
}

bool Refuse(SscPlacing& placing, const char* format, const SscChange& change) {
  SetFailure(*placing.failure, format, MeasureNumber(placing, change.measure), change.time,
             change.slot + 1);
  placing.refused = true;
  return false;
}

bool PlaceSection(void* context, const MapSection& section) {
  SscPlacing& placing = *static_cast<SscPlacing*>(context);
  if (!section.reached) return false;
  if (!section.setsTempo && !section.meterChanges) return true;
  const SscChange change = PlaceChange(section, placing.unitsPerQuarter);
  const bool planning = placing.failure != nullptr;
  if (planning && section.setsTempo && !HoldsTempo(section.quarterNotesPerMinute)) {
    SetFailure(*placing.failure, "Error: An ssc file cannot hold the tempo of section %i!\n",
               section.slot + 1);
    placing.refused = true;
    return false;
  }
  for (SscList& list : placing.lists) {
    if (!Listed(list, section)) continue;
    if (planning && !Follows(list, change)) {
      return Refuse(placing,
                    "Error: An ssc file cannot place the change in measure %lld at %.6f s "
                    "(section %i): it shares a 48th of a quarter note with the one before!\n",
                    change);
    }
    Take(list, change, section);
  }
  if (planning && change.movedBy != 0) WarnOfMove(placing, change);
  return true;
}

SscPlacing PlacingOf(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                     ExportSink* sink, Failure* failure) {
  SscPlacing placing{&settings, &placed, ViewOf(map).unitsPerQuarter, {}, failure, false};
  for (int k = 0; k < 2; ++k) {
    placing.lists[k] = SscList{sink, k == 0, false, false, SscChange{}, MapSection{}, TextLine{}};
    placing.lists[k].line.length = 0;
  }
  return placing;
}

}  // namespace

bool PlanSsc(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
             Failure& failure) {
  SscPlacing placing = PlacingOf(map, settings, placed, nullptr, &failure);
  WalkSections(map, settings, SectionVisitor{&placing, PlaceSection});
  return !placing.refused;
}

void WriteSsc(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
              ExportSink& sink) {
  TextLine line;
  line.length = 0;
  PutText(sink, "#VERSION:0.83;\n#TITLE:");
  AddSongTitle(line, placed.mapName);
  PutLine(sink, line);
  PutText(sink, ";\n#MUSIC:");
  PutText(sink, placed.audioName);
  PutText(sink, ";\n#OFFSET:");
  // Beat 0 is the first step of measure 1, at 0 on the report's clock.
  AddFixed(line, 0.0 - ShiftClock(0.0, placed.offsetSamples, settings.sampleRate), 6);
  PutLine(sink, line);
  PutText(sink, ";\n");
  // One walk a list: each is written whole before the next begins.
  for (int k = 0; k < 2; ++k) {
    PutText(sink, k == 0 ? "#BPMS:" : "#TIMESIGNATURES:");
    SscPlacing placing = PlacingOf(map, settings, placed, &sink, nullptr);
    placing.lists[1 - k].sink = nullptr;
    SscList& list = placing.lists[k];
    WalkSections(map, settings, SectionVisitor{&placing, PlaceSection});
    Finish(list);
    PutText(sink, ";\n");
  }
}
