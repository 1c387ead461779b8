#include "exports/export_options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/name_limits.h"
#include "exports/song_title.h"

namespace {

constexpr int32_t kMostCountIn = 16;
constexpr const char* kDefaultAudioName = "audio.mp3";
constexpr int32_t kDefaultZoom = 100;
constexpr int32_t kMostZoom = 10000;

// The bytes after a UTF-8 lead byte, or -1 for a byte no character begins with.
int FollowingBytes(unsigned char lead) {
  if (lead < 0x80) return 0;
  if (lead >= 0xC2 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) return 2;
  if (lead >= 0xF0 && lead <= 0xF4) return 3;
  return -1;
}

// Well-formed UTF-8: no stray or missing continuation byte, no overlong
// form, no surrogate, nothing past U+10FFFF. The name goes into text files
// that their readers take as UTF-8.
bool IsUtf8(const char* text) {
  for (const auto* byte = reinterpret_cast<const unsigned char*>(text); *byte != 0;) {
    const int following = FollowingBytes(*byte);
    if (following < 0) return false;
    uint32_t code = *byte & (0x7Fu >> following);
    for (int k = 1; k <= following; ++k) {
      if ((byte[k] & 0xC0) != 0x80) return false;
      code = (code << 6) | (byte[k] & 0x3Fu);
    }
    constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (code < kLeast[following] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    byte += following + 1;
  }
  return true;
}

bool IsAudioName(const char* text) {
  const size_t length = std::strlen(text);
  if (length == 0 || length > static_cast<size_t>(kFileNameLimit) || !IsUtf8(text)) return false;
  if (text[0] == ' ' || text[length - 1] == ' ') return false;
  for (size_t k = 0; k < length; ++k) {
    if (!FitsSongField(text[k])) return false;
  }
  return true;
}

}  // namespace

bool ReadOffsetOption(const char* text, OffsetOption& offset, Failure& failure) {
  if (!ReadOffsetText(text, offset)) {
    SetFailure(failure,
               "Error: --offset takes seconds (1.25, -0.5; at most 2147483647 either way) or "
               "whole samples (60000smp)!\n");
    return false;
  }
  return true;
}

bool ReadCountInOption(const char* text, int32_t& countIn, Failure& failure) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > kMostCountIn) {
    SetFailure(failure, "Error: --count-in takes a whole number of measures from 0 to %i!\n",
               kMostCountIn);
    return false;
  }
  countIn = static_cast<int32_t>(value);
  return true;
}

bool ReadAudioOption(const char* text, const char*& audioName, Failure& failure) {
  if (!IsAudioName(text)) {
    SetFailure(failure,
               "Error: --audio takes a UTF-8 file name of 1 to %i characters, without control "
               "characters, : ; # or \\, and not beginning or ending with a blank!\n",
               kFileNameLimit);
    return false;
  }
  audioName = text;
  return true;
}

bool ReadCreditOption(const char* option, const char* text, const char*& credit, Failure& failure) {
  if (!IsAudioName(text)) {
    SetFailure(failure,
               "Error: %s takes a name of 1 to %i characters, without control characters, : ; # "
               "or \\, and not beginning or ending with a blank!\n",
               option, kFileNameLimit);
    return false;
  }
  credit = text;
  return true;
}

bool ReadOsuModeOption(const char* text, OsuMode& mode, Failure& failure) {
  constexpr const char* kModes[] = {"osu", "taiko", "catch", "mania"};
  for (size_t k = 0; k < sizeof kModes / sizeof kModes[0]; ++k) {
    if (std::strcmp(text, kModes[k]) == 0) {
      mode = static_cast<OsuMode>(k);
      return true;
    }
  }
  SetFailure(failure, "Error: --osu-mode takes osu, taiko, catch or mania!\n");
  return false;
}

bool ReadMidiTempoOption(const char* text, MidiTempoTrack& track, Failure& failure) {
  if (std::strcmp(text, "exact") == 0 || std::strcmp(text, "section") == 0) {
    track = text[0] == 'e' ? MidiTempoTrack::kExact : MidiTempoTrack::kSection;
    return true;
  }
  SetFailure(failure, "Error: --midi-tempo takes exact or section!\n");
  return false;
}

bool ReadZoomOption(const char* text, int32_t& zoom, Failure& failure) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > kMostZoom) {
    SetFailure(failure, "Error: --zoom takes whole pixels per second from 1 to %i!\n", kMostZoom);
    return false;
  }
  zoom = static_cast<int32_t>(value);
  return true;
}

bool AnyExportOption(const ExportOptions& options) {
  return options.offset.given || options.countIn != 0 || options.audioName != nullptr ||
         options.zoom != 0;
}

bool ResolveExportSettings(const ExportOptions& options, uint32_t sampleRate, const char* mapName,
                           ExportSettings& settings, Failure& failure) {
  const OffsetOption& offset = options.offset;
  settings = ExportSettings{0,
                            offset.given,
                            offset,
                            options.countIn,
                            options.audioName != nullptr ? options.audioName : kDefaultAudioName,
                            options.audioName != nullptr,
                            mapName,
                            nullptr,
                            options.zoom != 0 ? options.zoom : kDefaultZoom,
                            BeatMarks{nullptr, 0}};
  if (options.artist != nullptr) settings.artist = options.artist;
  if (options.creator != nullptr) settings.creator = options.creator;
  settings.osuMode = options.osuMode;
  settings.midiTempo = options.midiTempo;
  if (IsNoOffset(offset)) return true;
  if (sampleRate == 0) {
    SetFailure(failure, "Error: --offset needs a sample rate above 0!\n");
    return false;
  }
  settings.offsetSamples = offset.inSamples
                               ? offset.samples
                               : std::llround(offset.seconds * static_cast<double>(sampleRate));
  return true;
}
