#include "exports/map_export.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "exports/song_title.h"
#include "exports/text_line.h"
#include "grid/section_view.h"
#include "grid/text_grid.h"
#include "maps/map_reader.h"

namespace {

constexpr const char* kCommandWords[] = {"tmap", "rate", "div", "start", "stop", "offset"};

// The map's own title line, or else the map file's name, unless that would
// read as a command word.
void AddTitle(TextLine& line, const char* title, const char* mapName) {
  if (title != nullptr) {
    AddText(line, title, std::strlen(title));
  } else {
    AddSongTitle(line, mapName);
  }
  for (const char* word : kCommandWords) {
    if (line.length == std::strlen(word) && std::memcmp(line.text, word, line.length) == 0) {
      AddText(line, " map", 4);
    }
  }
  if (line.length == 0) AddText(line, "Tempo map", 9);
  AddCharacter(line, '\n');
}

// The shortest decimal that the map reader (strtod, then single precision)
// reads back as `tempo`; nine digits always do.
void AddTempo(TextLine& line, float tempo) {
  char digits[64];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits - 1, tempo);
  *end.ptr = '\0';
  const bool readsBack = static_cast<float>(std::strtod(digits, nullptr)) == tempo ||
                         (tempo != tempo);  // not a number reads back as one
  if (readsBack) {
    AddText(line, digits, static_cast<size_t>(end.ptr - digits));
    return;
  }
  const std::to_chars_result nine =
      std::to_chars(digits, digits + sizeof digits, tempo, std::chars_format::general, 9);
  AddText(line, digits, static_cast<size_t>(nine.ptr - digits));
}

void AddOffset(TextLine& line, const OffsetOption& offset) {
  if (IsNoOffset(offset)) return;
  AddText(line, "offset\t", 7);
  if (offset.inSamples) {
    AddInteger(line, offset.samples);
    AddText(line, "smp", 3);
  } else {
    AddShortest(line, offset.seconds);
  }
  AddCharacter(line, '\n');
}

void AddSetting(TextLine& line, const char* word, bool given, int64_t value) {
  if (!given) return;
  AddText(line, word, std::strlen(word));
  AddCharacter(line, '\t');
  AddInteger(line, value);
  AddCharacter(line, '\n');
}

// As read: a stored measure is 0-based, its line counts from 1.
void AddSettings(TextLine& line, const SettingsLines& lines) {
  const GridSettings& values = lines.values;
  AddSetting(line, "rate", lines.rate, values.sampleRate);
  AddSetting(line, "div", lines.divisions, values.divisionsPerBeat);
  AddSetting(line, "start", lines.start, int64_t{values.startMeasure} + 1);
  AddSetting(line, "stop", lines.stop, int64_t{values.stopMeasure} + 1);
}

void AddSection(TextLine& line, float tempo, int32_t beats, int32_t measures) {
  AddText(line, "tmap\t", 5);
  AddTempo(line, tempo);
  AddCharacter(line, '\t');
  AddInteger(line, beats);
  AddCharacter(line, '\t');
  AddInteger(line, measures);
  AddCharacter(line, '\n');
}

// What writing a MIDI map as a text map needs: each section begins on a
// bar line, and its tempo in single precision keeps the grid within a
// microsecond of the map's own times, summed over every section so far.
struct MidiCheck {
  SectionView view;
  Wide meterStart;  // where the meter in force began: a bar line
  int32_t beatsPerMeasure;
  uint8_t denominatorPower;
  double drift;  // seconds the text map's clock has drifted from the map's
  int32_t sections;
  Failure* failure;
  bool refused;
};

constexpr double kMostDriftSeconds = 1e-6;

bool BeginsOnBarLine(const MidiCheck& check, const MapSection& section) {
  const Wide measureUnits =
      Wide{static_cast<uint32_t>(check.beatsPerMeasure)} * check.view.unitsPerQuarter * 4;
  return ((section.start - check.meterStart) << check.denominatorPower) % measureUnits == 0;
}

double DriftOf(const MapSection& section) {
  const double exactBeat =
      section.quarterMicroseconds * 4.0 / std::ldexp(1.0, section.denominatorPower) / 1e6;
  const double textBeat = StepLength(static_cast<float>(section.beatsPerMinute), 1);
  return std::fabs(textBeat - exactBeat) * static_cast<double>(section.measures) *
         section.beatsPerMeasure;
}

// Names the first section that cannot be written, and ends the walk there.
bool RefuseSection(MidiCheck& check, const MapSection& section, const char* why) {
  SetFailure(*check.failure, "Error: The map format cannot write section %i of the MIDI map: %s!\n",
             section.slot + 1, why);
  check.refused = true;
  return false;
}

bool CheckMidiSection(void* context, const MapSection& section) {
  auto& check = *static_cast<MidiCheck*>(context);
  if (section.setsMeter) {
    check.meterStart = section.start;
    check.beatsPerMeasure = section.beatsPerMeasure;
    check.denominatorPower = section.denominatorPower;
  }
  if (++check.sections > kMaxReadSections) {
    return RefuseSection(check, section, "a text map holds at most 510 sections");
  }
  if (!BeginsOnBarLine(check, section)) {
    return RefuseSection(check, section,
                         "it begins inside a measure, and a text map's sections begin on bar "
                         "lines");
  }
  check.drift += DriftOf(section);
  if (check.drift <= kMostDriftSeconds) return true;
  return RefuseSection(check, section,
                       "its tempo in a text map's single precision drifts from its times by "
                       "more than a microsecond");
}

bool WriteSectionLine(void* context, const MapSection& section) {
  auto& sink = *static_cast<ExportSink*>(context);
  TextLine line;
  line.length = 0;
  AddSection(line, static_cast<float>(section.beatsPerMinute), section.beatsPerMeasure,
             static_cast<int32_t>(section.measures));
  return PutLine(sink, line);
}

}  // namespace

bool PlanMapText(const GridMap& map, const GridSettings& settings, Failure& failure) {
  // A map on the report's running clock is one of whole measures at
  // single-precision tempos already: each of its sections writes as it is.
  const SectionView view = ViewOf(map);
  if (view.runningClock) return true;
  MidiCheck check{view, 0, 4, 2, 0.0, 0, &failure, false};
  WalkSections(map, settings, SectionVisitor{&check, CheckMidiSection});
  return !check.refused;
}

void WriteMapText(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                  ExportSink& sink) {
  TextLine line;
  line.length = 0;
  AddTitle(line, placed.title, placed.mapName);
  AddOffset(line, placed.offset);
  if (placed.mapLines != nullptr) AddSettings(line, *placed.mapLines);
  if (!PutLine(sink, line)) return;
  WalkSections(map, settings, SectionVisitor{&sink, WriteSectionLine});
}
