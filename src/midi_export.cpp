#include "midi_export.h"

#include <cmath>

namespace {

// Ticks are counted wide: a point deep in a long section lies past 2^64.
using Ticks = unsigned __int128;

// The finest ticks a sequencer's grid commonly uses; the ticks per quarter
// note are the first multiple of the divisions at or above it.
constexpr int32_t kPreferredTicksPerQuarter = 480;
// The header's 16-bit division field keeps its top bit for SMPTE timing.
constexpr int32_t kMostTicksPerQuarter = 0x7FFF;
constexpr uint64_t kLongestDelta = 0x0FFFFFFF;  // four bytes of 7 bits
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

void PutByte(ExportSink& sink, uint8_t byte) {
  PutBytes(sink, &byte, 1);
}

void PutBigEndian(ExportSink& sink, uint64_t value, int bytes) {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
    PutByte(sink, static_cast<uint8_t>(value >> shift));
  }
}

// A delta time: seven bits a byte, most significant first, every byte but the
// last with its top bit set. The plan keeps every delta within four bytes.
void PutDelta(ExportSink& sink, uint64_t delta) {
  int shift = 21;
  while (shift > 0 && (delta >> shift) == 0) shift -= 7;
  for (; shift > 0; shift -= 7)
    PutByte(sink, static_cast<uint8_t>(0x80 | ((delta >> shift) & 0x7F)));
  PutByte(sink, static_cast<uint8_t>(delta & 0x7F));
}

void PutMetaEvent(ExportSink& sink, uint64_t delta, uint8_t type, const uint8_t* data,
                  uint8_t length) {
  PutDelta(sink, delta);
  const uint8_t head[] = {0xFF, type, length};
  PutBytes(sink, head, sizeof head);
  PutBytes(sink, data, length);
}

void PutTrackName(ExportSink& sink, const char* name, uint8_t length) {
  PutMetaEvent(sink, 0, 0x03, reinterpret_cast<const uint8_t*>(name), length);
}

void PutEndOfTrack(ExportSink& sink) {
  PutMetaEvent(sink, 0, 0x2F, nullptr, 0);
}

void PutTrackHead(ExportSink& sink, uint32_t length) {
  PutBytes(sink, "MTrk", 4);
  PutBigEndian(sink, length, 4);
}

// 60,000,000 / tempo, to the nearest whole; 0 where the tempo has none that
// a MIDI file can hold.
uint64_t MicrosecondsPerQuarter(float tempo) {
  const double microseconds = 60000000.0 / static_cast<double>(tempo);
  if (!(microseconds >= 0.5 && microseconds < kMostMicrosecondsPerQuarter + 0.5)) return 0;
  return static_cast<uint64_t>(std::llround(microseconds));
}

