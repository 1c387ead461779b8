#include "exports/midi_placement.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

constexpr uint32_t kMostTempo = 0xFFFFFF;  // 24-bit microseconds per quarter note
// The fill comes near its tempo in at most this many ticks, so that it fits a
// delta time with room to spare; a longer time is made up by a slower tempo.
constexpr MidiTicks kMostFillTicks = MidiTicks{1} << 27;
// The longest delta time a variable-length number of four bytes holds.
constexpr MidiTicks kLongestDelta = 0x0FFFFFFF;
constexpr uint32_t kMicrosecondsPerSecond = 1000000;
constexpr int kQuarterNotePower = 2;

// The ticks of a note of 1 / 2^power, a power no finer than a whole tick.
MidiTicks NoteTicks(uint32_t ticksPerQuarter, int power) {
  return std::max<MidiTicks>(1, (MidiTicks{4} * ticksPerQuarter) >> power);
}

// The finest note of a whole number of ticks: 4 x ticks per quarter over the
// largest power of two that divides it.
int FinestNotePower(uint32_t ticksPerQuarter) {
  return 2 + std::countr_zero(ticksPerQuarter);
}

// The fill's ticks for a note of 1 / 2^power: near the ticks `time` takes
// at the request's tempo, completing with the content a whole number of such
// notes, and at least as many as keep its tempo inside 24 bits.
MidiTicks FillTicksFor(const LeadInRequest& request, int power) {
  const MidiTicks note = NoteTicks(request.ticksPerQuarter, power);
  const MidiTicks base = (note - request.content % note) % note;
  const MidiTicks fewest = std::max<MidiTicks>(request.time == 0 ? 0 : 1,
                                               (request.time + kMostTempo - 2) / (kMostTempo - 1));
  const uint32_t tempo = std::max<uint32_t>(request.tempo, 1);
  MidiTicks near = (request.time + tempo / 2) / tempo;
  near = std::max(std::min(near, kMostFillTicks), fewest);
  MidiTicks fill = base + (near > base ? (near - base + note / 2) / note * note : 0);
  if (fill < fewest) fill += (fewest - fill + note - 1) / note * note;
  return fill;
}

void AddMeter(MidiPlacement& placement, MidiTicks tick, uint8_t numerator, int power) {
  placement.meters[placement.meterCount++] =
      LeadInMeter{tick, numerator, static_cast<uint8_t>(power)};
}

// `notes` notes of 1 / 2^power from tick 0: whole bars of `group` notes,
// after one bar of what is left over.
void PutFirstBars(MidiPlacement& placement, MidiTicks notes, int power, uint8_t group,
                  uint32_t ticksPerQuarter) {
  const MidiTicks leading = notes % group;
  if (leading != 0) AddMeter(placement, 0, static_cast<uint8_t>(leading), power);
  if (notes >= group) {
    AddMeter(placement, leading * NoteTicks(ticksPerQuarter, power), group, power);
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

}  // namespace

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

bool LayLeadIn(const LeadInRequest& request, MidiPlacement& placement) {
  const int finest = FinestNotePower(request.ticksPerQuarter);
  const int coarsest = std::min<int>(request.denominatorPower, finest);
  // The bars are of the meter's beats; where the fill's ticks take longer
  // than its time even at one microsecond per quarter note, of finer notes.
  int power = coarsest;
  MidiTicks fill = FillTicksFor(request, power);
  while (fill > request.time && power < finest) fill = FillTicksFor(request, ++power);
  if (fill > request.time) {
    // No note makes it: bars of beats (of quarter notes at the longest), the
    // fill held a little long, or left out where that is nearer.
    power = std::max(coarsest, std::min(kQuarterNotePower, finest));
    fill = FillTicksFor(request, power);
    const MidiTicks note = NoteTicks(request.ticksPerQuarter, power);
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
  const MidiTicks notes = (fill + request.content) / NoteTicks(request.ticksPerQuarter, power);
  const bool beats = power == request.denominatorPower;
  PutFirstBars(placement, notes, power, beats ? request.numerator : 255, request.ticksPerQuarter);
  const bool inMeter = placement.meterCount > 0 &&
                       placement.meters[placement.meterCount - 1].numerator == request.numerator &&
                       beats;
  if (request.wholeMeasures > 0 && !inMeter) {
    AddMeter(placement, fill + request.content, request.numerator, request.denominatorPower);
  }
  return true;
}

Wide UnitsOfSamples(uint64_t samples, uint32_t sampleRate, uint32_t ticksPerQuarter) {
  const Wide scaled = static_cast<Wide>(samples) * kMicrosecondsPerSecond * ticksPerQuarter;
  return (2 * scaled + sampleRate) / (Wide{2} * sampleRate);
}

MidiTicks NextMeasureStart(MidiTicks tick, MidiTicks meterTick, uint8_t numerator,
                           uint8_t denominatorPower, uint32_t ticksPerQuarter) {
  if (tick <= meterTick) return meterTick;
  // A measure is numerator x 4 x ticks per quarter / 2^power ticks.
  const MidiTicks measure = MidiTicks{4} * ticksPerQuarter * numerator;
  const MidiTicks scaled = (tick - meterTick) << denominatorPower;
  const MidiTicks measures = (scaled + measure - 1) / measure;
  const MidiTicks ticks = measures * measure;
  const MidiTicks whole = ticks >> denominatorPower;
  return meterTick + whole + ((whole << denominatorPower) != ticks ? 1 : 0);
}
