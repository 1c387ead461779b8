#include "exports/text_line.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/wide.h"

namespace {

constexpr int kMostQuickDecimals = 9;
constexpr uint64_t kPowersOfTen[kMostQuickDecimals + 1] = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};
// Past this many bits of shift the scaled value is read no further.
constexpr int kMostScaleShift = 120;

// `value`, finite and not negative, times 10^decimals, to the nearest whole
// number and a tie to the even one, as printf rounds it: exactly, since the
// double is a whole number over a power of two. False where the number
// passes 64 bits or the double lies outside what is taken apart so.
bool ScaledToNearest(double value, int decimals, uint64_t& scaled) {
  const auto bits = std::bit_cast<uint64_t>(value);
  const auto biased = static_cast<int>(bits >> 52);
  const uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | uint64_t{biased != 0} << 52;
  const int shift = 1075 - std::max(biased, 1);  // value = mantissa / 2^shift
  if (shift < 0 || shift > kMostScaleShift) return false;
  const Wide product = static_cast<Wide>(mantissa) * kPowersOfTen[decimals];
  Wide whole = product >> shift;
  if (shift > 0) {
    const Wide rest = product & ((Wide{1} << shift) - 1);
    const Wide half = Wide{1} << (shift - 1);
    if (rest > half || (rest == half && (whole & 1) != 0)) whole += 1;
  }
  if (whole >> 64 != 0) return false;
  scaled = static_cast<uint64_t>(whole);
  return true;
}

// `scaled` / 10^decimals with all its decimals; false where the value is
// not one ScaledToNearest takes.
bool AddScaledFixed(TextLine& line, double value, int decimals) {
  uint64_t scaled = 0;
  if (decimals < 1 || decimals > kMostQuickDecimals || std::signbit(value) ||
      !ScaledToNearest(value, decimals, scaled)) {
    return false;
  }
  const uint64_t unit = kPowersOfTen[decimals];
  AddInteger(line, static_cast<int64_t>(scaled / unit));
  AddCharacter(line, '.');
  uint64_t fraction = scaled % unit;
  for (int k = decimals; k > 0; --k) {
    line.text[line.length + static_cast<size_t>(k) - 1] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  line.length += static_cast<size_t>(decimals);
  return true;
}

}  // namespace

void AddFixed(TextLine& line, double value, int decimals) {
  char* at = line.text + line.length;
  const size_t room = kTextLineCapacity - line.length;
  if (!std::isfinite(value)) {
    // printf's own spelling of infinities and not-a-number.
    const int written = std::snprintf(at, room, "%.*f", decimals, value);
    line.length += written > 0 ? static_cast<size_t>(written) : 0;
    return;
  }
  if (AddScaledFixed(line, value, decimals)) return;
  const std::to_chars_result end =
      std::to_chars(at, line.text + kTextLineCapacity, value, std::chars_format::fixed, decimals);
  line.length = static_cast<size_t>(end.ptr - line.text);
}
