#include "apps/probe/json.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace probe {

namespace {

// Fixed notation for the usual magnitudes (so 100000 stays 100000, not 1e+05);
// the shortest general form for the very large and very small.
template <class F>
std::string shortest(F value) {
  if (!std::isfinite(value)) return "null";  // JSON has no NaN or infinity
  if (value == 0) return "0";                // also for -0
  char buf[64];
  const F magnitude = std::fabs(value);
  auto fmt = magnitude >= F(1e-5) && magnitude < F(1e16) ? std::chars_format::fixed : std::chars_format::general;
  auto result = std::to_chars(buf, buf + sizeof buf, value, fmt);
  return std::string(buf, result.ptr);
}

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one.
size_t utf8Length(std::string_view s, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  size_t len = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (len == 0 || i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k)
    if ((b(i + k) & 0xC0) != 0x80) return 0;
  // Overlong forms, surrogates and values past U+10FFFF.
  if (len == 3 && ((c == 0xE0 && b(i + 1) < 0xA0) || (c == 0xED && b(i + 1) >= 0xA0))) return 0;
  if (len == 4 && ((c == 0xF0 && b(i + 1) < 0x90) || (c == 0xF4 && b(i + 1) >= 0x90))) return 0;
  return len;
}

}  // namespace

std::string singleText(float value) { return shortest(value); }
std::string doubleText(double value) { return shortest(value); }

void appendString(std::string& out, std::string_view text) {
  static const char hex[] = "0123456789abcdef";
  out += '"';
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20) {
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 15];
      ++i;
    } else if (size_t len = utf8Length(text, i)) {
      out.append(text.substr(i, len));
      i += len;
    } else {
      out += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
      ++i;
    }
  }
  out += '"';
}

Json& Json::operator[](std::string_view key) {
  if (isNull()) v_ = Object{};
  auto* members = std::get_if<Object>(&v_);
  if (!members) throw std::logic_error("json: not an object");
  for (auto& [name, value] : *members)
    if (name == key) return value;
  members->emplace_back(std::string(key), Json());
  return members->back().second;
}

Json& Json::push(Json value) {
  if (isNull()) v_ = Array{};
  auto* elements = std::get_if<Array>(&v_);
  if (!elements) throw std::logic_error("json: not an array");
  elements->push_back(std::move(value));
  return elements->back();
}

size_t Json::size() const {
  if (auto* a = std::get_if<Array>(&v_)) return a->size();
  if (auto* o = std::get_if<Object>(&v_)) return o->size();
  return 0;
}

std::string Json::dump() const {
  std::string out;
  dumpTo(out);
  return out;
}

void Json::dumpTo(std::string& out) const {
  struct Writer {
    std::string& out;
    void operator()(std::monostate) { out += "null"; }
    void operator()(bool b) { out += b ? "true" : "false"; }
    void operator()(int64_t n) { out += std::to_string(n); }
    void operator()(uint64_t n) { out += std::to_string(n); }
    void operator()(float f) { out += singleText(f); }
    void operator()(double d) { out += doubleText(d); }
    void operator()(const std::string& s) { appendString(out, s); }
    void operator()(const Array& a) {
      out += '[';
      for (size_t i = 0; i < a.size(); ++i) {
        if (i) out += ',';
        a[i].dumpTo(out);
      }
      out += ']';
    }
    void operator()(const Object& o) {
      out += '{';
      for (size_t i = 0; i < o.size(); ++i) {
        if (i) out += ',';
        appendString(out, o[i].first);
        out += ':';
        o[i].second.dumpTo(out);
      }
      out += '}';
    }
  };
  std::visit(Writer{out}, v_);
}

}  // namespace probe
