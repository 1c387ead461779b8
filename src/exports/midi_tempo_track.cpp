#include "exports/midi_tempo_track.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "exports/smf_encoder.h"
#include "grid/clock.h"
#include "grid/text_grid.h"
#include "maps/exact_time.h"

namespace {

constexpr uint64_t kMostMicrosecondsPerQuarter = 0xFFFFFF;
constexpr uint8_t kQuarterNotePower = 2;

// Where the map's time reaches the time looked for, as its events come.
struct CutSearch {
  Wide target;          // the time looked for
  MidiTicks firstKept;  // the first click kept, which no cut may pass
  uint32_t ticksPerQuarter;
  MidiTicks at;  // the map's last event so far
  Wide elapsed;  // its time
  bool found;
  bool barFound;
  MidiCut cut;
};

// The map's events as they come (in the ticks of the export without
// --offset and --count-in), and where they go: into the file as they are;
// into a placed file, moved, after its lead-in, those before the cut left
// out; or nowhere, while the cut is looked for. A gap longer than a delta
// time holds gets the tempo in force repeated, which changes nothing, as
// often as it takes.
struct TempoTrack {
  ExportSink* sink;
  MidiTicks lastEvent;  // of the file
  uint32_t putTempo;    // the file's tempo in force
  // The map's tempo and meter in force, as its events come.
  uint32_t tempo;
  MidiTicks meterTick;
  uint8_t numerator;
  uint8_t denominatorPower;
  const MidiPlacement* placement;  // null: the file without the options
  bool tempoAtCut;                 // put where the cut lands
  bool meterAtBar;                 // put at the first bar line after the cut
  CutSearch* search;               // set: nothing is put
};

TempoTrack TrackFor(ExportSink& sink, const MidiPlacement* placement, CutSearch* search) {
  TempoTrack track{};
  track.sink = &sink;
  track.placement = placement != nullptr && placement->placed ? placement : nullptr;
  track.search = search;
  return track;
}

uint64_t DeltaTo(TempoTrack& track, MidiTicks tick) {
  if (tick < track.lastEvent) tick = track.lastEvent;
  while (tick - track.lastEvent > kLongestMidiDelta) {
    PutTempo(*track.sink, kLongestMidiDelta, track.putTempo);
    track.lastEvent += kLongestMidiDelta;
  }
  const auto delta = static_cast<uint64_t>(tick - track.lastEvent);
  track.lastEvent = tick;
  return delta;
}

void PutFileTempo(TempoTrack& track, MidiTicks tick, uint32_t tempo) {
  PutTempo(*track.sink, DeltaTo(track, tick), tempo);
  track.putTempo = tempo;
}

void PutFileMeter(TempoTrack& track, MidiTicks tick, uint8_t numerator, uint8_t power) {
  PutTimeSignature(*track.sink, DeltaTo(track, tick), numerator, power);
}

// Where a tick of the map, at or after the cut, lies in the file.
MidiTicks PlacedTick(const MidiPlacement& placement, MidiTicks tick) {
  return tick - placement.cutTick + placement.cutOut;
}

// --- looking for the cut ---------------------------------------------------

// The map's time runs at its tempo in force from its last event to `tick`:
// the first tick it reaches the time looked for (or the first click kept)
// is the cut.
void SearchUpTo(const TempoTrack& track, CutSearch& search, MidiTicks tick) {
  if (!search.found) {
    MidiTicks reach = ~MidiTicks{0};
    if (search.elapsed >= search.target) {
      reach = search.at;
    } else if (track.tempo > 0) {
      reach = search.at + (search.target - search.elapsed + track.tempo - 1) / track.tempo;
    }
    const MidiTicks cut = std::min(reach, search.firstKept);
    if (cut <= tick) {
      search.found = true;
      search.cut = MidiCut{cut,
                           search.elapsed + (cut - search.at) * track.tempo,
                           track.tempo,
                           track.meterTick,
                           track.numerator,
                           track.denominatorPower,
                           0};
    }
  }
  search.elapsed += (tick - search.at) * track.tempo;
  search.at = tick;
}

MidiTicks BarAfterCut(const CutSearch& search) {
  const MidiCut& cut = search.cut;
  return NextMeasureStart(cut.tick, cut.meterTick, cut.numerator, cut.denominatorPower,
                          search.ticksPerQuarter);
}

// The first bar line at or after the cut: a measure's end in the meter in
// force there, or an earlier time signature, which starts one.
void SearchBar(CutSearch& search, MidiTicks tick, bool meter) {
  if (!search.found || search.barFound || tick <= search.cut.tick) return;
  const MidiTicks bar = BarAfterCut(search);
  if (bar <= tick || meter) {
    search.cut.barTick = std::min(bar, tick);
    search.barFound = true;
  }
}

// What the map sets at the cut's own tick is in force there.
void SearchAt(const TempoTrack& track, CutSearch& search, MidiTicks tick) {
  if (!search.found || tick != search.cut.tick) return;
  search.cut.tempo = track.tempo;
  search.cut.meterTick = track.meterTick;
  search.cut.numerator = track.numerator;
  search.cut.denominatorPower = track.denominatorPower;
}

// --- the cut ---------------------------------------------------------------

// Before the map's event at `tick` is put, what the left-out events set
// goes where it is needed: the tempo at the cut, a time signature at the
// first bar line after it (unless the map has one there).
void PutWhatTheCutLeftOut(TempoTrack& track, MidiTicks tick, bool tempo, bool meter) {
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

// --- the map's events --------------------------------------------------------

void MapTempo(TempoTrack& track, MidiTicks tick, uint32_t tempo) {
  if (track.search != nullptr) {
    SearchUpTo(track, *track.search, tick);
    SearchBar(*track.search, tick, false);
    track.tempo = tempo;
    SearchAt(track, *track.search, tick);
    return;
  }
  if (track.placement == nullptr) {
    PutFileTempo(track, tick, tempo);
  } else if (tick >= track.placement->cutTick) {
    PutWhatTheCutLeftOut(track, tick, true, false);
    PutFileTempo(track, PlacedTick(*track.placement, tick), tempo);
  }
  track.tempo = tempo;
}

void MapMeter(TempoTrack& track, MidiTicks tick, uint8_t numerator, uint8_t power) {
  if (track.search != nullptr) {
    SearchUpTo(track, *track.search, tick);
    SearchBar(*track.search, tick, true);
  } else if (track.placement == nullptr) {
    PutFileMeter(track, tick, numerator, power);
  } else if (tick >= track.placement->cutTick) {
    PutWhatTheCutLeftOut(track, tick, false, true);
    PutFileMeter(track, PlacedTick(*track.placement, tick), numerator, power);
  }
  track.meterTick = tick;
  track.numerator = numerator;
  track.denominatorPower = power;
  if (track.search != nullptr) SearchAt(track, *track.search, tick);
}

// The map's end, at `tick`: the file's end of track there, or right after
// its last event.
void MapEnd(TempoTrack& track, MidiTicks tick) {
  if (track.search != nullptr) {
    SearchUpTo(track, *track.search, ~MidiTicks{0} >> 1);
    if (!track.search->barFound) track.search->cut.barTick = BarAfterCut(*track.search);
    return;
  }
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
bool LeadInTempo(const MidiPlacement& placement, int64_t index, MidiTicks& tick, uint32_t& tempo) {
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
  tick = placement.fillTicks + static_cast<MidiTicks>(beat) * placement.beatTicks;
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
  MidiTicks tick = 0;
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
};

// The next beat's whole microseconds: from the export's time of this beat to
// the one nearest the report's time of the next, held to what a tempo holds.
uint32_t CarryBeat(CarriedBeats& carried, double step, int32_t divisionsPerBeat) {
  const double next = AdvanceClock(carried.clock, step, static_cast<StepCount>(divisionsPerBeat));
  const double aimed = carried.aim == 0.0 ? next : std::max(0.0, next + carried.aim);
  const int64_t length = std::clamp<int64_t>(NearestMicrosecond(aimed) - carried.microseconds, 1,
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
  MapMeter(track, start, static_cast<uint8_t>(map.beatsPerMeasure[slot]), kQuarterNotePower);
  for (Wide beat = 0; beat < carriedBeats; ++beat) {
    const uint32_t tempo = CarryBeat(carried, step, settings.divisionsPerBeat);
    if (beat == 0 || tempo != track.tempo) {
      MapTempo(track, start + beat * ticksPerQuarter, tempo);
    }
  }
  if (carriedBeats == 0) {
    MapTempo(track, start, rounded);
  } else if (carriedBeats < beats && rounded != track.tempo) {
    MapTempo(track, start + carriedBeats * ticksPerQuarter, rounded);
  }
}

// A text map's events: each section's meter and tempos; the track ends
// right after the last.
void StreamTextTempoMap(const TempoMap& map, const GridSettings& settings, const MidiPlan& plan,
                        TempoTrack& track) {
  CarriedBeats carried{0.0, 0, track.placement != nullptr ? track.placement->measureOneAim : 0.0};
  const int32_t sectionCount = SectionsToWalk(map);
  for (int32_t k = 0; k < sectionCount; ++k) {
    if (map.measures[k] > 0) PutTextSection(track, map, k, settings, plan, carried);
  }
  MapEnd(track, 0);
}

// A MIDI map's events, scaled to the export's ticks. At one tick the time
// signature comes first, as in a text map's track.
void StreamMidiMapTempoMap(const MidiMap& map, const MidiPlan& plan, TempoTrack& track) {
  int32_t tempo = 0;
  int32_t meter = 0;
  while (tempo < map.tempoCount || meter < map.meterCount) {
    if (meter < map.meterCount &&
        (tempo == map.tempoCount || map.meters[meter].tick <= map.tempos[tempo].tick)) {
      const MidiMeter& at = map.meters[meter++];
      MapMeter(track, ExportTickOf(map, plan, at.tick), at.numerator, at.denominatorPower);
    } else {
      const MidiTempo& at = map.tempos[tempo++];
      MapTempo(track, ExportTickOf(map, plan, at.tick), at.microsecondsPerQuarter);
    }
  }
  // Ending where the map ends, the export read back holds as many measures.
  MapEnd(track, ExportTickOf(map, plan, map.lastTick));
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
  TempoTrack track = TrackFor(sink, &plan.placement, nullptr);
  if (track.placement != nullptr) PutLeadIn(track);
  StreamTextTempoMap(map, settings, plan, track);
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
  TempoTrack track = TrackFor(sink, &plan.placement, nullptr);
  if (track.placement != nullptr) PutLeadIn(track);
  StreamMidiMapTempoMap(map, plan, track);
}

MidiCut FindMidiCut(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
                    Wide time, MidiTicks firstKept) {
  CutSearch search{time,  firstKept, static_cast<uint32_t>(plan.ticksPerQuarter), 0, 0, false,
                   false, MidiCut{}};
  ExportSink nowhere = CountingSink();
  TempoTrack track = TrackFor(nowhere, nullptr, &search);
  if (map.midi != nullptr) {
    StreamMidiMapTempoMap(*map.midi, plan, track);
  } else {
    StreamTextTempoMap(*map.text, settings, plan, track);
  }
  return search.cut;
}
