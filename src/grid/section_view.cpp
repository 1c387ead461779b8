#include "grid/section_view.h"

#include <algorithm>
#include <cmath>

#include "grid/clock.h"
#include "grid/midi_grid.h"
#include "grid/text_grid.h"
#include "maps/midi_map.h"

namespace {

constexpr uint8_t kQuarterNotePower = 2;  // a text map's beat

// --- a text map: a section where each of its sections with measures begins ---

// 60,000,000 / tempo microseconds per quarter note, to the nearest whole;
// 0 where 24 bits do not hold it.
uint32_t WholeMicroseconds(double quarterMicroseconds) {
  if (!(quarterMicroseconds >= 0.5 && quarterMicroseconds < kMostMicrosecondsPerQuarter + 0.5)) {
    return 0;
  }
  return static_cast<uint32_t>(std::llround(quarterMicroseconds));
}

// Where the walk over a text map's sections has got to.
struct TextPlace {
  Wide start;  // quarter notes
  int64_t measure;
  double clock;
};

MapSection TextSection(const TempoMap& map, int32_t slot, const GridSettings& settings,
                       const TextPlace& place) {
  const double tempo = static_cast<double>(map.tempo[slot]);
  const double quarter = 60000000.0 / tempo;
  return MapSection{slot,
                    place.start,
                    place.measure,
                    map.measures[slot],
                    map.beatsPerMeasure[slot],
                    kQuarterNotePower,
                    tempo,
                    tempo,
                    quarter,
                    WholeMicroseconds(quarter),
                    StepLength(map.tempo[slot], settings.divisionsPerBeat),
                    place.clock,
                    SampleOfClock(settings.sampleRate, place.clock),
                    true,
                    true,
                    true,
                    place.measure <= settings.stopMeasure};
}

// Each section with measures; a map of none has its first.
void WalkTextSections(const TempoMap& map, const GridSettings& settings,
                      const SectionVisitor& visitor) {
  const int32_t sectionCount = SectionsToWalk(map);
  TextPlace place{0, 0, 0.0};
  bool any = false;
  for (int32_t k = 0; k < sectionCount; ++k) {
    const int32_t measures = map.measures[k];
    if (measures <= 0) continue;
    MapSection section = TextSection(map, k, settings, place);
    section.reached = section.reached || !any;
    any = true;
    if (!visitor.visitSection(visitor.context, section)) return;
    const Wide beats = static_cast<Wide>(measures) * std::max(map.beatsPerMeasure[k], 0);
    place.clock =
        AdvanceClock(place.clock, section.stepSeconds,
                     beats * static_cast<uint32_t>(std::max(settings.divisionsPerBeat, 0)));
    place.start += beats;
    place.measure += measures;
  }
  if (any) return;
  MapSection first = TextSection(map, 0, settings, place);
  first.reached = true;
  visitor.visitSection(visitor.context, first);
}

// --- a MIDI map: a section wherever a tempo or a time signature stands ---------

// The tick of the range's last point, rounded down; false when the range
// holds none.
bool LastTickInRange(const MidiMap& map, const GridSettings& settings, uint64_t& tick) {
  GridPoint point{};
  if (!LastPointInRange(MidiGrid(map), settings, point)) return false;
  tick = PositionOfPoint(map, settings.divisionsPerBeat, point).tick;
  return true;
}

MapSection MidiChange(const MidiMap& map, const GridSettings& settings, int32_t tempoSlot,
                      int32_t meterSlot, uint64_t tick) {
  const int32_t slot = SectionAt(map, tick);
  const MidiSection& section = map.sections[slot];
  const MidiMeter& meter = map.meters[meterSlot];
  const uint32_t microseconds = map.tempos[tempoSlot].microsecondsPerQuarter;
  const ExactTime time = TimeAt(map, tempoSlot, tick, 0, 1);
  return MapSection{
      slot,
      tick,
      meter.tick == tick ? int64_t{meter.firstMeasure} : MeasuresBefore(map, tick + 1) - 1,
      section.measures,
      meter.numerator,
      meter.denominatorPower,
      TempoOfSection(section),
      60000000.0 / microseconds,
      static_cast<double>(microseconds),
      microseconds,
      0.0,
      NearestSeconds(time),
      SampleAt(time, settings.sampleRate),
      map.tempos[tempoSlot].tick == tick,
      meter.tick == tick,
      false,
      false};
}

void WalkMidiSections(const MidiMap& map, const GridSettings& settings,
                      const SectionVisitor& visitor) {
  uint64_t lastTick = 0;
  const bool anyPoint = LastTickInRange(map, settings, lastTick);
  int32_t tempo = 0;
  int32_t meter = 0;
  while (tempo < map.tempoCount || meter < map.meterCount) {
    uint64_t tick = ~uint64_t{0};
    if (tempo < map.tempoCount) tick = map.tempos[tempo].tick;
    if (meter < map.meterCount) tick = std::min(tick, map.meters[meter].tick);
    if (tempo < map.tempoCount && map.tempos[tempo].tick == tick) ++tempo;
    if (meter < map.meterCount && map.meters[meter].tick == tick) ++meter;
    MapSection change = MidiChange(map, settings, tempo - 1, meter - 1, tick);
    const MidiMeter& now = map.meters[meter - 1];
    change.meterChanges =
        change.setsMeter && (meter == 1 || now.numerator != map.meters[meter - 2].numerator ||
                             now.denominatorPower != map.meters[meter - 2].denominatorPower);
    change.reached = tick == 0 || (anyPoint && tick <= lastTick);
    change.beatNotes = now.beatNotes;
    if (!visitor.visitSection(visitor.context, change)) return;
  }
}

// The first section with measures, else the first.
struct CountInSearch {
  bool found;
  MapSection section;
};

bool TakeCountInSection(void* context, const MapSection& section) {
  CountInSearch& search = *static_cast<CountInSearch*>(context);
  if (!search.found || (search.section.measures <= 0 && section.measures > 0)) {
    search.section = section;
  }
  search.found = true;
  return search.section.measures <= 0;
}

struct SlotSearch {
  int32_t slot;
  bool found;
  MapSection section;
};

bool TakeSectionOfSlot(void* context, const MapSection& section) {
  SlotSearch& search = *static_cast<SlotSearch*>(context);
  if (section.slot != search.slot) return true;
  search.found = true;
  search.section = section;
  return false;
}

}  // namespace

