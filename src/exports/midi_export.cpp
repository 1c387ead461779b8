#include "exports/midi_export.h"

#include <algorithm>
#include <numeric>

#include "exports/midi_tempo_track.h"
#include "exports/smf_encoder.h"
#include "grid/midi_grid.h"
#include "grid/shifted_walk.h"
#include "grid/text_grid.h"

namespace {

// The finest ticks a sequencer's grid commonly uses; the ticks per quarter
// note are the first multiple of what the grid needs at or above it.
constexpr int32_t kPreferredTicksPerQuarter = 480;
// The header's 16-bit division field keeps its top bit for SMPTE timing.
constexpr int32_t kMostTicksPerQuarter = 0x7FFF;
constexpr int32_t kMostBeatsPerMeasure = 255;
constexpr uint8_t kQuarterNotePower = 2;  // a text map's beat
constexpr double kMicrosecondsPerSecond = 1e6;
// Tempo repeats that may fill the gaps of a MIDI map's events: 2^44 ticks,
// centuries at any tempo.
constexpr uint64_t kMostGapFillers = 65536;

constexpr uint8_t kPercussionNoteOn = 0x99;  // channel 10
constexpr uint8_t kPercussionNoteOff = 0x89;

// The clicks: a downbeat, a beat and a later division of a beat each have
// their own note or velocity (general MIDI wood blocks).
struct Click {
  uint8_t note;
  uint8_t velocity;
};
constexpr Click kDownbeatClick{76, 127};
constexpr Click kBeatClick{77, 100};
constexpr Click kDivisionClick{77, 55};

bool CheckDivisions(int32_t divisionsPerBeat, Failure& failure) {
  if (divisionsPerBeat <= kMostTicksPerQuarter) return true;
  SetFailure(failure, "Error: A MIDI file holds at most %i divisions per beat!\n",
             kMostTicksPerQuarter);
  return false;
}

// A text map's beat is a quarter note: its divisions fall on whole ticks.
void ChooseTextTicks(int32_t divisionsPerBeat, MidiPlan& plan) {
  const int32_t multiple = (kPreferredTicksPerQuarter + divisionsPerBeat - 1) / divisionsPerBeat;
  plan.ticksPerQuarter = divisionsPerBeat * multiple;
  plan.ticksPerStep = multiple;
}

bool CheckSectionForMidi(const TempoMap& map, int32_t slot, Failure& failure) {
  if (map.beatsPerMeasure[slot] > kMostBeatsPerMeasure) {
    SetFailure(failure, "Error: A MIDI file holds at most %i beats per measure! (section %i)\n",
               kMostBeatsPerMeasure, slot + 1);
    return false;
  }
  if (RoundedMicrosecondsPerQuarter(map.tempo[slot]) == 0) {
    SetFailure(failure, "Error: A MIDI file cannot hold the tempo of section %i!\n", slot + 1);
    return false;
  }
  return true;
}

// Where each section with measures begins: each within one delta time of the
// one before it, so every start stays far inside 64 bits.
bool PlaceSections(const TempoMap& map, MidiPlan& plan, Failure& failure) {
  const int32_t sectionCount = SectionsToWalk(map);
  MidiTicks tick = 0;
  MidiTicks lastStart = 0;
  int64_t measure = 0;
  for (int32_t k = 0; k < sectionCount; ++k) {
    const int32_t measures = map.measures[k];
    if (measures <= 0) continue;
    if (!CheckSectionForMidi(map, k, failure)) return false;
    if (tick - lastStart > kLongestMidiDelta) {
      SetFailure(failure, "Error: Section %i begins too long after the one before it for MIDI!\n",
                 k + 1);
      return false;
    }
    plan.sectionStartTick[k] = static_cast<uint64_t>(tick);
    plan.sectionStartMeasure[k] = measure;
    lastStart = tick;
    tick += static_cast<MidiTicks>(measures) * static_cast<uint64_t>(map.beatsPerMeasure[k]) *
            static_cast<uint64_t>(plan.ticksPerQuarter);
    measure += measures;
  }
  return true;
}

// The export's ticks per quarter note for a MIDI map: a multiple of the
// smallest that puts each of its ticks, and its end, on a whole tick. Where
// one up to 32,767 also puts every grid point on a whole tick, the first at
// or above 480 of those; else the finest that holds the map's ticks, each
// click then on the tick nearest its grid point.
bool ChooseMidiMapTicks(const MidiMap& map, int32_t divisionsPerBeat, bool leadIn, MidiPlan& plan,
                        Failure& failure) {
  uint64_t common = std::gcd(uint64_t{map.ticksPerQuarter}, map.lastTick);
  int power = 0;
  for (int32_t k = 0; k < map.tempoCount; ++k) common = std::gcd(common, map.tempos[k].tick);
  for (int32_t k = 0; k < map.meterCount; ++k) {
    common = std::gcd(common, map.meters[k].tick);
    power = std::max<int>(power, map.meters[k].denominatorPower);
  }
  uint64_t least = map.ticksPerQuarter / common;
  if (leadIn) {
    // The count-in's beats and the lead-in's bars, of the first meter, on whole ticks.
    const uint64_t beat = uint64_t{1} << map.meters[0].denominatorPower;
    const uint64_t needs = beat / std::gcd(beat, uint64_t{4});
    least = least / std::gcd(least, needs) * needs;
    if (least > kMostTicksPerQuarter) {
      SetFailure(failure, "Error: A MIDI file cannot put the count-in's beats on whole ticks!\n");
      return false;
    }
  }
  // A division is 4 x ticks per quarter / (2^power x divisions) ticks.
  const uint64_t splits = (uint64_t{1} << power) * static_cast<uint64_t>(divisionsPerBeat);
  const uint64_t forPoints = splits / std::gcd(splits, uint64_t{4});
  const Wide both = static_cast<Wide>(least / std::gcd(least, forPoints)) * forPoints;
  plan.clicksOnTicks = both <= kMostTicksPerQuarter;
  const uint64_t step = plan.clicksOnTicks ? static_cast<uint64_t>(both) : least;
  const uint64_t multiple = plan.clicksOnTicks ? (kPreferredTicksPerQuarter + step - 1) / step
                                               : kMostTicksPerQuarter / step;
  plan.ticksPerQuarter = static_cast<int32_t>(step * multiple);
  plan.ticksPerStep = 0;
  return true;
}

Click ClickOf(const GridPoint& point) {
  switch (point.kind) {
    case PointKind::kDownbeat:
      return kDownbeatClick;
    case PointKind::kBeat:
      return kBeatClick;
    case PointKind::kDivision:
      break;
  }
  return kDivisionClick;
}

// A click's note on and, when the next click or the track's end comes, its
// note off: half a division on (at least a tick), and never after the next
// note on.
struct ClickWriting {
  const GridMap* map;
  const GridSettings* settings;
  const MidiPlan* plan;
  ExportSink* sink;
  MidiTicks lastEvent;
  bool pending;  // a note off is due
  MidiTicks offTick;
  uint8_t pendingNote;
  bool found;  // a click was written
  MidiTicks firstTick;
  MidiTicks longestDelta;  // between two note ons, or from the start to the first
};

MidiTicks TextTickOf(const TempoMap& map, const MidiPlan& plan, const GridPoint& point) {
  const int32_t slot = point.section;
  const MidiTicks beats = static_cast<MidiTicks>(point.measure - plan.sectionStartMeasure[slot]) *
                              static_cast<uint64_t>(map.beatsPerMeasure[slot]) +
                          static_cast<uint64_t>(point.beat);
  return plan.sectionStartTick[slot] + beats * static_cast<uint64_t>(plan.ticksPerQuarter) +
         static_cast<MidiTicks>(point.division) * static_cast<uint64_t>(plan.ticksPerStep);
}

// The grid point's position scaled to the export's ticks, to the nearest
// tick (a half rounds up) where it falls between two.
MidiTicks MidiMapTickOf(const MidiMap& map, const MidiPlan& plan, int32_t divisionsPerBeat,
                        const GridPoint& point) {
  const MidiPosition at = PositionOfPoint(map, divisionsPerBeat, point);
  const auto scale = static_cast<uint64_t>(plan.ticksPerQuarter);
  const MidiTicks whole = static_cast<MidiTicks>(at.tick) * scale;
  const MidiTicks rest =
      (whole % map.ticksPerQuarter) * at.denominator + static_cast<MidiTicks>(at.fraction) * scale;
  const MidiTicks below = static_cast<MidiTicks>(map.ticksPerQuarter) * at.denominator;
  return whole / map.ticksPerQuarter + (2 * rest + below) / (2 * below);
}

// Where a grid point clicks in the export without --offset and --count-in.
MidiTicks UnplacedTickOf(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
                         const GridPoint& point) {
  if (map.midi == nullptr) return TextTickOf(*map.text, plan, point);
  return MidiMapTickOf(*map.midi, plan, settings.divisionsPerBeat, point);
}

// Half a division of the export's ticks, at least one.
uint64_t ClickLengthOf(const ClickWriting& writing, const GridPoint& point) {
  const MidiPlan& plan = *writing.plan;
  if (writing.map->midi == nullptr) {
    return plan.ticksPerStep > 1 ? static_cast<uint64_t>(plan.ticksPerStep / 2) : 1;
  }
  const MidiMap& map = *writing.map->midi;
  const MidiMeter& meter = map.meters[MeterOfMeasure(map, point.measure)];
  const uint64_t halves = (uint64_t{2} << meter.denominatorPower) *
                          static_cast<uint64_t>(writing.settings->divisionsPerBeat);
  return std::max<uint64_t>(1, uint64_t{4} * static_cast<uint64_t>(plan.ticksPerQuarter) / halves);
}

MidiTicks TickOf(const ClickWriting& writing, const GridPoint& point) {
  const MidiTicks tick = UnplacedTickOf(*writing.map, *writing.settings, *writing.plan, point);
  const MidiPlacement& placement = writing.plan->placement;
  if (!placement.placed) return tick;
  return tick - placement.cutTick + placement.cutOut;
}

void PutPendingNoteOff(ClickWriting& writing, MidiTicks nextOn) {
  if (!writing.pending) return;
  const MidiTicks off = std::min(writing.offTick, nextOn);
  PutChannelEvent(*writing.sink, static_cast<uint64_t>(off - writing.lastEvent), kPercussionNoteOff,
                  writing.pendingNote, 0);
  writing.lastEvent = off;
  writing.pending = false;
}

void PutClick(ClickWriting& writing, MidiTicks tick, const GridPoint& point) {
  PutPendingNoteOff(writing, tick);
  const MidiTicks delta = tick - writing.lastEvent;
  writing.longestDelta = std::max(writing.longestDelta, delta);
  const Click click = ClickOf(point);
  PutChannelEvent(*writing.sink, static_cast<uint64_t>(delta), kPercussionNoteOn, click.note,
                  click.velocity);
  if (!writing.found) writing.firstTick = tick;
  writing.found = true;
  writing.lastEvent = tick;
  writing.pending = true;
  writing.offTick = tick + ClickLengthOf(writing, point);
  writing.pendingNote = click.note;
}

bool WriteClick(void* context, const GridPoint& point) {
  ClickWriting& writing = *static_cast<ClickWriting*>(context);
  PutClick(writing, TickOf(writing, point), point);
  return !writing.sink->failed;
}

ClickWriting ClickWritingOf(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
                            ExportSink& sink) {
  return ClickWriting{&map, &settings, &plan, &sink, 0, false, 0, 0, false, 0, 0};
}

// The count-in clicks on its beats that the file holds, each measure's first
// with a downbeat's sound.
void WriteCountIn(ClickWriting& writing) {
  const MidiPlacement& placement = writing.plan->placement;
  for (int64_t k = 0; k < placement.countInClicks && !writing.sink->failed; ++k) {
    GridPoint beat{};
    const int64_t ofCountIn = placement.countInSkipped + k;
    beat.kind = ofCountIn % placement.countInMeter == 0 ? PointKind::kDownbeat : PointKind::kBeat;
    PutClick(writing, placement.fillTicks + static_cast<MidiTicks>(k) * placement.beatTicks, beat);
  }
}

void WriteClickTrack(ClickWriting& writing) {
  PutTrackName(*writing.sink, "Click");
  const GridVisitor clicks{&writing, WriteClick, nullptr};
  const MidiPlacement& placement = writing.plan->placement;
  if (placement.placed) {
    WriteCountIn(writing);
    WalkShiftedGrid(*writing.map, *writing.settings, placement.offsetSamples, clicks);
  } else {
    WalkGrid(*writing.map, *writing.settings, clicks);
  }
  PutPendingNoteOff(writing, ~MidiTicks{0});
  PutEndOfTrack(*writing.sink, 0);
}

bool RememberFirstClick(void* context, const GridPoint& point) {
  ClickWriting& writing = *static_cast<ClickWriting*>(context);
  writing.found = true;
  writing.firstTick = UnplacedTickOf(*writing.map, *writing.settings, *writing.plan, point);
  return false;
}

bool CheckFirstClick(const ClickWriting& writing, Failure& failure) {
  if (!writing.found || writing.firstTick <= kLongestMidiDelta) return true;
  SetFailure(failure, "Error: The range begins too far into the map for a MIDI file!\n");
  return false;
}
// A text map's click track, measured without writing it: the clicks of a
// range follow one another a division apart, across section boundaries too,
// so every delta but the first is the same. Only the first can be too long.
bool MeasureTextClickTrack(const GridMap& map, const GridSettings& settings, MidiPlan& plan,
                           Failure& failure) {
  ExportSink track = CountingSink();
  ClickWriting first = ClickWritingOf(map, settings, plan, track);
  WalkGrid(map, settings, GridVisitor{&first, RememberFirstClick, nullptr});
  if (!CheckFirstClick(first, failure)) return false;
  PutTrackName(track, "Click");
  PutEndOfTrack(track, 0);
  if (first.found) {
    const uint64_t clickLength = plan.ticksPerStep > 1 ? plan.ticksPerStep / 2 : 1;
    PutChannelEvent(track, static_cast<uint64_t>(first.firstTick), kPercussionNoteOn, 0, 0);
    PutChannelEvent(track, clickLength, kPercussionNoteOff, 0, 0);
    // Every later click is the same number of bytes, whatever its sound.
    ExportSink later = CountingSink();
    PutChannelEvent(later, static_cast<uint64_t>(plan.ticksPerStep) - clickLength,
                    kPercussionNoteOn, 0, 0);
    PutChannelEvent(later, clickLength, kPercussionNoteOff, 0, 0);
    track.bytes += (CountGridPoints(map, settings) - 1) * later.bytes;
  }
  plan.clickTrackLength = static_cast<uint32_t>(track.bytes);
  return true;
}

// The beat (a quarter note from the start of the map) that holds the last
// point of the range; -1 when the range holds none.
int64_t LastClickBeat(const TempoMap& map, const GridSettings& settings, const MidiPlan& plan) {
  const int64_t measure = LastTextMeasureInRange(map, settings);
  if (measure < 0) return -1;
  const int32_t sectionCount = SectionsToWalk(map);
  int32_t slot = 0;
  for (int32_t k = 0; k < sectionCount; ++k) {
    if (map.measures[k] > 0 && plan.sectionStartMeasure[k] <= measure) slot = k;
  }
  const int64_t beats = map.beatsPerMeasure[slot];
  return static_cast<int64_t>(plan.sectionStartTick[slot] /
                              static_cast<uint64_t>(plan.ticksPerQuarter)) +
         (measure - plan.sectionStartMeasure[slot] + 1) * beats - 1;
}

// The meter and tempo of the section measure 1 lies in, which the count-in
// takes, and the lead-in's bars are of: a text map's first section with
// measures (its beat a quarter note), a MIDI map's first.
struct CountInReference {
  int32_t beatsPerMeasure;  // 0: no measures to count in
  uint8_t numerator;
  uint8_t denominatorPower;
  uint32_t tempo;  // microseconds per quarter note, whole
  double quarter;  // microseconds per quarter note, as the section has it
};

CountInReference CountInReferenceOf(const GridMap& map) {
  if (map.midi != nullptr) {
    const MidiMeter& meter = map.midi->meters[0];
    const uint32_t tempo = map.midi->tempos[0].microsecondsPerQuarter;
    return CountInReference{meter.numerator, meter.numerator, meter.denominatorPower, tempo,
                            static_cast<double>(tempo)};
  }
  const TempoMap& text = *map.text;
  const int32_t sectionCount = SectionsToWalk(text);
  for (int32_t k = 0; k < sectionCount; ++k) {
    // A section with measures has passed the checks of a MIDI file.
    if (text.measures[k] <= 0) continue;
    return CountInReference{text.beatsPerMeasure[k], static_cast<uint8_t>(text.beatsPerMeasure[k]),
                            kQuarterNotePower, RoundedMicrosecondsPerQuarter(text.tempo[k]),
                            60000000.0 / static_cast<double>(text.tempo[k])};
  }
  return CountInReference{0, 4, kQuarterNotePower, kDefaultMicrosecondsPerQuarter,
                          kDefaultMicrosecondsPerQuarter};
}

// An offset, or without one a count-in, puts time before measure 1.
bool LeadsIn(const ExportSettings& placed) {
  return placed.offsetSamples > 0 || (!placed.offsetGiven && placed.countIn > 0);
}

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
  const CountInReference reference = CountInReferenceOf(map);
  const auto ticksPerQuarter = static_cast<uint32_t>(plan.ticksPerQuarter);
  MidiPlacement& placement = plan.placement;
  placement.countInMeter = reference.numerator;
  placement.beatTicks = (MidiTicks{4} * ticksPerQuarter) >> reference.denominatorPower;
  placement.countInQuarter = reference.quarter;
  const int64_t beats = int64_t{placed.countIn} * reference.beatsPerMeasure;
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
  const LeadInRequest request{
      ticksPerQuarter,
      time - used,
      static_cast<MidiTicks>(kept % reference.numerator) * placement.beatTicks,
      kept / reference.numerator,
      reference.numerator,
      reference.denominatorPower,
      reference.tempo};
  if (!LayLeadIn(request, placement)) return RefuseLongOffset(failure);
  placement.cutOut = placement.fillTicks + static_cast<MidiTicks>(kept) * placement.beatTicks;
  placement.countInFromStart = !placed.offsetGiven;
  const Wide held = used + (placement.fillExact ? request.time : placement.fillTicks);
  placement.measureOneAim = MeasureOneAim(placed, settings, placement, held, ticksPerQuarter);
  placement.placed = true;
  placement.offsetSamples = placed.offsetSamples;
  return true;
}

