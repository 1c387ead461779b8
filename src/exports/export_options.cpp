#include "exports/export_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/name_limits.h"
#include "exports/song_title.h"

namespace {

// At any 32-bit rate, this many seconds are still a 64-bit sample count.
constexpr double kMostOffsetSeconds = 2147483647.0;
constexpr int32_t kMostCountIn = 16;
constexpr const char* kDefaultAudioName = "audio.mp3";
constexpr const char* kSampleSuffix = "smp";
constexpr int32_t kDefaultZoom = 100;
constexpr int32_t kMostZoom = 10000;

bool ReadSeconds(const char* text, double& seconds) {
  char* end = nullptr;
  seconds = std::strtod(text, &end);
  return end != text && *end == '\0' && std::isfinite(seconds) &&
         std::fabs(seconds) <= kMostOffsetSeconds;
}

// `length` characters of `text` are a whole base-10 number of 64 bits.
bool ReadSamples(const char* text, size_t length, int64_t& samples) {
  char digits[32];
  if (length == 0 || length >= sizeof digits) return false;
  std::memcpy(digits, text, length);
  digits[length] = '\0';
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(digits, &end, 10);
  if (end != digits + length || errno == ERANGE) return false;
  samples = value;
  return true;
}

bool EndsWith(const char* text, size_t length, const char* suffix) {
  const size_t suffixLength = std::strlen(suffix);
  return length >= suffixLength && std::strcmp(text + length - suffixLength, suffix) == 0;
}

bool IsAudioName(const char* text) {
  const size_t length = std::strlen(text);
  if (length == 0 || length > static_cast<size_t>(kFileNameLimit)) return false;
  if (text[0] == ' ' || text[length - 1] == ' ') return false;
  for (size_t k = 0; k < length; ++k) {
    if (!FitsSongField(text[k])) return false;
  }
  return true;
}

}  // namespace

bool ReadOffsetOption(const char* text, OffsetOption& offset, Failure& failure) {
  const size_t length = std::strlen(text);
  OffsetOption read{true, EndsWith(text, length, kSampleSuffix), 0.0, 0};
  const bool valid = read.inSamples
                         ? ReadSamples(text, length - std::strlen(kSampleSuffix), read.samples)
                         : ReadSeconds(text, read.seconds);
  if (!valid) {
    SetFailure(failure,
               "Error: --offset takes seconds (1.25, -0.5; at most 2147483647 either way) or "
               "whole samples (60000smp)!\n");
    return false;
  }
  offset = read;
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
               "Error: --audio takes a file name of 1 to %i characters, without control "
               "characters, : ; # or \\, and not beginning or ending with a blank!\n",
               kFileNameLimit);
    return false;
  }
  audioName = text;
  return true;
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
                            options.countIn,
                            options.audioName != nullptr ? options.audioName : kDefaultAudioName,
                            options.audioName != nullptr,
                            mapName,
                            options.zoom != 0 ? options.zoom : kDefaultZoom,
                            BeatMarks{nullptr, nullptr, 0}};
  const bool none = offset.inSamples ? offset.samples == 0 : offset.seconds == 0.0;
  if (!offset.given || none) return true;
  if (sampleRate == 0) {
    SetFailure(failure, "Error: --offset needs a sample rate above 0!\n");
    return false;
  }
  settings.offsetSamples = offset.inSamples
                               ? offset.samples
                               : std::llround(offset.seconds * static_cast<double>(sampleRate));
  return true;
}
