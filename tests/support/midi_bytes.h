// Standard MIDI Files put together byte by byte, for the tests: each piece
// is written as the file format lays it out, so a test can also write a
// file that breaks a rule on purpose.
#ifndef BEATSTAMPS_TESTS_MIDI_BYTES_H_
#define BEATSTAMPS_TESTS_MIDI_BYTES_H_

#include <cstdint>
#include <string>
#include <vector>

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

inline std::string LittleEndian(uint64_t value, int bytes) {
  std::string data;
  for (int k = 0; k < bytes; ++k) data += static_cast<char>(value >> (8 * k));
  return data;
}

// An RMID file: the MIDI file in the "data" chunk of a RIFF file, after an
// INFO list and before another, as players that write them lay them out.
inline std::string Rmid(const std::string& midi) {
  const std::string info = "LIST" + LittleEndian(5, 4) + "INFOx" + std::string(1, '\0');
  const std::string body = "RMID" + info + "data" + LittleEndian(midi.size(), 4) + midi +
                           std::string(midi.size() % 2, '\0') + info;
  return "RIFF" + LittleEndian(body.size(), 4) + body;
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

// An event of a file that writes every status byte, as the program's exports
// do; a meta event keeps its type in `data`[0].
struct Event {
  int track;
  uint64_t tick;
  unsigned char status;
  std::string data;
};

// The events of every track in turn; `ticksPerQuarter` from the header.
// Stops at the first thing it cannot take apart.
inline std::vector<Event> EventsOf(const std::string& file, int& ticksPerQuarter) {
  std::vector<Event> events;
  auto number = [&](size_t at, int bytes) {
    uint64_t value = 0;
    for (int k = 0; k < bytes && at + k < file.size(); ++k) {
      value = value << 8 | static_cast<unsigned char>(file[at + k]);
    }
    return value;
  };
  ticksPerQuarter = static_cast<int>(number(12, 2));
  size_t at = 8 + number(4, 4);
  for (int track = 0; at + 8 <= file.size(); ++track) {
    const size_t end = at + 8 + number(at + 4, 4);
    at += 8;
    uint64_t tick = 0;
    auto variable = [&]() {
      uint64_t value = 0;
      unsigned char byte = 0x80;
      while ((byte & 0x80) != 0 && at < end) value = value << 7 | ((byte = file[at++]) & 0x7F);
      return value;
    };
    while (at < end) {
      tick += variable();
      const auto status = static_cast<unsigned char>(file[at++]);
      std::string data;
      if (status == 0xFF) {
        data = file.substr(at++, 1);
        const uint64_t length = variable();
        data += file.substr(at, length);
        at += length;
      } else if (status >= 0x80 && status < 0xF0) {
        const size_t length = (status & 0xE0) == 0xC0 ? 1 : 2;
        data = file.substr(at, length);
        at += length;
      } else {
        return events;
      }
      events.push_back({track, tick, status, data});
    }
    at = end;
  }
  return events;
}

}  // namespace midi_bytes

#endif  // BEATSTAMPS_TESTS_MIDI_BYTES_H_
