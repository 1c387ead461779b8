#include "midi_tempo_track.h"

#include <algorithm>
#include <cmath>

#include "clock.h"
#include "exact_time.h"
#include "smf_encoder.h"
#include "text_grid.h"

namespace {

constexpr uint64_t kMostMicrosecondsPerQuarter = 0xFFFFFF;
constexpr uint8_t kQuarterNotePower = 2;
constexpr int kMantissaBits = 53;

// The events as they are put. A gap longer than a delta time holds gets the
// tempo in force repeated, which changes nothing, as often as it takes.
struct TempoTrack {
  ExportSink* sink;
  MidiTicks lastEvent;
  uint32_t tempo;  // in force
};

uint64_t DeltaTo(TempoTrack& track, MidiTicks tick) {
  while (tick - track.lastEvent > kLongestMidiDelta) {
    PutTempo(*track.sink, kLongestMidiDelta, track.tempo);
    track.lastEvent += kLongestMidiDelta;
  }
  const auto delta = static_cast<uint64_t>(tick - track.lastEvent);
  track.lastEvent = tick;
  return delta;
}

void PutTrackTempo(TempoTrack& track, MidiTicks tick, uint32_t tempo) {
  PutTempo(*track.sink, DeltaTo(track, tick), tempo);
  track.tempo = tempo;
}

void PutTrackMeter(TempoTrack& track, MidiTicks tick, uint8_t numerator, uint8_t power) {
  PutTimeSignature(*track.sink, DeltaTo(track, tick), numerator, power);
}

// The whole microseconds nearest a time in seconds (a half rounds up),
// exactly: the double is a whole number times a power of two.
int64_t NearestMicrosecond(double seconds) {
  int exponent = 0;
  const double fraction = std::frexp(seconds, &exponent);
  const auto mantissa = static_cast<uint64_t>(std::ldexp(fraction, kMantissaBits));
  const Wide microseconds = static_cast<Wide>(mantissa) * 1000000;
  const int shift = kMantissaBits - exponent;  // seconds = mantissa / 2^shift
  if (shift <= 0) return INT64_MAX;            // beyond any time a walk reaches
  if (shift > 100) return 0;
  return static_cast<int64_t>((microseconds + (Wide{1} << (shift - 1))) >> shift);
}

// Where the export has got to in the beats it carries: the report's time of
// the next beat, and the export's, which is whole microseconds.
struct CarriedBeats {
  double clock;
  int64_t microseconds;
};

// The next beat's whole microseconds: from the export's time of this beat to
// the one nearest the report's time of the next, held to what a tempo holds.
uint32_t CarryBeat(CarriedBeats& carried, double step, int32_t divisionsPerBeat) {
  const double next = AdvanceClock(carried.clock, step, static_cast<StepCount>(divisionsPerBeat));
  const int64_t length = std::clamp<int64_t>(NearestMicrosecond(next) - carried.microseconds, 1,
                                             kMostMicrosecondsPerQuarter);
  carried.clock = next;
  carried.microseconds += length;
  return static_cast<uint32_t>(length);
}

// One section of a text map: its meter, then its beats' tempos.
void PutTextSection(TempoTrack& track, const TempoMap& map, int32_t slot,
                    const GridSettings& settings, const MidiPlan& plan, CarriedBeats& carried) {
  const uint64_t ticksPerQuarter = static_cast<uint64_t>(plan.ticksPerQuarter);
  const uint64_t start = plan.sectionStartTick[slot];
  const int64_t firstBeat = static_cast<int64_t>(start / ticksPerQuarter);
  const Wide beats = static_cast<Wide>(map.measures[slot]) * map.beatsPerMeasure[slot];
  const Wide carriedBeats = plan.lastClickBeat < firstBeat
                                ? 0
                                : std::min<Wide>(beats, plan.lastClickBeat - firstBeat + 1);
  const uint32_t rounded = RoundedMicrosecondsPerQuarter(map.tempo[slot]);
  const double step = StepLength(map.tempo[slot], settings.divisionsPerBeat);
  PutTrackMeter(track, start, static_cast<uint8_t>(map.beatsPerMeasure[slot]), kQuarterNotePower);
  for (Wide beat = 0; beat < carriedBeats; ++beat) {
    const uint32_t tempo = CarryBeat(carried, step, settings.divisionsPerBeat);
    if (beat == 0 || tempo != track.tempo) {
      PutTrackTempo(track, start + beat * ticksPerQuarter, tempo);
    }
  }
  if (carriedBeats == 0) {
    PutTrackTempo(track, start, rounded);
  } else if (carriedBeats < beats && rounded != track.tempo) {
    PutTrackTempo(track, start + carriedBeats * ticksPerQuarter, rounded);
  }
}

}  // namespace

