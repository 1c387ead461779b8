// The Standard MIDI File reader: a parser that neither prompts nor prints.
// Of all a file holds it keeps the tempo and time signature events of every
// track, in the order they take effect, and where the latest track ends.
#ifndef BEATSTAMPS_MIDI_FILE_H_
#define BEATSTAMPS_MIDI_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "base/failure.h"

// Tempo and time signature events a read keeps, repeats included; a file
// with more is refused.
constexpr int32_t kMostMidiEvents = 262144;
// A track may run this many ticks; with it, every tick, a time in
// microsecond-ticks and a grid position stay inside their integers.
constexpr uint64_t kMostMidiTicks = uint64_t{1} << 56;
// A time signature's note value may be as short as 1/2^29: a grid of such
// beats still has exact times in 128 bits.
constexpr int kMostDenominatorPower = 29;
// Bytes read from the file at once.
constexpr size_t kMidiReadChunk = size_t{1} << 16;

// A tempo (microseconds per quarter note) or a time signature (numerator
// and the denominator as a power of two), packed with its kind.
struct MidiEvent {
  uint64_t tick;   // from the start of its track
  uint32_t order;  // in the file: track by track, event by event
  uint32_t value;  // see MeterValue and TempoValue
};

constexpr uint32_t kMeterFlag = uint32_t{1} << 31;

inline bool IsMeter(const MidiEvent& event) {
  return (event.value & kMeterFlag) != 0;
}
inline uint32_t TempoOf(const MidiEvent& event) {
  return event.value & 0xFFFFFF;
}
inline uint8_t NumeratorOf(const MidiEvent& event) {
  return static_cast<uint8_t>(event.value);
}
inline uint8_t DenominatorPowerOf(const MidiEvent& event) {
  return static_cast<uint8_t>(event.value >> 8);
}

// What a file holds for a tempo map.
struct MidiContents {
  uint32_t ticksPerQuarter;
  int32_t trackCount;      // MTrk chunks found
  uint64_t lastTick;       // the latest end of a track
  uint64_t trailingBytes;  // after the last chunk, passed over: they cannot start one
  int32_t eventCount;
  MidiEvent events[kMostMidiEvents];  // by tick; at one tick, in file order
};

// The reader's working memory: the file's bytes as they come, and what it
// keeps of them.
struct MidiReading {
  FILE* file;
  uint8_t buffer[kMidiReadChunk];
  size_t size;        // bytes in the buffer
  size_t position;    // the next byte's place in it
  uint64_t consumed;  // bytes of the file before the buffer's
  uint64_t end;       // where the MIDI file ends: the file's end, or its RIFF data chunk's
  bool failed;        // the file could not be read
  MidiContents contents;
};

// Whether the file begins with "MThd", or is an RMID file (RIFF, form type
// RMID) that holds one; the bytes looked at are put back.
bool StartsAsMidiFile(FILE* file);

// Reads a whole MIDI file from its first byte into `reading.contents`; of an
// RMID file, the MIDI file its data chunk holds. Bytes after the last chunk
// that cannot start one (padding, a line of text) are passed over and
// counted. On a file that cannot be a tempo map, false with the line that
// says why, naming the file `name`.
bool ReadMidiFile(FILE* file, const char* name, MidiReading& reading, Failure& failure);

// The line a refusal prints.
void SetMidiFailure(Failure& failure, const char* name, const char* reason);

#endif  // BEATSTAMPS_MIDI_FILE_H_
