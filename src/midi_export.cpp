#include "midi_export.h"

#include <cmath>

#include "smf_encoder.h"
#include "text_grid.h"

namespace {

// Ticks are counted wide: a point deep in a long section lies past 2^64.
using Ticks = unsigned __int128;

// The finest ticks a sequencer's grid commonly uses; the ticks per quarter
// note are the first multiple of the divisions at or above it.
constexpr int32_t kPreferredTicksPerQuarter = 480;
// The header's 16-bit division field keeps its top bit for SMPTE timing.
constexpr int32_t kMostTicksPerQuarter = 0x7FFF;
constexpr uint64_t kMostMicrosecondsPerQuarter = 0xFFFFFF;
constexpr int32_t kMostBeatsPerMeasure = 255;

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

// 60,000,000 / tempo, to the nearest whole; 0 where the tempo has none that
// a MIDI file can hold.
uint64_t MicrosecondsPerQuarter(float tempo) {
  const double microseconds = 60000000.0 / static_cast<double>(tempo);
  if (!(microseconds >= 0.5 && microseconds < kMostMicrosecondsPerQuarter + 0.5)) return 0;
  return static_cast<uint64_t>(std::llround(microseconds));
}

bool ChooseTicks(int32_t divisionsPerBeat, MidiPlan& plan, Failure& failure) {
  if (divisionsPerBeat > kMostTicksPerQuarter) {
    SetFailure(failure, "Error: A MIDI file holds at most %i divisions per beat!\n",
               kMostTicksPerQuarter);
    return false;
  }
  const int32_t multiple = (kPreferredTicksPerQuarter + divisionsPerBeat - 1) / divisionsPerBeat;
  plan.ticksPerQuarter = divisionsPerBeat * multiple;
  plan.ticksPerStep = multiple;
  return true;
}

bool CheckSectionForMidi(const TempoMap& map, int32_t slot, Failure& failure) {
  if (map.beatsPerMeasure[slot] > kMostBeatsPerMeasure) {
    SetFailure(failure, "Error: A MIDI file holds at most %i beats per measure! (section %i)\n",
               kMostBeatsPerMeasure, slot + 1);
    return false;
  }
  if (MicrosecondsPerQuarter(map.tempo[slot]) == 0) {
    SetFailure(failure, "Error: A MIDI file cannot hold the tempo of section %i!\n", slot + 1);
    return false;
  }
  return true;
}

// Where each section with measures begins: each within one delta time of the
// one before it, so every start stays far inside 64 bits.
bool PlaceSections(const TempoMap& map, MidiPlan& plan, Failure& failure) {
  const int32_t sectionCount = SectionsToWalk(map);
  Ticks tick = 0;
  Ticks lastStart = 0;
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
    tick += static_cast<Ticks>(measures) * static_cast<uint64_t>(map.beatsPerMeasure[k]) *
            static_cast<uint64_t>(plan.ticksPerQuarter);
    measure += measures;
  }
  return true;
}

void WriteTempoTrack(const TempoMap& map, const MidiPlan& plan, ExportSink& sink) {
  const int32_t sectionCount = SectionsToWalk(map);
  PutTrackName(sink, "Tempo map");
  uint64_t lastEvent = 0;
  for (int32_t k = 0; k < sectionCount; ++k) {
    if (map.measures[k] <= 0) continue;
    const uint64_t tick = plan.sectionStartTick[k];
    // A beat is a quarter note.
    PutTimeSignature(sink, tick - lastEvent, static_cast<uint8_t>(map.beatsPerMeasure[k]), 2);
    PutTempo(sink, 0, static_cast<uint32_t>(MicrosecondsPerQuarter(map.tempo[k])));
    lastEvent = tick;
  }
  PutEndOfTrack(sink, 0);
}

// The click track's walk.
struct ClickWriting {
  const TempoMap* map;
  const MidiPlan* plan;
  ExportSink* sink;
  Ticks lastEvent;
};

