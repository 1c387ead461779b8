// The MIDI export placed in a recording: by --offset and --count-in, the
// file holds time before measure 1 (a lead-in: the count-in's measures, and
// before them bars whose tempo makes up the rest of the offset), or, with a
// negative offset, begins where the recording does, inside the map, with the
// map's own tempo from there on. From the first bar line on, the file's time
// signatures are the map's, so a sequencer's bars line up with the song's.
//
// Times are held as a MIDI file holds them: in units of a microsecond over
// the export's ticks per quarter note, the time of one tick at one
// microsecond per quarter note.
#ifndef BEATSTAMPS_MIDI_PLACEMENT_H_
#define BEATSTAMPS_MIDI_PLACEMENT_H_

#include <cstdint>

#include "maps/exact_time.h"

// Ticks are counted wide: a point deep in a long section lies past 2^64.
using MidiTicks = unsigned __int128;

// A time signature of the lead-in.
struct LeadInMeter {
  MidiTicks tick;
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
  MidiTicks cutTick;
  MidiTicks barTick;
  MidiTicks cutOut;
  // The fill, from tick 0: its time made up by `fillTempo` microseconds per
  // quarter note up to `fasterFrom`, one more after it.
  MidiTicks fillTicks;
  MidiTicks fasterFrom;
  // The count-in's clicks in the file, a beat of `beatTicks` apart, the
  // last a beat before `cutOut`; `countInSkipped` of its beats fell before 0.
  MidiTicks beatTicks;
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

// What the lead-in is made of, as the export worked it out.
struct LeadInRequest {
  uint32_t ticksPerQuarter;
  Wide time;              // units the file holds before the first bar line's content
  MidiTicks content;      // ticks between the fill and the first bar line
  int64_t wholeMeasures;  // of the meter, after the first bar line
  uint8_t numerator;      // the meter its bars are of
  uint8_t denominatorPower;
  uint32_t tempo;  // microseconds per quarter note the fill comes near
};

// The tempo, in whole microseconds per quarter note, of count-in beat
// `index` (from the first kept one, 0-based), so that each beat ends at the
// whole microsecond nearest its time counted back from measure 1.
uint32_t CountInBeatTempo(const MidiPlacement& placement, int64_t index);

// How many of the count-in's last `beats` beats (each of the placement's
// beat ticks and quarter note) fit in `time` units, counted back from
// measure 1, and the units they take.
int64_t CountInBeatsWithin(const MidiPlacement& placement, int64_t beats, Wide time, Wide& used);

// Lays out the fill and the first bar: `placement.meters` and the fill's
// ticks and tempos. A time shorter than the fill's ticks at one microsecond
// per quarter note is held up to a microsecond long (or, short of half of
// that, left out). False where no tempo a MIDI file holds can make the time
// fit in a delta time.
bool LayLeadIn(const LeadInRequest& request, MidiPlacement& placement);

// The units of `samples` samples at `sampleRate`, to the nearest (a half
// rounds up).
Wide UnitsOfSamples(uint64_t samples, uint32_t sampleRate, uint32_t ticksPerQuarter);

// The first measure start at or after `tick` in a meter that starts a
// measure at `meterTick`: whole ticks, up.
MidiTicks NextMeasureStart(MidiTicks tick, MidiTicks meterTick, uint8_t numerator,
                           uint8_t denominatorPower, uint32_t ticksPerQuarter);

#endif  // BEATSTAMPS_MIDI_PLACEMENT_H_
