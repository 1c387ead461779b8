#include "maps/midi_file.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kHeaderLength = 6;
constexpr uint32_t kDefaultTempoLength = 3;
constexpr uint32_t kMeterLength = 2;  // numerator and denominator; the rest is for metronomes
constexpr int kMostVariableLengthBytes = 4;

constexpr uint8_t kMetaStatus = 0xFF;
constexpr uint8_t kSysExStatus = 0xF0;
constexpr uint8_t kSysExContinuation = 0xF7;
constexpr uint8_t kEndOfTrack = 0x2F;
constexpr uint8_t kSetTempo = 0x51;
constexpr uint8_t kTimeSignature = 0x58;

// One read: the bytes, and the failure that names the first reason the file
// cannot be a tempo map.
struct Parse {
  MidiReading& reading;
  const char* name;
  Failure& failure;
  bool refused;
};

bool Refuse(Parse& parse, const char* reason) {
  if (!parse.refused) SetMidiFailure(parse.failure, parse.name, reason);
  parse.refused = true;
  return false;
}

// False at the end of the file (or when it cannot be read further).
bool Refill(MidiReading& reading) {
  reading.consumed += reading.size;
  reading.position = 0;
  reading.size = 0;
  if (reading.failed || reading.consumed >= reading.end) return false;
  const size_t wanted =
      static_cast<size_t>(std::min<uint64_t>(kMidiReadChunk, reading.end - reading.consumed));
  reading.size = std::fread(reading.buffer, 1, wanted, reading.file);
  if (std::ferror(reading.file)) reading.failed = true;
  return reading.size > 0;
}

uint64_t Offset(const MidiReading& reading) {
  return reading.consumed + reading.position;
}

inline bool TakeByte(MidiReading& reading, uint8_t& byte) {
  if (reading.position == reading.size && !Refill(reading)) return false;
  byte = reading.buffer[reading.position++];
  return true;
}

// Moves `count` bytes on; false when the file ends first.
bool Skip(MidiReading& reading, uint64_t count) {
  while (count > 0) {
    if (reading.position == reading.size && !Refill(reading)) return false;
    const size_t step =
        static_cast<size_t>(std::min<uint64_t>(count, reading.size - reading.position));
    reading.position += step;
    count -= step;
  }
  return true;
}

bool TakeBytes(MidiReading& reading, uint8_t* bytes, size_t count) {
  for (size_t k = 0; k < count; ++k) {
    if (!TakeByte(reading, bytes[k])) return false;
  }
  return true;
}

uint32_t BigEndian(const uint8_t* bytes, int count) {
  uint32_t value = 0;
  for (int k = 0; k < count; ++k) value = value << 8 | bytes[k];
  return value;
}

const char* EndReason(const MidiReading& reading, const char* whatRunsPast) {
  return reading.failed ? "the file could not be read" : whatRunsPast;
}

constexpr const char* kEventPastEnd = "an event runs past the end of the file";
constexpr const char* kChunkPastEnd = "a chunk runs past the end of the file";

bool TakeVariableLength(Parse& parse, uint32_t& value) {
  value = 0;
  for (int k = 0; k < kMostVariableLengthBytes; ++k) {
    uint8_t byte = 0;
    if (!TakeByte(parse.reading, byte))
      return Refuse(parse, EndReason(parse.reading, kEventPastEnd));
    value = value << 7 | (byte & 0x7F);
    if ((byte & 0x80) == 0) return true;
  }
  return Refuse(parse, "a variable-length number of more than 4 bytes");
}

bool Keep(Parse& parse, uint64_t tick, uint32_t value) {
  MidiContents& contents = parse.reading.contents;
  if (contents.eventCount == kMostMidiEvents) {
    return Refuse(parse, "more than 262144 tempo and time signature events");
  }
  const auto order = static_cast<uint32_t>(contents.eventCount);
  contents.events[contents.eventCount++] = MidiEvent{tick, order, value};
  return true;
}

