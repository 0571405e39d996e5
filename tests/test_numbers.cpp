// The shared number and text rules.
#include "support/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "korvena/RuntimeError.h"

namespace num = korvena::num;

namespace {

template <typename F>
long overflowNumber(F&& call) {
  try {
    call();
  } catch (const korvena::RuntimeError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace

TEST(NumbersRound, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(num::round32(547.5), 548);
  EXPECT_EQ(num::round32(1499.5), 1500);
  EXPECT_EQ(num::round32(5679.5), 5680);
  EXPECT_EQ(num::round32(4259.5), 4260);
  EXPECT_EQ(num::round32(0.5), 0);
  EXPECT_EQ(num::round32(1.5), 2);
  EXPECT_EQ(num::round32(2.5), 2);
  EXPECT_EQ(num::round32(-2.5), -2);
  EXPECT_EQ(num::round32(-3.5), -4);
  EXPECT_EQ(num::round16(546.5), 546);
  EXPECT_EQ(num::round16(-0.5), 0);
}

TEST(NumbersRound, NonTiesGoToTheNearest) {
  EXPECT_EQ(num::round32(2.4999999999), 2);
  EXPECT_EQ(num::round32(2.5000000001), 3);
  EXPECT_EQ(num::round32(-7.6), -8);
  EXPECT_EQ(num::round16(0.49999999999999994), 0);
  EXPECT_EQ(num::round16(123.0), 123);
}

TEST(NumbersRound, SixteenBitRange) {
  EXPECT_EQ(num::round16(32767.4), 32767);
  EXPECT_EQ(num::round16(-32768.4), -32768);
  EXPECT_EQ(num::round16(-32768.5), -32768);  // the even neighbour is in range
  EXPECT_EQ(overflowNumber([] { num::round16(32767.5); }), korvena::err::Overflow);
  EXPECT_EQ(overflowNumber([] { num::round16(-32768.6); }), korvena::err::Overflow);
  EXPECT_EQ(overflowNumber([] { num::round16(1e300); }), korvena::err::Overflow);
}

TEST(NumbersRound, ThirtyTwoBitRange) {
  EXPECT_EQ(num::round32(2147483647.4), 2147483647);
  EXPECT_EQ(num::round32(-2147483648.5), -2147483648LL);
  EXPECT_EQ(overflowNumber([] { num::round32(2147483647.5); }), korvena::err::Overflow);
  EXPECT_EQ(overflowNumber([] { num::round32(-2147483649.0); }), korvena::err::Overflow);
  EXPECT_EQ(num::round32(40000.0), 40000);  // beyond 16 bits is fine here
}

TEST(NumbersRound, NotANumberOrInfinityOverflows) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(overflowNumber([&] { num::round16(nan); }), korvena::err::Overflow);
  EXPECT_EQ(overflowNumber([&] { num::round32(nan); }), korvena::err::Overflow);
  EXPECT_EQ(overflowNumber([&] { num::round32(inf); }), korvena::err::Overflow);
  EXPECT_EQ(overflowNumber([&] { num::round16(-inf); }), korvena::err::Overflow);
}

TEST(NumbersRound, OverflowCarriesItsDescription) {
  try {
    num::round16(40000.0);
    FAIL() << "no overflow raised";
  } catch (const korvena::RuntimeError& e) {
    EXPECT_EQ(e.number(), 6);
    EXPECT_EQ(e.description(), "Overflow");
  }
}

TEST(NumbersLeading, ReadsTheNumberAtTheStart) {
  EXPECT_EQ(num::leadingNumber("Fit to Window"), 0.0);
  EXPECT_EQ(num::leadingNumber("150%"), 150.0);
  EXPECT_EQ(num::leadingNumber(" 12.5x"), 12.5);
  EXPECT_EQ(num::leadingNumber("\t 7"), 7.0);
  EXPECT_EQ(num::leadingNumber("-3"), -3.0);
  EXPECT_EQ(num::leadingNumber("+4.25"), 4.25);
  EXPECT_EQ(num::leadingNumber(".5"), 0.5);
  EXPECT_EQ(num::leadingNumber("12."), 12.0);
  EXPECT_EQ(num::leadingNumber("007"), 7.0);
  EXPECT_EQ(num::leadingNumber("37.5"), 37.5);
}

TEST(NumbersLeading, OnlyPlainDecimalsCount) {
  EXPECT_EQ(num::leadingNumber(""), 0.0);
  EXPECT_EQ(num::leadingNumber("."), 0.0);
  EXPECT_EQ(num::leadingNumber("-"), 0.0);
  EXPECT_EQ(num::leadingNumber("-.x"), 0.0);
  EXPECT_EQ(num::leadingNumber("1e5"), 1.0);        // no exponent
  EXPECT_EQ(num::leadingNumber("1,5"), 1.0);        // "," is not a point
  EXPECT_EQ(num::leadingNumber("1.2.3"), 1.2);      // one point only
  EXPECT_EQ(num::leadingNumber("- 5"), 0.0);        // the sign must touch the digits
  EXPECT_EQ(num::leadingNumber("+-5"), 0.0);
  EXPECT_EQ(num::leadingNumber("\n5"), 0.0);        // only spaces and tabs are blanks
  EXPECT_EQ(num::leadingNumber("0x1A"), 0.0);
  EXPECT_EQ(num::leadingNumber("inf"), 0.0);
  EXPECT_EQ(num::leadingNumber("nan"), 0.0);
}

TEST(NumbersLeading, HugeAndTinyDigitStrings) {
  EXPECT_EQ(num::leadingNumber(std::string(300, '9')), 1e300);
  const std::string tooLarge = "1" + std::string(400, '0') + "%";
  EXPECT_EQ(num::leadingNumber(tooLarge), std::numeric_limits<double>::infinity());
  EXPECT_EQ(num::leadingNumber("-" + tooLarge), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(num::leadingNumber("0." + std::string(400, '0') + "1"), 0.0);
  EXPECT_EQ(num::leadingNumber(std::string(5000, '0') + "25"), 25.0);
  EXPECT_DOUBLE_EQ(num::leadingNumber("3." + std::string(5000, '3')), 10.0 / 3.0);
}

TEST(NumbersPlain, ShortestFormThatReadsBack) {
  EXPECT_EQ(num::plainDecimal(37.5), "37.5");
  EXPECT_EQ(num::plainDecimal(100), "100");
  EXPECT_EQ(num::plainDecimal(0.1 + 0.2), "0.3");
  EXPECT_EQ(num::plainDecimal(0.1), "0.1");
  EXPECT_EQ(num::plainDecimal(1.0 / 3.0), "0.333333333333333");
  EXPECT_EQ(num::plainDecimal(2.0 / 3.0), "0.666666666666667");
  EXPECT_EQ(num::plainDecimal(-12.25), "-12.25");
  EXPECT_EQ(num::plainDecimal(0), "0");
  EXPECT_EQ(num::plainDecimal(-0.0), "0");
  EXPECT_EQ(num::plainDecimal(1500), "1500");
  EXPECT_EQ(num::plainDecimal(0.00025), "0.00025");
  EXPECT_EQ(num::plainDecimal(123456789012345.0), "123456789012345");
}

TEST(NumbersPlain, ValuesFromTheZoomBoxRoundTrip) {
  for (const char* text : {"25", "37.5", "63.82979", "0.5", "1600", "-3", "12.125"}) {
    EXPECT_EQ(num::plainDecimal(num::leadingNumber(text)), text);
  }
}

TEST(NumbersPlain, ExtremeMagnitudesUseAnExponent) {
  EXPECT_EQ(num::plainDecimal(1e15), "1E+15");
  EXPECT_EQ(num::plainDecimal(999999999999999.0), "999999999999999");
  EXPECT_EQ(num::plainDecimal(9999999999999999.0), "1E+16");  // rounded to 15 digits
  EXPECT_EQ(num::plainDecimal(-2.5e20), "-2.5E+20");
  EXPECT_EQ(num::plainDecimal(1e300), "1E+300");
  EXPECT_EQ(num::plainDecimal(0.00001), "0.00001");
  EXPECT_EQ(num::plainDecimal(0.0000015), "1.5E-06");
  EXPECT_EQ(num::plainDecimal(std::numeric_limits<double>::infinity()), "Inf");
  EXPECT_EQ(num::plainDecimal(-std::numeric_limits<double>::infinity()), "-Inf");
  EXPECT_EQ(num::plainDecimal(std::numeric_limits<double>::quiet_NaN()), "NaN");
}

TEST(NumbersCaption, SevenDigitsWithALeadingBlank) {
  EXPECT_EQ(num::captionNumber(50.0f), " 50");
  EXPECT_EQ(num::captionNumber(100.0f), " 100");
  EXPECT_EQ(num::captionNumber(0.5f), " .5");
  EXPECT_EQ(num::captionNumber(0.05f), " .05");
  EXPECT_EQ(num::captionNumber(-0.5f), "-.5");
  EXPECT_EQ(num::captionNumber(-37.5f), "-37.5");
  EXPECT_EQ(num::captionNumber(0.0f), " 0");
  EXPECT_EQ(num::captionNumber(-0.0f), " 0");
  EXPECT_EQ(num::captionNumber(63.82979f), " 63.82979");
  EXPECT_EQ(num::captionNumber(95.42857f), " 95.42857");
  EXPECT_EQ(num::captionNumber(1234567.0f), " 1234567");
  EXPECT_EQ(num::captionNumber(12345678.0f), " 1.234568E+07");
}

TEST(NumbersCaption, FittedRatesComputedInSinglePrecision) {
  EXPECT_EQ(num::captionNumber(num::toSingle(10020.0 / 10500.0 * 100)), " 95.42857");
  EXPECT_EQ(num::captionNumber(num::toSingle(15360.0 / 24064.0 * 100)), " 63.82979");
  EXPECT_EQ(num::captionNumber(num::toSingle(1.0 / 3.0 * 100)), " 33.33333");
  EXPECT_EQ(num::captionNumber(num::toSingle(2.0 / 3.0)), " .6666667");
  // Seven digits of a double would read differently: the float is what counts.
  EXPECT_EQ(num::captionNumber(num::toSingle(0.1 + 0.2)), " .3");
}
