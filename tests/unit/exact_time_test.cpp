// Exact times: seconds the nearest double, samples the floor, checked against
// values whose right answer comes from somewhere else (IEEE division, which
// rounds correctly, and fractions worked out by hand).
#include "maps/exact_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

namespace {

constexpr Wide kTwoTo53 = Wide{1} << 53;

ExactTime Fraction(Wide numerator, Wide denominator) {
  return ExactTime{numerator / denominator, numerator % denominator, denominator};
}

TEST(NearestSeconds, AgreesWithCorrectlyRoundedDivisionOfSmallFractions) {
  // Numerator and denominator exact in a double: their quotient is the nearest double.
  std::mt19937_64 random(16);
  for (int k = 0; k < 200000; ++k) {
    const uint64_t denominator = 1 + (random() >> (11 + random() % 40));
    const uint64_t numerator = random() >> (11 + random() % 50);
    const double expected = static_cast<double>(numerator) / static_cast<double>(denominator);
    ASSERT_EQ(NearestSeconds(Fraction(numerator, denominator)), expected)
        << numerator << "/" << denominator;
  }
}

TEST(NearestSeconds, TiesGoToTheEvenDoubleAndAnythingAboveATieGoesUp) {
  // 2^53 + 1 lies halfway between 2^53 and 2^53 + 2.
  EXPECT_EQ(NearestSeconds(ExactTime{kTwoTo53 + 1, 0, 1}), 0x1p53);
  EXPECT_EQ(NearestSeconds(ExactTime{kTwoTo53 + 3, 0, 1}), 0x1p53 + 4);
  EXPECT_EQ(NearestSeconds(ExactTime{kTwoTo53 + 1, 1, Wide{1} << 90}), 0x1p53 + 2);
  // 1 + 2^-53 lies halfway between 1 and the next double.
  EXPECT_EQ(NearestSeconds(ExactTime{1, 1, Wide{1} << 53}), 1.0);
  EXPECT_EQ(NearestSeconds(ExactTime{1, 3, Wide{1} << 54}), 1.0 + 0x1p-52);
  // 2^-35 + 2^-88 lies halfway between 2^-35 and the next double, found by
  // long division of the remainder alone.
  const Wide tie = (Wide{1} << 60) + (Wide{1} << 7);
  EXPECT_EQ(NearestSeconds(ExactTime{0, tie, Wide{1} << 95}), 0x1p-35);
  EXPECT_EQ(NearestSeconds(ExactTime{0, tie + 1, Wide{1} << 95}), 0x1p-35 + 0x1p-87);
  EXPECT_EQ(NearestSeconds(ExactTime{0, 0, 7}), 0.0);
}

TEST(NearestSeconds, HandlesTheWidestTimesAndDenominators) {
  // (2^100 + 2^47) seconds: 2^47 is half the last bit of 2^100's double.
  const Wide big = (Wide{1} << 100) + (Wide{1} << 47);
  EXPECT_EQ(NearestSeconds(ExactTime{big, 0, 3}), 0x1p100);
  EXPECT_EQ(NearestSeconds(ExactTime{big, 1, 3}), 0x1p100 + 0x1p48);
  // 1/3 over a denominator of nearly 2^96.
  const Wide third = ((Wide{1} << 95) - 1) / 3 * 3;
  EXPECT_EQ(NearestSeconds(ExactTime{5, third / 3, third}), 16.0 / 3.0);
}

TEST(SampleAt, IsTheFloorOfTheExactProductHeldAtTheTop) {
  // 2.999999 s at a million samples a second: not a sample less, as a
  // double product might give.
  EXPECT_EQ(SampleAt(ExactTime{2, 999999, 1000000}, 1000000), 2999999);
  EXPECT_EQ(SampleAt(ExactTime{0, 1, 3}, 3), 1);
  EXPECT_EQ(SampleAt(ExactTime{0, 2, 3}, 44100), 29400);
  EXPECT_EQ(SampleAt(ExactTime{0, 29399, 44100}, 44100), 29399);
  EXPECT_EQ(SampleAt(ExactTime{7, 5, 6}, 0), 0);
  EXPECT_EQ(SampleAt(ExactTime{Wide{1} << 62, 0, 1}, 1), INT64_C(1) << 62);
  EXPECT_EQ(SampleAt(ExactTime{Wide{1} << 62, 0, 1}, 2), INT64_MAX);
  EXPECT_EQ(SampleAt(ExactTime{Wide{1} << 70, 0, 1}, 1), INT64_MAX);
  const Wide nearlyTop = (Wide{1} << 96) - 1;
  EXPECT_EQ(SampleAt(ExactTime{0, nearlyTop - 1, nearlyTop}, UINT32_MAX), int64_t{UINT32_MAX} - 1);
}

TEST(TimeOfTicks, SplitsWholeSecondsAndCarriesTheTickFraction) {
  // A quarter note at 500,000 microseconds and 480 ticks: half a second.
  ExactTime time = TimeOfTicks(Wide{480} * 500000, 0, 1, 500000, 480);
  EXPECT_EQ(NearestSeconds(time), 0.5);
  EXPECT_EQ(SampleAt(time, 44100), 22050);
  // 1/3 tick at 600,000 microseconds per quarter and 1 tick per quarter: 0.2 s.
  time = TimeOfTicks(0, 1, 3, 600000, 1);
  EXPECT_EQ(NearestSeconds(time), 0.2);
  EXPECT_EQ(SampleAt(time, 5), 1);
  EXPECT_EQ(SampleAt(time, 4), 0);
  // 7 s and 999,999 microsecond-ticks, plus 2/3 of a tick at 3 us: exactly 8 s.
  time = TimeOfTicks(Wide{7} * 1000000 + 999998, 2, 3, 3, 1);
  EXPECT_EQ(time.seconds, 8u);
  EXPECT_EQ(time.remainder, 0u);
  EXPECT_EQ(NearestSeconds(time), 8.0);
  // The widest: 2^82 microsecond-ticks and a fraction over 2^60, at 32,767 ticks.
  time = TimeOfTicks(Wide{1} << 82, (uint64_t{1} << 60) - 1, uint64_t{1} << 60, 0xFFFFFF, 32767);
  EXPECT_LT(BitLength(time.denominator), kMostTimeDenominatorBits);
  EXPECT_EQ(time.seconds, ((Wide{1} << 82) + 0xFFFFFF - 1) / (Wide{32767} * 1000000));
  const double roughly = std::ldexp(1.0, 82) / 32767e6;
  EXPECT_NEAR(NearestSeconds(time), roughly, roughly * 1e-15);
}

}  // namespace