bool KeepTempo(Parse& parse, uint64_t tick, const uint8_t* data, uint32_t length) {
  if (length < kDefaultTempoLength) return Refuse(parse, "a tempo event shorter than 3 bytes");
  const uint32_t microseconds = BigEndian(data, 3);
  if (microseconds == 0) return Refuse(parse, "a tempo of 0");
  return Keep(parse, tick, microseconds);
}

bool KeepMeter(Parse& parse, uint64_t tick, const uint8_t* data, uint32_t length) {
  if (length < kMeterLength) return Refuse(parse, "a time signature event shorter than 2 bytes");
  if (data[0] == 0) return Refuse(parse, "a time signature of 0 beats");
  if (data[1] > kMostDenominatorPower) {
    return Refuse(parse, "a time signature denominator above 2^29");
  }
  return Keep(parse, tick, kMeterFlag | uint32_t{data[1]} << 8 | data[0]);
}

// A meta event after its status byte; `ended` when it ends the track.
bool ReadMetaEvent(Parse& parse, uint64_t tick, bool& ended) {
  uint8_t type = 0;
  if (!TakeByte(parse.reading, type)) return Refuse(parse, EndReason(parse.reading, kEventPastEnd));
  uint32_t length = 0;
  if (!TakeVariableLength(parse, length)) return false;
  if (type != kSetTempo && type != kTimeSignature) {
    ended = type == kEndOfTrack;
    if (Skip(parse.reading, length)) return true;
    return Refuse(parse, EndReason(parse.reading, kEventPastEnd));
  }
  // Both keep what they need from their first bytes and skip the rest.
  uint8_t data[3] = {0, 0, 0};
  const uint32_t kept = std::min<uint32_t>(length, sizeof data);
  if (!TakeBytes(parse.reading, data, kept) || !Skip(parse.reading, length - kept)) {
    return Refuse(parse, EndReason(parse.reading, kEventPastEnd));
  }
  return type == kSetTempo ? KeepTempo(parse, tick, data, length)
                           : KeepMeter(parse, tick, data, length);
}

// Data bytes after a status byte other than a meta or system exclusive one;
// -1 for the two status bytes MIDI leaves undefined.
int DataBytesAfter(uint8_t status) {
  switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
      return 1;
    case 0xF0:
      break;
    default:
      return 2;
  }
  switch (status) {
    case 0xF1:
    case 0xF3:
      return 1;
    case 0xF2:
      return 2;
    case 0xF4:
    case 0xF5:
      return -1;
    default:
      return 0;
  }
}

// A channel or system message: its data bytes are skipped.
bool SkipMessage(Parse& parse, uint8_t status, bool firstTaken) {
  const int count = DataBytesAfter(status);
  if (count < 0) return Refuse(parse, "an undefined status byte");
  if (Skip(parse.reading, static_cast<uint64_t>(count - (firstTaken ? 1 : 0)))) return true;
  return Refuse(parse, EndReason(parse.reading, kEventPastEnd));
}

bool SkipSysEx(Parse& parse) {
  uint32_t length = 0;
  if (!TakeVariableLength(parse, length)) return false;
  if (Skip(parse.reading, length)) return true;
  return Refuse(parse, EndReason(parse.reading, kEventPastEnd));
}

// The running status is that of the last channel message: meta and system
// exclusive events leave it as it was.
struct TrackRead {
  uint64_t tick;
  uint8_t runningStatus;  // 0 before the first channel message
  bool ended;             // an End of Track event has been read
};

