#include "exports/midi_export.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "exports/midi_placement.h"
#include "exports/midi_tempo_track.h"
#include "exports/smf_encoder.h"
#include "grid/section_view.h"
#include "grid/shifted_walk.h"

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
// A channel event's bytes at most: a delta of four, a status and two data bytes.
constexpr size_t kLongestClickEvent = 7;
constexpr uint8_t kQuarterNotePower = 2;

// The clicks: a downbeat, a beat and a later division of a beat each have
// their own note or velocity (general MIDI wood blocks).
struct Click {
  uint8_t note;
  uint8_t velocity;
};
constexpr Click kDownbeatClick{76, 127};
constexpr Click kBeatClick{77, 100};
constexpr Click kDivisionClick{77, 55};

bool CheckDivisionsForMidi(int32_t divisionsPerBeat, Failure& failure) {
  if (divisionsPerBeat <= kMostTicksPerQuarter) return true;
  SetFailure(failure, "Error: A MIDI file holds at most %i divisions per beat!\n",
             kMostTicksPerQuarter);
  return false;
}

// Each section the file holds: at most 255 beats to a measure, and a tempo
// its 24 bits hold.
struct SectionCheck {
  Failure* failure;
  bool refused;
};

bool CheckSectionForMidi(void* context, const MapSection& section) {
  SectionCheck& check = *static_cast<SectionCheck*>(context);
  if (section.beatsPerMeasure > kMostBeatsPerMeasure) {
    SetFailure(*check.failure,
               "Error: A MIDI file holds at most %i beats per measure! (section %i)\n",
               kMostBeatsPerMeasure, section.slot + 1);
    check.refused = true;
  } else if (section.microsecondsPerQuarter == 0) {
    SetFailure(*check.failure, "Error: A MIDI file cannot hold the tempo of section %i!\n",
               section.slot + 1);
    check.refused = true;
  }
  return !check.refused;
}

// What puts every change of the map, and its end, on a whole tick: the
// gcd of its units per quarter note and every position.
struct TickNeeds {
  uint64_t unitsPerQuarter;
  uint64_t common;
  int power;  // the finest beat
};

bool AddTickNeeds(void* context, const MapSection& section) {
  TickNeeds& needs = *static_cast<TickNeeds*>(context);
  needs.common =
      std::gcd(needs.common, static_cast<uint64_t>(section.start % needs.unitsPerQuarter));
  needs.power = std::max<int>(needs.power, section.denominatorPower);
  return true;
}

