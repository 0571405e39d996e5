// The number and text rules every window shares.
//
// Rounding is done by hand (floor plus a tie check) rather than through the
// floating-point environment, so a rounding mode changed elsewhere in the
// process cannot change the results.
//
// Text forms: both writers round to a fixed number of significant digits and
// drop trailing zeros. A value whose decimal exponent lies outside
// [-5, digits - 1] is written in exponent form, e.g. "1E+15", "1.5E-07",
// " 1.234568E+07"; everything else is written without an exponent. Values
// that are not numbers are written "NaN", "Inf" and "-Inf" (with the leading
// blank in the caption form for "NaN" and "Inf").
#include "kit/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

#include "korvena/RuntimeError.h"

namespace korvena::num {

namespace {

[[noreturn]] void throwOverflow() { throw RuntimeError(err::Overflow, "Overflow"); }

// Nearest whole number, ties to the even neighbour. NaN is passed through.
double roundHalfEven(double value) {
  if (!std::isfinite(value)) return value;
  const double below = std::floor(value);
  const double fraction = value - below;  // exact: the fraction of a double is representable
  if (fraction < 0.5) return below;
  if (fraction > 0.5) return below + 1.0;
  return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

template <typename Int>
Int roundTo(double value) {
  const double whole = roundHalfEven(value);
  if (std::isnan(whole) || whole < static_cast<double>(std::numeric_limits<Int>::min()) ||
      whole > static_cast<double>(std::numeric_limits<Int>::max())) {
    throwOverflow();
  }
  return static_cast<Int>(whole);
}

// A finite number rounded to a number of significant digits: its sign, its
// digits without trailing zeros (at least one), and the decimal exponent of
// the first digit.
struct Decimal {
  bool negative = false;
  std::string digits;
  int exponent = 0;
};

template <typename Float>
Decimal decompose(Float value, int significantDigits) {
  Decimal d;
  d.negative = std::signbit(value) && value != 0;
  if (value == 0) {
    d.digits = "0";
    return d;
  }
  // Scientific form "d.ddd...e+XX" with the requested number of digits.
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific,
                                    significantDigits - 1);
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const std::size_t e = text.find('e');
  for (char c : text.substr(0, e)) {
    if (c != '.') d.digits += c;
  }
  while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
  const std::string_view exponentText = text.substr(e + 1);
  const bool exponentNegative = exponentText.front() == '-';
  int exponent = 0;
  std::from_chars(exponentText.data() + 1, exponentText.data() + exponentText.size(), exponent);
  d.exponent = exponentNegative ? -exponent : exponent;
  return d;
}

// Lays out the digits without a sign. `leadingZero` says whether a value
// below 1 is written "0.5" or ".5".
std::string layout(const Decimal& d, int significantDigits, bool leadingZero) {
  const int count = static_cast<int>(d.digits.size());
  std::string out;
  if (d.exponent < -5 || d.exponent >= significantDigits) {
    out += d.digits[0];
    if (count > 1) {
      out += '.';
      out.append(d.digits, 1);
    }
    out += d.exponent < 0 ? "E-" : "E+";
    const int magnitude = std::abs(d.exponent);
    if (magnitude < 10) out += '0';
    out += std::to_string(magnitude);
    return out;
  }
  if (d.exponent < 0) {
    if (leadingZero) out += '0';
    out += '.';
    out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
    out += d.digits;
    return out;
  }
  const int whole = d.exponent + 1;
  if (count <= whole) {
    out = d.digits;
    out.append(static_cast<std::size_t>(whole - count), '0');
  } else {
    out.append(d.digits, 0, static_cast<std::size_t>(whole));
    out += '.';
    out.append(d.digits, static_cast<std::size_t>(whole));
  }
  return out;
}

template <typename Float>
std::string nonFinite(Float value) {
  if (std::isnan(value)) return "NaN";
  return value < 0 ? "-Inf" : "Inf";
}

}  // namespace

int16_t round16(double value) { return roundTo<int16_t>(value); }

int32_t round32(double value) { return roundTo<int32_t>(value); }

// Digit strings longer than a double can hold read as the nearest double;
// beyond the double range they read as infinity with the text's sign, and
// fractions too small for a double read as zero.
double leadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::size_t start = i;
  bool anyDigit = false;
  bool nonZeroWhole = false;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    anyDigit = true;
    nonZeroWhole = nonZeroWhole || text[i] != '0';
    ++i;
  }
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      anyDigit = true;
      ++i;
    }
  }
  if (!anyDigit) return 0.0;

  double magnitude = 0.0;
  const auto result = std::from_chars(text.data() + start, text.data() + i, magnitude, std::chars_format::fixed);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large only when there is a non-zero whole part; otherwise the text
    // is a fraction below the smallest double.
    magnitude = nonZeroWhole ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (result.ec != std::errc()) {
    return 0.0;
  }
  return negative ? -magnitude : magnitude;
}

std::string plainDecimal(double value) {
  constexpr int kDigits = 15;
  if (!std::isfinite(value)) return nonFinite(value);
  const Decimal d = decompose(value, kDigits);
  std::string out = d.negative ? "-" : "";
  return out + layout(d, kDigits, true);
}

std::string captionNumber(float value) {
  constexpr int kDigits = 7;
  if (!std::isfinite(value)) {
    const std::string text = nonFinite(value);
    return text[0] == '-' ? text : " " + text;
  }
  const Decimal d = decompose(value, kDigits);
  std::string out = d.negative ? "-" : " ";
  return out + layout(d, kDigits, false);
}

}  // namespace korvena::num
