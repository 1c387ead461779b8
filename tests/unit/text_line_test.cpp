// A time written with a fixed number of decimals reads exactly as printf
// writes it, whatever the double: ties to the even digit, long and tiny
// values, and the times a running clock reaches.
#include "exports/text_line.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace {

std::string Fixed(double value, int decimals) {
  TextLine line;
  line.length = 0;
  AddFixed(line, value, decimals);
  return std::string(line.text, line.length);
}

std::string Printed(double value, int decimals) {
  char text[kTextLineCapacity];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

void ExpectAsPrinted(double value) {
  for (int decimals = 0; decimals <= 12; ++decimals) {
    ASSERT_EQ(Fixed(value, decimals), Printed(value, decimals))
        << std::hexfloat << value << ", " << decimals << " decimals";
  }
}

TEST(TextLine, FixedDecimalsRoundATieToTheEvenDigit) {
  // 2^-7 = 0.0078125 and 3 x 2^-7 = 0.0234375 lie halfway at six decimals.
  EXPECT_EQ(Fixed(0.0078125, 6), "0.007812");
  EXPECT_EQ(Fixed(0.0234375, 6), "0.023438");
  EXPECT_EQ(Fixed(2.5, 0), "2");
  EXPECT_EQ(Fixed(1.25, 1), "1.2");
  EXPECT_EQ(Fixed(1.75, 1), "1.8");
  for (int power = 1; power <= 40; ++power) {
    for (double odd = 1; odd < 64; odd += 2) ExpectAsPrinted(std::ldexp(odd, -power));
  }
}

TEST(TextLine, FixedDecimalsOfEveryKindOfDoubleAreAsPrinted) {
  for (const double value : {0.0, -0.0, 1.0, 0.5, 1e-300, 4.9e-324, 1e15, 1.8e13, 1.9e13, 1e19,
                             1e22, 9007199254740991.0, 9007199254740992.0, -1.5, -0.0000004}) {
    ExpectAsPrinted(value);
  }
  std::mt19937_64 random(20261208);
  for (int k = 0; k < 20000; ++k) {
    // Any bits, and times between a microsecond and a day and more.
    ExpectAsPrinted(std::bit_cast<double>(random()));
    ExpectAsPrinted(std::ldexp(static_cast<double>(random() >> 11), -53 + k % 70 - 20));
  }
}

TEST(TextLine, FixedDecimalsOfARunningClockAreAsPrinted) {
  for (const double tempo : {120.0, 97.0, 133.5, 60.0 / 0.7}) {
    const double step = 60.0 / tempo / 3;
    double clock = 0.0;
    for (int k = 0; k < 20000; ++k, clock += step) {
      ASSERT_EQ(Fixed(clock, 6), Printed(clock, 6)) << tempo << " " << k;
    }
  }
}

}  // namespace
