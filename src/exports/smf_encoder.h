// The Standard MIDI File container: chunks, variable-length numbers and
// events, apart from what any one file says with them.
#ifndef BEATSTAMPS_SMF_ENCODER_H_
#define BEATSTAMPS_SMF_ENCODER_H_

#include <cstdint>

#include "exports/export_sink.h"

// The longest delta time a variable-length number of four bytes holds.
constexpr uint64_t kLongestMidiDelta = 0x0FFFFFFF;

// The header chunk: the file's format, its number of tracks and its ticks per
// quarter note.
void PutMidiHeader(ExportSink& sink, uint16_t format, uint16_t tracks, uint16_t ticksPerQuarter);

// The head of a track chunk whose events take `length` bytes.
void PutTrackHead(ExportSink& sink, uint32_t length);

// Seven bits a byte, most significant first, every byte but the last with
// its top bit set; at most kLongestMidiDelta.
void PutVariableLength(ExportSink& sink, uint64_t value);

// Writes `value` as a variable-length number into `data` (room for four
// bytes); gives the number of bytes.
inline int EncodeVariableLength(uint64_t value, uint8_t* data) {
  if (value < 0x80) {
    data[0] = static_cast<uint8_t>(value);
    return 1;
  }
  if (value < 0x4000) {  // a click track's usual delta
    data[0] = static_cast<uint8_t>(0x80 | (value >> 7));
    data[1] = static_cast<uint8_t>(value & 0x7F);
    return 2;
  }
  int count = 0;
  int shift = 21;
  while ((value >> shift) == 0) shift -= 7;
  for (; shift > 0; shift -= 7)
    data[count++] = static_cast<uint8_t>(0x80 | ((value >> shift) & 0x7F));
  data[count++] = static_cast<uint8_t>(value & 0x7F);
  return count;
}

void PutMetaEvent(ExportSink& sink, uint64_t delta, uint8_t type, const uint8_t* data,
                  uint8_t length);

// A channel message of two data bytes, its status byte always written. The
// click track is made of little else, so it is written in place.
inline void PutChannelEvent(ExportSink& sink, uint64_t delta, uint8_t status, uint8_t first,
                            uint8_t second) {
  // Straight into the buffer where it has room, as nearly every event does.
  uint8_t spare[7];
  const bool room = sink.capacity - sink.used > sizeof spare;
  uint8_t* event = room ? sink.buffer + sink.used : spare;
  const int length = EncodeVariableLength(delta, event);
  event[length] = status;
  event[length + 1] = first;
  event[length + 2] = second;
  const size_t size = static_cast<size_t>(length) + 3;
  if (!room) {
    PutBytes(sink, spare, size);
    return;
  }
  sink.used += size;
  sink.bytes += size;
}

// The meta events a tempo map is made of.
void PutTrackName(ExportSink& sink, const char* name);
void PutTimeSignature(ExportSink& sink, uint64_t delta, uint8_t numerator,
                      uint8_t denominatorPower);
void PutTempo(ExportSink& sink, uint64_t delta, uint32_t microsecondsPerQuarter);
void PutEndOfTrack(ExportSink& sink, uint64_t delta);

#endif  // BEATSTAMPS_SMF_ENCODER_H_
