// Where an export's bytes go: a stream, or nowhere when they are only counted.
#ifndef BEATSTAMPS_EXPORT_SINK_H_
#define BEATSTAMPS_EXPORT_SINK_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct ExportSink {
  FILE* stream;    // null: the bytes are only counted
  uint64_t bytes;  // bytes put so far
  bool failed;     // a write fell short; later bytes are not tried
};

inline ExportSink CountingSink() {
  return ExportSink{nullptr, 0, false};
}

inline ExportSink StreamSink(FILE* stream) {
  return ExportSink{stream, 0, false};
}

void PutBytes(ExportSink& sink, const void* data, size_t length);

#endif  // BEATSTAMPS_EXPORT_SINK_H_
