#include "exports/map_export.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "exports/song_title.h"
#include "exports/text_line.h"
#include "maps/map_reader.h"

namespace {

constexpr const char* kCommandWords[] = {"tmap", "rate", "div", "start", "stop", "offset"};

// The map file's name, unless that would read as a command word.
void AddTitle(TextLine& line, const char* mapName) {
  AddSongTitle(line, mapName);
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

}  // namespace

bool PlanMapText(const GridMap& map, const ExportSettings& /*placed*/, Failure& failure) {
  if (map.text != nullptr) return true;
  SetFailure(failure, "Error: The map format cannot write section 1 of a MIDI map!\n");
  return false;
}

void WriteMapText(const GridMap& map, const ExportSettings& placed, ExportSink& sink) {
  TextLine line;
  line.length = 0;
  AddTitle(line, placed.mapName);
  AddOffset(line, placed.offset);
  if (placed.mapLines != nullptr) AddSettings(line, *placed.mapLines);
  if (!PutLine(sink, line)) return;
  const TempoMap& text = *map.text;
  for (int32_t k = 0; k < text.sectionCount; ++k) {
    AddSection(line, text.tempo[k], text.beatsPerMeasure[k], text.measures[k]);
    if (!PutLine(sink, line)) return;
  }
}
