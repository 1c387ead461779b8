// AdvanceClock must give exactly what adding the step one at a time gives.
#include "grid/clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr Wide kMaxCount = ~Wide{0};

uint64_t Bits(double value) {
  return std::bit_cast<uint64_t>(value);
}

// The distance from `value` to the next larger double: the ulp of its binade.
double Ulp(double value) {
  return std::nextafter(value, INFINITY) - value;
}

std::string Describe(double clock, double step, uint64_t count) {
  char text[160];
  std::snprintf(text, sizeof text, "clock %a, step %a, count %llu", clock, step,
                static_cast<unsigned long long>(count));
  return text;
}

// Walks `count` plain additions from `clock` and compares AdvanceClock with
// the running sum after every count in `checks`, and on both sides of every
// step that moves the sum into another binade. Stops at the first difference.
void ExpectLikeAdditions(double clock, double step, uint64_t count, std::vector<uint64_t> checks) {
  checks.push_back(0);
  checks.push_back(count);
  std::sort(checks.begin(), checks.end());
  auto next = checks.begin();
  double sum = clock;
  int binade = clock > 0.0 ? std::ilogb(clock) : INT32_MIN;
  bool crossed = false;  // the last step changed binade: check the next count too
  for (uint64_t n = 0;; ++n) {
    while (next != checks.end() && *next < n) ++next;
    const bool due = (next != checks.end() && *next == n) || crossed;
    if (due) {
      const double fast = AdvanceClock(clock, step, n);
      if (Bits(fast) != Bits(sum)) {
        ADD_FAILURE() << Describe(clock, step, n) << ": advanced to " << std::hexfloat << fast
                      << ", additions give " << sum;
        return;
      }
    }
    if (n == count) return;
    const double before = sum;
    sum += step;
    const int newBinade = sum > 0.0 && std::isfinite(sum) ? std::ilogb(sum) : INT32_MIN;
    crossed = newBinade != binade;
    binade = newBinade;
    if (crossed && n > 0 && !due) {
      const double fast = AdvanceClock(clock, step, n);  // the last count before the crossing
      if (Bits(fast) != Bits(before)) {
        ADD_FAILURE() << Describe(clock, step, n) << ": advanced to " << std::hexfloat << fast
                      << ", additions give " << before;
        return;
      }
    }
  }
}

std::vector<uint64_t> RandomCounts(std::mt19937_64& random, uint64_t count, int how_many) {
  std::vector<uint64_t> counts;
  std::uniform_int_distribution<uint64_t> any(0, count);
  for (int i = 0; i < how_many; ++i) counts.push_back(any(random));
  for (uint64_t c : {1, 2, 3, 4}) counts.push_back(std::min(c, count));
  return counts;
}

// A double of the given binade with random mantissa bits.
double InBinade(std::mt19937_64& random, int exponent) {
  const uint64_t mantissa = random() >> 12;
  return std::ldexp(1.0 + std::ldexp(static_cast<double>(mantissa), -52), exponent);
}

double Subnormal(std::mt19937_64& random) {
  const uint64_t bits = (random() >> 12) | 1;
  return std::bit_cast<double>(bits);
}

// Counts mostly small, now and then large, with a bound on the total work.
uint64_t RandomCount(std::mt19937_64& random, uint64_t largest) {
  const double exponent = std::uniform_real_distribution<double>(0.0, std::log2(largest))(random);
  return static_cast<uint64_t>(std::exp2(exponent));
}

double RandomClock(std::mt19937_64& random) {
  switch (random() % 6) {
    case 0:
      return 0.0;
    case 1:
      return Subnormal(random);
    case 2:
      return InBinade(random, std::uniform_int_distribution<int>(-1022, 1023)(random));
    default:  // the clocks a tempo map gives: seconds up to a few thousand hours
      return InBinade(random, std::uniform_int_distribution<int>(-30, 34)(random));
  }
}

// Steps of every size relative to the clock: below half its ulp, at it,
// comparable to the clock, and far beyond it.
double RandomStep(std::mt19937_64& random, double clock) {
  const int clockExponent = clock > 0.0 ? std::ilogb(clock) : -1074;
  switch (random() % 8) {
    case 0:
      return 0.0;
    case 1:
      return random() % 2 ? std::numeric_limits<double>::denorm_min() : Subnormal(random);
    case 2:  // near half an ulp of the clock
    case 3: {
      const int exponent = clockExponent - std::uniform_int_distribution<int>(50, 56)(random);
      return InBinade(random, std::max(exponent, -1022));
    }
    case 4:  // many steps per binade
      return InBinade(
          random,
          std::max(clockExponent - std::uniform_int_distribution<int>(8, 40)(random), -1022));
    case 5:  // a few steps per binade
      return InBinade(
          random,
          std::max(clockExponent - std::uniform_int_distribution<int>(0, 8)(random), -1022));
    case 6:  // far larger than the clock, up to overflowing
      return InBinade(
          random,
          std::min(clockExponent + std::uniform_int_distribution<int>(1, 60)(random), 1023));
    default:
      return InBinade(random, std::uniform_int_distribution<int>(-40, 40)(random));
  }
}

