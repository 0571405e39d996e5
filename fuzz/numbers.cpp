// Fuzz target: the number and text rules, on the input read as text and its
// first bytes as a double and a float. A number read from text is never NaN;
// rounding gives the nearest whole number with halves to even, or error 6
// exactly when that does not fit; plain decimal text reads back as the value to
// 15 digits, a caption as the float to 7, each in its own characters.
#include "kit/numbers.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "fuzz/fuzz_support.h"
#include "korvena/RuntimeError.h"

namespace {

namespace num = korvena::num;

[[noreturn]] void fault(const char* what, const std::string& detail) {
  fuzz::fault("numbers", std::string(what) + ": " + detail);
}

std::string show(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

template <typename Int, typename Round>
void checkRounding(double value, Round round) {
  const double nearest = std::nearbyint(value);  // the default mode: halves to even
  const bool fits = !std::isnan(nearest) && nearest >= static_cast<double>(std::numeric_limits<Int>::min()) &&
                    nearest <= static_cast<double>(std::numeric_limits<Int>::max());
  try {
    const Int result = round(value);
    if (!fits) fault("no overflow for", show(value));
    if (static_cast<double>(result) != nearest) fault("wrong rounding of", show(value));
  } catch (const korvena::RuntimeError& error) {
    if (error.number() != korvena::err::Overflow) fault("an error other than 6 for", show(value));
    if (fits) fault("overflow for a value that fits", show(value));
  }
}

bool onlyChars(const std::string& text, std::string_view allowed) {
  return text.find_first_not_of(allowed) == std::string::npos;
}

void checkPlain(double value) {
  const std::string text = num::plainDecimal(value);
  if (std::isnan(value)) {
    if (text != "NaN") fault("NaN written as", text);
    return;
  }
  if (std::isinf(value)) {
    if (text != (value < 0 ? "-Inf" : "Inf")) fault("infinity written as", text);
    return;
  }
  if (text.empty() || !onlyChars(text, "-0123456789.E+")) fault("plain decimal characters", text);
  if (text.find('E') != std::string::npos) return;  // the reader takes no exponent
  if (text.find('.') != std::string::npos && (text.back() == '0' || text.back() == '.'))
    fault("trailing zeros or point", text);
  char rounded[64];
  std::snprintf(rounded, sizeof rounded, "%.14e", value);
  const double expected = std::strtod(rounded, nullptr);
  const double read = num::leadingNumber(text);
  if (read != expected && !(read == 0 && expected == 0))
    fault("plain decimal does not read back", show(value) + " -> " + text);
}

void checkCaption(float value) {
  const std::string text = num::captionNumber(value);
  if (std::isnan(value) || std::isinf(value)) {
    const char* expected = std::isnan(value) ? " NaN" : value < 0 ? "-Inf" : " Inf";
    if (text != expected) fault("caption of a non-finite value", text);
    return;
  }
  if (text.size() < 2 || (text[0] != ' ' && text[0] != '-')) fault("caption sign place", text);
  if (!onlyChars(text.substr(1), "0123456789.E+-")) fault("caption characters", text);
  if (text.find('E') != std::string::npos) return;
  if (text[1] == '0' && text.size() > 2) fault("a zero before the point", text);
  char rounded[64];
  std::snprintf(rounded, sizeof rounded, "%.6e", static_cast<double>(value));
  const float expected = static_cast<float>(std::strtod(rounded, nullptr));
  const float read = static_cast<float>(num::leadingNumber(text));
  if (read != expected && !(read == 0 && expected == 0))
    fault("caption does not read back", show(value) + " -> " + text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const double leading = num::leadingNumber(text);
  if (std::isnan(leading)) fault("NaN read from", std::string(text));
  checkRounding<int16_t>(leading, num::round16);
  checkRounding<int32_t>(leading, num::round32);
  checkPlain(leading);
  if (size >= sizeof(double)) {
    double value;
    std::memcpy(&value, data, sizeof value);
    checkRounding<int16_t>(value, num::round16);
    checkRounding<int32_t>(value, num::round32);
    checkPlain(value);
    float single;
    std::memcpy(&single, data, sizeof single);
    checkCaption(single);
    checkCaption(num::toSingle(value));
  }
  return 0;
}
