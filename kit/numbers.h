#pragma once
// The number and text rules every window shares: rounding to whole numbers,
// reading the number at the start of a text, and writing numbers as text.
#include <cstdint>
#include <string>
#include <string_view>

namespace korvena::num {

// Nearest whole number, a half going to the even neighbour; error 6
// (overflow) when the result does not fit the target width.
int16_t round16(double value);
int32_t round32(double value);

// The leading number of a text: leading blanks skipped, then an optional
// sign, digits, an optional "." and digits. No digits reads 0.
double leadingNumber(std::string_view text);

// Plain decimal text: the shortest form that reads back (at most 15
// significant digits), "-" for negatives, no point for whole values.
std::string plainDecimal(double value);

// The caption's number form: single precision, at most 7 significant digits,
// no "0" before the point of a value below 1, a blank where a minus would be.
std::string captionNumber(float value);

// Single-precision rounding of a double (what storing into a Single does).
inline float toSingle(double value) { return static_cast<float>(value); }

}  // namespace korvena::num
