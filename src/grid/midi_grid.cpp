#include "grid/midi_grid.h"

#include <algorithm>
#include <numeric>

namespace {

// A division's length in ticks, numerator / denominator in lowest terms.
struct DivisionTicks {
  uint64_t numerator;
  uint64_t denominator;
};

DivisionTicks DivisionTicksOf(const MidiMap& map, const MidiMeter& meter,
                              int32_t divisionsPerBeat) {
  const uint64_t beatTimesPower = uint64_t{4} * map.ticksPerQuarter * meter.beatNotes;
  const uint64_t splits =
      (uint64_t{1} << meter.denominatorPower) * static_cast<uint64_t>(divisionsPerBeat);
  const uint64_t common = std::gcd(beatTimesPower, splits);
  return DivisionTicks{beatTimesPower / common, splits / common};
}

// The point `index` divisions after `start`.
MidiPosition PositionAfter(uint64_t start, Wide index, const DivisionTicks& length) {
  const Wide ticks = index * length.numerator;
  return MidiPosition{start + static_cast<uint64_t>(ticks / length.denominator),
                      static_cast<uint64_t>(ticks % length.denominator), length.denominator};
}

// One meter as the walk goes through it.
struct Region {
  int32_t slot;
  const MidiMeter* meter;
  DivisionTicks length;
  Wide pointsPerMeasure;
  bool ends;    // a later meter cuts it off
  Wide points;  // when it ends: its grid points
};

Region RegionOf(const MidiMap& map, int32_t slot, int32_t divisionsPerBeat) {
  const MidiMeter& meter = map.meters[slot];
  Region region{slot,
                &meter,
                DivisionTicksOf(map, meter, divisionsPerBeat),
                static_cast<Wide>(BeatsPerMeasure(meter.numerator, meter.beatNotes)) *
                    static_cast<uint64_t>(divisionsPerBeat),
                slot + 1 < map.meterCount,
                0};
  if (region.ends) {
    const Wide ticks = map.meters[slot + 1].tick - meter.tick;
    region.points =
        (ticks * region.length.denominator + region.length.numerator - 1) / region.length.numerator;
  }
  return region;
}

// The first point of `measure`, and how many it holds.
Wide FirstPointOf(const Region& region, int64_t measure) {
  return static_cast<Wide>(measure - region.meter->firstMeasure) * region.pointsPerMeasure;
}

Wide PointsOfMeasure(const Region& region, int64_t measure) {
  const Wide first = FirstPointOf(region, measure);
  if (!region.ends) return region.pointsPerMeasure;
  return std::min(region.pointsPerMeasure, region.points - first);
}

struct MidiWalk {
  const MidiMap* map;
  const GridSettings* settings;
  const GridVisitor* visitor;
  Region region;
  int32_t tempo;  // slots in force at the point walked
  int32_t section;
  bool finished;
};

// Moves the tempo and section on to those in force at `tick`.
void FollowTick(MidiWalk& walk, uint64_t tick) {
  const MidiMap& map = *walk.map;
  while (walk.tempo + 1 < map.tempoCount && map.tempos[walk.tempo + 1].tick <= tick) ++walk.tempo;
  while (walk.section + 1 < map.sectionCount && map.sections[walk.section + 1].tick <= tick) {
    ++walk.section;
  }
}

void Advance(MidiPosition& position, const DivisionTicks& length) {
  position.tick += length.numerator / length.denominator;
  position.fraction += length.numerator % length.denominator;
  if (position.fraction >= length.denominator) {
    position.fraction -= length.denominator;
    position.tick += 1;
  }
}

// Walks the measure from its point `from` on.
void WalkMidiMeasure(MidiWalk& walk, int64_t measure, uint64_t from) {
  const Region& region = walk.region;
  const int32_t divisions = walk.settings->divisionsPerBeat;
  MidiPosition position =
      PositionAfter(region.meter->tick, FirstPointOf(region, measure) + from, region.length);
  const auto count = static_cast<uint64_t>(PointsOfMeasure(region, measure));
  auto beat = static_cast<int64_t>(from / static_cast<uint64_t>(divisions));
  auto division = static_cast<int64_t>(from % static_cast<uint64_t>(divisions));
  for (uint64_t k = from; k < count; ++k) {
    FollowTick(walk, position.tick);
    const ExactTime time =
        TimeAt(*walk.map, walk.tempo, position.tick, position.fraction, position.denominator);
    const GridPoint point{walk.section,
                          PointKindOf(beat, division),
                          measure,
                          beat,
                          division,
                          NearestSeconds(time),
                          SampleAt(time, walk.settings->sampleRate)};
    if (!walk.visitor->visitPoint(walk.visitor->context, point)) {
      walk.finished = true;
      return;
    }
    Advance(position, region.length);
    if (++division == divisions) {
      division = 0;
      ++beat;
    }
  }
}

int64_t FirstMeasureOf(const GridSettings& settings) {
  return std::max<int64_t>(settings.startMeasure, 0);
}

// The sample position of the measure's point `index`.
int64_t SampleOfPoint(const MidiMap& map, const GridSettings& settings, int64_t measure,
                      Wide index) {
  const Region region = RegionOf(map, MeterOfMeasure(map, measure), settings.divisionsPerBeat);
  const MidiPosition position =
      PositionAfter(region.meter->tick, FirstPointOf(region, measure) + index, region.length);
  const ExactTime time = TimeAt(map, TempoAt(map, position.tick), position.tick, position.fraction,
                                position.denominator);
  return SampleAt(time, settings.sampleRate);
}

Wide PointsOf(const MidiMap& map, const GridSettings& settings, int64_t measure) {
  return PointsOfMeasure(RegionOf(map, MeterOfMeasure(map, measure), settings.divisionsPerBeat),
                         measure);
}

// The first point of the range at or after `firstSample`, found by halving
// (times only grow): its measure and its index there. False when there is none.
bool FindFirstPointFrom(const MidiMap& map, const GridSettings& settings, int64_t firstSample,
                        int64_t& measure, uint64_t& index) {
  int64_t low = measure;
  int64_t high = settings.stopMeasure + 1;
  while (low < high) {
    const int64_t middle = low + (high - low) / 2;
    if (SampleOfPoint(map, settings, middle, PointsOf(map, settings, middle) - 1) >= firstSample) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  if (low > settings.stopMeasure) return false;
  measure = low;
  Wide first = 0;
  Wide last = PointsOf(map, settings, measure) - 1;
  while (first < last) {
    const Wide middle = first + (last - first) / 2;
    if (SampleOfPoint(map, settings, measure, middle) >= firstSample) {
      last = middle;
    } else {
      first = middle + 1;
    }
  }
  index = static_cast<uint64_t>(first);
  return true;
}

}  // namespace

bool CheckMidiGrid(const GridSettings& settings, Failure& failure) {
  if (settings.divisionsPerBeat >= 1) return true;
  SetFailure(failure, "Error: Divisions per beat must be greater than zero!\n");
  return false;
}

// Measures after the first get the measure separator before them, as in a
// text map's walk; the first of the range gets it when measures lie before it.
void WalkMidiGrid(const MidiMap& map, const GridSettings& settings, const GridVisitor& visitor) {
  WalkMidiGridFrom(map, settings, 0, visitor);
}

// A measure start among the points passed over is not told; the range's
// first is, as before any point.
void WalkMidiGridFrom(const MidiMap& map, const GridSettings& settings, int64_t firstSample,
                      const GridVisitor& visitor) {
  const int64_t rangeStart = FirstMeasureOf(settings);
  if (rangeStart > settings.stopMeasure) return;
  int64_t first = rangeStart;
  uint64_t from = 0;
  const bool found =
      firstSample <= 0 || FindFirstPointFrom(map, settings, firstSample, first, from);
  if ((!found || first != rangeStart) && rangeStart > 0 && visitor.enterMeasure != nullptr &&
      !visitor.enterMeasure(visitor.context, rangeStart)) {
    return;
  }
  if (!found) return;
  const int32_t divisions = settings.divisionsPerBeat;
  MidiWalk walk{&map, &settings, &visitor, RegionOf(map, MeterOfMeasure(map, first), divisions),
                0,    0,         false};
  const MidiPosition start = PositionAfter(
      walk.region.meter->tick, FirstPointOf(walk.region, first) + from, walk.region.length);
  walk.tempo = TempoAt(map, start.tick);
  walk.section = SectionAt(map, start.tick);
  for (int64_t measure = first; measure <= settings.stopMeasure && !walk.finished; ++measure) {
    const int32_t next = walk.region.slot + 1;
    if (next < map.meterCount && measure >= map.meters[next].firstMeasure) {
      walk.region = RegionOf(map, next, divisions);
    }
    const bool passedOver = measure == first && first != rangeStart;
    if (measure > 0 && !passedOver && visitor.enterMeasure != nullptr &&
        !visitor.enterMeasure(visitor.context, measure)) {
      return;
    }
    WalkMidiMeasure(walk, measure, measure == first ? from : 0);
  }
}

uint64_t CountMidiGridPoints(const MidiMap& map, const GridSettings& settings) {
  const int64_t first = FirstMeasureOf(settings);
  const int64_t stop = settings.stopMeasure;
  Wide points = 0;
  for (int32_t slot = MeterOfMeasure(map, first); slot < map.meterCount && first <= stop; ++slot) {
    const Region region = RegionOf(map, slot, settings.divisionsPerBeat);
    const int64_t from = std::max<int64_t>(first, region.meter->firstMeasure);
    const int64_t to =
        region.ends ? std::min<int64_t>(stop, map.meters[slot + 1].firstMeasure - 1) : stop;
    if (from > to) break;
    // Every measure is whole but a meter's last, which a later meter may cut.
    points += static_cast<Wide>(to - from) * region.pointsPerMeasure + PointsOfMeasure(region, to);
    if (to == stop) break;
  }
  return points > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(points);
}

SectionHeading MidiSectionHeading(const MidiMap& map, int32_t section) {
  const MidiSection& heading = map.sections[section];
  return SectionHeading{TempoOfSection(heading),
                        BeatsPerMeasure(heading.numerator, heading.beatNotes), heading.measures};
}

int64_t LastMidiMeasureInRange(const GridSettings& settings) {
  return settings.stopMeasure >= FirstMeasureOf(settings) ? settings.stopMeasure : -1;
}

MidiPosition PositionOfPoint(const MidiMap& map, int32_t divisionsPerBeat, const GridPoint& point) {
  const Region region = RegionOf(map, MeterOfMeasure(map, point.measure), divisionsPerBeat);
  const Wide index = FirstPointOf(region, point.measure) +
                     static_cast<Wide>(point.beat) * static_cast<uint64_t>(divisionsPerBeat) +
                     static_cast<uint64_t>(point.division);
  return PositionAfter(region.meter->tick, index, region.length);
}

MidiPosition DivisionLength(const MidiMap& map, int32_t slot, int32_t divisionsPerBeat) {
  const DivisionTicks length = DivisionTicksOf(map, map.meters[slot], divisionsPerBeat);
  return MidiPosition{length.numerator / length.denominator, length.numerator % length.denominator,
                      length.denominator};
}