// The export's ticks per quarter note: a multiple of the smallest that puts
// each of the map's changes, and its end, on a whole tick. Where one up to
// 32,767 also puts every grid point on a whole tick, the first at or above
// 480 of those; else the finest that holds the map's changes, each click
// then on the tick nearest its grid point.
bool ChooseTicks(const GridMap& map, const GridSettings& settings, bool leadIn, MidiPlan& plan,
                 Failure& failure) {
  const SectionView view = ViewOf(map);
  TickNeeds needs{
      view.unitsPerQuarter,
      std::gcd(view.unitsPerQuarter, static_cast<uint64_t>(view.end % view.unitsPerQuarter)), 0};
  WalkSections(map, settings, SectionVisitor{&needs, AddTickNeeds});
  uint64_t least = view.unitsPerQuarter / needs.common;
  if (leadIn) {
    // The count-in's beats and the lead-in's bars, of its meter, on whole ticks.
    const uint64_t beat = uint64_t{1} << CountInSection(map, settings).denominatorPower;
    const uint64_t beatNeeds = beat / std::gcd(beat, uint64_t{4});
    least = least / std::gcd(least, beatNeeds) * beatNeeds;
    if (least > kMostTicksPerQuarter) {
      SetFailure(failure, "Error: A MIDI file cannot put the count-in's beats on whole ticks!\n");
      return false;
    }
  }
  // A division is 4 x ticks per quarter / (2^power x divisions) ticks.
  const uint64_t splits =
      (uint64_t{1} << needs.power) * static_cast<uint64_t>(settings.divisionsPerBeat);
  const uint64_t forPoints = splits / std::gcd(splits, uint64_t{4});
  const Wide both = static_cast<Wide>(least / std::gcd(least, forPoints)) * forPoints;
  plan.clicksOnTicks = both <= kMostTicksPerQuarter;
  const uint64_t step = plan.clicksOnTicks ? static_cast<uint64_t>(both) : least;
  const uint64_t multiple = plan.clicksOnTicks ? (kPreferredTicksPerQuarter + step - 1) / step
                                               : kMostTicksPerQuarter / step;
  plan.ticksPerQuarter = static_cast<int32_t>(step * multiple);
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

// Half a division of the export's ticks, at least one: of the note of the
// point's beat, 4 x ticks per quarter / 2^power, split in the divisions.
uint64_t ClickLength(const MidiPlan& plan, const GridSettings& settings, uint8_t power) {
  const uint64_t halves = (uint64_t{2} << power) * static_cast<uint64_t>(settings.divisionsPerBeat);
  return std::max<uint64_t>(1, uint64_t{4} * static_cast<uint64_t>(plan.ticksPerQuarter) / halves);
}

// A click's length, kept for the note of the last click's beat: a meter
// seldom changes it.
struct ClickLengthOf {
  uint8_t power;  // above 63: none yet
  uint64_t ticks;
};

uint64_t ClickLengthFollowing(ClickLengthOf& length, const MidiPlan& plan,
                              const GridSettings& settings, uint8_t power) {
  if (length.power != power) length = ClickLengthOf{power, ClickLength(plan, settings, power)};
  return length.ticks;
}

// Where the file has got to, under one tempo a section, at the start of
// section `slot`.
struct SectionClock {
  int32_t slot;
  int32_t ticksPerQuarter;
  Wide fileTime;  // microsecond-ticks
  MapSection section;
};

// A click's note on and, when the next click or the track's end comes, its
// note off: half a division on (at least a tick), and never after the next
// note on.
struct MidiClickWriting {
  Wide lastEvent;
  Wide offTick;
  Wide firstTick;
  Wide longestDelta;  // between two note ons, or from the start to the first
  SectionView view;
  PositionFinder finder;
  FractionTicks fraction;  // of the last click's denominator
  ClickLengthOf length;    // of the last click's beat
  // One tempo a section: where the file has got to at the start of the
  // section of the last click, and the largest distance of a click from its
  // time.
  SectionClock clock;
  const GridMap* map;
  const GridSettings* settings;
  const MidiPlan* plan;
  ExportSink* sink;
  double largestError;
  bool pending;  // a note off is due
  uint8_t pendingNote;
  bool found;  // a click was written
};

void PutPendingNoteOff(MidiClickWriting& writing, Wide nextOn) {
  if (!writing.pending) return;
  const Wide off = std::min(writing.offTick, nextOn);
  PutChannelEvent(*writing.sink, static_cast<uint64_t>(off - writing.lastEvent), kPercussionNoteOff,
                  writing.pendingNote, 0);
  writing.lastEvent = off;
  writing.pending = false;
}

void PutMidiClick(MidiClickWriting& writing, Wide tick, const GridPoint& point, uint64_t length) {
  PutPendingNoteOff(writing, tick);
  const Wide delta = tick - writing.lastEvent;
  writing.longestDelta = std::max(writing.longestDelta, delta);
  const Click click = ClickOf(point);
  PutChannelEvent(*writing.sink, static_cast<uint64_t>(delta), kPercussionNoteOn, click.note,
                  click.velocity);
  if (!writing.found) writing.firstTick = tick;
  writing.found = true;
  writing.lastEvent = tick;
  writing.pending = true;
  writing.offTick = tick + length;
  writing.pendingNote = click.note;
}

// The file's time where a section begins, in microsecond-ticks (ticks x
// microseconds per quarter): the sections before it at their rounded tempos.
bool SumSectionTimes(void* context, const MapSection& section) {
  auto& clock = *static_cast<SectionClock*>(context);
  if (section.slot == clock.slot) {
    clock.section = section;
    return false;
  }
  const Wide beats = static_cast<Wide>(section.measures) * section.beatsPerMeasure;
  clock.fileTime +=
      beats * static_cast<uint64_t>(clock.ticksPerQuarter) * section.microsecondsPerQuarter;
  return true;
}

// Under one tempo a section, the tick whose time is nearest the point's.
Wide NearestTick(MidiClickWriting& writing, const GridPoint& point) {
  SectionClock& clock = writing.clock;
  if (clock.slot != point.section) {
    clock = SectionClock{point.section, writing.plan->ticksPerQuarter, 0, MapSection{}};
    WalkSections(*writing.map, *writing.settings, SectionVisitor{&clock, SumSectionTimes});
  }
  const MapSection& section = clock.section;
  const double perTick = static_cast<double>(section.microsecondsPerQuarter);  // µs-ticks
  const double scale = 1e6 * static_cast<double>(clock.ticksPerQuarter);       // µs-ticks a second
  const double sectionStart = static_cast<double>(clock.fileTime) / scale;
  const double within = std::max(0.0, (point.clock - sectionStart) * scale / perTick);
  const auto ticks = static_cast<Wide>(std::llround(within));
  const Wide tick = ExportTickOf(writing.view, *writing.plan, section.start) + ticks;
  const double placedAt = sectionStart + static_cast<double>(ticks) * perTick / scale;
  writing.largestError = std::max(writing.largestError, std::fabs(placedAt - point.clock));
  return tick;
}

// A click at `tick` of the export without the options, placed where they put it.
bool PutClickAt(MidiClickWriting& writing, const GridPoint& point, Wide tick, uint8_t power) {
  const MidiPlacement& placement = writing.plan->placement;
  if (placement.placed) tick = PlacedTick(placement, tick);
  PutMidiClick(writing, tick, point,
               ClickLengthFollowing(writing.length, *writing.plan, *writing.settings, power));
  return !writing.sink->failed;
}

// Each click at its grid point's position.
bool WriteMidiClick(void* context, const GridPoint& point) {
  MidiClickWriting& writing = *static_cast<MidiClickWriting*>(context);
  const MapPosition at = PositionOf(writing.finder, point);
  return PutClickAt(writing, point,
                    UnplacedTickFollowing(writing.fraction, writing.view, *writing.plan, at),
                    at.denominatorPower);
}

// One tempo a section, of a running clock: each click on the tick nearest its time.
bool WriteMidiClickNearItsTime(void* context, const GridPoint& point) {
  MidiClickWriting& writing = *static_cast<MidiClickWriting*>(context);
  const MapPosition at = PositionOf(writing.finder, point);
  return PutClickAt(writing, point, NearestTick(writing, point), at.denominatorPower);
}

MidiClickWriting MidiClickWritingFor(const GridMap& map, const GridSettings& settings,
                                     const MidiPlan& plan, ExportSink& sink) {
  return MidiClickWriting{0,
                          0,
                          0,
                          0,
                          ViewOf(map),
                          PositionFinderFor(map, settings),
                          FractionTicks{0, 0},
                          ClickLengthOf{0xFF, 0},
                          SectionClock{-1, plan.ticksPerQuarter, 0, MapSection{}},
                          &map,
                          &settings,
                          &plan,
                          &sink,
                          0.0,
                          false,
                          0,
                          false};
}

// The count-in clicks on its beats that the file holds, each measure's first
// with a downbeat's sound.
void WriteMidiCountIn(MidiClickWriting& writing) {
  const MidiPlacement& placement = writing.plan->placement;
  const uint8_t power = CountInSection(*writing.map, *writing.settings).denominatorPower;
  const uint64_t length = ClickLength(*writing.plan, *writing.settings, power);
  for (int64_t k = 0; k < placement.countInClicks && !writing.sink->failed; ++k) {
    GridPoint beat{};
    const int64_t ofCountIn = placement.countInSkipped + k;
    beat.kind = ofCountIn % placement.countInMeter == 0 ? PointKind::kDownbeat : PointKind::kBeat;
    PutMidiClick(writing, placement.fillTicks + static_cast<Wide>(k) * placement.beatTicks, beat,
                 length);
  }
}

// --- the clicks of an even grid ----------------------------------------------

// A text map's grid without the options or one tempo a section, whose
// divisions all last the same and fall on whole ticks: each click comes a
// division after the one before (see MeasureEvenClickTrack).
bool WritesEvenClicks(const MidiClickWriting& writing) {
  const MidiPlan& plan = *writing.plan;
  return !plan.placement.placed && writing.view.evenDivisions && writing.view.runningClock &&
         !plan.sectionTempo && plan.clicksOnTicks;
}

// The bytes of a click after the first: the note off of the one before, then
// its own note on.
struct ClickBytes {
  uint8_t bytes[kMostShortBytes];  // two events of at most kLongestClickEvent
  uint8_t length;
};

// After its first click, every click of an even grid is the same bytes but
// for its notes: they are put together once, by whether the click before
// was a downbeat and by the kind of this one.
struct EvenClicks {
  MidiClickWriting* writing;
  uint64_t division;  // ticks from one click to the next
  Wide onDelta;       // from a note off to the next note on
  Wide later;         // clicks written after the first
  uint8_t lastNote;
  ClickBytes after[2][3];
};

ClickBytes ClickBytesAfter(uint8_t lastNote, uint64_t offDelta, uint64_t onDelta, PointKind kind) {
  // Room for the two events and the spare room a sink keeps past them.
  uint8_t room[3 * kLongestClickEvent];
  ExportSink sink = DrainingSink(nullptr, nullptr, room, sizeof room);
  GridPoint point{};
  point.kind = kind;
  const Click click = ClickOf(point);
  PutChannelEvent(sink, offDelta, kPercussionNoteOff, lastNote, 0);
  PutChannelEvent(sink, onDelta, kPercussionNoteOn, click.note, click.velocity);
  ClickBytes bytes{};
  std::memcpy(bytes.bytes, room, sink.used);
  bytes.length = static_cast<uint8_t>(sink.used);
  return bytes;
}

EvenClicks EvenClicksFor(MidiClickWriting& writing) {
  const MidiPlan& plan = *writing.plan;
  const auto divisions = static_cast<uint64_t>(writing.settings->divisionsPerBeat);
  EvenClicks even{&writing, static_cast<uint64_t>(plan.ticksPerQuarter) / divisions, 0, 0, 0, {}};
  // A text map's beats are quarter notes.
  const uint64_t offDelta =
      std::min(ClickLength(plan, *writing.settings, kQuarterNotePower), even.division);
  even.onDelta = even.division - offDelta;
  for (const uint8_t last : {kBeatClick.note, kDownbeatClick.note}) {
    for (const PointKind kind : {PointKind::kDownbeat, PointKind::kBeat, PointKind::kDivision}) {
      even.after[last == kDownbeatClick.note][static_cast<int>(kind)] =
          ClickBytesAfter(last, offDelta, even.division - offDelta, kind);
    }
  }
  return even;
}

// The first click as any other, each later one a division after the one before.
bool WriteEvenClick(void* context, const GridPoint& point) {
  EvenClicks& even = *static_cast<EvenClicks*>(context);
  MidiClickWriting& writing = *even.writing;
  if (!writing.found) {
    const bool more = WriteMidiClick(&writing, point);
    even.lastNote = writing.pendingNote;
    return more;
  }
  const ClickBytes& bytes =
      even.after[even.lastNote == kDownbeatClick.note][static_cast<int>(point.kind)];
  PutShortBytes(*writing.sink, bytes.bytes, bytes.length);
  even.lastNote = ClickOf(point).note;
  even.later += 1;
  return !writing.sink->failed;
}

// The writing as the later clicks leave it: at the last one's note on, its
// note off due.
void CatchUpEvenClicks(const EvenClicks& even) {
  MidiClickWriting& writing = *even.writing;
  if (even.later == 0) return;
  writing.longestDelta = std::max(writing.longestDelta, even.onDelta);
  writing.lastEvent += even.later * even.division;
  writing.offTick += even.later * even.division;
  writing.pendingNote = even.lastNote;
}

void WriteMidiClickTrack(MidiClickWriting& writing) {
  PutTrackName(*writing.sink, "Click");
  const bool nearItsTime = writing.plan->sectionTempo && writing.view.runningClock;
  const GridVisitor clicks{&writing, nearItsTime ? WriteMidiClickNearItsTime : WriteMidiClick,
                           nullptr};
  const MidiPlacement& placement = writing.plan->placement;
  if (placement.placed) {
    WriteMidiCountIn(writing);
    WalkShiftedGrid(*writing.map, *writing.settings, placement.offsetSamples, clicks);
  } else if (WritesEvenClicks(writing)) {
    EvenClicks even = EvenClicksFor(writing);
    WalkGrid(*writing.map, *writing.settings, GridVisitor{&even, WriteEvenClick, nullptr});
    CatchUpEvenClicks(even);
  } else {
    WalkGrid(*writing.map, *writing.settings, clicks);
  }
  PutPendingNoteOff(writing, ~Wide{0});
  PutEndOfTrack(*writing.sink, 0);
}

bool RememberFirstClick(void* context, const GridPoint& point) {
  MidiClickWriting& writing = *static_cast<MidiClickWriting*>(context);
  writing.found = true;
  writing.firstTick =
      UnplacedTickOf(writing.view, *writing.plan, PositionOf(writing.finder, point));
  return false;
}

bool RefuseFarRange(Failure& failure) {
  SetFailure(failure, "Error: The range begins too far into the map for a MIDI file!\n");
  return false;
}

// The range's first click, without the options, lies within a delta time of
// the start.
bool CheckFirstClick(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
                     Failure& failure) {
  ExportSink nowhere = CountingSink();
  MidiClickWriting first = MidiClickWritingFor(map, settings, plan, nowhere);
  WalkGrid(map, settings, GridVisitor{&first, RememberFirstClick, nullptr});
  return !first.found || first.firstTick <= kLongestMidiDelta || RefuseFarRange(failure);
}

// The quarter note that holds the last point of the range; -1 when the range
// holds none.
int64_t LastClickBeat(const GridMap& map, const GridSettings& settings) {
  GridPoint point{};
  if (!LastPointInRange(map, settings, point)) return -1;
  PositionFinder finder = PositionFinderFor(map, settings);
  return static_cast<int64_t>(PositionOf(finder, point).units / ViewOf(map).unitsPerQuarter);
}

// The click track of a grid whose divisions all last the same, without a
// count-in, measured without writing it: its clicks follow one another a
// division apart, across section boundaries too, so every delta but the
// first, which CheckFirstClick has passed, is the same.
void MeasureEvenClickTrack(const GridMap& map, const GridSettings& settings, MidiPlan& plan) {
  ExportSink track = CountingSink();
  MidiClickWriting first = MidiClickWritingFor(map, settings, plan, track);
  WalkGrid(map, settings, GridVisitor{&first, RememberFirstClick, nullptr});
  PutTrackName(track, "Click");
  PutEndOfTrack(track, 0);
  if (first.found) {
    const uint8_t power = CountInSection(map, settings).denominatorPower;
    const uint64_t division =
        ((uint64_t{4} * static_cast<uint64_t>(plan.ticksPerQuarter)) >> power) /
        static_cast<uint64_t>(settings.divisionsPerBeat);
    const uint64_t length = ClickLength(plan, settings, power);
    PutChannelEvent(track, static_cast<uint64_t>(first.firstTick), kPercussionNoteOn, 0, 0);
    PutChannelEvent(track, length, kPercussionNoteOff, 0, 0);
    // Every later click is the same number of bytes, whatever its sound.
    ExportSink later = CountingSink();
    PutChannelEvent(later, division - length, kPercussionNoteOn, 0, 0);
    PutChannelEvent(later, length, kPercussionNoteOff, 0, 0);
    track.bytes += (CountGridPoints(map, settings) - 1) * later.bytes;
  }
  plan.clickTrackLength = static_cast<uint32_t>(track.bytes);
}

// The click track is measured by writing it: its count-in, the gap before
// the range and a meter's changing divisions may leave any delta too long.
bool MeasureClickTrack(const GridMap& map, const GridSettings& settings, MidiPlan& plan,
                       Failure& failure) {
  ExportSink clickTrack = CountingSink();
  MidiClickWriting clicks = MidiClickWritingFor(map, settings, plan, clickTrack);
  WriteMidiClickTrack(clicks);
  if (clicks.longestDelta > kLongestMidiDelta) return RefuseFarRange(failure);
  plan.clickTrackLength = static_cast<uint32_t>(clickTrack.bytes);
  plan.largestClickError = clicks.largestError;
  return true;
}

void TellLargestClickError(const ExportSettings& placed, const MidiPlan& plan) {
  if (placed.notes == nullptr) return;
  char line[160];
  std::snprintf(line, sizeof line,
                "One tempo a section: every click within %.3f ms of its time (the nearest tick)\n",
                plan.largestClickError * 1000.0);
  placed.notes->warn(placed.notes->context, line);
}

}  // namespace

