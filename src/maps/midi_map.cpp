#include "maps/midi_map.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr uint8_t kDefaultNumerator = 4;
constexpr uint8_t kDefaultDenominatorPower = 2;  // a quarter note

// The events of one tick: the last tempo and the last meter among them.
struct TickEvents {
  uint64_t tick;
  bool hasTempo;
  bool hasMeter;
  uint32_t tempo;
  uint8_t numerator;
  uint8_t denominatorPower;
};

TickEvents TakeTick(const MidiContents& contents, int32_t& next) {
  TickEvents events{contents.events[next].tick, false, false, 0, 0, 0};
  for (; next < contents.eventCount && contents.events[next].tick == events.tick; ++next) {
    const MidiEvent& event = contents.events[next];
    if (IsMeter(event)) {
      events.hasMeter = true;
      events.numerator = NumeratorOf(event);
      events.denominatorPower = DenominatorPowerOf(event);
    } else {
      events.hasTempo = true;
      events.tempo = TempoOf(event);
    }
  }
  return events;
}

// A compound meter's beat is dotted when the run asks for it.
uint8_t BeatNotesOf(MidiBeat beat, uint8_t numerator, uint8_t denominatorPower) {
  constexpr uint8_t kDotted = 3;
  constexpr uint8_t kEighthPower = 3;
  const bool compound =
      numerator >= 2 * kDotted && numerator % kDotted == 0 && denominatorPower >= kEighthPower;
  return beat == MidiBeat::kDotted && compound ? kDotted : 1;
}

Wide CeilingOfQuotient(Wide dividend, Wide divisor) {
  return (dividend + divisor - 1) / divisor;
}

// The ticks of a measure of the meter are ticksPerQuarter x 4 x numerator /
// 2^power: this many measures begin in the first `ticks` ticks of the meter.
Wide MeasuresWithin(const MidiMap& map, const MidiMeter& meter, uint64_t ticks) {
  return CeilingOfQuotient(static_cast<Wide>(ticks) << meter.denominatorPower,
                           Wide{4} * map.ticksPerQuarter * meter.numerator);
}

// The measures of the meter whose first beat ends within its first `ticks`
// ticks: a measure whose first beat the file does not reach (an End of Track
// a few ticks after the last bar line) holds no music.
Wide MeasuresReached(const MidiMap& map, const MidiMeter& meter, uint64_t ticks) {
  const Wide scaled = static_cast<Wide>(ticks) << meter.denominatorPower;
  const Wide note = Wide{4} * map.ticksPerQuarter;
  const Wide beat = note * meter.beatNotes;
  return scaled < beat ? 0 : (scaled - beat) / (note * meter.numerator) + 1;
}

Wide BeatsWithin(const MidiMap& map, const MidiMeter& meter, uint64_t ticks) {
  return CeilingOfQuotient(static_cast<Wide>(ticks) << meter.denominatorPower,
                           Wide{4} * map.ticksPerQuarter * meter.beatNotes);
}

void StartAtTickZero(MidiMap& map) {
  map.tempos[0] = MidiTempo{0, kDefaultMicrosecondsPerQuarter, 0};
  map.meters[0] = MidiMeter{0, 0, 0, kDefaultNumerator, kDefaultDenominatorPower, 1};
  map.sections[0] = MidiSection{
      0, kDefaultMicrosecondsPerQuarter, 0, kDefaultNumerator, kDefaultDenominatorPower, 1};
  map.tempoCount = 1;
  map.meterCount = 1;
  map.sectionCount = 1;
}

// Events at tick 0 set what holds from the start.
void SetStart(MidiMap& map, const TickEvents& events, MidiBeat beat) {
  if (events.hasTempo) map.tempos[0].microsecondsPerQuarter = events.tempo;
  MidiMeter& meter = map.meters[0];
  if (events.hasMeter) {
    meter.numerator = events.numerator;
    meter.denominatorPower = events.denominatorPower;
    meter.beatNotes = BeatNotesOf(beat, meter.numerator, meter.denominatorPower);
  }
  map.sections[0] = MidiSection{0,
                                map.tempos[0].microsecondsPerQuarter,
                                0,
                                meter.numerator,
                                meter.denominatorPower,
                                meter.beatNotes};
}

// Every time signature starts a meter (a measure); only a new tempo value
// starts a tempo; a new value of either starts a section.
bool AddTick(MidiMap& map, const TickEvents& events, MidiBeat beat) {
  const MidiTempo& tempo = map.tempos[map.tempoCount - 1];
  const MidiMeter& meter = map.meters[map.meterCount - 1];
  const bool newTempo = events.hasTempo && events.tempo != tempo.microsecondsPerQuarter;
  const bool newMeter = events.hasMeter && (events.numerator != meter.numerator ||
                                            events.denominatorPower != meter.denominatorPower);
  if ((newTempo || newMeter) && map.sectionCount == kMostMidiSections) return false;
  if (newTempo) {
    const Wide elapsed =
        tempo.elapsed + static_cast<Wide>(events.tick - tempo.tick) * tempo.microsecondsPerQuarter;
    map.tempos[map.tempoCount++] = MidiTempo{events.tick, events.tempo, elapsed};
  }
  if (events.hasMeter) {
    map.meters[map.meterCount++] =
        MidiMeter{events.tick,
                  0,
                  0,
                  events.numerator,
                  events.denominatorPower,
                  BeatNotesOf(beat, events.numerator, events.denominatorPower)};
  }
  if (newTempo || newMeter) {
    const MidiTempo& now = map.tempos[map.tempoCount - 1];
    const MidiMeter& meterNow = map.meters[map.meterCount - 1];
    map.sections[map.sectionCount++] =
        MidiSection{events.tick,        now.microsecondsPerQuarter, 0,
                    meterNow.numerator, meterNow.denominatorPower,  meterNow.beatNotes};
  }
  return true;
}

