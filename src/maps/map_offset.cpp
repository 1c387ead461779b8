#include "maps/map_offset.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// At any 32-bit rate, this many seconds are still a 64-bit sample count.
constexpr double kMostOffsetSeconds = 2147483647.0;
constexpr const char* kSampleSuffix = "smp";

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

}  // namespace

bool ReadOffsetText(const char* text, OffsetOption& offset) {
  const size_t length = std::strlen(text);
  OffsetOption read{true, EndsWith(text, length, kSampleSuffix), 0.0, 0};
  // Blanks are refused at either end, though the C readers skip those ahead.
  const bool valid =
      std::isspace(static_cast<unsigned char>(text[0])) == 0 &&
      (read.inSamples ? ReadSamples(text, length - std::strlen(kSampleSuffix), read.samples)
                      : ReadSeconds(text, read.seconds));
  if (valid) offset = read;
  return valid;
}

bool IsNoOffset(const OffsetOption& offset) {
  return !offset.given || (offset.inSamples ? offset.samples == 0 : offset.seconds == 0.0);
}
