#include "maps/exact_time.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

constexpr uint32_t kMicrosecondsPerSecond = 1000000;
constexpr int kMantissaBits = 53;
// Bits gathered before rounding: the mantissa, a rounding bit, and more that
// with the remainder tell a tie from a value above it.
constexpr int kGatheredBits = 64;
// A remainder below 2^96 shifted this far stays inside 128 bits.
constexpr int kMostShift = 128 - kMostTimeDenominatorBits;

struct Division {
  Wide quotient;
  Wide remainder;
};

// 64-bit division where both fit, as they mostly do.
Division Divide(Wide dividend, Wide divisor) {
  if ((dividend >> 64) == 0 && (divisor >> 64) == 0) {
    const auto a = static_cast<uint64_t>(dividend);
    const auto b = static_cast<uint64_t>(divisor);
    return Division{a / b, a % b};
  }
  const Wide quotient = dividend / divisor;
  return Division{quotient, dividend - quotient * divisor};
}

// Rounds `mantissa` (at least 54 bits) to 53, ties to even, where `sticky`
// says that something nonzero lies below its last bit.
double RoundToDouble(Wide mantissa, bool sticky, int scale) {
  const int drop = BitLength(mantissa) - kMantissaBits;
  Wide kept = mantissa >> drop;
  const Wide rest = mantissa - (kept << drop);
  const Wide half = Wide{1} << (drop - 1);
  if (rest > half || (rest == half && (sticky || (kept & 1) != 0))) kept += 1;
  return std::ldexp(static_cast<double>(static_cast<uint64_t>(kept)), drop - scale);
}

}  // namespace

int BitLength(Wide value) {
  const auto high = static_cast<uint64_t>(value >> 64);
  if (high != 0) return 128 - std::countl_zero(high);
  return 64 - std::countl_zero(static_cast<uint64_t>(value));
}

ExactTime TimeOfTicks(Wide tickTime, uint64_t fraction, uint64_t fractionDenominator,
                      uint32_t microsecondsPerQuarter, uint32_t ticksPerQuarter) {
  const Wide perSecond = static_cast<Wide>(ticksPerQuarter) * kMicrosecondsPerSecond;
  const Division whole = Divide(tickTime, perSecond);
  if (fraction == 0) return ExactTime{whole.quotient, whole.remainder, perSecond};
  // The rest of a second and the fraction of a tick, over one denominator.
  const Wide denominator = perSecond * fractionDenominator;
  const Wide rest =
      whole.remainder * fractionDenominator + static_cast<Wide>(fraction) * microsecondsPerQuarter;
  const Division carried = Divide(rest, denominator);
  return ExactTime{whole.quotient + carried.quotient, carried.remainder, denominator};
}

// Long division of the remainder, 32 bits or fewer at a time, until the
// mantissa holds enough bits to round; what is left decides ties.
double NearestSeconds(const ExactTime& time) {
  if (time.seconds == 0 && time.remainder == 0) return 0.0;
  Wide mantissa = time.seconds;
  Wide remainder = time.remainder;
  int scale = 0;
  while (BitLength(mantissa) < kGatheredBits) {
    const int shift = std::min(kGatheredBits - BitLength(mantissa), kMostShift);
    const Division digits = Divide(remainder << shift, time.denominator);
    mantissa = (mantissa << shift) | digits.quotient;
    remainder = digits.remainder;
    scale += shift;
  }
  return RoundToDouble(mantissa, remainder != 0, scale);
}

int64_t SampleAt(const ExactTime& time, uint32_t sampleRate) {
  if (sampleRate == 0) return 0;
  if ((time.seconds >> 64) != 0) return INT64_MAX;
  const Wide samples =
      time.seconds * sampleRate + Divide(time.remainder * sampleRate, time.denominator).quotient;
  return samples > static_cast<Wide>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(samples);
}
