#include "grid/beat_runs.h"

#include <cmath>

#include "grid/midi_grid.h"
#include "grid/section_view.h"

namespace {

// Positions in ticks and a fraction of one.
MidiPosition Sum(const MidiPosition& a, const MidiPosition& b) {
  MidiPosition sum{a.tick + b.tick, a.fraction + b.fraction, a.denominator};
  if (sum.fraction >= sum.denominator) {
    sum.fraction -= sum.denominator;
    sum.tick += 1;
  }
  return sum;
}

// A whole tick lies before the position.
bool Before(uint64_t tick, const MidiPosition& position) {
  return tick < position.tick || (tick == position.tick && position.fraction > 0);
}

// Milliseconds from `start` to `end` (fractions of a tick over one
// denominator, or a whole tick), summed exactly over the tempos between.
double MillisecondsBetween(const MidiMap& map, const MidiPosition& start, const MidiPosition& end) {
  const Wide denominator = start.denominator;
  Wide at = static_cast<Wide>(start.tick) * denominator + start.fraction;
  const Wide stop = static_cast<Wide>(end.tick) * denominator +
                    static_cast<Wide>(end.fraction) * (denominator / end.denominator);
  Wide microsecondTicks = 0;  // ticks x denominator x microseconds per quarter
  for (int32_t slot = TempoAt(map, start.tick); at < stop; ++slot) {
    const Wide next = slot + 1 < map.tempoCount
                          ? static_cast<Wide>(map.tempos[slot + 1].tick) * denominator
                          : stop;
    const Wide upto = next < stop ? next : stop;
    microsecondTicks += (upto - at) * map.tempos[slot].microsecondsPerQuarter;
    at = upto;
  }
  // The whole milliseconds and the rest, each converted once.
  const Wide perMillisecond = static_cast<Wide>(map.ticksPerQuarter) * denominator * 1000;
  const Wide whole = microsecondTicks / perMillisecond;
  const Wide rest = microsecondTicks - whole * perMillisecond;
  return static_cast<double>(whole) +
         static_cast<double>(rest) / static_cast<double>(perMillisecond);
}

// A steady beat's length exactly, from its whole microseconds per quarter
// note, to the nearest double.
double SteadyBeatMilliseconds(uint32_t microsecondsPerQuarter, uint8_t denominatorPower,
                              uint8_t beatNotes) {
  return static_cast<double>(uint64_t{microsecondsPerQuarter} * 4 *
                             static_cast<uint64_t>(beatNotes)) /
         std::ldexp(1000.0, denominatorPower);
}

// One beat: its start and end, and whether a tempo change or a time
// signature falls inside it.
BeatRun RunOfBeat(const MidiMap& map, const GridPoint& beat) {
  const int32_t meterSlot = MeterOfMeasure(map, beat.measure);
  const MidiMeter& meter = map.meters[meterSlot];
  const MidiPosition start = PositionOfPoint(map, 1, beat);
  MidiPosition end = Sum(start, DivisionLength(map, meterSlot, 1));
  const bool cut = meterSlot + 1 < map.meterCount && Before(map.meters[meterSlot + 1].tick, end);
  if (cut) end = MidiPosition{map.meters[meterSlot + 1].tick, 0, 1};
  const int32_t tempo = TempoAt(map, start.tick);
  const bool changes = tempo + 1 < map.tempoCount && Before(map.tempos[tempo + 1].tick, end);
  BeatRun run{beat.section,
              beat.clock,
              1,
              BeatsPerMeasure(meter.numerator, meter.beatNotes),
              !cut && !changes,
              map.tempos[tempo].microsecondsPerQuarter,
              meter.denominatorPower,
              meter.beatNotes,
              0.0,
              beat.kind == PointKind::kDownbeat};
  run.milliseconds = run.steady ? SteadyBeatMilliseconds(run.microsecondsPerQuarter,
                                                         meter.denominatorPower, run.beatNotes)
                                : MillisecondsBetween(map, start, end);
  return run;
}

// Beats of the same length: microseconds per quarter x notes x 4 / 2^power.
bool SameLength(const BeatRun& a, const BeatRun& b) {
  return (uint64_t{a.microsecondsPerQuarter} * a.beatNotes << b.denominatorPower) ==
         (uint64_t{b.microsecondsPerQuarter} * b.beatNotes << a.denominatorPower);
}

struct RunWalk {
  const MidiMap* map;
  const GridPoint* first;
  const BeatRunVisitor* visitor;
  bool started;
  bool stopped;  // the visitor ended the walk
  BeatRun run;
};

// A beat goes on the run when both are steady, of one length and meter, and
// the run's measures would put a downbeat where the map does.
bool Continues(const BeatRun& run, const BeatRun& beat, PointKind kind) {
  if (!run.steady || !beat.steady || !SameLength(run, beat) ||
      run.beatsPerMeasure != beat.beatsPerMeasure) {
    return false;
  }
  return kind != PointKind::kDownbeat || run.beats % run.beatsPerMeasure == 0;
}

bool VisitBeat(void* context, const GridPoint& beat) {
  RunWalk& walk = *static_cast<RunWalk*>(context);
  if (beat.measure == walk.first->measure && beat.beat < walk.first->beat) return true;
  const BeatRun next = RunOfBeat(*walk.map, beat);
  if (walk.started && Continues(walk.run, next, beat.kind)) {
    walk.run.beats += 1;
    return true;
  }
  if (walk.started && !walk.visitor->visitRun(walk.visitor->context, walk.run)) {
    walk.stopped = true;
    return false;
  }
  walk.started = true;
  walk.run = next;
  return true;
}

// --- a text map: a run for each section ---------------------------------------

struct SectionRuns {
  int32_t firstSlot;
  const BeatRunVisitor* visitor;
};

bool VisitSectionRun(void* context, const MapSection& section) {
  const SectionRuns& runs = *static_cast<SectionRuns*>(context);
  if (section.slot < runs.firstSlot) return true;
  if (section.slot > runs.firstSlot && !section.reached) return false;
  const BeatRun run{section.slot,
                    section.startTime,
                    section.measures * section.beatsPerMeasure,
                    section.beatsPerMeasure,
                    true,
                    section.microsecondsPerQuarter,
                    section.denominatorPower,
                    1,
                    60000.0 / section.beatsPerMinute,
                    true};
  return runs.visitor->visitRun(runs.visitor->context, run);
}

void WalkMidiBeatRuns(const MidiMap& map, const GridSettings& settings, const GridPoint& first,
                      const BeatRunVisitor& visitor) {
  GridSettings beats = settings;
  beats.divisionsPerBeat = 1;
  beats.startMeasure = static_cast<int32_t>(first.measure);
  RunWalk walk{&map, &first, &visitor, false, false, BeatRun{}};
  WalkGrid(MidiGrid(map), beats, GridVisitor{&walk, VisitBeat, nullptr});
  if (walk.started && !walk.stopped) visitor.visitRun(visitor.context, walk.run);
}

}  // namespace

void WalkBeatRuns(const GridMap& map, const GridSettings& settings, const GridPoint& first,
                  const BeatRunVisitor& visitor) {
  if (map.midi != nullptr) {
    WalkMidiBeatRuns(*map.midi, settings, first, visitor);
    return;
  }
  SectionRuns runs{first.section, &visitor};
  WalkSections(map, settings, SectionVisitor{&runs, VisitSectionRun});
}