TEST(AdvanceClock, NoStepsOrZeroStepsLeaveTheClockAlone) {
  std::mt19937_64 random(11);
  for (int trial = 0; trial < 2000; ++trial) {
    const double clock = RandomClock(random);
    const double step = RandomStep(random, clock);
    ASSERT_EQ(Bits(AdvanceClock(clock, step, 0)), Bits(clock)) << Describe(clock, step, 0);
    ASSERT_EQ(Bits(AdvanceClock(clock, 0.0, random())), Bits(clock)) << Describe(clock, 0.0, 1);
    ASSERT_EQ(Bits(AdvanceClock(clock, 0.0, kMaxCount)), Bits(clock));
  }
}

TEST(AdvanceClock, MatchesAdditionsForRandomClocksStepsAndCounts) {
  std::mt19937_64 random(2024);
  for (int trial = 0; trial < 4000; ++trial) {
    const double clock = RandomClock(random);
    const double step = RandomStep(random, clock);
    const uint64_t count = RandomCount(random, trial % 200 == 0 ? 3000000 : 20000);
    ExpectLikeAdditions(clock, step, count, RandomCounts(random, count, 12));
    if (HasFailure()) return;
  }
}

TEST(AdvanceClock, MatchesAdditionsOnRealisticStepLengths) {
  // Steps as the renderer makes them: 60 / tempo / divisions.
  std::mt19937_64 random(7);
  std::uniform_real_distribution<float> tempo(1.0f, 400.0f);
  for (int trial = 0; trial < 300; ++trial) {
    const float t = tempo(random);
    const int divisions = static_cast<int>(random() % 16) + 1;
    const double step = 60.0 / static_cast<double>(t) / divisions;
    const double clock = trial % 3 == 0 ? 0.0 : step * static_cast<double>(random() % 100000);
    const uint64_t count = RandomCount(random, 200000);
    ExpectLikeAdditions(clock, step, count, RandomCounts(random, count, 12));
    if (HasFailure()) return;
  }
}

TEST(AdvanceClock, TiesRoundToEvenAtEveryParity) {
  // A step of an odd number of half ulps: each sum lies halfway between two
  // clock values. Both parities of the clock's last bit, steps of 1, 3, 5 ...
  // half ulps and their even neighbours, inside a binade and across its top.
  std::mt19937_64 random(99);
  for (int trial = 0; trial < 3000; ++trial) {
    // Near the subnormals too: from binade 2^-1021 on, half an ulp is a double.
    const int exponent = trial % 10 == 0 ? -1021 + static_cast<int>(random() % 4)
                                         : std::uniform_int_distribution<int>(-60, 60)(random);
    double clock = InBinade(random, exponent);
    if (trial % 2 == 0) clock = std::nextafter(clock, INFINITY);  // flip the last bit
    if (trial % 7 == 0) {  // close below the top of the binade
      const double top = std::ldexp(1.0, std::ilogb(clock) + 1);
      clock = top - Ulp(clock) * static_cast<double>(random() % 64 + 1);
    }
    const double halfUlp = Ulp(clock) / 2;
    const uint64_t halves = trial % 4 == 0 ? random() % 8 : random() % (uint64_t{1} << 20);
    double step = halfUlp * static_cast<double>(halves);
    if (trial % 5 == 1) step = std::nextafter(step, INFINITY);
    if (trial % 5 == 2) step = std::nextafter(step, 0.0);
    const uint64_t count = RandomCount(random, 50000);
    ExpectLikeAdditions(clock, step, count, RandomCounts(random, count, 8));
    if (HasFailure()) return;
  }
}

TEST(AdvanceClock, CountsThatCrossManyBinades) {
  std::mt19937_64 random(5);
  for (int trial = 0; trial < 200; ++trial) {
    const double clock = trial % 5 == 0 ? Subnormal(random)
                                        : InBinade(random, -20 - static_cast<int>(random() % 10));
    // Sums grow by 2^10 to 2^20 over the count: ten binades and more.
    const uint64_t count = 200000 + random() % 100000;
    const double step = clock * std::ldexp(1.0 + static_cast<double>(random() % 1000) / 997.0,
                                           -static_cast<int>(random() % 8));
    ExpectLikeAdditions(clock, step, count, RandomCounts(random, count, 20));
    if (HasFailure()) return;
  }
}

