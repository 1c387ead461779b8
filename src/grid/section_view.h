// A map's sections as the writers see them, whatever kind of map it is: for
// each change of tempo or meter, where it begins (exactly, in the map's own
// units), its tempo and meter, the measure it begins in and its time on the
// grid's clock. A writer that needs the sections (the MIDI tempo track, the
// osu! timing points, the ssc tempos and meters, the count-in) reads them
// here and never asks what kind of map it has; a new kind of map provides
// this view and the grid walk, and every writer takes it as it is.
#ifndef BEATSTAMPS_SECTION_VIEW_H_
#define BEATSTAMPS_SECTION_VIEW_H_

#include <cstdint>

#include "grid/grid_walk.h"
#include "maps/exact_time.h"

// The most microseconds per quarter note a tempo of a MIDI file holds (24 bits).
constexpr uint32_t kMostMicrosecondsPerQuarter = 0xFFFFFF;

// One change of the map, in time order. A text map changes where each of
// its sections with measures begins (a map of none: its first section, of no
// measures, at 0), and every change sets a tempo and a meter; a MIDI map
// wherever it has a new tempo or a time signature.
struct MapSection {
  int32_t slot;          // the map's own section in force from here: messages name slot + 1
  Wide start;            // where it begins: start / unitsPerQuarter quarter notes from measure 1
  int64_t firstMeasure;  // the measure it begins in, 0-based
  int64_t measures;      // the measures of its section (0: a section of none)
  int32_t beatsPerMeasure;
  uint8_t denominatorPower;      // a beat is a 1 / 2^power note
  double beatsPerMinute;         // of its beat, as the report heads its section
  double quarterNotesPerMinute;  // of a quarter note
  double quarterMicroseconds;    // a quarter note's microseconds, as the map has them
  // Whole microseconds per quarter note: a MIDI map's own, a text map's
  // rounded; 0 where no tempo of 24 bits holds it.
  uint32_t microsecondsPerQuarter;
  double stepSeconds;  // of a running clock: what it adds at each division
  double startTime;    // seconds on the grid's clock where it begins
  int64_t startSample;
  bool setsTempo;     // a tempo stands here (of a MIDI map, only a new value)
  bool setsMeter;     // a time signature stands here, and a measure begins
  bool meterChanges;  // ... of a meter other than the one before
  // The range reaches it: it begins at or before the range's last point (of
  // a text map, in or before the range's stop measure). The first always.
  bool reached;
  // The notes of the denominator a beat of the grid holds: 3 where a
  // compound meter counts dotted beats (beatsPerMeasure / 3 of them), else 1.
  uint8_t beatNotes = 1;
};

// The map as a whole.
struct SectionView {
  uint64_t unitsPerQuarter;  // a text map's: 1; a MIDI map's: its ticks per quarter note
  Wide end;                  // where the map ends, in its units
  // The map's times are the report's running sum of its steps, each a double
  // that seldom lands on a whole microsecond: a file that holds whole
  // microseconds carries their rounding from beat to beat, and a file's
  // tracks end right after their last event. Else every time is exact.
  bool runningClock;
  // Every division of its grid lasts the same: all its beats are of one note
  // and its sections whole measures (a text map).
  bool evenDivisions;
};

struct SectionVisitor {
  void* context;
  // False ends the walk.
  bool (*visitSection)(void* context, const MapSection& section);
};

SectionView ViewOf(const GridMap& map);

// Every change in time order, timed with `settings` (its divisions per beat
// and sample rate; the range decides `reached`).
void WalkSections(const GridMap& map, const GridSettings& settings, const SectionVisitor& visitor);

// The section whose meter and tempo the count-in takes: the one measure 1
// lies in (the first with measures; else the first).
MapSection CountInSection(const GridMap& map, const GridSettings& settings);

// Where a grid point lies: units + fraction / denominator of a unit, from
// measure 1, and the note its beat is.
struct MapPosition {
  Wide units;
  uint64_t fraction;  // below the denominator
  uint64_t denominator;
  uint8_t denominatorPower;
};

// Finds where grid points lie, quickest for points that come in walk order:
// it keeps the section of the last one.
struct PositionFinder {
  const GridMap* map;
  GridSettings settings;
  bool found;
  MapSection section;
};

PositionFinder PositionFinderFor(const GridMap& map, const GridSettings& settings);

// A text map's point in `section`, its own: its beats are whole quarter
// notes from the section's start.
inline MapPosition TextPositionIn(const MapSection& section, const GridPoint& point,
                                  int32_t divisionsPerBeat) {
  const Wide beats = static_cast<Wide>(point.measure - section.firstMeasure) *
                         static_cast<uint64_t>(section.beatsPerMeasure) +
                     static_cast<uint64_t>(point.beat);
  return MapPosition{section.start + beats, static_cast<uint64_t>(point.division),
                     static_cast<uint64_t>(divisionsPerBeat), section.denominatorPower};
}

// PositionOf where the finder has yet to find the point's section, or the map
// is a MIDI map.
MapPosition PositionLookedUp(PositionFinder& finder, const GridPoint& point);

// The position of `point`, a point of the grid walked with the finder's
// settings. A text map's points in the section of the last one, nearly
// every one, are found right here.
inline MapPosition PositionOf(PositionFinder& finder, const GridPoint& point) {
  if (finder.map->midi == nullptr && finder.found && finder.section.slot == point.section) {
    return TextPositionIn(finder.section, point, finder.settings.divisionsPerBeat);
  }
  return PositionLookedUp(finder, point);
}

#endif  // BEATSTAMPS_SECTION_VIEW_H_
