#include "export_sink.h"

void PutBytes(ExportSink& sink, const void* data, size_t length) {
  if (sink.failed) return;
  if (sink.stream != nullptr && std::fwrite(data, 1, length, sink.stream) != length) {
    sink.failed = true;
    return;
  }
  sink.bytes += length;
}
