#include "exports/smf_encoder.h"

#include <cstring>

namespace {

void PutBigEndian(ExportSink& sink, uint64_t value, int bytes) {
  uint8_t data[8];
  for (int k = 0; k < bytes; ++k) data[k] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - k)));
  PutBytes(sink, data, static_cast<size_t>(bytes));
}

// Clocks per metronome click and 32nd notes per quarter: a click every
// quarter note, a quarter note of eight 32nds.
constexpr uint8_t kMidiClocksPerClick = 24;
constexpr uint8_t kThirtySecondsPerQuarter = 8;

}  // namespace

void PutMidiHeader(ExportSink& sink, uint16_t format, uint16_t tracks, uint16_t ticksPerQuarter) {
  PutBytes(sink, "MThd", 4);
  PutBigEndian(sink, 6, 4);
  PutBigEndian(sink, format, 2);
  PutBigEndian(sink, tracks, 2);
  PutBigEndian(sink, ticksPerQuarter, 2);
}

void PutTrackHead(ExportSink& sink, uint32_t length) {
  PutBytes(sink, "MTrk", 4);
  PutBigEndian(sink, length, 4);
}

void PutVariableLength(ExportSink& sink, uint64_t value) {
  uint8_t data[4];
  PutBytes(sink, data, static_cast<size_t>(EncodeVariableLength(value, data)));
}

void PutMetaEvent(ExportSink& sink, uint64_t delta, uint8_t type, const uint8_t* data,
                  uint8_t length) {
  // A short event, as the tempo carried at every beat is, goes out in one
  // move: a delta of four bytes at most, the meta head and its data.
  constexpr size_t kLongestHead = 4 + 3;
  if (length <= kMostShortBytes - kLongestHead) {
    uint8_t event[kMostShortBytes] = {};
    auto at = static_cast<size_t>(EncodeVariableLength(delta, event));
    const uint8_t head[] = {0xFF, type, length};
    std::memcpy(event + at, head, sizeof head);
    at += sizeof head;
    if (length > 0) std::memcpy(event + at, data, length);
    PutShortBytes(sink, event, at + length);
    return;
  }
  PutVariableLength(sink, delta);
  const uint8_t head[] = {0xFF, type, length};
  PutBytes(sink, head, sizeof head);
  PutBytes(sink, data, length);
}

void PutTrackName(ExportSink& sink, const char* name) {
  PutMetaEvent(sink, 0, 0x03, reinterpret_cast<const uint8_t*>(name),
               static_cast<uint8_t>(std::strlen(name)));
}

void PutTimeSignature(ExportSink& sink, uint64_t delta, uint8_t numerator,
                      uint8_t denominatorPower) {
  const uint8_t meter[] = {numerator, denominatorPower, kMidiClocksPerClick,
                           kThirtySecondsPerQuarter};
  PutMetaEvent(sink, delta, 0x58, meter, sizeof meter);
}

void PutTempo(ExportSink& sink, uint64_t delta, uint32_t microsecondsPerQuarter) {
  const uint8_t tempo[] = {static_cast<uint8_t>(microsecondsPerQuarter >> 16),
                           static_cast<uint8_t>(microsecondsPerQuarter >> 8),
                           static_cast<uint8_t>(microsecondsPerQuarter)};
  PutMetaEvent(sink, delta, 0x51, tempo, sizeof tempo);
}

void PutEndOfTrack(ExportSink& sink, uint64_t delta) {
  PutMetaEvent(sink, delta, 0x2F, nullptr, 0);
}
