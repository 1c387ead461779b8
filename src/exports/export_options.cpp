#include "exports/export_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/name_limits.h"
#include "exports/song_title.h"

namespace {

constexpr int32_t kMostCountIn = 16;
constexpr const char* kDefaultAudioName = "audio.mp3";

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
               "Error: --audio takes a file name of 1 to %i characters, without control "
               "characters, : ; # or \\, and not beginning or ending with a blank!\n",
               kFileNameLimit);
    return false;
  }
  audioName = text;
  return true;
}

bool AnyExportOption(const ExportOptions& options) {
  return options.offset.given || options.countIn != 0 || options.audioName != nullptr;
}

bool ResolveExportSettings(const ExportOptions& options, uint32_t sampleRate, const char* mapName,
                           ExportSettings& settings, Failure& failure) {
  const OffsetOption& offset = options.offset;
  settings = ExportSettings{0,
                            offset.given,
                            offset,
                            options.countIn,
                            options.audioName != nullptr ? options.audioName : kDefaultAudioName,
                            mapName,
                            nullptr};
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
