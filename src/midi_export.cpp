#include "midi_export.h"

#include <algorithm>
#include <numeric>

#include "midi_grid.h"
#include "midi_tempo_track.h"
#include "smf_encoder.h"
#include "text_grid.h"

namespace {

// The finest ticks a sequencer's grid commonly uses; the ticks per quarter
// note are the first multiple of what the grid needs at or above it.
constexpr int32_t kPreferredTicksPerQuarter = 480;
// The header's 16-bit division field keeps its top bit for SMPTE timing.
constexpr int32_t kMostTicksPerQuarter = 0x7FFF;
constexpr int32_t kMostBeatsPerMeasure = 255;
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
void ChooseMidiMapTicks(const MidiMap& map, int32_t divisionsPerBeat, MidiPlan& plan) {
  uint64_t common = std::gcd(uint64_t{map.ticksPerQuarter}, map.lastTick);
  int power = 0;
  for (int32_t k = 0; k < map.tempoCount; ++k) common = std::gcd(common, map.tempos[k].tick);
  for (int32_t k = 0; k < map.meterCount; ++k) {
    common = std::gcd(common, map.meters[k].tick);
    power = std::max<int>(power, map.meters[k].denominatorPower);
  }
  const uint64_t least = map.ticksPerQuarter / common;
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
  if (writing.map->midi == nullptr) return TextTickOf(*writing.map->text, *writing.plan, point);
  return MidiMapTickOf(*writing.map->midi, *writing.plan, writing.settings->divisionsPerBeat,
                       point);
}

void PutPendingNoteOff(ClickWriting& writing, MidiTicks nextOn) {
  if (!writing.pending) return;
  const MidiTicks off = std::min(writing.offTick, nextOn);
  PutChannelEvent(*writing.sink, static_cast<uint64_t>(off - writing.lastEvent), kPercussionNoteOff,
                  writing.pendingNote, 0);
  writing.lastEvent = off;
  writing.pending = false;
}

bool WriteClick(void* context, const GridPoint& point) {
  ClickWriting& writing = *static_cast<ClickWriting*>(context);
  const MidiTicks tick = TickOf(writing, point);
  PutPendingNoteOff(writing, tick);
  const Click click = ClickOf(point);
  PutChannelEvent(*writing.sink, static_cast<uint64_t>(tick - writing.lastEvent), kPercussionNoteOn,
                  click.note, click.velocity);
  if (!writing.found) writing.firstTick = tick;
  writing.found = true;
  writing.lastEvent = tick;
  writing.pending = true;
  writing.offTick = tick + ClickLengthOf(writing, point);
  writing.pendingNote = click.note;
  return !writing.sink->failed;
}

ClickWriting ClickWritingOf(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
                            ExportSink& sink) {
  return ClickWriting{&map, &settings, &plan, &sink, 0, false, 0, 0, false, 0};
}

void WriteClickTrack(ClickWriting& writing) {
  PutTrackName(*writing.sink, "Click");
  WalkGrid(*writing.map, *writing.settings, GridVisitor{&writing, WriteClick, nullptr});
  PutPendingNoteOff(writing, ~MidiTicks{0});
  PutEndOfTrack(*writing.sink, 0);
}

bool RememberFirstClick(void* context, const GridPoint& point) {
  ClickWriting& writing = *static_cast<ClickWriting*>(context);
  writing.found = true;
  writing.firstTick = TickOf(writing, point);
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

bool PlanTextMidi(const GridMap& map, const GridSettings& settings, MidiPlan& plan,
                  Failure& failure) {
  const TempoMap& text = *map.text;
  ChooseTextTicks(settings.divisionsPerBeat, plan);
  if (!PlaceSections(text, plan, failure)) return false;
  if (!MeasureTextClickTrack(map, settings, plan, failure)) return false;
  // The tempo track is measured only now: the range's first click is near
  // enough to the start that the beats it carries are few enough to walk.
  plan.lastClickBeat = LastClickBeat(text, settings, plan);
  ExportSink tempoTrack = CountingSink();
  WriteTextTempoTrack(text, settings, plan, tempoTrack);
  plan.tempoTrackLength = static_cast<uint32_t>(tempoTrack.bytes);
  return true;
}

// A MIDI map's click track is measured by writing it, as its deltas differ
// from meter to meter.
bool PlanMidiMapMidi(const GridMap& map, const GridSettings& settings, MidiPlan& plan,
                     Failure& failure) {
  const MidiMap& midi = *map.midi;
  ChooseMidiMapTicks(midi, settings.divisionsPerBeat, plan);
  if (GapFillersOf(midi, plan) > kMostGapFillers) {
    SetFailure(failure, "Error: The map's events lie too far apart for a MIDI file!\n");
    return false;
  }
  ExportSink tempoTrack = CountingSink();
  WriteMidiMapTempoTrack(midi, plan, tempoTrack);
  ExportSink clickTrack = CountingSink();
  ClickWriting clicks = ClickWritingOf(map, settings, plan, clickTrack);
  WriteClickTrack(clicks);
  if (!CheckFirstClick(clicks, failure)) return false;
  // Far below 4 GiB: at most 262,145 meters, 65,536 tempos and as many
  // fillers, and 16,777,216 clicks of at most 11 bytes.
  plan.tempoTrackLength = static_cast<uint32_t>(tempoTrack.bytes);
  plan.clickTrackLength = static_cast<uint32_t>(clickTrack.bytes);
  return true;
}

}  // namespace

bool PlanMidi(const GridMap& map, const GridSettings& settings, MidiPlan& plan, Failure& failure) {
  if (!CheckDivisions(settings.divisionsPerBeat, failure)) return false;
  return map.midi != nullptr ? PlanMidiMapMidi(map, settings, plan, failure)
                             : PlanTextMidi(map, settings, plan, failure);
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
