// A build without libsndfile or qm-dsp: recordings are still told by their
// first bytes, and each is refused with the one line that says what to install.
#include "maps/recording_beats.h"
#include "maps/sound_file.h"

namespace {

void RefuseRecording(Failure& failure, const char* name) {
  SetRecordingFailure(failure, name,
                      "this build reads no sound files (build it with the Debian packages "
                      "libsndfile1-dev and libqm-dsp-dev)");
}

}  // namespace

bool ReadsRecordings() {
  return false;
}

// No stream is ever opened: there is none to close.
void SoundStreamCloser::operator()(SoundStream* /*stream*/) const {}

void SetRecordingFailure(Failure& failure, const char* name, const char* reason) {
  SetFailure(failure, "Error: Cannot read %s as a recording: %s!\n", name, reason);
}

bool OpenSoundStream(const char* name, SoundStreamHandle& /*stream*/, SoundInfo& /*info*/,
                     Failure& failure) {
  RefuseRecording(failure, name);
  return false;
}

bool ReadMonoFrames(SoundStream& /*stream*/, float* /*mono*/, int64_t /*count*/, int64_t& read,
                    Failure& /*failure*/) {
  read = 0;
  return true;
}

bool FindRecordingBeats(const char* name, int32_t /*meter*/, RecordingBeats& /*found*/,
                        Failure& failure) {
  RefuseRecording(failure, name);
  return false;
}
