#include "grid/grid_walk.h"

#include "grid/midi_grid.h"
#include "grid/text_grid.h"

namespace {

bool KeepPoint(void* context, const GridPoint& point) {
  *static_cast<GridPoint*>(context) = point;
  return true;
}

}  // namespace

// Every walk goes to the grid of its map's kind.

bool CheckGrid(const GridMap& map, const GridSettings& settings, Failure& failure) {
  if (map.midi != nullptr) return CheckMidiGrid(settings, failure);
  return CheckTextGrid(*map.text, settings, failure);
}

void WalkGrid(const GridMap& map, const GridSettings& settings, const GridVisitor& visitor) {
  WalkGridFrom(map, settings, 0, visitor);
}

void WalkGridFrom(const GridMap& map, const GridSettings& settings, int64_t firstSample,
                  const GridVisitor& visitor) {
  if (map.midi != nullptr) {
    WalkMidiGridFrom(*map.midi, settings, firstSample, visitor);
  } else {
    WalkTextGrid(*map.text, settings, firstSample, visitor);
  }
}

uint64_t CountGridPoints(const GridMap& map, const GridSettings& settings) {
  if (map.midi != nullptr) return CountMidiGridPoints(*map.midi, settings);
  return CountTextGridPoints(*map.text, settings);
}

SectionHeading HeadingOf(const GridMap& map, int32_t section) {
  if (map.midi != nullptr) return MidiSectionHeading(*map.midi, section);
  return TextSectionHeading(*map.text, section);
}

int64_t LastMeasureInRange(const GridMap& map, const GridSettings& settings) {
  if (map.midi != nullptr) return LastMidiMeasureInRange(settings);
  return LastTextMeasureInRange(*map.text, settings);
}

bool LastPointInRange(const GridMap& map, const GridSettings& settings, GridPoint& point) {
  const int64_t measure = LastMeasureInRange(map, settings);
  if (measure < 0) return false;
  GridSettings last = settings;
  last.startMeasure = static_cast<int32_t>(measure);
  last.stopMeasure = static_cast<int32_t>(measure);
  WalkGrid(map, last, GridVisitor{&point, KeepPoint, nullptr});
  return true;
}
