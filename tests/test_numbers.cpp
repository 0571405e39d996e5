// The shared number and text rules, each over a table of inputs.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "kit/numbers.h"
#include "korvena/RuntimeError.h"

namespace num = korvena::num;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The number of the error a call raises (0 for none); checks its description.
template <typename F>
long overflowNumber(F&& call) {
  try {
    call();
  } catch (const korvena::RuntimeError& e) {
    EXPECT_EQ(e.description(), "Overflow");
    return e.number();
  }
  return 0;
}

}  // namespace

TEST(Numbers, RoundingGoesToTheNearestWithHalvesToTheEvenNeighbourOrOverflows) {
  const double to32[][2] = {{547.5, 548}, {0.5, 0},   {1.5, 2},          {2.5, 2},          {-2.5, -2},
                            {-3.5, -4},   {-7.6, -8}, {2.4999999999, 2}, {2.5000000001, 3}, {40000.0, 40000}};
  for (const auto& [value, rounded] : to32) EXPECT_EQ(num::round32(value), rounded) << value;
  EXPECT_EQ(num::round32(2147483647.4), 2147483647);
  EXPECT_EQ(num::round32(-2147483648.5), -2147483648LL);
  const double to16[][2] = {{546.5, 546},     {-0.5, 0},          {0.49999999999999994, 0}, {123.0, 123},
                            {32767.4, 32767}, {-32768.4, -32768}, {-32768.5, -32768}};
  for (const auto& [value, rounded] : to16) EXPECT_EQ(num::round16(value), rounded) << value;
  // Out of range or not a number: overflow.
  for (double value : {32767.5, -32768.6, 40000.0, 1e300, kNaN, -kInf})
    EXPECT_EQ(overflowNumber([&] { num::round16(value); }), korvena::err::Overflow) << value;
  for (double value : {2147483647.5, -2147483649.0, kNaN, kInf})
    EXPECT_EQ(overflowNumber([&] { num::round32(value); }), korvena::err::Overflow) << value;
}

TEST(Numbers, LeadingNumberReadsOnlyAPlainDecimalAtTheStart) {
  const std::pair<const char*, double> numbers[] = {{"150%", 150},   {" 12.5x", 12.5}, {"\t 7", 7},   {"-3", -3},
                                                    {"+4.25", 4.25}, {".5", 0.5},      {"12.", 12},   {"007", 7},
                                                    {"1e5", 1},      {"1,5", 1},       {"1.2.3", 1.2}};
  for (const auto& [text, value] : numbers) EXPECT_EQ(num::leadingNumber(text), value) << text;
  // No number: no digits, a sign apart from them, a blank other than space or tab, hex, words.
  for (const char* text : {"Fit to Window", "", ".", "-", "-.x", "- 5", "+-5", "\n5", "0x1A", "inf", "nan"})
    EXPECT_EQ(num::leadingNumber(text), 0.0) << text;
  // Huge and tiny digit strings.
  const std::string tooLarge = "1" + std::string(400, '0') + "%";
  EXPECT_EQ(num::leadingNumber(std::string(300, '9')), 1e300);
  EXPECT_EQ(num::leadingNumber(tooLarge), kInf);
  EXPECT_EQ(num::leadingNumber("-" + tooLarge), -kInf);
  EXPECT_EQ(num::leadingNumber("0." + std::string(400, '0') + "1"), 0.0);
  EXPECT_EQ(num::leadingNumber(std::string(5000, '0') + "25"), 25.0);
  EXPECT_DOUBLE_EQ(num::leadingNumber("3." + std::string(5000, '3')), 10.0 / 3.0);
}

TEST(Numbers, PlainDecimalIsTheShortestFormThatReadsBack) {
  const std::pair<double, const char*> cases[] = {{37.5, "37.5"},       {0.1 + 0.2, "0.3"},    {-0.0, "0"},
                                                  {0.00025, "0.00025"}, {0.00001, "0.00001"},  {-12.25, "-12.25"},
                                                  {1e15, "1E+15"},      {-2.5e20, "-2.5E+20"}, {0.0000015, "1.5E-06"},
                                                  {kInf, "Inf"},        {-kInf, "-Inf"},       {kNaN, "NaN"}};
  EXPECT_EQ(num::plainDecimal(2.0 / 3.0), "0.666666666666667");
  EXPECT_EQ(num::plainDecimal(999999999999999.0), "999999999999999");  // the last without an exponent
  EXPECT_EQ(num::plainDecimal(9999999999999999.0), "1E+16");           // rounded to 15 digits
  for (const auto& [value, text] : cases) EXPECT_EQ(num::plainDecimal(value), text);
  for (const char* text : {"25", "37.5", "63.82979", "0.5", "1600", "-3", "12.125"})
    EXPECT_EQ(num::plainDecimal(num::leadingNumber(text)), text);
}

TEST(Numbers, CaptionNumberHasSevenDigitsOfTheSingleAndALeadingBlank) {
  const std::pair<float, const char*> cases[] = {
      {50.0f, " 50"},    {0.5f, " .5"}, {0.05f, " .05"},          {-0.5f, "-.5"},
      {-37.5f, "-37.5"}, {-0.0f, " 0"}, {1234567.0f, " 1234567"}, {12345678.0f, " 1.234568E+07"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(num::captionNumber(value), text);
  // Fitted rates: seven digits of the double would read differently.
  EXPECT_EQ(num::captionNumber(num::toSingle(10020.0 / 10500.0 * 100)), " 95.42857");
  EXPECT_EQ(num::captionNumber(num::toSingle(15360.0 / 24064.0 * 100)), " 63.82979");
  EXPECT_EQ(num::captionNumber(num::toSingle(2.0 / 3.0)), " .6666667");
  EXPECT_EQ(num::captionNumber(num::toSingle(0.1 + 0.2)), " .3");
}