bool ReadEvent(Parse& parse, TrackRead& track) {
  uint32_t delta = 0;
  if (!TakeVariableLength(parse, delta)) return false;
  track.tick += delta;
  if (track.tick > kMostMidiTicks) return Refuse(parse, "a track longer than 2^56 ticks");
  uint8_t status = 0;
  if (!TakeByte(parse.reading, status))
    return Refuse(parse, EndReason(parse.reading, kEventPastEnd));
  if (status == kMetaStatus) return ReadMetaEvent(parse, track.tick, track.ended);
  if (status == kSysExStatus || status == kSysExContinuation) return SkipSysEx(parse);
  const bool firstTaken = status < 0x80;
  if (firstTaken) {
    if (track.runningStatus == 0) return Refuse(parse, "a data byte with no running status to use");
    status = track.runningStatus;
  } else if (status < 0xF0) {
    track.runningStatus = status;
  }
  return SkipMessage(parse, status, firstTaken);
}

// Reads a track's events up to its End of Track; whatever follows that in
// its chunk is skipped. A track without one ends with its last event.
bool ReadTrack(Parse& parse, uint32_t length) {
  MidiReading& reading = parse.reading;
  const uint64_t end = Offset(reading) + length;
  TrackRead track{0, 0, false};
  while (!track.ended && Offset(reading) < end) {
    if (!ReadEvent(parse, track)) return false;
  }
  if (Offset(reading) > end) return Refuse(parse, "an event runs past the end of its track");
  if (!Skip(reading, end - Offset(reading)))
    return Refuse(parse, EndReason(reading, kChunkPastEnd));
  MidiContents& contents = reading.contents;
  contents.lastTick = std::max(contents.lastTick, track.tick);
  contents.trackCount += 1;
  return true;
}

bool ReadHeader(Parse& parse) {
  uint8_t head[8 + kHeaderLength];
  if (!TakeBytes(parse.reading, head, sizeof head)) {
    return Refuse(parse, EndReason(parse.reading, kChunkPastEnd));
  }
  if (std::memcmp(head, "MThd", 4) != 0) return Refuse(parse, "no MThd chunk at its start");
  const uint32_t length = BigEndian(head + 4, 4);
  if (length < kHeaderLength) return Refuse(parse, "a header chunk shorter than 6 bytes");
  const uint32_t format = BigEndian(head + 8, 2);
  const uint32_t division = BigEndian(head + 12, 2);
  if (format == 2) return Refuse(parse, "format 2, a file of independent patterns");
  if (format > 2) return Refuse(parse, "an unknown format");
  if ((division & 0x8000) != 0) return Refuse(parse, "SMPTE time division");
  if (division == 0) return Refuse(parse, "0 ticks per quarter note");
  parse.reading.contents.ticksPerQuarter = division;
  if (Skip(parse.reading, length - kHeaderLength)) return true;
  return Refuse(parse, EndReason(parse.reading, kChunkPastEnd));
}

// The rest of the file from `start` on holds no chunk: it is passed over.
bool PassOverRest(Parse& parse, uint64_t start, bool& done) {
  MidiReading& reading = parse.reading;
  while (Refill(reading)) {
  }
  if (reading.failed) return Refuse(parse, "the file could not be read");
  reading.contents.trailingBytes = Offset(reading) - start;
  done = true;
  return true;
}

// A chunk's type is four printable ASCII characters.
bool IsChunkType(const uint8_t* head) {
  return std::all_of(head, head + 4, [](uint8_t byte) { return byte >= 0x20 && byte <= 0x7E; });
}

// Reads the chunk at the cursor; `done` at the end of the file. A track cut
// off by the end of the file is refused; other bytes that do not make a
// whole chunk (zero padding, a line of text, CR LF) end the file there.
bool ReadChunk(Parse& parse, bool& done) {
  MidiReading& reading = parse.reading;
  const uint64_t start = Offset(reading);
  uint8_t head[8];
  size_t taken = 0;
  while (taken < sizeof head && TakeByte(reading, head[taken])) ++taken;
  if (reading.failed) return Refuse(parse, "the file could not be read");
  if (taken == 0) {
    done = true;
    return true;
  }
  const bool track = std::memcmp(head, "MTrk", std::min<size_t>(taken, 4)) == 0;
  if (taken < sizeof head)
    return track ? Refuse(parse, kChunkPastEnd) : PassOverRest(parse, start, done);
  if (!IsChunkType(head)) return PassOverRest(parse, start, done);
  const uint32_t length = BigEndian(head + 4, 4);
  if (track) return ReadTrack(parse, length);
  if (Skip(reading, length)) return true;  // chunks of other types are skipped
  return PassOverRest(parse, start, done);
}

