#include "exports/ssc_export.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "exports/song_title.h"
#include "exports/text_line.h"
#include "grid/midi_grid.h"
#include "grid/shifted_walk.h"
#include "grid/text_grid.h"

namespace {

// The slowest tempo that six decimals show as more than 0.
constexpr double kSlowestTempo = 0.000001;

// A section as the file places it: where it begins, in quarter notes from
// measure 1, and its meter.
struct SscSection {
  int32_t slot;
  int64_t quarterNotes;
  int32_t numerator;
  int32_t denominator;
};

// The next section to list after `section`, false past the last. A text
// map's sections begin at whole measures of whole beats, and a beat is a
// quarter note.
bool NextSection(const GridMap& map, const GridSettings& settings, SscSection& section) {
  const TempoMap& text = *map.text;
  const int32_t sectionCount = SectionsToWalk(text);
  const bool first = section.slot < 0;
  int64_t measure = 0;
  int64_t quarterNotes = 0;
  for (int32_t k = 0; k < sectionCount; ++k) {
    const int32_t measures = text.measures[k];
    if (measures <= 0) continue;
    if (k > section.slot) {
      if (!first && measure > settings.stopMeasure) return false;
      section = SscSection{k, quarterNotes, text.beatsPerMeasure[k], 4};
      return true;
    }
    // Only the sections up to one that holds a 32-bit measure are listed,
    // so this stays far inside 64 bits.
    measure += measures;
    quarterNotes += int64_t{measures} * text.beatsPerMeasure[k];
  }
  if (!first) return false;
  section = SscSection{0, 0, text.beatsPerMeasure[0], 4};
  return true;
}

void PutText(ExportSink& sink, const char* text) {
  PutBytes(sink, text, std::strlen(text));
}

void AddBeat(TextLine& line, int64_t quarterNotes) {
  AddInteger(line, quarterNotes);
  AddText(line, ".000000", 7);
}

void AddTempo(TextLine& line, const GridMap& map, const SscSection& section) {
  AddFixed(line, HeadingOf(map, section.slot).tempo, 6);
}

void AddMeter(TextLine& line, const GridMap& /*map*/, const SscSection& section) {
  AddInteger(line, section.numerator);
  AddCharacter(line, '=');
  AddInteger(line, section.denominator);
}

// One of the file's lists: `beat=value` for each section listed.
void PutList(ExportSink& sink, const GridMap& map, const GridSettings& settings, const char* tag,
             void (*addValue)(TextLine&, const GridMap&, const SscSection&)) {
  PutText(sink, tag);
  TextLine line;
  line.length = 0;
  SscSection section{-1, 0, 0, 0};
  for (bool first = true; NextSection(map, settings, section); first = false) {
    if (!first) AddCharacter(line, ',');
    AddBeat(line, section.quarterNotes);
    AddCharacter(line, '=');
    addValue(line, map, section);
    PutLine(sink, line);
  }
  PutText(sink, ";\n");
}

// --- a MIDI map: a tempo where it changes, a meter where it changes -----------

// StepMania's rows: 48 to a quarter note.
constexpr uint64_t kRowsPerQuarter = 48;

bool KeepPoint(void* context, const GridPoint& point) {
  *static_cast<GridPoint*>(context) = point;
  return true;
}

// The sections listed: from tick 0 through the last that begins at or
// before the range's last point (the first at least).
int32_t ListedMidiSections(const MidiMap& map, const GridSettings& settings) {
  const int64_t measure = LastMidiMeasureInRange(settings);
  if (measure < 0) return 1;
  GridSettings last = settings;
  last.startMeasure = static_cast<int32_t>(measure);
  GridPoint point{};
  WalkGrid(MidiGrid(map), last, GridVisitor{&point, KeepPoint, nullptr});
  const MidiPosition at = PositionOfPoint(map, settings.divisionsPerBeat, point);
  return SectionAt(map, at.tick) + 1;
}

// Quarter notes from measure 1 to `tick`, to six decimals.
void AddQuarterNotes(TextLine& line, uint64_t tick, uint32_t ticksPerQuarter) {
  uint64_t whole = tick / ticksPerQuarter;
  const uint64_t rest = tick - whole * ticksPerQuarter;
  uint64_t millionths = (rest * 1000000 + ticksPerQuarter / 2) / ticksPerQuarter;
  if (millionths == 1000000) {
    whole += 1;
    millionths = 0;
  }
  char digits[24];
  std::snprintf(digits, sizeof digits, ".%06llu", static_cast<unsigned long long>(millionths));
  AddInteger(line, static_cast<int64_t>(whole));
  AddText(line, digits, 7);
}

bool TempoChanges(const MidiMap& map, int32_t slot) {
  return slot == 0 ||
         map.sections[slot].microsecondsPerQuarter != map.sections[slot - 1].microsecondsPerQuarter;
}

bool MeterChanges(const MidiMap& map, int32_t slot) {
  const MidiSection& section = map.sections[slot];
  return slot == 0 || section.numerator != map.sections[slot - 1].numerator ||
         section.denominatorPower != map.sections[slot - 1].denominatorPower;
}

void AddMidiTempo(TextLine& line, const MidiSection& section) {
  AddFixed(line, 60000000.0 / section.microsecondsPerQuarter, 6);
}

void AddMidiMeter(TextLine& line, const MidiSection& section) {
  AddInteger(line, section.numerator);
  AddCharacter(line, '=');
  AddInteger(line, int64_t{1} << section.denominatorPower);
}

// One of the file's lists: `beat=value` where `changes` says the value changes.
void PutMidiList(ExportSink& sink, const MidiMap& map, int32_t listed, const char* tag,
                 bool (*changes)(const MidiMap&, int32_t),
                 void (*addValue)(TextLine&, const MidiSection&)) {
  PutText(sink, tag);
  TextLine line;
  line.length = 0;
  for (int32_t k = 0; k < listed; ++k) {
    if (!changes(map, k)) continue;
    if (k > 0) AddCharacter(line, ',');
    AddQuarterNotes(line, map.sections[k].tick, map.ticksPerQuarter);
    AddCharacter(line, '=');
    addValue(line, map.sections[k]);
    PutLine(sink, line);
  }
  PutText(sink, ";\n");
}

bool PlanMidiSsc(const MidiMap& map, const GridSettings& settings, Failure& failure) {
  const int32_t listed = ListedMidiSections(map, settings);
  for (int32_t k = 0; k < listed; ++k) {
    if (map.sections[k].tick * kRowsPerQuarter % map.ticksPerQuarter == 0) continue;
    SetFailure(failure,
               "Error: An ssc file cannot place section %i: it begins between two 48ths of a "
               "quarter note!\n",
               k + 1);
    return false;
  }
  return true;
}

}  // namespace

bool PlanSsc(const GridMap& map, const GridSettings& settings, Failure& failure) {
  if (map.midi != nullptr) return PlanMidiSsc(*map.midi, settings, failure);
  SscSection section{-1, 0, 0, 0};
  while (NextSection(map, settings, section)) {
    const double tempo = HeadingOf(map, section.slot).tempo;
    if (!(tempo >= kSlowestTempo && std::isfinite(tempo))) {
      SetFailure(failure, "Error: An ssc file cannot hold the tempo of section %i!\n",
                 section.slot + 1);
      return false;
    }
  }
  return true;
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
  if (map.midi != nullptr) {
    const int32_t listed = ListedMidiSections(*map.midi, settings);
    PutMidiList(sink, *map.midi, listed, "#BPMS:", TempoChanges, AddMidiTempo);
    PutMidiList(sink, *map.midi, listed, "#TIMESIGNATURES:", MeterChanges, AddMidiMeter);
    return;
  }
  PutList(sink, map, settings, "#BPMS:", AddTempo);
  PutList(sink, map, settings, "#TIMESIGNATURES:", AddMeter);
}