Ticks TickOf(const TempoMap& map, const MidiPlan& plan, const GridPoint& point) {
  const int32_t slot = point.section;
  const Ticks beats = static_cast<Ticks>(point.measure - plan.sectionStartMeasure[slot]) *
                          static_cast<uint64_t>(map.beatsPerMeasure[slot]) +
                      static_cast<uint64_t>(point.beat);
  return plan.sectionStartTick[slot] + beats * static_cast<uint64_t>(plan.ticksPerQuarter) +
         static_cast<Ticks>(point.division) * static_cast<uint64_t>(plan.ticksPerStep);
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

// Each click sounds for half a division (at least a tick), so it ends before
// the next begins.
uint64_t ClickLength(const MidiPlan& plan) {
  return plan.ticksPerStep > 1 ? static_cast<uint64_t>(plan.ticksPerStep / 2) : 1;
}

// A click: its note on `delta` ticks after the last event, and its note off.
void PutClick(ExportSink& sink, uint64_t delta, const Click& click, uint64_t length) {
  PutChannelEvent(sink, delta, kPercussionNoteOn, click.note, click.velocity);
  PutChannelEvent(sink, length, kPercussionNoteOff, click.note, 0);
}

bool WriteClick(void* context, const GridPoint& point) {
  ClickWriting& writing = *static_cast<ClickWriting*>(context);
  const Ticks tick = TickOf(*writing.map, *writing.plan, point);
  const uint64_t length = ClickLength(*writing.plan);
  PutClick(*writing.sink, static_cast<uint64_t>(tick - writing.lastEvent), ClickOf(point), length);
  writing.lastEvent = tick + length;
  return !writing.sink->failed;
}

void WriteClickTrack(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
                     ExportSink& sink) {
  PutTrackName(sink, "Click");
  ClickWriting writing{map.text, &plan, &sink, 0};
  WalkGrid(map, settings, GridVisitor{&writing, WriteClick, nullptr});
  PutEndOfTrack(sink, 0);
}

struct FirstClick {
  const TempoMap* map;
  const MidiPlan* plan;
  bool found;
  Ticks tick;
};

bool RememberFirstClick(void* context, const GridPoint& point) {
  FirstClick& first = *static_cast<FirstClick*>(context);
  first.found = true;
  first.tick = TickOf(*first.map, *first.plan, point);
  return false;
}

// The click track's length, found without writing it: the clicks of a range
// follow one another a division apart, across section boundaries too, so
// every delta but the first is the same. Only the first can be too long.
bool MeasureClickTrack(const GridMap& map, const GridSettings& settings, MidiPlan& plan,
                       Failure& failure) {
  FirstClick first{map.text, &plan, false, 0};
  WalkGrid(map, settings, GridVisitor{&first, RememberFirstClick, nullptr});
  ExportSink track = CountingSink();
  PutTrackName(track, "Click");
  PutEndOfTrack(track, 0);
  if (first.found) {
    if (first.tick > kLongestMidiDelta) {
      SetFailure(failure, "Error: The range begins too far into the map for a MIDI file!\n");
      return false;
    }
    const uint64_t clickLength = ClickLength(plan);
    PutClick(track, static_cast<uint64_t>(first.tick), kDownbeatClick, clickLength);
    // Every later click is the same number of bytes, whatever its sound.
    ExportSink later = CountingSink();
    PutClick(later, static_cast<uint64_t>(plan.ticksPerStep) - clickLength, kDownbeatClick,
             clickLength);
    track.bytes += (CountGridPoints(map, settings) - 1) * later.bytes;
  }
  plan.clickTrackLength = static_cast<uint32_t>(track.bytes);
  return true;
}

}  // namespace

bool PlanMidi(const GridMap& map, const GridSettings& settings, MidiPlan& plan, Failure& failure) {
  if (map.midi != nullptr) {
    SetFailure(failure, "Error: A MIDI map cannot be exported as MIDI yet!\n");
    return false;
  }
  if (!ChooseTicks(settings.divisionsPerBeat, plan, failure)) return false;
  if (!PlaceSections(*map.text, plan, failure)) return false;
  ExportSink tempoTrack = CountingSink();
  WriteTempoTrack(*map.text, plan, tempoTrack);
  plan.tempoTrackLength = static_cast<uint32_t>(tempoTrack.bytes);
  return MeasureClickTrack(map, settings, plan, failure);
}

void WriteMidi(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
               ExportSink& sink) {
  PutMidiHeader(sink, 1, 2, static_cast<uint16_t>(plan.ticksPerQuarter));  // tracks played together
  PutTrackHead(sink, plan.tempoTrackLength);
  WriteTempoTrack(*map.text, plan, sink);
  PutTrackHead(sink, plan.clickTrackLength);
  WriteClickTrack(map, settings, plan, sink);
}
