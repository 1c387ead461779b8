// The layout of the MIDI export, worked out before a byte is written, and
// where --offset and --count-in place the grid in it.
//
// Times are held as a MIDI file holds them: in units of a microsecond over
// the export's ticks per quarter note, the time of one tick at one
// microsecond per quarter note.
#ifndef BEATSTAMPS_MIDI_PLAN_H_
#define BEATSTAMPS_MIDI_PLAN_H_

#include <cstdint>

#include "maps/exact_time.h"

// A time signature of the lead-in.
struct LeadInMeter {
  Wide tick;
  uint8_t numerator;
  uint8_t denominatorPower;
};

// Where the unplaced export's events and clicks go, and what comes before
// them. The unplaced export is the file written without the options; its
// tick x, from `cutTick` on, lies at x - cutTick + cutOut; its events
// before `cutTick` are left out, and what they set (the tempo, the meter)
// is put where it is needed: the tempo at `cutTick`, a time signature at
// `barTick`, the first measure start at or after it.
struct MidiPlacement {
  Wide cutTick;
  Wide barTick;
  Wide cutOut;
  // The fill, from tick 0: its time made up by `fillTempo` microseconds per
  // quarter note up to `fasterFrom`, one more after it.
  Wide fillTicks;
  Wide fasterFrom;
  // The count-in's clicks in the file, a beat of `beatTicks` apart, the
  // last a beat before `cutOut`; `countInSkipped` of its beats fell before 0.
  Wide beatTicks;
  LeadInMeter meters[3];
  int64_t offsetSamples;  // the clicks kept are the grid's points moved by it to 0 or later
  int64_t countInClicks;
  int64_t countInSkipped;
  // Microseconds of the count-in's quarter note, which each of its beats
  // carries in whole microseconds: from the start of the file where the
  // count-in opens it, else from measure 1 back.
  double countInQuarter;
  // Seconds that measure 1 should lie later than the file holds it, which a
  // text map's carried beats make up.
  double measureOneAim;
  uint32_t fillTempo;
  int32_t meterCount;
  int32_t countInMeter;   // beats of a count-in measure
  bool placed;            // false: the file is written as without the options
  bool fillExact;         // the fill lasts its time to the unit, not a little longer or left out
  bool countInFromStart;  // see countInQuarter
};

struct MidiPlan {
  int32_t ticksPerQuarter;  // a multiple of what puts the map's changes on whole ticks
  // Of a map with a running clock: the quarter note of the last click; -1: none.
  int64_t lastClickBeat;
  bool clicksOnTicks;  // every grid point falls on a whole tick
  // --midi-tempo=section: a map of a running clock gets one tempo a section
  // (its rounded microseconds), each click the tick nearest its time.
  bool sectionTempo;
  double largestClickError;   // seconds, of those clicks
  uint32_t tempoTrackLength;  // bytes of each track's events
  uint32_t clickTrackLength;
  MidiPlacement placement;  // where --offset and --count-in put the grid
};

#endif  // BEATSTAMPS_MIDI_PLAN_H_
