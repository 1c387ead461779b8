#include "maps/sound_file.h"

#ifdef BEATSTAMPS_RECORDINGS

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#endif

void SetRecordingFailure(Failure& failure, const char* name, const char* reason) {
  SetFailure(failure, "Error: Cannot read %s as a recording: %s!\n", name, reason);
}

#ifdef BEATSTAMPS_RECORDINGS

namespace {

// Interleaved frames decoded at once; a recording of many channels reads
// fewer frames per block.
constexpr int64_t kBlockSamples = 16384;

// libsndfile's reason, without the full stop its messages end with (the
// refusal line ends with its own mark).
void SetLibraryFailure(Failure& failure, const char* name, SNDFILE* file) {
  char reason[256];
  std::snprintf(reason, sizeof reason, "%s", sf_strerror(file));
  size_t length = std::strlen(reason);
  while (length > 0 && (reason[length - 1] == '.' || reason[length - 1] == ' ')) {
    reason[--length] = '\0';
  }
  SetRecordingFailure(failure, name, reason);
}

// libsndfile reads a WAV or AIFF file whose sound data its header says is
// longer than the file as far as the file goes, and notes in its log the
// length the data chunk "should be": the file was cut short.
bool IsCutShort(SNDFILE* file) {
  char log[8192] = {};
  (void)sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
  for (const char* line = log; line != nullptr && *line != '\0';) {
    const char* end = std::strchr(line, '\n');
    std::string_view text(line,
                          end != nullptr ? static_cast<size_t>(end - line) : std::strlen(line));
    while (text.starts_with(' ')) text.remove_prefix(1);
    const bool soundChunk = text.starts_with("data") || text.starts_with("SSND");
    if (soundChunk && text.find("(should be") != std::string_view::npos) return true;
    line = end != nullptr ? end + 1 : nullptr;
  }
  return false;
}

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

bool OpenSoundStream(const char* name, SoundStreamHandle& stream, SoundInfo& info,
                     Failure& failure) {
  SF_INFO format{};
  SNDFILE* file = sf_open(name, SFM_READ, &format);
  if (file == nullptr) {
    SetLibraryFailure(failure, name, nullptr);
    return false;
  }
  if (IsCutShort(file)) {
    (void)sf_close(file);
    SetRecordingFailure(failure, name, "it ends before the length its header gives");
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
      SetLibraryFailure(failure, stream.name, stream.file);
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

#else  // a build without libsndfile and qm-dsp: a recording is still told by
       // its first bytes, and refused with the line that says what to install

bool ReadsRecordings() {
  return false;
}

// No stream is ever opened: there is none to close.
void SoundStreamCloser::operator()(SoundStream* /*stream*/) const {}

bool OpenSoundStream(const char* name, SoundStreamHandle& /*stream*/, SoundInfo& /*info*/,
                     Failure& failure) {
  SetRecordingFailure(failure, name,
                      "this build reads no sound files (build it with the Debian packages "
                      "libsndfile1-dev and libqm-dsp-dev)");
  return false;
}

bool ReadMonoFrames(SoundStream& /*stream*/, float* /*mono*/, int64_t /*count*/, int64_t& read,
                    Failure& /*failure*/) {
  read = 0;
  return true;
}

#endif  // BEATSTAMPS_RECORDINGS
