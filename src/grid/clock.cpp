#include "grid/clock.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// The smallest exponent of a double's last bit (that of the subnormals).
constexpr int kLowestUlpExponent = -1074;
constexpr int kMantissaBits = 53;

}  // namespace

// Within one binade every clock value is a whole multiple of the binade's
// ulp. Adding a step then rounds the exact sum to such a multiple, so every
// step that lands inside the binade adds the same rounded increment; where the
// step is an odd half-ulp away the first tie rounds to even and the increment
// is constant from then on. So: take two plain steps, measure the increment,
// jump over all the steps that stay inside the binade in one exact
// multiplication, and take the steps that cross into the next binade one at a
// time. An increment of zero means the clock no longer moves at all.
double AdvanceClockOverSteps(double clock, double step, Wide count) {
  while (count > 0) {
    if (step == 0.0 || clock == 0.0 || !std::isfinite(clock)) {
      clock += step;
      --count;
      if (step == 0.0 || !std::isfinite(clock)) return clock;
      continue;
    }
    int exponent = 0;
    std::frexp(clock, &exponent);  // clock lies in [2^(exponent-1), 2^exponent)
    const int ulpExponent = std::max(exponent - kMantissaBits, kLowestUlpExponent);
    const double binadeTop = std::ldexp(1.0, exponent);

    const double next = clock + step;
    --count;
    if (count == 0 || next >= binadeTop) {
      clock = next;
      continue;
    }
    const double after = next + step;
    --count;
    if (count == 0 || after >= binadeTop) {
      clock = after;
      continue;
    }
    const double increment = after - next;  // exact: both lie in one binade
    if (increment == 0.0) return after;

    const uint64_t topUnits = uint64_t{1} << (exponent - ulpExponent);
    const auto position = static_cast<uint64_t>(std::ldexp(after, -ulpExponent));
    const auto incrementUnits = static_cast<uint64_t>(std::ldexp(increment, -ulpExponent));
    const uint64_t stepsInside = (topUnits - 1 - position) / incrementUnits;
    const uint64_t jump = count < stepsInside ? static_cast<uint64_t>(count) : stepsInside;
    clock = after + static_cast<double>(jump) * increment;  // exact multiple of the ulp
    count -= jump;
  }
  return clock;
}
