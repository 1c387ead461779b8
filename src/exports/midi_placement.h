// The MIDI export placed in a recording: by --offset and --count-in, the
// file holds time before measure 1 (a lead-in: the count-in's measures, and
// before them bars whose tempo makes up the rest of the offset), or, with a
// negative offset, begins where the recording does, inside the map, with the
// map's own tempo from there on. From the first bar line on, the file's time
// signatures are the map's, so a sequencer's bars line up with the song's.
// Here too: where the map's positions and the grid's points lie in the
// export's ticks.
#ifndef BEATSTAMPS_MIDI_PLACEMENT_H_
#define BEATSTAMPS_MIDI_PLACEMENT_H_

#include <cstdint>

#include "base/failure.h"
#include "exports/export_options.h"
#include "exports/midi_plan.h"
#include "grid/grid_walk.h"
#include "grid/section_view.h"

// An offset, or without one a count-in, puts time before measure 1.
bool LeadsIn(const ExportSettings& placed);

// The tick of the export where the map's position `units` lies; whole for
// every position the map has a change at.
Wide ExportTickOf(const SectionView& view, const MidiPlan& plan, Wide units);

// Where a grid point at `at` clicks in the export without --offset and
// --count-in: its position scaled to the export's ticks, to the nearest tick
// (a half rounds up) where it falls between two. Any position; see
// UnplacedTickOf.
Wide UnplacedTickOfAny(const SectionView& view, const MidiPlan& plan, const MapPosition& at);

// Positions far inside 64 bits, nearly all, are placed right where they are
// asked for, with quick divisions; the rest by UnplacedTickOfAny.
inline Wide UnplacedTickOf(const SectionView& view, const MidiPlan& plan, const MapPosition& at) {
  const auto scale = static_cast<uint64_t>(plan.ticksPerQuarter);
  const uint64_t units = view.unitsPerQuarter;
  const Wide whole = at.units * scale;
  if (whole >> 64 != 0 || at.denominator >= (uint64_t{1} << 30) || units >= (uint64_t{1} << 32)) {
    return UnplacedTickOfAny(view, plan, at);
  }
  const auto low = static_cast<uint64_t>(whole);
  const uint64_t below = units * at.denominator;
  if (units == 1) return low + (2 * at.fraction * scale + below) / (2 * below);
  const uint64_t rest = (low % units) * at.denominator + at.fraction * scale;
  return low / units + (2 * rest + below) / (2 * below);
}

// The ticks of 1 / denominator of a map unit, where that is whole and the map
// counts in quarter notes (a text map): a grid point of that denominator
// then lies a whole number of them past its unit's tick, which UnplacedTickOf
// would round to the very same tick.
struct FractionTicks {
  uint64_t denominator;
  uint64_t ticks;  // 0: not whole
};

inline FractionTicks FractionTicksFor(const SectionView& view, const MidiPlan& plan,
                                      uint64_t denominator) {
  const auto scale = static_cast<uint64_t>(plan.ticksPerQuarter);
  // A position's denominator is its beat's divisions, one or more.
  const bool whole = view.unitsPerQuarter == 1 && scale % denominator == 0;
  return FractionTicks{denominator, whole ? scale / denominator : 0};
}

// UnplacedTickOf for points that come one after another, most of one
// denominator: `fraction` keeps the ticks of the last one's, so that a point
// on a whole tick takes a multiplication, not a division.
inline Wide UnplacedTickFollowing(FractionTicks& fraction, const SectionView& view,
                                  const MidiPlan& plan, const MapPosition& at) {
  if (at.denominator != fraction.denominator) {
    fraction = FractionTicksFor(view, plan, at.denominator);
  }
  if (fraction.ticks == 0) return UnplacedTickOf(view, plan, at);
  return at.units * static_cast<uint64_t>(plan.ticksPerQuarter) +
         static_cast<Wide>(at.fraction) * fraction.ticks;
}

// Where a tick of the unplaced export, at or after the cut, lies in the file.
inline Wide PlacedTick(const MidiPlacement& placement, Wide tick) {
  return tick - placement.cutTick + placement.cutOut;
}

// The tempo, in whole microseconds per quarter note, of count-in beat
// `index` (from the first kept one, 0-based), so that each beat ends at the
// whole microsecond nearest its time counted back from measure 1.
uint32_t CountInBeatTempo(const MidiPlacement& placement, int64_t index);

// Sets the plan's placement, or refuses an offset longer than the slowest
// tempo makes of a delta time. Needs the plan's ticks per quarter note (and,
// of a map with a running clock, its last click beat).
//
// Placed in a recording, the file holds the time before measure 1: the
// count-in's measures at the meter and tempo of the section measure 1 lies
// in, ending where measure 1 begins, and before them, with --offset, bars
// whose tempo makes up the rest of the offset; or, with a negative offset, it
// begins inside the map where the recording does, the clicks before it left
// out. Every time is the export's without the options, moved by the offset's
// samples as nearly as the file's whole microseconds and ticks hold it.
bool PlaceMidiExport(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                     MidiPlan& plan, Failure& failure);

#endif  // BEATSTAMPS_MIDI_PLACEMENT_H_
