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

void PutText(ExportSink& sink, const char* text) {
  PutBytes(sink, text, std::strlen(text));
}

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

bool SetsTempo(const MapSection& section) {
  return section.setsTempo;
}

bool ChangesMeter(const MapSection& section) {
  return section.meterChanges;
}

void AddTempo(TextLine& line, const MapSection& section) {
  AddFixed(line, section.quarterNotesPerMinute, 6);
}

void AddMeter(TextLine& line, const MapSection& section) {
  AddInteger(line, section.beatsPerMeasure);
  AddCharacter(line, '=');
  AddInteger(line, int64_t{1} << section.denominatorPower);
}

// One of the file's lists: `beat=value` for each section the range reaches
// where `stands` says the value stands.
struct SscList {
  ExportSink* sink;
  uint64_t unitsPerQuarter;
  bool (*stands)(const MapSection&);
  void (*addValue)(TextLine&, const MapSection&);
  bool first;
  TextLine line;
};

bool PutListed(void* context, const MapSection& section) {
  SscList& list = *static_cast<SscList*>(context);
  if (!section.reached) return false;
  if (!list.stands(section)) return true;
  if (!list.first) AddCharacter(list.line, ',');
  list.first = false;
  AddQuarterNotes(list.line, section.start, list.unitsPerQuarter);
  AddCharacter(list.line, '=');
  list.addValue(list.line, section);
  PutLine(*list.sink, list.line);
  return true;
}

void PutList(ExportSink& sink, const GridMap& map, const GridSettings& settings, const char* tag,
             bool (*stands)(const MapSection&), void (*addValue)(TextLine&, const MapSection&)) {
  PutText(sink, tag);
  SscList list{&sink, ViewOf(map).unitsPerQuarter, stands, addValue, true, TextLine{}};
  list.line.length = 0;
  WalkSections(map, settings, SectionVisitor{&list, PutListed});
  PutText(sink, ";\n");
}

struct SscCheck {
  uint64_t unitsPerQuarter;
  Failure* failure;
  bool refused;
};

// A section listed must begin on a row and have a tempo six decimals show.
bool CheckListed(void* context, const MapSection& section) {
  SscCheck& check = *static_cast<SscCheck*>(context);
  if (!section.reached) return false;
  if (!section.setsTempo && !section.meterChanges) return true;
  if (section.start * kRowsPerQuarter % check.unitsPerQuarter != 0) {
    SetFailure(*check.failure,
               "Error: An ssc file cannot place section %i: it begins between two 48ths of a "
               "quarter note!\n",
               section.slot + 1);
    check.refused = true;
    return false;
  }
  const double tempo = section.beatsPerMinute;
  if (!(tempo >= kSlowestTempo && std::isfinite(tempo))) {
    SetFailure(*check.failure, "Error: An ssc file cannot hold the tempo of section %i!\n",
               section.slot + 1);
    check.refused = true;
    return false;
  }
  return true;
}

}  // namespace

bool PlanSsc(const GridMap& map, const GridSettings& settings, Failure& failure) {
  SscCheck check{ViewOf(map).unitsPerQuarter, &failure, false};
  WalkSections(map, settings, SectionVisitor{&check, CheckListed});
  return !check.refused;
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
  PutList(sink, map, settings, "#BPMS:", SetsTempo, AddTempo);
  PutList(sink, map, settings, "#TIMESIGNATURES:", ChangesMeter, AddMeter);
}
