// A tempo map read from a MIDI file: its tempo stretches, its meters (every
// time signature event, each starting a measure) and its sections (a change
// of tempo or meter), all at whole ticks, with the exact time where each
// tempo begins.
#ifndef BEATSTAMPS_MIDI_MAP_H_
#define BEATSTAMPS_MIDI_MAP_H_

#include <cstdint>
#include <cstdio>

#include "base/failure.h"
#include "maps/exact_time.h"
#include "maps/midi_file.h"

// Sections a map may hold; a file with more is refused.
constexpr int32_t kMostMidiSections = 65536;
// Until the first tempo event: 120 quarter notes a minute.
constexpr uint32_t kDefaultMicrosecondsPerQuarter = 500000;

// One tempo from `tick` up to the next one's tick (the last one goes on).
struct MidiTempo {
  uint64_t tick;
  uint32_t microsecondsPerQuarter;
  Wide elapsed;  // the time before `tick` in microsecond-ticks: ticks x microseconds per quarter
};

// How a compound meter (6/8, 9/8, 12/8: a numerator of 6 or more that 3
// divides, over 8 or a shorter note) is counted: a beat of its denominator's
// note, or a dotted beat of three of them, as musicians and beat trackers
// count it (--beat=dotted). Other meters keep their denominator's note.
enum class MidiBeat : uint8_t { kNote, kDotted };

// One meter from `tick`, where a measure begins, up to the next one's tick,
// where its last measure (and beat) may be cut short; the last one goes on.
struct MidiMeter {
  uint64_t tick;
  int32_t firstMeasure;  // 0-based, of the whole map
  int32_t measures;      // the map's measures beginning here (the last meter: before its end)
  uint8_t numerator;
  uint8_t denominatorPower;
  uint8_t beatNotes;  // the denominator's notes in a beat: 1, or 3 for a dotted beat
};

// From `tick` on, one tempo and one meter, up to the next section's tick.
struct MidiSection {
  uint64_t tick;
  uint32_t microsecondsPerQuarter;
  int32_t measures;  // the map's own measures beginning in the section
  uint8_t numerator;
  uint8_t denominatorPower;
  uint8_t beatNotes;  // as its meter's
};

struct MidiMap {
  uint32_t ticksPerQuarter;
  uint64_t lastTick;      // the latest end of a track
  int32_t totalMeasures;  // measures beginning before the last tick, at least one
  int32_t totalBeats;     // the beats of those measures
  int32_t tempoCount;
  int32_t meterCount;
  int32_t sectionCount;
  MidiTempo tempos[kMostMidiSections];    // a new tempo value starts a section
  MidiMeter meters[kMostMidiEvents + 1];  // one more for 4/4 at tick 0
  MidiSection sections[kMostMidiSections];
};

// Builds the map of what a file held. On a map too large to hold, false
// with the line that says why, naming the file `name`; `map` is then not
// to be used.
bool BuildMidiMap(const MidiContents& contents, const char* name, MidiMap& map, Failure& failure,
                  MidiBeat beat = MidiBeat::kNote);

// Reads the MIDI file `file` (from its first byte) into `map`.
bool ReadMidiMap(FILE* file, const char* name, MidiReading& reading, MidiMap& map, Failure& failure,
                 MidiBeat beat = MidiBeat::kNote);

// The beats of a measure of the meter: its numerator, or a third of it when
// its beats are dotted.
inline int32_t BeatsPerMeasure(uint8_t numerator, uint8_t beatNotes) {
  return numerator / beatNotes;
}

// The slot of the tempo, meter or section in force at `tick`.
int32_t TempoAt(const MidiMap& map, uint64_t tick);
int32_t MeterAt(const MidiMap& map, uint64_t tick);
int32_t SectionAt(const MidiMap& map, uint64_t tick);
// The map's measures that begin before `tick`.
int64_t MeasuresBefore(const MidiMap& map, uint64_t tick);
// The slot of the meter in which `measure` (0-based, of the map or past it) lies.
int32_t MeterOfMeasure(const MidiMap& map, int64_t measure);

// The exact time of tick position `tick` + `fraction` / `denominator`
// (fraction < denominator < 2^61), in the tempo `slot` that holds it.
ExactTime TimeAt(const MidiMap& map, int32_t slot, uint64_t tick, uint64_t fraction,
                 uint64_t denominator);

// The exact time where section `slot` begins; its place in quarter notes
// is its tick over the ticks per quarter note.
ExactTime SectionStartTime(const MidiMap& map, int32_t slot);

// Beats per minute of the beat of a section: 60,000,000 x denominator / (4 x
// microseconds per quarter note x its beat's notes), the double nearest it.
double TempoOfSection(const MidiSection& section);

#endif  // BEATSTAMPS_MIDI_MAP_H_