bool PlanMidi(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
              MidiPlan& plan, Failure& failure) {
  if (!CheckDivisionsForMidi(settings.divisionsPerBeat, failure)) return false;
  plan.sectionTempo = placed.midiTempo == MidiTempoTrack::kSection;
  plan.largestClickError = 0.0;
  if (plan.sectionTempo && LeadsIn(placed)) {
    SetFailure(failure,
               "Error: --midi-tempo=section places no grid by --offset or --count-in; the exact "
               "tempo track does!\n");
    return false;
  }
  if (!ChooseTicks(map, settings, LeadsIn(placed), plan, failure)) return false;
  SectionCheck check{&failure, false};
  WalkSections(map, settings, SectionVisitor{&check, CheckSectionForMidi});
  if (check.refused) return false;
  if (GapFillersOf(map, settings, plan) > kMostGapFillers) {
    SetFailure(failure, "Error: The map's events lie too far apart for a MIDI file!\n");
    return false;
  }
  plan.lastClickBeat = -1;
  const SectionView view = ViewOf(map);
  if (view.runningClock) {
    // The beats up to the last click are carried one by one: the range's
    // first click must be near enough to the start that they are few enough
    // to walk.
    if (!CheckFirstClick(map, settings, plan, failure)) return false;
    plan.lastClickBeat = LastClickBeat(map, settings);
  }
  if (!PlaceMidiExport(map, settings, placed, plan, failure)) return false;
  ExportSink tempoTrack = CountingSink();
  WriteTempoTrack(map, settings, plan, tempoTrack);
  // Far below 4 GiB: at most 262,145 meters, 65,536 tempos and as many
  // fillers, a lead-in of 4,080 count-in beats, and 16,777,216 clicks of at
  // most 11 bytes.
  plan.tempoTrackLength = static_cast<uint32_t>(tempoTrack.bytes);
  // One tempo a section puts each click on its own nearest tick.
  if (!plan.placement.placed && view.evenDivisions && view.runningClock && !plan.sectionTempo) {
    MeasureEvenClickTrack(map, settings, plan);
    return true;
  }
  if (!MeasureClickTrack(map, settings, plan, failure)) return false;
  if (plan.sectionTempo && view.runningClock) TellLargestClickError(placed, plan);
  return plan.placement.placed || CheckFirstClick(map, settings, plan, failure);
}

void WriteMidi(const GridMap& map, const GridSettings& settings, const MidiPlan& plan,
               ExportSink& sink) {
  PutMidiHeader(sink, 1, 2, static_cast<uint16_t>(plan.ticksPerQuarter));  // tracks played together
  PutTrackHead(sink, plan.tempoTrackLength);
  WriteTempoTrack(map, settings, plan, sink);
  PutTrackHead(sink, plan.clickTrackLength);
  MidiClickWriting clicks = MidiClickWritingFor(map, settings, plan, sink);
  WriteMidiClickTrack(clicks);
}
