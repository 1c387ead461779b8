// Recordings are told from tempo maps by their first bytes, as a MIDI file is
// by "MThd": the container or stream marks of the sound files libsndfile reads.
#ifndef BEATSTAMPS_SOUND_SIGNATURE_H_
#define BEATSTAMPS_SOUND_SIGNATURE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Bytes looked at to tell a recording.
constexpr size_t kSoundSignatureBytes = 12;

// Whether `head` (the file's first `length` bytes) begins as a WAV, RF64,
// AIFF, AU, CAF, FLAC, Ogg or MP3 file.
bool IsSoundSignature(const uint8_t* head, size_t length);

// Whether the file begins as a recording; the bytes looked at are put back.
bool StartsAsSoundFile(FILE* file);

#endif  // BEATSTAMPS_SOUND_SIGNATURE_H_
