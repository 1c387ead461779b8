#include "maps/sound_signature.h"

#include <cstring>

namespace {

bool BeginsWith(const uint8_t* head, size_t length, const char* mark) {
  const size_t markLength = std::strlen(mark);
  return length >= markLength && std::memcmp(head, mark, markLength) == 0;
}

// A chunk container whose form type follows its 4-byte length.
bool IsContainer(const uint8_t* head, size_t length, const char* kind, const char* form) {
  return length >= 12 && BeginsWith(head, length, kind) && std::memcmp(head + 8, form, 4) == 0;
}

// An MP3 or MP2 frame header without an ID3 tag before it: 11 sync bits, a
// known MPEG version, layer III or II, and a bit rate and sample rate that
// are not the forbidden ones. Layer I is left out: its first bytes can be
// those of UTF-16 text (FF FE), which is a map's.
bool IsMpegFrame(const uint8_t* head, size_t length) {
  if (length < 3 || head[0] != 0xFF || (head[1] & 0xE0) != 0xE0) return false;
  const int version = (head[1] >> 3) & 3;
  const int layer = (head[1] >> 1) & 3;
  const int bitRate = head[2] >> 4;
  const int sampleRate = (head[2] >> 2) & 3;
  return version != 1 && (layer == 1 || layer == 2) && bitRate != 15 && sampleRate != 3;
}

}  // namespace

bool IsSoundSignature(const uint8_t* head, size_t length) {
  return IsContainer(head, length, "RIFF", "WAVE") || IsContainer(head, length, "RIFX", "WAVE") ||
         IsContainer(head, length, "RF64", "WAVE") || IsContainer(head, length, "FORM", "AIFF") ||
         IsContainer(head, length, "FORM", "AIFC") || BeginsWith(head, length, "fLaC") ||
         BeginsWith(head, length, "OggS") || BeginsWith(head, length, "ID3") ||
         BeginsWith(head, length, ".snd") || BeginsWith(head, length, "caff") ||
         IsMpegFrame(head, length);
}

bool StartsAsSoundFile(FILE* file) {
  uint8_t head[kSoundSignatureBytes];
  const size_t taken = std::fread(head, 1, sizeof head, file);
  // As for a MIDI file: the bytes are in the stream's buffer, and putting
  // them back only moves its position.
  for (size_t k = taken; k > 0; --k) (void)std::ungetc(head[k - 1], file);
  return IsSoundSignature(head, taken);
}
