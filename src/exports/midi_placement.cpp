#include "exports/midi_placement.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "exports/midi_tempo_track.h"
#include "grid/shifted_walk.h"

namespace {

constexpr uint32_t kMostTempo = 0xFFFFFF;  // 24-bit microseconds per quarter note
// The fill comes near its tempo in at most this many ticks, so that it fits a
// delta time with room to spare; a longer time is made up by a slower tempo.
constexpr Wide kMostFillTicks = Wide{1} << 27;
// The longest delta time a variable-length number of four bytes holds.
constexpr Wide kLongestDelta = 0x0FFFFFFF;
constexpr uint32_t kMicrosecondsPerSecond = 1000000;
constexpr int kQuarterNotePower = 2;

// What the lead-in is made of, as the export worked it out.
struct LeadInRequest {
  uint32_t ticksPerQuarter;
  Wide time;              // units the file holds before the first bar line's content
  Wide content;           // ticks between the fill and the first bar line
  int64_t wholeMeasures;  // of the meter, after the first bar line
  uint8_t numerator;      // the meter its bars are of
  uint8_t denominatorPower;
  uint32_t tempo;  // microseconds per quarter note the fill comes near
};

// The ticks of a note of 1 / 2^power, a power no finer than a whole tick.
Wide NoteTicks(uint32_t ticksPerQuarter, int power) {
  return std::max<Wide>(1, (Wide{4} * ticksPerQuarter) >> power);
}

// The finest note of a whole number of ticks: 4 x ticks per quarter over the
// largest power of two that divides it.
int FinestNotePower(uint32_t ticksPerQuarter) {
  return 2 + std::countr_zero(ticksPerQuarter);
}

// The fill's ticks for a note of 1 / 2^power: near the ticks `time` takes
// at the request's tempo, completing with the content a whole number of such
// notes, and at least as many as keep its tempo inside 24 bits.
Wide FillTicksFor(const LeadInRequest& request, int power) {
  const Wide note = NoteTicks(request.ticksPerQuarter, power);
  const Wide base = (note - request.content % note) % note;
  const Wide fewest =
      std::max<Wide>(request.time == 0 ? 0 : 1, (request.time + kMostTempo - 2) / (kMostTempo - 1));
  const uint32_t tempo = std::max<uint32_t>(request.tempo, 1);
  Wide near = (request.time + tempo / 2) / tempo;
  near = std::max(std::min(near, kMostFillTicks), fewest);
  Wide fill = base + (near > base ? (near - base + note / 2) / note * note : 0);
  if (fill < fewest) fill += (fewest - fill + note - 1) / note * note;
  return fill;
}

void AddLeadInMeter(MidiPlacement& placement, Wide tick, uint8_t numerator, int power) {
  placement.meters[placement.meterCount++] =
      LeadInMeter{tick, numerator, static_cast<uint8_t>(power)};
}

// `notes` notes of 1 / 2^power from tick 0: whole bars of `group` notes,
// after one bar of what is left over.
void PutFirstBars(MidiPlacement& placement, Wide notes, int power, uint8_t group,
                  uint32_t ticksPerQuarter) {
  const Wide leading = notes % group;
  if (leading != 0) AddLeadInMeter(placement, 0, static_cast<uint8_t>(leading), power);
  if (notes >= group) {
    AddLeadInMeter(placement, leading * NoteTicks(ticksPerQuarter, power), group, power);
  }
}

// The tempo of the count-in beat `back` beats before measure 1 (1 is the
// last): the whole microseconds from its start to its end, each counted back
// from measure 1 to the nearest.
uint32_t BackBeatTempo(double quarter, int64_t back) {
  const long long length = std::llround(static_cast<double>(back) * quarter) -
                           std::llround(static_cast<double>(back - 1) * quarter);
  return static_cast<uint32_t>(std::clamp<long long>(length, 1, kMostTempo));
}

// How many of the count-in's last `beats` beats (each of the placement's
// beat ticks and quarter note) fit in `time` units, counted back from
// measure 1, and the units they take.
int64_t CountInBeatsWithin(const MidiPlacement& placement, int64_t beats, Wide time, Wide& used) {
  used = 0;
  int64_t fitting = 0;
  while (fitting < beats) {
    const Wide next =
        used + static_cast<Wide>(BackBeatTempo(placement.countInQuarter, fitting + 1)) *
                   placement.beatTicks;
    if (next > time) break;
    used = next;
    ++fitting;
  }
  return fitting;
}

// Lays out the fill and the first bar: `placement.meters` and the fill's
// ticks and tempos. A time shorter than the fill's ticks at one microsecond
// per quarter note is held up to a microsecond long (or, short of half of
// that, left out). False where no tempo a MIDI file holds can make the time
// fit in a delta time.
bool LayLeadIn(const LeadInRequest& request, MidiPlacement& placement) {
  const int finest = FinestNotePower(request.ticksPerQuarter);
  const int coarsest = std::min<int>(request.denominatorPower, finest);
  // The bars are of the meter's beats; where the fill's ticks take longer
  // than its time even at one microsecond per quarter note, of finer notes.
  int power = coarsest;
  Wide fill = FillTicksFor(request, power);
  while (fill > request.time && power < finest) fill = FillTicksFor(request, ++power);
  if (fill > request.time) {
    // No note makes it: bars of beats (of quarter notes at the longest), the
    // fill held a little long, or left out where that is nearer.
    power = std::max(coarsest, std::min(kQuarterNotePower, finest));
    fill = FillTicksFor(request, power);
    const Wide note = NoteTicks(request.ticksPerQuarter, power);
    if (request.content % note == 0 && 2 * request.time < fill) fill = 0;
  }
  if (fill > kLongestDelta) return false;
  placement.fillTicks = fill;
  placement.fillTempo = 1;
  placement.fasterFrom = fill;
  placement.fillExact = fill == 0 ? request.time == 0 : fill <= request.time;
  if (fill != 0 && fill <= request.time) {
    placement.fillTempo = static_cast<uint32_t>(request.time / fill);
    placement.fasterFrom = fill - request.time % fill;
  }
  placement.meterCount = 0;
  const Wide notes = (fill + request.content) / NoteTicks(request.ticksPerQuarter, power);
  const bool beats = power == request.denominatorPower;
  PutFirstBars(placement, notes, power, beats ? request.numerator : 255, request.ticksPerQuarter);
  const bool inMeter = placement.meterCount > 0 &&
                       placement.meters[placement.meterCount - 1].numerator == request.numerator &&
                       beats;
  if (request.wholeMeasures > 0 && !inMeter) {
    AddLeadInMeter(placement, fill + request.content, request.numerator, request.denominatorPower);
  }
  return true;
}

// The units of `samples` samples at `sampleRate`, to the nearest (a half
// rounds up).
Wide UnitsOfSamples(uint64_t samples, uint32_t sampleRate, uint32_t ticksPerQuarter) {
  const Wide scaled = static_cast<Wide>(samples) * kMicrosecondsPerSecond * ticksPerQuarter;
  return (2 * scaled + sampleRate) / (Wide{2} * sampleRate);
}

// The first measure start at or after `tick` in a meter that starts a
// measure at `meterTick`: whole ticks, up.
Wide NextMeasureStart(Wide tick, Wide meterTick, uint8_t numerator, uint8_t denominatorPower,
                      uint32_t ticksPerQuarter) {
  if (tick <= meterTick) return meterTick;
  // A measure is numerator x 4 x ticks per quarter / 2^power ticks.
  const Wide measure = Wide{4} * ticksPerQuarter * numerator;
  const Wide scaled = (tick - meterTick) << denominatorPower;
  const Wide measures = (scaled + measure - 1) / measure;
  const Wide ticks = measures * measure;
  const Wide whole = ticks >> denominatorPower;
  return meterTick + whole + ((whole << denominatorPower) != ticks ? 1 : 0);
}

// --- the cut ---------------------------------------------------------------

// Where the export without --offset and --count-in reaches a time: its
// first tick at or after it, or the first click kept where that comes
// first; with the time there, the tempo and meter in force there (its
// events at that tick included), and the first measure start at or after it.
struct MidiCut {
  Wide tick;
  Wide time;  // units of a microsecond over the export's ticks per quarter note
  uint32_t tempo;
  Wide meterTick;  // where the meter in force began
  uint8_t numerator;
  uint8_t denominatorPower;
  Wide barTick;
};

// Where the map's time reaches the time looked for, as its events come.
struct CutSearch {
  Wide target;     // the time looked for
  Wide firstKept;  // the first click kept, which no cut may pass
  Wide at;         // the map's last event so far
  Wide elapsed;    // its time
  Wide meterTick;  // with tempo, numerator and power: the map's meter and tempo in force
  MidiCut cut;
  uint32_t ticksPerQuarter;
  uint32_t tempo;
  bool found;
  bool barFound;
  uint8_t numerator;
  uint8_t denominatorPower;
};

// The map's time runs at its tempo in force from its last event to `tick`:
// the first tick it reaches the time looked for (or the first click kept)
// is the cut.
void SearchUpTo(CutSearch& search, Wide tick) {
  if (!search.found) {
    Wide reach = ~Wide{0};
    if (search.elapsed >= search.target) {
      reach = search.at;
    } else if (search.tempo > 0) {
      reach = search.at + (search.target - search.elapsed + search.tempo - 1) / search.tempo;
    }
    const Wide cut = std::min(reach, search.firstKept);
    if (cut <= tick) {
      search.found = true;
      search.cut = MidiCut{cut,
                           search.elapsed + (cut - search.at) * search.tempo,
                           search.tempo,
                           search.meterTick,
                           search.numerator,
                           search.denominatorPower,
                           0};
    }
  }
  search.elapsed += (tick - search.at) * search.tempo;
  search.at = tick;
}

Wide BarAfterCut(const CutSearch& search) {
  const MidiCut& cut = search.cut;
  return NextMeasureStart(cut.tick, cut.meterTick, cut.numerator, cut.denominatorPower,
                          search.ticksPerQuarter);
}

// The first bar line at or after the cut: a measure's end in the meter in
// force there, or an earlier time signature, which starts one.
void SearchBar(CutSearch& search, Wide tick, bool meter) {
  if (!search.found || search.barFound || tick <= search.cut.tick) return;
  const Wide bar = BarAfterCut(search);
  if (bar <= tick || meter) {
    search.cut.barTick = std::min(bar, tick);
    search.barFound = true;
  }
}

// What the map sets at the cut's own tick is in force there.
void SearchAt(CutSearch& search, Wide tick) {
  if (!search.found || tick != search.cut.tick) return;
  search.cut.tempo = search.tempo;
  search.cut.meterTick = search.meterTick;
  search.cut.numerator = search.numerator;
  search.cut.denominatorPower = search.denominatorPower;
}

void SearchTempo(void* context, Wide tick, uint32_t tempo) {
  CutSearch& search = *static_cast<CutSearch*>(context);
  SearchUpTo(search, tick);
  SearchBar(search, tick, false);
  search.tempo = tempo;
  SearchAt(search, tick);
}

void SearchMeter(void* context, Wide tick, uint8_t numerator, uint8_t power) {
  CutSearch& search = *static_cast<CutSearch*>(context);
  SearchUpTo(search, tick);
  SearchBar(search, tick, true);
  search.meterTick = tick;
  search.numerator = numerator;
  search.denominatorPower = power;
  SearchAt(search, tick);
}

void SearchEnd(void* context, Wide /*tick*/) {
  CutSearch& search = *static_cast<CutSearch*>(context);
  SearchUpTo(search, ~Wide{0} >> 1);
  if (!search.barFound) search.cut.barTick = BarAfterCut(search);
}

MidiCut FindMidiCut(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
                    Wide time, Wide firstKept) {
  CutSearch search{};
  search.target = time;
  search.firstKept = firstKept;
  search.ticksPerQuarter = static_cast<uint32_t>(plan.ticksPerQuarter);
  StreamTempoEvents(map, settings, plan,
                    TempoEventVisitor{&search, SearchTempo, SearchMeter, SearchEnd});
  return search.cut;
}

// --- the lead-in and the cut in the file --------------------------------------

bool RefuseLongOffset(Failure& failure) {
  SetFailure(failure, "Error: The offset is too long for a MIDI file!\n");
  return false;
}

// Seconds by which measure 1's time lies past the `held` units where the file
// holds it: the count-in's beats carried in whole microseconds, or a fill
// too short for its ticks. A text map's carried beats aim at them.
double MeasureOneAim(const ExportSettings& placed, const GridSettings& settings,
                     const MidiPlacement& placement, Wide held, uint32_t ticksPerQuarter) {
  const double countIn = static_cast<double>(placement.countInClicks) * placement.countInQuarter *
                         static_cast<double>(placement.beatTicks) / ticksPerQuarter;
  const double microseconds =
      placed.offsetGiven ? static_cast<double>(placed.offsetSamples) * 1e6 / settings.sampleRate
                         : countIn;
  return (microseconds - static_cast<double>(held) / ticksPerQuarter) / kMicrosecondsPerSecond;
}

// Measure 1 at the offset, or without one after the count-in: the count-in's
// beats that fit, and before them a fill that makes up the rest.
bool PlaceLeadIn(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                 MidiPlan& plan, Failure& failure) {
  // The meter and tempo the count-in takes, and the lead-in's bars are of.
  // A dotted beat is three of the meter's notes; its bars are the meter's.
  const MapSection reference = CountInSection(map, settings);
  const auto numerator = static_cast<uint8_t>(reference.beatsPerMeasure);
  const int32_t beatsPerBar = reference.beatsPerMeasure / reference.beatNotes;
  const auto ticksPerQuarter = static_cast<uint32_t>(plan.ticksPerQuarter);
  MidiPlacement& placement = plan.placement;
  placement.countInMeter = beatsPerBar;
  placement.beatTicks =
      (Wide{4} * ticksPerQuarter * reference.beatNotes) >> reference.denominatorPower;
  placement.countInQuarter = reference.quarterMicroseconds;
  const int64_t beats = int64_t{placed.countIn} * beatsPerBar;
  Wide time = 0;
  if (placed.offsetGiven) {
    time = UnitsOfSamples(static_cast<uint64_t>(placed.offsetSamples), settings.sampleRate,
                          ticksPerQuarter);
  } else {
    CountInBeatsWithin(placement, beats, ~Wide{0}, time);
  }
  Wide used = 0;
  const int64_t kept = CountInBeatsWithin(placement, beats, time, used);
  placement.countInClicks = kept;
  placement.countInSkipped = beats - kept;
  const LeadInRequest request{ticksPerQuarter,
                              time - used,
                              static_cast<Wide>(kept % beatsPerBar) * placement.beatTicks,
                              kept / beatsPerBar,
                              numerator,
                              reference.denominatorPower,
                              reference.microsecondsPerQuarter};
  if (!LayLeadIn(request, placement)) return RefuseLongOffset(failure);
  placement.cutOut = placement.fillTicks + static_cast<Wide>(kept) * placement.beatTicks;
  placement.countInFromStart = !placed.offsetGiven;
  const Wide held = used + (placement.fillExact ? request.time : placement.fillTicks);
  placement.measureOneAim = MeasureOneAim(placed, settings, placement, held, ticksPerQuarter);
  placement.placed = true;
  placement.offsetSamples = placed.offsetSamples;
  return true;
}

// The recording begins inside the map: the file begins where it does, with
// a fill that makes up the time to the first tick of the map after it, and
// from there the map's own events.
bool PlaceCut(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
              MidiPlan& plan, Failure& failure) {
  const auto ticksPerQuarter = static_cast<uint32_t>(plan.ticksPerQuarter);
  const uint64_t back = static_cast<uint64_t>(-(placed.offsetSamples + 1)) + 1;
  const Wide time = UnitsOfSamples(back, settings.sampleRate, ticksPerQuarter);
  GridPoint first{};
  PositionFinder finder = PositionFinderFor(map, settings);
  const Wide firstKept = FirstShiftedPoint(map, settings, placed.offsetSamples, first)
                             ? UnplacedTickOf(ViewOf(map), plan, PositionOf(finder, first))
                             : ~Wide{0};
  MidiCut cut = FindMidiCut(map, settings, plan, time, firstKept);
  MidiPlacement& placement = plan.placement;
  LeadInRequest request{ticksPerQuarter,
                        cut.time > time ? cut.time - time : 0,
                        cut.barTick - cut.tick,
                        0,
                        cut.numerator,
                        cut.denominatorPower,
                        cut.tempo};
  if (!LayLeadIn(request, placement)) return RefuseLongOffset(failure);
  // A fill too short for its ticks takes the map's next tick too, where no
  // click stands: a tick's time is enough for any fill.
  if (!placement.fillExact && cut.tick < cut.barTick && cut.tick < firstKept) {
    cut.tick += 1;
    request.time += cut.tempo;
    request.content -= 1;
    if (!LayLeadIn(request, placement)) return RefuseLongOffset(failure);
  }
  placement.cutTick = cut.tick;
  placement.barTick = cut.barTick;
  placement.cutOut = placement.fillTicks;
  placement.placed = true;
  placement.offsetSamples = placed.offsetSamples;
  return true;
}

}  // namespace