// Each meter's measures: up to the next meter, or for the last one those
// whose first beat ends by the last tick; the map holds at least one measure.
bool CountMeasures(MidiMap& map, const char* name, Failure& failure) {
  Wide measures = 0;
  Wide beats = 0;
  for (int32_t k = 0; k < map.meterCount; ++k) {
    MidiMeter& meter = map.meters[k];
    const bool last = k + 1 == map.meterCount;
    const uint64_t end = last ? std::max(map.lastTick, meter.tick) : map.meters[k + 1].tick;
    Wide held = last ? MeasuresReached(map, meter, end - meter.tick)
                     : MeasuresWithin(map, meter, end - meter.tick);
    if (last && measures + held == 0) held = 1;
    beats += last ? held * BeatsPerMeasure(meter.numerator, meter.beatNotes)
                  : BeatsWithin(map, meter, end - meter.tick);
    meter.firstMeasure = static_cast<int32_t>(std::min<Wide>(measures, INT32_MAX));
    measures += held;
    meter.measures = static_cast<int32_t>(std::min<Wide>(held, INT32_MAX));
    if (measures > INT32_MAX || beats > INT32_MAX) {
      SetMidiFailure(
          failure, name,
          measures > INT32_MAX ? "more than 2147483647 measures" : "more than 2147483647 beats");
      return false;
    }
  }
  map.totalMeasures = static_cast<int32_t>(measures);
  map.totalBeats = static_cast<int32_t>(beats);
  return true;
}

void CountSectionMeasures(MidiMap& map) {
  for (int32_t k = 0; k < map.sectionCount; ++k) {
    MidiSection& section = map.sections[k];
    const int64_t before = k + 1 < map.sectionCount ? MeasuresBefore(map, map.sections[k + 1].tick)
                                                    : int64_t{map.totalMeasures};
    section.measures = static_cast<int32_t>(before - MeasuresBefore(map, section.tick));
  }
}

}  // namespace

int64_t MeasuresBefore(const MidiMap& map, uint64_t tick) {
  if (tick == 0) return 0;
  const MidiMeter& meter = map.meters[MeterAt(map, tick - 1)];
  const Wide within = MeasuresWithin(map, meter, tick - meter.tick);
  return meter.firstMeasure + static_cast<int64_t>(std::min<Wide>(within, meter.measures));
}

namespace {

template <typename Slot>
int32_t LastAtOrBefore(const Slot* slots, int32_t count, uint64_t tick) {
  const Slot* after = std::upper_bound(
      slots, slots + count, tick, [](uint64_t at, const Slot& slot) { return at < slot.tick; });
  return static_cast<int32_t>(after - slots) - 1;
}

}  // namespace

bool BuildMidiMap(const MidiContents& contents, const char* name, MidiMap& map, Failure& failure,
                  MidiBeat beat) {
  map.ticksPerQuarter = contents.ticksPerQuarter;
  map.lastTick = contents.lastTick;
  StartAtTickZero(map);
  int32_t next = 0;
  if (next < contents.eventCount && contents.events[0].tick == 0) {
    SetStart(map, TakeTick(contents, next), beat);
  }
  while (next < contents.eventCount) {
    if (!AddTick(map, TakeTick(contents, next), beat)) {
      SetMidiFailure(failure, name, "more than 65536 sections");
      return false;
    }
  }
  if (!CountMeasures(map, name, failure)) return false;
  CountSectionMeasures(map);
  return true;
}

bool ReadMidiMap(FILE* file, const char* name, MidiReading& reading, MidiMap& map, Failure& failure,
                 MidiBeat beat) {
  return ReadMidiFile(file, name, reading, failure) &&
         BuildMidiMap(reading.contents, name, map, failure, beat);
}

int32_t TempoAt(const MidiMap& map, uint64_t tick) {
  return LastAtOrBefore(map.tempos, map.tempoCount, tick);
}

int32_t MeterAt(const MidiMap& map, uint64_t tick) {
  return LastAtOrBefore(map.meters, map.meterCount, tick);
}

int32_t SectionAt(const MidiMap& map, uint64_t tick) {
  return LastAtOrBefore(map.sections, map.sectionCount, tick);
}

int32_t MeterOfMeasure(const MidiMap& map, int64_t measure) {
  const MidiMeter* after = std::upper_bound(
      map.meters, map.meters + map.meterCount, measure,
      [](int64_t wanted, const MidiMeter& meter) { return wanted < meter.firstMeasure; });
  return std::max<int32_t>(0, static_cast<int32_t>(after - map.meters) - 1);
}

ExactTime TimeAt(const MidiMap& map, int32_t slot, uint64_t tick, uint64_t fraction,
                 uint64_t denominator) {
  const MidiTempo& tempo = map.tempos[slot];
  const Wide tickTime =
      tempo.elapsed + static_cast<Wide>(tick - tempo.tick) * tempo.microsecondsPerQuarter;
  return TimeOfTicks(tickTime, fraction, denominator, tempo.microsecondsPerQuarter,
                     map.ticksPerQuarter);
}

ExactTime SectionStartTime(const MidiMap& map, int32_t slot) {
  const uint64_t tick = map.sections[slot].tick;
  return TimeAt(map, TempoAt(map, tick), tick, 0, 1);
}

double TempoOfSection(const MidiSection& section) {
  return std::ldexp(60000000.0, section.denominatorPower) /
         (4.0 * static_cast<double>(section.microsecondsPerQuarter) * section.beatNotes);
}
