#include "exports/export_sink.h"

bool FlushSink(ExportSink& sink) {
  if (sink.used > 0 && !sink.failed && !sink.drain(sink.target, sink.buffer, sink.used)) {
    sink.failed = true;
  }
  sink.used = 0;
  return !sink.failed;
}

void PutBytesSlowly(ExportSink& sink, const void* data, size_t length) {
  if (sink.drain == nullptr) {
    sink.bytes += length;
    return;
  }
  if (sink.failed) return;
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (length > 0) {
    if (sink.used == sink.capacity && !FlushSink(sink)) return;
    const size_t room = sink.capacity - sink.used;
    const size_t part = length < room ? length : room;
    std::memcpy(sink.buffer + sink.used, bytes, part);
    sink.used += part;
    sink.bytes += part;
    bytes += part;
    length -= part;
  }
}