bool LeadsIn(const ExportSettings& placed) {
  return placed.offsetSamples > 0 || (!placed.offsetGiven && placed.countIn > 0);
}

Wide ExportTickOf(const SectionView& view, const MidiPlan& plan, Wide units) {
  return units * static_cast<uint64_t>(plan.ticksPerQuarter) / view.unitsPerQuarter;
}

Wide UnplacedTickOfAny(const SectionView& view, const MidiPlan& plan, const MapPosition& at) {
  const auto scale = static_cast<uint64_t>(plan.ticksPerQuarter);
  const Wide whole = at.units * scale;
  const uint64_t units = view.unitsPerQuarter;
  const Wide rest = (whole % units) * at.denominator + static_cast<Wide>(at.fraction) * scale;
  const Wide below = static_cast<Wide>(units) * at.denominator;
  return whole / units + (2 * rest + below) / (2 * below);
}

uint32_t CountInBeatTempo(const MidiPlacement& placement, int64_t index) {
  if (placement.countInFromStart) {
    // Each beat ends at the whole microseconds nearest its time from the start.
    const double quarter = placement.countInQuarter;
    const long long length = std::llround(static_cast<double>(index + 1) * quarter) -
                             std::llround(static_cast<double>(index) * quarter);
    return static_cast<uint32_t>(std::clamp<long long>(length, 1, kMostTempo));
  }
  return BackBeatTempo(placement.countInQuarter, placement.countInClicks - index);
}

bool PlaceMidiExport(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                     MidiPlan& plan, Failure& failure) {
  plan.placement = MidiPlacement{};
  plan.placement.countInMeter = 1;
  if (placed.offsetSamples < 0) return PlaceCut(map, settings, placed, plan, failure);
  if (LeadsIn(placed)) return PlaceLeadIn(map, settings, placed, plan, failure);
  return true;
}