uint32_t LittleEndian(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

// An RMID file holds the MIDI file in its RIFF chunk "data": reading goes
// on from there, up to that chunk's end.
bool EnterRiffData(Parse& parse) {
  MidiReading& reading = parse.reading;
  uint8_t head[12];
  if (!TakeBytes(reading, head, sizeof head))
    return Refuse(parse, EndReason(reading, kChunkPastEnd));
  if (std::memcmp(head + 8, "RMID", 4) != 0) return Refuse(parse, "a RIFF file that is not RMID");
  for (;;) {
    uint8_t chunk[8];
    if (!TakeBytes(reading, chunk, sizeof chunk)) {
      return Refuse(parse, EndReason(reading, "an RMID file without a data chunk"));
    }
    const uint32_t length = LittleEndian(chunk + 4);
    if (std::memcmp(chunk, "data", 4) == 0) {
      reading.end = Offset(reading) + length;
      reading.size =
          static_cast<size_t>(std::min<uint64_t>(reading.size, reading.end - reading.consumed));
      return true;
    }
    // RIFF chunks are padded to an even length.
    if (!Skip(reading, uint64_t{length} + (length & 1))) {
      return Refuse(parse, EndReason(reading, "an RMID file without a data chunk"));
    }
  }
}

// Whether the file's first bytes, in the first piece read, say RIFF.
bool StartsAsRiff(MidiReading& reading) {
  if (reading.size == 0) (void)Refill(reading);
  return reading.size >= 4 && std::memcmp(reading.buffer, "RIFF", 4) == 0;
}

bool EarlierEvent(const MidiEvent& a, const MidiEvent& b) {
  return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
}

}  // namespace

bool StartsAsMidiFile(FILE* file) {
  char head[12];
  const size_t taken = std::fread(head, 1, sizeof head, file);
  // The bytes came into the stream's buffer; putting them back only moves
  // its position, so a pipe can be read from its start afterwards.
  for (size_t k = taken; k > 0; --k)
    (void)std::ungetc(static_cast<unsigned char>(head[k - 1]), file);
  if (taken >= 4 && std::memcmp(head, "MThd", 4) == 0) return true;
  return taken == sizeof head && std::memcmp(head, "RIFF", 4) == 0 &&
         std::memcmp(head + 8, "RMID", 4) == 0;
}

void SetMidiFailure(Failure& failure, const char* name, const char* reason) {
  SetFailure(failure, "Error: Cannot read %s as a MIDI file: %s!\n", name, reason);
}

bool ReadMidiFile(FILE* file, const char* name, MidiReading& reading, Failure& failure) {
  reading.file = file;
  reading.size = 0;
  reading.position = 0;
  reading.consumed = 0;
  reading.end = UINT64_MAX;
  reading.failed = false;
  MidiContents& contents = reading.contents;
  contents.trackCount = 0;
  contents.lastTick = 0;
  contents.trailingBytes = 0;
  contents.eventCount = 0;
  Parse parse{reading, name, failure, false};
  bool done = false;
  bool read = (!StartsAsRiff(reading) || EnterRiffData(parse)) && ReadHeader(parse);
  while (read && !done) read = ReadChunk(parse, done);
  if (read && contents.trackCount == 0) read = Refuse(parse, "no MTrk chunk");
  if (!read) return false;
  std::sort(contents.events, contents.events + contents.eventCount, EarlierEvent);
  return true;
}
