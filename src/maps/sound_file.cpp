#include "maps/sound_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

namespace {

// Interleaved frames decoded at once; a recording of many channels reads
// fewer frames per block.
constexpr int64_t kBlockSamples = 16384;

}  // namespace

struct SoundStream {
  SNDFILE* file;
  const char* name;
  int32_t channels;
  int64_t promised;  // frames the header gives
  int64_t delivered;
  std::unique_ptr<float[]> block;  // kBlockSamples interleaved samples
};

bool ReadsRecordings() {
  return true;
}

void SoundStreamCloser::operator()(SoundStream* stream) const {
  if (stream->file != nullptr) (void)sf_close(stream->file);  // read only
  delete stream;
}

void SetRecordingFailure(Failure& failure, const char* name, const char* reason) {
  SetFailure(failure, "Error: Cannot read %s as a recording: %s!\n", name, reason);
}

bool OpenSoundStream(const char* name, SoundStreamHandle& stream, SoundInfo& info,
                     Failure& failure) {
  SF_INFO format{};
  SNDFILE* file = sf_open(name, SFM_READ, &format);
  if (file == nullptr) {
    SetRecordingFailure(failure, name, sf_strerror(nullptr));
    return false;
  }
  stream.reset(new (std::nothrow) SoundStream{file, name, format.channels, format.frames, 0,
                                              std::unique_ptr<float[]>()});
  if (stream == nullptr) {
    (void)sf_close(file);
    SetRecordingFailure(failure, name, "not enough memory");
    return false;
  }
  stream->block.reset(new (std::nothrow) float[kBlockSamples]);
  if (format.channels <= 0 || format.channels > kBlockSamples || format.samplerate <= 0) {
    SetRecordingFailure(failure, name, "its header gives no channels or no sample rate");
    return false;
  }
  if (stream->block == nullptr) {
    SetRecordingFailure(failure, name, "not enough memory");
    return false;
  }
  info = SoundInfo{static_cast<uint32_t>(format.samplerate), format.frames, format.channels};
  return true;
}

bool ReadMonoFrames(SoundStream& stream, float* mono, int64_t count, int64_t& read,
                    Failure& failure) {
  read = 0;
  const int64_t channels = stream.channels;
  while (read < count) {
    const int64_t wanted = std::min(count - read, kBlockSamples / channels);
    const sf_count_t got = sf_readf_float(stream.file, stream.block.get(), wanted);
    if (sf_error(stream.file) != SF_ERR_NO_ERROR) {
      SetRecordingFailure(failure, stream.name, sf_strerror(stream.file));
      return false;
    }
    for (sf_count_t frame = 0; frame < got; ++frame) {
      const float* samples = stream.block.get() + frame * channels;
      float sum = 0.0F;
      for (int64_t channel = 0; channel < channels; ++channel) sum += samples[channel];
      mono[read + frame] = sum / static_cast<float>(channels);
    }
    read += got;
    stream.delivered += got;
    if (got < wanted) break;
  }
  if (read == 0 && stream.delivered < stream.promised) {
    SetRecordingFailure(failure, stream.name, "it ends before the length its header gives");
    return false;
  }
  return true;
}
