// The WAV container: a RIFF file whose format chunk describes integer PCM,
// apart from the samples that any one file holds.
#ifndef BEATSTAMPS_WAV_ENCODER_H_
#define BEATSTAMPS_WAV_ENCODER_H_

#include <cstdint>

#include "exports/export_sink.h"

struct PcmFormat {
  uint32_t sampleRate;
  uint16_t channels;
  uint16_t bitsPerSample;
};

// The header up to the first byte of the samples: `dataBytes` of them follow.
void PutWavHeader(ExportSink& sink, const PcmFormat& format, uint32_t dataBytes);

// The bytes PutWavHeader writes, found by writing it into a counting sink.
uint32_t WavHeaderBytes();

void PutLittleEndian(ExportSink& sink, uint64_t value, int bytes);

#endif  // BEATSTAMPS_WAV_ENCODER_H_
