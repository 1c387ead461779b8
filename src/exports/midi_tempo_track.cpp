#include "exports/midi_tempo_track.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "exports/midi_placement.h"
#include "exports/smf_encoder.h"
#include "grid/clock.h"
#include "grid/section_view.h"

namespace {

constexpr uint32_t kMicrosecondsPerSecond = 1000000;
constexpr int kMantissaBits = 53;

// The file's tempo track as the events come: as they are, or, placed, moved
// after the lead-in, those before the cut left out. A gap longer than a delta
// time holds gets the tempo in force repeated, which changes nothing, as
// often as it takes.
struct TempoTrack {
  ExportSink* sink;
  Wide lastEvent;     // of the file
  uint32_t putTempo;  // the file's tempo in force
  // The map's tempo and meter in force, as its events come.
  uint32_t tempo;
  uint8_t numerator;
  uint8_t denominatorPower;
  const MidiPlacement* placement;  // null: the file without the options
  bool tempoAtCut;                 // put where the cut lands
  bool meterAtBar;                 // put at the first bar line after the cut
};

uint64_t DeltaTo(TempoTrack& track, Wide tick) {
  if (tick < track.lastEvent) tick = track.lastEvent;
  while (tick - track.lastEvent > kLongestMidiDelta) {
    PutTempo(*track.sink, kLongestMidiDelta, track.putTempo);
    track.lastEvent += kLongestMidiDelta;
  }
  const auto delta = static_cast<uint64_t>(tick - track.lastEvent);
  track.lastEvent = tick;
  return delta;
}

void PutFileTempo(TempoTrack& track, Wide tick, uint32_t tempo) {
  PutTempo(*track.sink, DeltaTo(track, tick), tempo);
  track.putTempo = tempo;
}

void PutFileMeter(TempoTrack& track, Wide tick, uint8_t numerator, uint8_t power) {
  PutTimeSignature(*track.sink, DeltaTo(track, tick), numerator, power);
}

// Before the map's event at `tick` is put, what the left-out events set
// goes where it is needed: the tempo at the cut, a time signature at the
// first bar line after it (unless the map has one there).
void PutWhatTheCutLeftOut(TempoTrack& track, Wide tick, bool tempo, bool meter) {
  const MidiPlacement& placement = *track.placement;
  if (!track.tempoAtCut && tick > placement.cutTick) {
    PutFileTempo(track, placement.cutOut, track.tempo);
    track.tempoAtCut = true;
  }
  if (!track.meterAtBar && tick >= placement.barTick) {
    if (!(meter && tick == placement.barTick)) {
      PutFileMeter(track, PlacedTick(placement, placement.barTick), track.numerator,
                   track.denominatorPower);
    }
    track.meterAtBar = true;
  }
  if (tempo && tick == placement.cutTick) track.tempoAtCut = true;
}

void MapTempo(void* context, Wide tick, uint32_t tempo) {
  TempoTrack& track = *static_cast<TempoTrack*>(context);
  if (track.placement == nullptr) {
    PutFileTempo(track, tick, tempo);
  } else if (tick >= track.placement->cutTick) {
    PutWhatTheCutLeftOut(track, tick, true, false);
    PutFileTempo(track, PlacedTick(*track.placement, tick), tempo);
  }
  track.tempo = tempo;
}

void MapMeter(void* context, Wide tick, uint8_t numerator, uint8_t power) {
  TempoTrack& track = *static_cast<TempoTrack*>(context);
  if (track.placement == nullptr) {
    PutFileMeter(track, tick, numerator, power);
  } else if (tick >= track.placement->cutTick) {
    PutWhatTheCutLeftOut(track, tick, false, true);
    PutFileMeter(track, PlacedTick(*track.placement, tick), numerator, power);
  }
  track.numerator = numerator;
  track.denominatorPower = power;
}

// The map's end, at `tick`: the file's end of track there, or right after
// its last event.
void MapEnd(void* context, Wide tick) {
  TempoTrack& track = *static_cast<TempoTrack*>(context);
  if (track.placement != nullptr) {
    const MidiPlacement& placement = *track.placement;
    PutWhatTheCutLeftOut(track, std::max(tick, placement.barTick) + 1, false, false);
    tick = tick < placement.cutTick ? placement.cutOut : PlacedTick(placement, tick);
  }
  PutEndOfTrack(*track.sink, DeltaTo(track, tick));
}

// --- the lead-in -------------------------------------------------------------

// The lead-in's tempos, in the order of their ticks: the fill's two, then one
// for each count-in beat. False past the last.
bool LeadInTempo(const MidiPlacement& placement, int64_t index, Wide& tick, uint32_t& tempo) {
  if (index == 0) {
    tick = 0;
    tempo = placement.fillTempo;
    return true;
  }
  if (index == 1) {
    tick = placement.fasterFrom;
    tempo = placement.fillTempo + 1;
    return true;
  }
  const int64_t beat = index - 2;
  if (beat >= placement.countInClicks) return false;
  tick = placement.fillTicks + static_cast<Wide>(beat) * placement.beatTicks;
  tempo = CountInBeatTempo(placement, beat);
  return true;
}

// A fill of no ticks has no tempo; its faster part only where it has ticks;
// a count-in beat's tempo only where it changes.
bool LeadInTempoStands(const TempoTrack& track, const MidiPlacement& placement, int64_t index,
                       uint32_t tempo) {
  if (index == 0) return placement.fillTicks > 0;
  if (index == 1) return placement.fasterFrom < placement.fillTicks;
  return index == 2 || tempo != track.putTempo;
}

// The time signatures and tempos before the cut lands, a time signature first
// where both stand at one tick.
void PutLeadIn(TempoTrack& track) {
  const MidiPlacement& placement = *track.placement;
  int32_t meter = 0;
  int64_t index = 0;
  Wide tick = 0;
  uint32_t tempo = 0;
  bool more = LeadInTempo(placement, index, tick, tempo);
  while (more || meter < placement.meterCount) {
    if (meter < placement.meterCount && (!more || placement.meters[meter].tick <= tick)) {
      const LeadInMeter& at = placement.meters[meter++];
      PutFileMeter(track, at.tick, at.numerator, at.denominatorPower);
      continue;
    }
    if (LeadInTempoStands(track, placement, index, tempo)) PutFileTempo(track, tick, tempo);
    more = LeadInTempo(placement, ++index, tick, tempo);
  }
}

// The whole microseconds nearest a time in seconds (a half rounds up),
// exactly: the double is a whole number times a power of two.
int64_t NearestMicrosecond(double seconds) {
  // seconds = mantissa / 2^shift, read from the double's own bits.
  const auto bits = std::bit_cast<uint64_t>(seconds);
  const auto biased = static_cast<int>(bits >> 52 & 0x7FF);
  const uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | uint64_t{biased != 0} << 52;
  const int shift = 1075 - std::max(biased, 1);
  if (shift <= 0) return INT64_MAX;  // beyond any time a walk reaches
  if (shift > 100) return 0;
  const Wide microseconds = static_cast<Wide>(mantissa) * 1000000;
  return static_cast<int64_t>((microseconds + (Wide{1} << (shift - 1))) >> shift);
}

// Where the export has got to in the beats it carries: the report's time of
// the next beat, and the export's, which is whole microseconds from measure 1.
// Where the file holds measure 1 a little off its time, the beats aim that
// much the other way.
struct CarriedBeats {
  double clock;
  int64_t microseconds;
  double aim;  // seconds; 0 without --offset and --count-in
  // Below this clock no steady run is looked for: one looked for in its
  // binade was not found for want of a step of whole last bits.
  double steadyFrom;
};

// The next beat's whole microseconds: from the export's time of this beat to
// the one nearest the report's time of the next, held to what a tempo holds.
uint32_t CarryBeat(CarriedBeats& carried, double step, int32_t divisionsPerBeat) {
  const double next = AdvanceClock(carried.clock, step, static_cast<Wide>(divisionsPerBeat));
  const double aimed = carried.aim == 0.0 ? next : std::max(0.0, next + carried.aim);
  const int64_t length = std::clamp<int64_t>(NearestMicrosecond(aimed) - carried.microseconds, 1,
                                             kMostMicrosecondsPerQuarter);
  carried.clock = next;
  carried.microseconds += length;
  return static_cast<uint32_t>(length);
}

// A beat in the binade of the clock, [2^(e-1), 2^e), where every double is a
// whole number of its last bits, 2^(e-53).
struct BinadeBeat {
  int shift;             // the last bit is 2^-shift seconds
  uint64_t units;        // last bits of the clock
  Wide beatUnits;        // last bits of a beat, where its steps are whole ones; else 0
  int64_t microseconds;  // of a beat, where they are whole; else -1
};

// The microseconds of `beatUnits` last bits of 2^-shift seconds, where they
// are whole and far inside 64 bits; else -1.
int64_t WholeMicroseconds(Wide beatUnits, int shift) {
  const Wide scaled = beatUnits * kMicrosecondsPerSecond;
  if ((scaled & ((Wide{1} << shift) - 1)) != 0 || (scaled >> shift) >= (Wide{1} << 40)) return -1;
  return static_cast<int64_t>(scaled >> shift);
}

// The beat of `divisions` steps from a clock of 2^-40 seconds to 2^52.
BinadeBeat BeatInBinade(double clock, double step, int32_t divisions) {
  int exponent = 0;
  std::frexp(clock, &exponent);
  BinadeBeat beat{kMantissaBits - exponent, 0, 0, -1};
  beat.units = static_cast<uint64_t>(std::ldexp(clock, beat.shift));
  const double stepUnits = std::ldexp(step, beat.shift);
  if (stepUnits < 0x1p53 && stepUnits == std::floor(stepUnits)) {
    beat.beatUnits = static_cast<Wide>(stepUnits) * static_cast<uint32_t>(divisions);
    beat.microseconds = WholeMicroseconds(beat.beatUnits, beat.shift);
  }
  return beat;
}

// Skips at once up to `most` beats after the carried ones that each last
// `tempo` microseconds, as carrying them one by one would find; gives how
// many. Inside the clock's binade a step of whole last bits adds exactly, so
// the clock grows by the same beat each time, and a beat of whole
// microseconds moves the nearest microsecond by just that, so every beat
// lasts what the next one will. Only without an aim, which rounds once more.
Wide SkipSteadyBeats(CarriedBeats& carried, double step, int32_t divisions, uint32_t tempo,
                     Wide most) {
  const double clock = carried.clock;
  if (most == 0 || carried.aim != 0.0 || clock < carried.steadyFrom || !(step > 0.0) ||
      !(clock >= 0x1p-40 && clock < 0x1p52)) {
    return 0;
  }
  const BinadeBeat beat = BeatInBinade(clock, step, divisions);
  if (beat.microseconds < 0) {
    carried.steadyFrom = std::ldexp(1.0, kMantissaBits - beat.shift);  // the next binade
    return 0;
  }
  if (NearestMicrosecond(clock) + beat.microseconds - carried.microseconds != int64_t{tempo}) {
    return 0;
  }
  const Wide room = ((uint64_t{1} << kMantissaBits) - 1 - beat.units) / beat.beatUnits;
  const Wide beats = std::min(most, room);
  carried.clock = std::ldexp(static_cast<double>(beat.units + beats * beat.beatUnits), -beat.shift);
  carried.microseconds += static_cast<int64_t>(beats) * tempo;
  return beats;
}

// The map's changes as they come, in the export's ticks.
struct EventStream {
  const GridSettings* settings;
  const MidiPlan* plan;
  const TempoEventVisitor* visitor;
  SectionView view;
  CarriedBeats carried;
  uint32_t tempo;  // the last one put
};

void PutStreamTempo(EventStream& stream, Wide tick, uint32_t tempo) {
  stream.visitor->tempo(stream.visitor->context, tick, tempo);
  stream.tempo = tempo;
}

// A section of a running clock: its beats' tempos, carried up to the last click.
void PutCarriedTempos(EventStream& stream, const MapSection& section, Wide start) {
  const MidiPlan& plan = *stream.plan;
  const auto ticksPerQuarter = static_cast<uint64_t>(plan.ticksPerQuarter);
  const auto firstBeat = static_cast<int64_t>(section.start / stream.view.unitsPerQuarter);
  const Wide beats = static_cast<Wide>(section.measures) * section.beatsPerMeasure;
  const Wide carriedBeats = plan.lastClickBeat < firstBeat
                                ? 0
                                : std::min<Wide>(beats, plan.lastClickBeat - firstBeat + 1);
  const uint32_t rounded = section.microsecondsPerQuarter;
  const int32_t divisions = stream.settings->divisionsPerBeat;
  stream.carried.steadyFrom = 0.0;
  for (Wide beat = 0; beat < carriedBeats; ++beat) {
    const uint32_t tempo = CarryBeat(stream.carried, section.stepSeconds, divisions);
    if (beat == 0 || tempo != stream.tempo) {
      PutStreamTempo(stream, start + beat * ticksPerQuarter, tempo);
    } else {
      beat += SkipSteadyBeats(stream.carried, section.stepSeconds, divisions, tempo,
                              carriedBeats - beat - 1);
    }
  }
  if (carriedBeats == 0) {
    PutStreamTempo(stream, start, rounded);
  } else if (carriedBeats < beats && rounded != stream.tempo) {
    PutStreamTempo(stream, start + carriedBeats * ticksPerQuarter, rounded);
  }
}

bool StreamSection(void* context, const MapSection& section) {
  EventStream& stream = *static_cast<EventStream*>(context);
  const Wide tick = ExportTickOf(stream.view, *stream.plan, section.start);
  if (section.setsMeter) {
    stream.visitor->meter(stream.visitor->context, tick,
                          static_cast<uint8_t>(section.beatsPerMeasure), section.denominatorPower);
  }
  if (!section.setsTempo) return true;
  if (stream.view.runningClock && !stream.plan->sectionTempo) {
    PutCarriedTempos(stream, section, tick);
  } else {
    PutStreamTempo(stream, tick, section.microsecondsPerQuarter);
  }
  return true;
}

// The gaps between the changes, and to the end, longer than a delta time.
struct GapCount {
  const SectionView* view;
  const MidiPlan* plan;
  Wide last;
  Wide fillers;
};

void CountGapTo(GapCount& count, Wide at) {
  if (at > count.last) count.fillers += (at - count.last - 1) / kLongestMidiDelta;
  count.last = at;
}

bool CountGapBefore(void* context, const MapSection& section) {
  GapCount& count = *static_cast<GapCount*>(context);
  CountGapTo(count, ExportTickOf(*count.view, *count.plan, section.start));
  return true;
}

}  // namespace

