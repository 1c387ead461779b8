// Standard MIDI Files put together byte by byte, for the tests: each piece
// is written as the file format lays it out, so a test can also write a
// file that breaks a rule on purpose.
#ifndef BEATSTAMPS_TESTS_MIDI_BYTES_H_
#define BEATSTAMPS_TESTS_MIDI_BYTES_H_

#include <cstdint>
#include <string>

namespace midi_bytes {

inline std::string BigEndian(uint64_t value, int bytes) {
  std::string data;
  for (int k = bytes - 1; k >= 0; --k) data += static_cast<char>(value >> (8 * k));
  return data;
}

// Seven bits a byte, most significant first, the top bit set on all but the last.
inline std::string VariableLength(uint64_t value) {
  std::string data(1, static_cast<char>(value & 0x7F));
  while ((value >>= 7) != 0) data.insert(0, 1, static_cast<char>(0x80 | (value & 0x7F)));
  return data;
}

inline std::string Header(int format, int tracks, int division) {
  return "MThd" + BigEndian(6, 4) + BigEndian(format, 2) + BigEndian(tracks, 2) +
         BigEndian(division, 2);
}

inline std::string Chunk(const std::string& type, const std::string& body) {
  return type + BigEndian(body.size(), 4) + body;
}

inline std::string Track(const std::string& events) {
  return Chunk("MTrk", events);
}

inline std::string Meta(uint64_t delta, int type, const std::string& data) {
  return VariableLength(delta) + static_cast<char>(0xFF) + static_cast<char>(type) +
         VariableLength(data.size()) + data;
}

inline std::string Tempo(uint64_t delta, uint32_t microsecondsPerQuarter) {
  return Meta(delta, 0x51, BigEndian(microsecondsPerQuarter, 3));
}

// Numerator, denominator as a power of two, and the two metronome bytes.
inline std::string Meter(uint64_t delta, int numerator, int power) {
  return Meta(delta, 0x58,
              std::string{static_cast<char>(numerator), static_cast<char>(power), 24, 8});
}

inline std::string EndOfTrack(uint64_t delta) {
  return Meta(delta, 0x2F, "");
}

// A channel message with its status byte; with `status` 0, running status.
inline std::string Message(uint64_t delta, int status, const std::string& data) {
  std::string event = VariableLength(delta);
  if (status != 0) event += static_cast<char>(status);
  return event + data;
}

inline std::string NoteOn(uint64_t delta, int note) {
  return Message(delta, 0x90, std::string{static_cast<char>(note), 100});
}

inline std::string SysEx(uint64_t delta, const std::string& data) {
  return VariableLength(delta) + static_cast<char>(0xF0) + VariableLength(data.size()) + data;
}

}  // namespace midi_bytes

#endif  // BEATSTAMPS_TESTS_MIDI_BYTES_H_