TEST(AdvanceClock, StepsBelowHalfAnUlpNeverMoveTheClock) {
  std::mt19937_64 random(3);
  for (int trial = 0; trial < 5000; ++trial) {
    double clock = RandomClock(random);
    if (clock == 0.0) clock = 1.0;
    const double halfUlp = Ulp(clock) / 2;
    if (halfUlp == 0.0) continue;  // below the smallest subnormal: no step is small enough
    const double step = halfUlp * std::uniform_real_distribution<double>(0.0, 1.0)(random);
    const double fewer = std::nextafter(halfUlp, 0.0);
    for (double s : {step, fewer}) {
      ASSERT_EQ(clock + s, clock) << Describe(clock, s, 1);
      for (Wide count :
           {Wide{1}, Wide{2}, Wide{random()}, Wide{random()} << 64 | random(), kMaxCount}) {
        ASSERT_EQ(Bits(AdvanceClock(clock, s, count)), Bits(clock)) << Describe(clock, s, 0);
      }
    }
  }
}

TEST(AdvanceClock, HugeCountsStopWhereTheAdditionsStop) {
  // From close below the top of a binade, steps of half an ulp to one ulp
  // climb to the top, where the same step is at most half an ulp and the
  // clock stands still for ever.
  std::mt19937_64 random(17);
  for (int trial = 0; trial < 400; ++trial) {
    const int exponent =
        trial % 8 == 0 ? -1021 : std::uniform_int_distribution<int>(-80, 80)(random);
    const double top = std::ldexp(1.0, exponent + 1);
    const double ulp = Ulp(std::ldexp(1.0, exponent));
    const double clock = top - ulp * static_cast<double>(random() % 100000 + 1);
    double step = ulp * std::uniform_real_distribution<double>(0.5, 1.0)(random);
    if (trial % 5 == 0) step = ulp;      // a tie at the top: rounds back to it
    if (trial % 5 == 1) step = ulp / 2;  // a tie from the start: moves at most once
    if (trial % 5 == 2) step = std::nextafter(ulp / 2, INFINITY);
    double stopped = clock;
    double before = clock;
    uint64_t steps = 0;
    while (stopped + step != stopped) {
      before = stopped;
      stopped += step;
      ++steps;
      ASSERT_LT(steps, 1000000u) << Describe(clock, step, steps);
    }
    ASSERT_EQ(Bits(AdvanceClock(clock, step, steps)), Bits(stopped))
        << Describe(clock, step, steps);
    if (steps > 0) {
      ASSERT_EQ(Bits(AdvanceClock(clock, step, steps - 1)), Bits(before))
          << Describe(clock, step, steps - 1);
    }
    for (Wide count :
         {Wide{steps} + 1, Wide{steps} + 1000000, Wide{1} << 63, Wide{1} << 93, kMaxCount}) {
      ASSERT_EQ(Bits(AdvanceClock(clock, step, count)), Bits(stopped))
          << Describe(clock, step, static_cast<uint64_t>(count));
    }
  }
}

TEST(AdvanceClock, PowerOfTwoStepsCountExactlyUpTo2To53Steps) {
  // From zero, n steps of 2^p are exactly n * 2^p while n < 2^53; at 2^(p+53)
  // each step is a tie that rounds back, so the clock stops there.
  for (int p = -1074; p <= 970; ++p) {
    const double step = std::ldexp(1.0, p);
    const double last = std::ldexp(1.0, p + 53);
    for (uint64_t n : {uint64_t{1}, uint64_t{3}, uint64_t{1000003}, (uint64_t{1} << 40) + 12345,
                       (uint64_t{1} << 53) - 1}) {
      ASSERT_EQ(AdvanceClock(0.0, step, n), static_cast<double>(n) * step) << p << " " << n;
    }
    for (Wide n : {Wide{1} << 53, (Wide{1} << 53) + 1, Wide{1} << 64, Wide{1} << 93, kMaxCount}) {
      ASSERT_EQ(AdvanceClock(0.0, step, n), last) << p;
    }
  }
}

TEST(AdvanceClock, AdvancingInPartsEqualsAdvancingAtOnce) {
  // The renderer jumps over several sections in turn: jumps must compose.
  std::mt19937_64 random(23);
  for (int trial = 0; trial < 3000; ++trial) {
    const double clock = RandomClock(random);
    const double step = RandomStep(random, clock);
    const Wide first = random() >> (random() % 64);
    const Wide second = random() >> (random() % 64);
    const double atOnce = AdvanceClock(clock, step, first + second);
    const double inParts = AdvanceClock(AdvanceClock(clock, step, first), step, second);
    ASSERT_EQ(Bits(atOnce), Bits(inParts)) << Describe(clock, step, static_cast<uint64_t>(first));
  }
}

}  // namespace