void StreamTempoEvents(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
                       const TempoEventVisitor& visitor) {
  const double aim = plan.placement.placed ? plan.placement.measureOneAim : 0.0;
  EventStream stream{&settings, &plan, &visitor, ViewOf(map), CarriedBeats{0.0, 0, aim, 0.0}, 0};
  WalkSections(map, settings, SectionVisitor{&stream, StreamSection});
  // Ending where the map ends, the export read back holds as many measures.
  visitor.end(visitor.context,
              stream.view.runningClock ? 0 : ExportTickOf(stream.view, plan, stream.view.end));
}

Wide GapFillersOf(const GridMap& map, const GridSettings& settings, const MidiPlan& plan) {
  const SectionView view = ViewOf(map);
  GapCount count{&view, &plan, 0, 0};
  WalkSections(map, settings, SectionVisitor{&count, CountGapBefore});
  if (!view.runningClock) CountGapTo(count, ExportTickOf(view, plan, view.end));
  return count.fillers;
}

void WriteTempoTrack(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
                     ExportSink& sink) {
  PutTrackName(sink, "Tempo map");
  TempoTrack track{};
  track.sink = &sink;
  track.placement = plan.placement.placed ? &plan.placement : nullptr;
  if (track.placement != nullptr) PutLeadIn(track);
  StreamTempoEvents(map, settings, plan, TempoEventVisitor{&track, MapTempo, MapMeter, MapEnd});
}
