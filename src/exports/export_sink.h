// Where an export's bytes go: through a large buffer to a file or a stream,
// or nowhere when they are only counted (to plan a size with the very code
// that writes it).
#ifndef BEATSTAMPS_EXPORT_SINK_H_
#define BEATSTAMPS_EXPORT_SINK_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

struct ExportSink {
  // Takes a full buffer; false when the bytes did not all go out.
  bool (*drain)(void* target, const void* data, size_t length);  // null: only counted
  void* target;
  uint8_t* buffer;
  size_t capacity;
  size_t used;     // bytes in the buffer
  uint64_t bytes;  // bytes put so far
  bool failed;     // bytes were lost; later ones are not tried
};

inline ExportSink CountingSink() {
  return ExportSink{nullptr, nullptr, nullptr, 0, 0, 0, false};
}

// A sink that collects bytes in `buffer` and hands each full one to `drain`.
inline ExportSink DrainingSink(bool (*drain)(void*, const void*, size_t), void* target,
                               uint8_t* buffer, size_t capacity) {
  return ExportSink{drain, target, buffer, capacity, 0, 0, false};
}

// Hands the buffered bytes on; false once any byte has been lost.
bool FlushSink(ExportSink& sink);

// For bytes that do not fit in the buffer's room.
void PutBytesSlowly(ExportSink& sink, const void* data, size_t length);

inline void PutBytes(ExportSink& sink, const void* data, size_t length) {
  if (length < sink.capacity - sink.used) {
    std::memcpy(sink.buffer + sink.used, data, length);
    sink.used += length;
    sink.bytes += length;
    return;
  }
  PutBytesSlowly(sink, data, length);
}

// Up to `kBlock` bytes, from a source that holds that many: where the
// buffer has room for all of them, one move of that fixed size takes them
// (and what follows them, which the next bytes put overwrite), quicker than a
// copy of `length` bytes.
template <size_t kBlock>
inline void PutBytesInBlock(ExportSink& sink, const void* data, size_t length) {
  if (length <= kBlock && kBlock < sink.capacity - sink.used) {
    std::memcpy(sink.buffer + sink.used, data, kBlock);
    sink.used += length;
    sink.bytes += length;
    return;
  }
  PutBytes(sink, data, length);
}

// The most bytes PutShortBytes puts.
constexpr size_t kMostShortBytes = 16;

// A few bytes, from a source that holds kMostShortBytes.
inline void PutShortBytes(ExportSink& sink, const void* data, size_t length) {
  PutBytesInBlock<kMostShortBytes>(sink, data, length);
}

inline void PutByte(ExportSink& sink, uint8_t byte) {
  PutBytes(sink, &byte, 1);
}

// A zero-terminated text, without its terminator.
inline void PutText(ExportSink& sink, const char* text) {
  PutBytes(sink, text, std::strlen(text));
}

#endif  // BEATSTAMPS_EXPORT_SINK_H_