bool TakeFirstPoint(void* context, const GridPoint& point) {
  *static_cast<GridPoint*>(context) = point;
  return false;
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
  first.section = -1;
  WalkShiftedGrid(map, settings, placed.offsetSamples,
                  GridVisitor{&first, TakeFirstPoint, nullptr});
  const MidiTicks firstKept =
      first.section < 0 ? ~MidiTicks{0} : UnplacedTickOf(map, settings, plan, first);
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

bool PlaceExport(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                 MidiPlan& plan, Failure& failure) {
  plan.placement = MidiPlacement{};
  plan.placement.countInMeter = 1;
  if (placed.offsetSamples < 0) return PlaceCut(map, settings, placed, plan, failure);
  if (LeadsIn(placed)) return PlaceLeadIn(map, settings, placed, plan, failure);
  return true;
}

// A placed click track is measured by writing it; its count-in and the gap
// before the range may leave any delta too long.
bool MeasurePlacedClickTrack(const GridMap& map, const GridSettings& settings, MidiPlan& plan,
                             Failure& failure) {
  ExportSink clickTrack = CountingSink();
  ClickWriting clicks = ClickWritingOf(map, settings, plan, clickTrack);
  WriteClickTrack(clicks);
  if (clicks.longestDelta > kLongestMidiDelta) {
    SetFailure(failure, "Error: The range begins too far into the map for a MIDI file!\n");
    return false;
  }
  plan.clickTrackLength = static_cast<uint32_t>(clickTrack.bytes);
  return true;
}

bool PlanTextMidi(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                  MidiPlan& plan, Failure& failure) {
  const TempoMap& text = *map.text;
  ChooseTextTicks(settings.divisionsPerBeat, plan);
  if (!PlaceSections(text, plan, failure)) return false;
  if (!MeasureTextClickTrack(map, settings, plan, failure)) return false;
  // The tempo track is measured only now: the range's first click is near
  // enough to the start that the beats it carries are few enough to walk.
  plan.lastClickBeat = LastClickBeat(text, settings, plan);
  if (!PlaceExport(map, settings, placed, plan, failure)) return false;
  ExportSink tempoTrack = CountingSink();
  WriteTextTempoTrack(text, settings, plan, tempoTrack);
  plan.tempoTrackLength = static_cast<uint32_t>(tempoTrack.bytes);
  return !plan.placement.placed || MeasurePlacedClickTrack(map, settings, plan, failure);
}

// A MIDI map's click track is measured by writing it, as its deltas differ
// from meter to meter.
bool PlanMidiMapMidi(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                     MidiPlan& plan, Failure& failure) {
  const MidiMap& midi = *map.midi;
  if (!ChooseMidiMapTicks(midi, settings.divisionsPerBeat, LeadsIn(placed), plan, failure)) {
    return false;
  }
  if (GapFillersOf(midi, plan) > kMostGapFillers) {
    SetFailure(failure, "Error: The map's events lie too far apart for a MIDI file!\n");
    return false;
  }
  if (!PlaceExport(map, settings, placed, plan, failure)) return false;
  ExportSink tempoTrack = CountingSink();
  WriteMidiMapTempoTrack(midi, plan, tempoTrack);
  // Far below 4 GiB: at most 262,145 meters, 65,536 tempos and as many
  // fillers, a lead-in of 4,080 count-in beats, and 16,777,216 clicks of at
  // most 11 bytes.
  plan.tempoTrackLength = static_cast<uint32_t>(tempoTrack.bytes);
  if (plan.placement.placed) return MeasurePlacedClickTrack(map, settings, plan, failure);
  ExportSink clickTrack = CountingSink();
  ClickWriting clicks = ClickWritingOf(map, settings, plan, clickTrack);
  WriteClickTrack(clicks);
  if (!CheckFirstClick(clicks, failure)) return false;
  plan.clickTrackLength = static_cast<uint32_t>(clickTrack.bytes);
  return true;
}

}  // namespace

bool PlanMidi(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
              MidiPlan& plan, Failure& failure) {
  if (!CheckDivisions(settings.divisionsPerBeat, failure)) return false;
  return map.midi != nullptr ? PlanMidiMapMidi(map, settings, placed, plan, failure)
                             : PlanTextMidi(map, settings, placed, plan, failure);
}

void WriteMidi(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
               ExportSink& sink) {
  PutMidiHeader(sink, 1, 2, static_cast<uint16_t>(plan.ticksPerQuarter));  // tracks played together
  PutTrackHead(sink, plan.tempoTrackLength);
  if (map.midi != nullptr) {
    WriteMidiMapTempoTrack(*map.midi, plan, sink);
  } else {
    WriteTextTempoTrack(*map.text, settings, plan, sink);
  }
  PutTrackHead(sink, plan.clickTrackLength);
  ClickWriting clicks = ClickWritingOf(map, settings, plan, sink);
  WriteClickTrack(clicks);
}
