// Length-prefixed UTF-16 strings, their conversion to and from UTF-8, and
// the coercions that late-bound calls apply to their arguments.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "component/com_internal.h"

namespace korvena::com {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The scalar an argument holds, after one level of reference.
struct Scalar {
  enum class Kind { Empty, Integer, Real, Boolean, Text, Unsupported } kind = Kind::Unsupported;
  int64_t integer = 0;  // Integer; Boolean as -1 or 0
  double real = 0;      // Real
  std::string text;
};

// The value a variant of this type holds at this address.
Scalar readValue(VARTYPE type, const void* p) {
  Scalar s;
  const auto integer = [&](int64_t n) {
    s.kind = Scalar::Kind::Integer;
    s.integer = n;
  };
  const auto real = [&](double x) {
    s.kind = Scalar::Kind::Real;
    s.real = x;
  };
  const auto get = [p](auto sample) {
    decltype(sample) value;
    std::memcpy(&value, p, sizeof value);
    return value;
  };
  switch (type) {
    case VT_BOOL:
      s.kind = Scalar::Kind::Boolean;
      s.integer = get(VARIANT_BOOL{}) != 0 ? -1 : 0;
      break;
    case VT_I1:
      integer(get(int8_t{}));
      break;
    case VT_UI1:
      integer(get(uint8_t{}));
      break;
    case VT_I2:
      integer(get(int16_t{}));
      break;
    case VT_UI2:
      integer(get(uint16_t{}));
      break;
    case VT_I4:
    case VT_INT:
      integer(get(int32_t{}));
      break;
    case VT_UI4:
    case VT_UINT:
      integer(get(uint32_t{}));
      break;
    case VT_I8:
      integer(get(int64_t{}));
      break;
    case VT_UI8: {
      const uint64_t n = get(uint64_t{});
      if (n <= static_cast<uint64_t>(INT64_MAX))
        integer(static_cast<int64_t>(n));
      else
        real(static_cast<double>(n));
      break;
    }
    case VT_R4:
      real(get(float{}));
      break;
    case VT_R8:
    case VT_DATE:
      real(get(double{}));
      break;
    case VT_CY: {
      const int64_t units = get(int64_t{});
      if (units % 10000 == 0)
        integer(units / 10000);
      else
        real(static_cast<double>(units) / 10000.0);
      break;
    }
    case VT_BSTR:
      s.kind = Scalar::Kind::Text;
      s.text = toUtf8(get(BSTR{}));
      break;
    default:
      break;
  }
  return s;
}

Scalar read(const VARIANT& v) {
  const bool byRef = (v.vt & VT_BYREF) != 0;
  const VARTYPE type = static_cast<VARTYPE>(v.vt & ~VT_BYREF);
  if (!byRef) {
    if (type == VT_EMPTY) {
      Scalar empty;
      empty.kind = Scalar::Kind::Empty;
      return empty;
    }
    return readValue(type, &v.boolVal);  // every member starts where the union does
  }
  if (v.pboolVal == nullptr) return {};  // every reference member shares the pointer
  if (type == VT_VARIANT) return v.pvarVal->vt & VT_BYREF ? Scalar{} : read(*v.pvarVal);
  return readValue(type, v.pboolVal);
}

// A text that is a number as a whole (blanks around it allowed, an exponent
// too). Anything else is a type mismatch; a number beyond double's range an
// overflow.
HRESULT numberFromText(const std::string& text, double& out) {
  const size_t b = text.find_first_not_of(" \t");
  if (b == std::string::npos) return DISP_E_TYPEMISMATCH;
  const size_t e = text.find_last_not_of(" \t") + 1;
  const char* first = text.data() + b;
  if (*first == '+' && first + 1 < text.data() + e && first[1] != '-') ++first;
  auto [end, ec] = std::from_chars(first, text.data() + e, out, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
  if (ec != std::errc() || end != text.data() + e || !std::isfinite(out)) return DISP_E_TYPEMISMATCH;
  return S_OK;
}

// A real as a whole number, rounded half to even; out of range: overflow.
HRESULT roundReal(double value, int64_t low, int64_t high, int64_t& out) {
  const double rounded = std::nearbyint(value);  // the default rounding mode: half to even
  if (!(rounded >= static_cast<double>(low) && rounded <= static_cast<double>(high))) return DISP_E_OVERFLOW;
  out = static_cast<int64_t>(rounded);
  return S_OK;
}

// A real as text: up to 15 significant digits, an exponent only where needed.
std::string realText(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  return buffer;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string toUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    appendUtf8(out, c);
  }
  return out;
}

std::string toUtf8(const BSTR text) { return text ? toUtf8(std::u16string_view(text, KorvenaStringLen(text))) : ""; }

std::u16string toUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const int extra = byte < 0x80             ? 0
                      : (byte & 0xE0) == 0xC0 ? 1
                      : (byte & 0xF0) == 0xE0 ? 2
                      : (byte & 0xF8) == 0xF0 ? 3
                                              : -1;
    char32_t c = extra == 0 ? byte : extra == 1 ? byte & 0x1F : extra == 2 ? byte & 0x0F : byte & 0x07;
    bool good = extra >= 0 && i + extra < text.size();
    for (int k = 1; good && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      good = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are malformed.
    static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (good && (c < kLeast[extra] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)) good = false;
    if (!good) {
      out += static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

BSTR allocString(std::string_view utf8) {
  const std::u16string wide = toUtf16(utf8);
  return KorvenaAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

bool isMissing(const VARIANT& value) { return value.vt == VT_ERROR && value.scode == DISP_E_PARAMNOTFOUND; }

HRESULT coerceToBool(const VARIANT& value, bool& out) {
  const Scalar s = read(value);
  switch (s.kind) {
    case Scalar::Kind::Empty:
      out = false;
      return S_OK;
    case Scalar::Kind::Integer:
    case Scalar::Kind::Boolean:
      out = s.integer != 0;
      return S_OK;
    case Scalar::Kind::Real:
      out = s.real != 0;
      return S_OK;
    case Scalar::Kind::Text: {
      std::string_view t(s.text);
      const size_t b = t.find_first_not_of(" \t");
      t = b == std::string_view::npos ? std::string_view() : t.substr(b, t.find_last_not_of(" \t") + 1 - b);
      if (equalsIgnoringCase(t, "True") || equalsIgnoringCase(t, "False")) {
        out = equalsIgnoringCase(t, "True");
        return S_OK;
      }
      // A number too large for a double is still not zero.
      double n = 0;
      const HRESULT hr = numberFromText(s.text, n);
      if (hr == DISP_E_OVERFLOW) n = 1;
      out = n != 0;
      return hr == DISP_E_OVERFLOW ? S_OK : hr;
    }
    case Scalar::Kind::Unsupported:
      break;
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT coerceToByte(const VARIANT& value, uint8_t& out) {
  const Scalar s = read(value);
  int64_t n = 0;
  switch (s.kind) {
    case Scalar::Kind::Empty:
      break;
    case Scalar::Kind::Integer:
    case Scalar::Kind::Boolean:
      n = s.integer;
      break;
    case Scalar::Kind::Real:
      if (const HRESULT hr = roundReal(s.real, 0, 255, n); FAILED(hr)) return hr;
      break;
    case Scalar::Kind::Text: {
      double real = 0;
      if (const HRESULT hr = numberFromText(s.text, real); FAILED(hr)) return hr;
      if (const HRESULT hr = roundReal(real, 0, 255, n); FAILED(hr)) return hr;
      break;
    }
    case Scalar::Kind::Unsupported:
      return DISP_E_TYPEMISMATCH;
  }
  if (n < 0 || n > 255) return DISP_E_OVERFLOW;
  out = static_cast<uint8_t>(n);
  return S_OK;
}

HRESULT coerceToText(const VARIANT& value, std::string& out) {
  Scalar s = read(value);
  switch (s.kind) {
    case Scalar::Kind::Empty:
      out.clear();
      return S_OK;
    case Scalar::Kind::Integer:
      out = std::to_string(s.integer);
      return S_OK;
    case Scalar::Kind::Real:
      out = realText(s.real);
      return S_OK;
    case Scalar::Kind::Boolean:
      out = s.integer ? "True" : "False";
      return S_OK;
    case Scalar::Kind::Text:
      out = std::move(s.text);
      return S_OK;
    case Scalar::Kind::Unsupported:
      break;
  }
  return DISP_E_TYPEMISMATCH;
}

}  // namespace korvena::com

using namespace korvena::com;

extern "C" {

BSTR KorvenaAllocStringLen(const char16_t* text, UINT length) {
  // The byte length must fit the 32-bit prefix.
  if (length > (UINT32_MAX - sizeof(uint32_t) - sizeof(char16_t)) / sizeof(char16_t)) return nullptr;
  const size_t bytes = static_cast<size_t>(length) * sizeof(char16_t);
  auto* block = static_cast<unsigned char*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(char16_t)));
  if (!block) return nullptr;
  const auto prefix = static_cast<uint32_t>(bytes);
  std::memcpy(block, &prefix, sizeof prefix);
  auto* chars = reinterpret_cast<char16_t*>(block + sizeof(uint32_t));
  if (text)
    std::memcpy(chars, text, bytes);
  else
    std::memset(chars, 0, bytes);
  chars[length] = u'\0';
  return chars;
}

BSTR KorvenaAllocString(const char16_t* text) {
  if (!text) return nullptr;
  return KorvenaAllocStringLen(text, static_cast<UINT>(std::char_traits<char16_t>::length(text)));
}

BSTR KorvenaAllocStringUtf8(const char* text) { return text ? allocString(text) : nullptr; }

void KorvenaFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<unsigned char*>(text) - sizeof(uint32_t));
}

UINT KorvenaStringLen(BSTR text) {
  if (!text) return 0;
  uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(text) - sizeof(uint32_t), sizeof bytes);
  return bytes / sizeof(char16_t);
}

void KorvenaVariantClear(VARIANT* value) {
  if (!value) return;
  if (value->vt == VT_BSTR) KorvenaFreeString(value->bstrVal);
  std::memset(value, 0, sizeof *value);
  value->vt = VT_EMPTY;
}

void KorvenaExcepInfoClear(EXCEPINFO* info) {
  if (!info) return;
  KorvenaFreeString(info->bstrSource);
  KorvenaFreeString(info->bstrDescription);
  KorvenaFreeString(info->bstrHelpFile);
  std::memset(info, 0, sizeof *info);
}

}  // extern "C"
