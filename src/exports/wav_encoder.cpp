#include "exports/wav_encoder.h"

namespace {

// The RIFF size field counts every byte after the chunk's id and that field.
constexpr uint32_t kRiffChunkHead = 8;
constexpr uint32_t kIntegerPcm = 1;
constexpr uint32_t kPcmFormatFields = 16;

void PutHeaderFields(ExportSink& sink, const PcmFormat& format, uint32_t dataBytes,
                     uint64_t riffBytes) {
  const uint32_t frameBytes = format.channels * (format.bitsPerSample / 8u);
  PutBytes(sink, "RIFF", 4);
  PutLittleEndian(sink, riffBytes, 4);
  PutBytes(sink, "WAVEfmt ", 8);
  PutLittleEndian(sink, kPcmFormatFields, 4);
  PutLittleEndian(sink, kIntegerPcm, 2);
  PutLittleEndian(sink, format.channels, 2);
  PutLittleEndian(sink, format.sampleRate, 4);
  PutLittleEndian(sink, uint64_t{format.sampleRate} * frameBytes, 4);
  PutLittleEndian(sink, frameBytes, 2);
  PutLittleEndian(sink, format.bitsPerSample, 2);
  PutBytes(sink, "data", 4);
  PutLittleEndian(sink, dataBytes, 4);
}

}  // namespace

void PutLittleEndian(ExportSink& sink, uint64_t value, int bytes) {
  uint8_t data[8];
  for (int k = 0; k < bytes; ++k) data[k] = static_cast<uint8_t>(value >> (8 * k));
  PutBytes(sink, data, static_cast<size_t>(bytes));
}

uint32_t WavHeaderBytes() {
  // The values in the fields do not change how many bytes they take.
  ExportSink counted = CountingSink();
  PutHeaderFields(counted, PcmFormat{0, 0, 0}, 0, 0);
  return static_cast<uint32_t>(counted.bytes);
}

void PutWavHeader(ExportSink& sink, const PcmFormat& format, uint32_t dataBytes) {
  const uint64_t riffBytes = uint64_t{WavHeaderBytes()} - kRiffChunkHead + dataBytes;
  PutHeaderFields(sink, format, dataBytes, riffBytes);
}
