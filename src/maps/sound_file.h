// A recording read a block at a time and mixed to one channel, so that one
// of any length is read in fixed memory. Built with libsndfile; a build
// without it refuses every recording with one line naming what it needs.
#ifndef BEATSTAMPS_SOUND_FILE_H_
#define BEATSTAMPS_SOUND_FILE_H_

#include <cstdint>
#include <memory>

#include "base/failure.h"

// Whether this build reads recordings at all.
bool ReadsRecordings();

struct SoundInfo {
  uint32_t sampleRate;
  int64_t frames;  // as the file's header gives them
  int32_t channels;
};

struct SoundStream;  // an open recording
struct SoundStreamCloser {
  void operator()(SoundStream* stream) const;
};
using SoundStreamHandle = std::unique_ptr<SoundStream, SoundStreamCloser>;

// Opens the recording `name`; false with the line that says why.
bool OpenSoundStream(const char* name, SoundStreamHandle& stream, SoundInfo& info,
                     Failure& failure);

// Reads up to `count` frames, each the mean of its channels, into `mono`:
// the frames read, 0 at the end. False with the line that says why when the
// file cannot be read on, or ends before the frames its header promises.
bool ReadMonoFrames(SoundStream& stream, float* mono, int64_t count, int64_t& read,
                    Failure& failure);

// The line a refusal prints.
void SetRecordingFailure(Failure& failure, const char* name, const char* reason);

#endif  // BEATSTAMPS_SOUND_FILE_H_