SectionView ViewOf(const GridMap& map) {
  if (map.midi != nullptr)
    return SectionView{map.midi->ticksPerQuarter, map.midi->lastTick, false, false};
  const TempoMap& text = *map.text;
  Wide end = 0;
  const int32_t sectionCount = SectionsToWalk(text);
  for (int32_t k = 0; k < sectionCount; ++k) {
    if (text.measures[k] > 0) {
      end += static_cast<Wide>(text.measures[k]) * std::max(text.beatsPerMeasure[k], 0);
    }
  }
  return SectionView{1, end, true, true};
}

void WalkSections(const GridMap& map, const GridSettings& settings, const SectionVisitor& visitor) {
  if (map.midi != nullptr) {
    WalkMidiSections(*map.midi, settings, visitor);
  } else {
    WalkTextSections(*map.text, settings, visitor);
  }
}

MapSection CountInSection(const GridMap& map, const GridSettings& settings) {
  CountInSearch search{false, MapSection{}};
  WalkSections(map, settings, SectionVisitor{&search, TakeCountInSection});
  return search.section;
}

PositionFinder PositionFinderFor(const GridMap& map, const GridSettings& settings) {
  return PositionFinder{&map, settings, false, MapSection{}};
}

MapPosition PositionLookedUp(PositionFinder& finder, const GridPoint& point) {
  const GridMap& map = *finder.map;
  if (map.midi != nullptr) {
    const MidiMap& midi = *map.midi;
    const MidiPosition at = PositionOfPoint(midi, finder.settings.divisionsPerBeat, point);
    return MapPosition{at.tick, at.fraction, at.denominator,
                       midi.meters[MeterOfMeasure(midi, point.measure)].denominatorPower};
  }
  if (!finder.found || finder.section.slot != point.section) {
    SlotSearch search{point.section, false, MapSection{}};
    WalkSections(map, finder.settings, SectionVisitor{&search, TakeSectionOfSlot});
    finder.found = true;
    finder.section = search.section;
  }
  return TextPositionIn(finder.section, point, finder.settings.divisionsPerBeat);
}
