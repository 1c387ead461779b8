#include "grid_walk.h"

#include "text_grid.h"

// Every walk goes to the grid of its map's kind.

bool CheckGrid(const GridMap& map, const GridSettings& settings, Failure& failure) {
  return CheckTextGrid(*map.text, settings, failure);
}

void WalkGrid(const GridMap& map, const GridSettings& settings, const GridVisitor& visitor) {
  WalkTextGrid(*map.text, settings, visitor);
}

uint64_t CountGridPoints(const GridMap& map, const GridSettings& settings) {
  return CountTextGridPoints(*map.text, settings);
}

SectionHeading HeadingOf(const GridMap& map, int32_t section) {
  return TextSectionHeading(*map.text, section);
}