uint32_t RoundedMicrosecondsPerQuarter(float tempo) {
  const double microseconds = 60000000.0 / static_cast<double>(tempo);
  if (!(microseconds >= 0.5 && microseconds < kMostMicrosecondsPerQuarter + 0.5)) return 0;
  return static_cast<uint32_t>(std::llround(microseconds));
}

void WriteTextTempoTrack(const TempoMap& map, const GridSettings& settings, const MidiPlan& plan,
                         ExportSink& sink) {
  PutTrackName(sink, "Tempo map");
  TempoTrack track{&sink, 0, 0};
  CarriedBeats carried{0.0, 0};
  const int32_t sectionCount = SectionsToWalk(map);
  for (int32_t k = 0; k < sectionCount; ++k) {
    if (map.measures[k] > 0) PutTextSection(track, map, k, settings, plan, carried);
  }
  PutEndOfTrack(sink, 0);
}

MidiTicks ExportTickOf(const MidiMap& map, const MidiPlan& plan, uint64_t tick) {
  return static_cast<MidiTicks>(tick) * static_cast<uint64_t>(plan.ticksPerQuarter) /
         map.ticksPerQuarter;
}

MidiTicks GapFillersOf(const MidiMap& map, const MidiPlan& plan) {
  MidiTicks fillers = 0;
  MidiTicks last = 0;
  int32_t tempo = 0;
  int32_t meter = 0;
  while (tempo < map.tempoCount || meter < map.meterCount) {
    const bool meterFirst =
        meter < map.meterCount &&
        (tempo == map.tempoCount || map.meters[meter].tick <= map.tempos[tempo].tick);
    const uint64_t tick = meterFirst ? map.meters[meter++].tick : map.tempos[tempo++].tick;
    const MidiTicks at = ExportTickOf(map, plan, tick);
    if (at > last) fillers += (at - last - 1) / kLongestMidiDelta;
    last = at;
  }
  const MidiTicks end = ExportTickOf(map, plan, map.lastTick);
  if (end > last) fillers += (end - last - 1) / kLongestMidiDelta;
  return fillers;
}

void WriteMidiMapTempoTrack(const MidiMap& map, const MidiPlan& plan, ExportSink& sink) {
  PutTrackName(sink, "Tempo map");
  TempoTrack track{&sink, 0, 0};
  int32_t tempo = 0;
  int32_t meter = 0;
  // At one tick the time signature comes first, as in a text map's track.
  while (tempo < map.tempoCount || meter < map.meterCount) {
    if (meter < map.meterCount &&
        (tempo == map.tempoCount || map.meters[meter].tick <= map.tempos[tempo].tick)) {
      const MidiMeter& at = map.meters[meter++];
      PutTrackMeter(track, ExportTickOf(map, plan, at.tick), at.numerator, at.denominatorPower);
    } else {
      const MidiTempo& at = map.tempos[tempo++];
      PutTrackTempo(track, ExportTickOf(map, plan, at.tick), at.microsecondsPerQuarter);
    }
  }
  // Ending where the map ends, the export read back holds as many measures.
  PutEndOfTrack(sink, DeltaTo(track, ExportTickOf(map, plan, map.lastTick)));
}
