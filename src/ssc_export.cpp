#include "ssc_export.h"

#include <cmath>
#include <cstring>

#include "shifted_walk.h"
#include "song_title.h"
#include "text_grid.h"
#include "text_line.h"

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

void PutTempos(ExportSink& sink, const GridMap& map, const GridSettings& settings) {
  PutText(sink, "#BPMS:");
  TextLine line;
  line.length = 0;
  SscSection section{-1, 0, 0, 0};
  for (bool first = true; NextSection(map, settings, section); first = false) {
    if (!first) AddCharacter(line, ',');
    AddBeat(line, section.quarterNotes);
    AddCharacter(line, '=');
    AddFixed(line, HeadingOf(map, section.slot).tempo, 6);
    PutLine(sink, line);
  }
  PutText(sink, ";\n");
}

void PutMeters(ExportSink& sink, const GridMap& map, const GridSettings& settings) {
  PutText(sink, "#TIMESIGNATURES:");
  TextLine line;
  line.length = 0;
  SscSection section{-1, 0, 0, 0};
  for (bool first = true; NextSection(map, settings, section); first = false) {
    if (!first) AddCharacter(line, ',');
    AddBeat(line, section.quarterNotes);
    AddCharacter(line, '=');
    AddInteger(line, section.numerator);
    AddCharacter(line, '=');
    AddInteger(line, section.denominator);
    PutLine(sink, line);
  }
  PutText(sink, ";\n");
}

}  // namespace

bool PlanSsc(const GridMap& map, const GridSettings& settings, Failure& failure) {
  if (map.midi != nullptr) {
    SetFailure(failure, "Error: The %s format takes no MIDI map yet!\n", "ssc");
    return false;
  }
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
  PutTempos(sink, map, settings);
  PutMeters(sink, map, settings);
}
