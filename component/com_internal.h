#pragma once
// Helpers of the binary interface: UTF-16 string conversion and the
// argument coercions of late-bound calls.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "korvena/com.h"

namespace korvena::com {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view text);
std::string toUtf8(const BSTR text);  // a null string is empty
// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD.
std::u16string toUtf16(std::string_view text);
BSTR allocString(std::string_view utf8);  // null when out of memory

// Coercions of an argument. They see through one level of reference and
// return S_OK, DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW.
HRESULT coerceToBool(const VARIANT& value, bool& out);
HRESULT coerceToByte(const VARIANT& value, uint8_t& out);
HRESULT coerceToText(const VARIANT& value, std::string& out);
// An optional argument that the caller left out.
bool isMissing(const VARIANT& value);

}  // namespace korvena::com