bool ChooseTicks(int32_t divisionsPerBeat, MidiPlan& plan, RenderFailure& failure) {
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

bool CheckSectionForMidi(const TempoMap& map, int32_t slot, RenderFailure& failure) {
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
bool PlaceSections(const TempoMap& map, int32_t sectionCount, MidiPlan& plan,
                   RenderFailure& failure) {
  Ticks tick = 0;
  Ticks lastStart = 0;
  int64_t measure = 0;
  for (int32_t k = 0; k < sectionCount; ++k) {
    const int32_t measures = map.measures[k];
    if (measures <= 0) continue;
    if (!CheckSectionForMidi(map, k, failure)) return false;
    if (tick - lastStart > kLongestDelta) {
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

void WriteTempoTrack(const TempoMap& map, int32_t sectionCount, const MidiPlan& plan,
                     ExportSink& sink) {
  PutTrackName(sink, "Tempo map", 9);
  uint64_t lastEvent = 0;
  for (int32_t k = 0; k < sectionCount; ++k) {
    if (map.measures[k] <= 0) continue;
    const uint64_t tick = plan.sectionStartTick[k];
    const uint8_t meter[] = {static_cast<uint8_t>(map.beatsPerMeasure[k]), 2, 24, 8};
    PutMetaEvent(sink, tick - lastEvent, 0x58, meter, sizeof meter);
    const uint64_t microseconds = MicrosecondsPerQuarter(map.tempo[k]);
    const uint8_t tempo[] = {static_cast<uint8_t>(microseconds >> 16),
                             static_cast<uint8_t>(microseconds >> 8),
                             static_cast<uint8_t>(microseconds)};
    PutMetaEvent(sink, 0, 0x51, tempo, sizeof tempo);
    lastEvent = tick;
  }
  PutEndOfTrack(sink);
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
  if (point.division != 0) return kDivisionClick;
  return point.beat == 0 ? kDownbeatClick : kBeatClick;
}

// Each click sounds for half a division (at least a tick), so it ends before
// the next begins.
uint64_t ClickLength(const MidiPlan& plan) {
  return plan.ticksPerStep > 1 ? static_cast<uint64_t>(plan.ticksPerStep / 2) : 1;
}

bool WriteClick(void* context, const GridPoint& point) {
  ClickWriting& writing = *static_cast<ClickWriting*>(context);
  const Ticks tick = TickOf(*writing.map, *writing.plan, point);
  const uint64_t length = ClickLength(*writing.plan);
  const Click click = ClickOf(point);
  ExportSink& sink = *writing.sink;
  PutDelta(sink, static_cast<uint64_t>(tick - writing.lastEvent));
  const uint8_t on[] = {kPercussionNoteOn, click.note, click.velocity};
  PutBytes(sink, on, sizeof on);
  PutDelta(sink, length);
  const uint8_t off[] = {kPercussionNoteOff, click.note, 0};
  PutBytes(sink, off, sizeof off);
  writing.lastEvent = tick + length;
  return !sink.failed;
}

void WriteClickTrack(const TempoMap& map, int32_t sectionCount, const GridSettings& settings,
                     const MidiPlan& plan, ExportSink& sink) {
  PutTrackName(sink, "Click", 5);
  ClickWriting writing{&map, &plan, &sink, 0};
  WalkCheckedGrid(map, sectionCount, settings, GridVisitor{&writing, WriteClick, nullptr});
  PutEndOfTrack(sink);
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

uint64_t DeltaBytes(uint64_t delta) {
  uint64_t bytes = 1;
  while (delta >>= 7) ++bytes;
  return bytes;
}

// The click track's length, found without writing it: the clicks of a range
// follow one another a division apart, across section boundaries too, so
// every delta but the first is the same. Only the first can be too long.
bool MeasureClickTrack(const TempoMap& map, int32_t sectionCount, const GridSettings& settings,
                       MidiPlan& plan, RenderFailure& failure) {
  FirstClick first{&map, &plan, false, 0};
  WalkCheckedGrid(map, sectionCount, settings, GridVisitor{&first, RememberFirstClick, nullptr});
  const uint64_t points = CountGridPoints(map, sectionCount, settings);
  const uint64_t name = 4 + 5;
  const uint64_t endOfTrack = 4;
  uint64_t length = name + endOfTrack;
  if (first.found) {
    if (first.tick > kLongestDelta) {
      SetFailure(failure, "Error: The range begins too far into the map for a MIDI file!\n");
      return false;
    }
    const uint64_t clickLength = ClickLength(plan);
    const uint64_t gap = static_cast<uint64_t>(plan.ticksPerStep) - clickLength;
    const uint64_t notes = 3 + DeltaBytes(clickLength) + 3;
    length += DeltaBytes(static_cast<uint64_t>(first.tick)) + (points - 1) * DeltaBytes(gap) +
              points * notes;
  }
  plan.clickTrackLength = static_cast<uint32_t>(length);
  return true;
}

}  // namespace

bool PlanMidi(const TempoMap& map, int32_t sectionCount, const GridSettings& settings,
              MidiPlan& plan, RenderFailure& failure) {
  if (!ChooseTicks(settings.divisionsPerBeat, plan, failure)) return false;
  if (!PlaceSections(map, sectionCount, plan, failure)) return false;
  ExportSink tempoTrack = CountingSink();
  WriteTempoTrack(map, sectionCount, plan, tempoTrack);
  plan.tempoTrackLength = static_cast<uint32_t>(tempoTrack.bytes);
  return MeasureClickTrack(map, sectionCount, settings, plan, failure);
}

void WriteMidi(const TempoMap& map, int32_t sectionCount, const GridSettings& settings,
               const MidiPlan& plan, ExportSink& sink) {
  PutBytes(sink, "MThd", 4);
  PutBigEndian(sink, 6, 4);
  PutBigEndian(sink, 1, 2);  // format 1: tracks played together
  PutBigEndian(sink, 2, 2);
  PutBigEndian(sink, static_cast<uint64_t>(plan.ticksPerQuarter), 2);
  PutTrackHead(sink, plan.tempoTrackLength);
  WriteTempoTrack(map, sectionCount, plan, sink);
  PutTrackHead(sink, plan.clickTrackLength);
  WriteClickTrack(map, sectionCount, settings, plan, sink);
}
