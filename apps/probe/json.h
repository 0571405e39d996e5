#pragma once
// A small JSON value for the probe's snapshots: objects keep their keys in the
// order they were first set; a float prints in the shortest form that reads
// back as the same single-precision value.
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace probe {

class Json {
 public:
  using Array = std::vector<Json>;
  using Object = std::vector<std::pair<std::string, Json>>;

  Json() = default;  // null
  Json(std::nullptr_t) {}
  Json(bool b) : v_(b) {}
  template <std::integral T>
  requires(!std::same_as<T, bool> && !std::same_as<T, char>) Json(T n) {
    if constexpr (std::is_signed_v<T>)
      v_ = static_cast<int64_t>(n);
    else
      v_ = static_cast<uint64_t>(n);
  }
  Json(float f) : v_(f) {}
  Json(double d) : v_(d) {}
  Json(const char* s) : v_(std::string(s)) {}
  Json(std::string s) : v_(std::move(s)) {}
  Json(std::string_view s) : v_(std::string(s)) {}
  Json(Array a) : v_(std::move(a)) {}

  static Json array() { return Json(Array{}); }
  static Json object() {
    Json j;
    j.v_ = Object{};
    return j;
  }

  // Object access: the member named `key`, appended (null) when missing. A
  // null value becomes an empty object first.
  Json& operator[](std::string_view key);
  // Array append; a null value becomes an empty array first.
  Json& push(Json value);
  // Array element i (it must exist).
  Json& at(size_t i) { return std::get<Array>(v_).at(i); }

  bool isNull() const { return std::holds_alternative<std::monostate>(v_); }
  bool isObject() const { return std::holds_alternative<Object>(v_); }
  bool isArray() const { return std::holds_alternative<Array>(v_); }
  size_t size() const;  // members or elements; 0 for anything else

  // The value as one line of JSON text.
  std::string dump() const;
  void dumpTo(std::string& out) const;

 private:
  std::variant<std::monostate, bool, int64_t, uint64_t, float, double, std::string, Array, Object> v_;
};

// Writers for the pieces, also used on their own.
void appendString(std::string& out, std::string_view text);  // quoted, escaped, valid UTF-8
std::string singleText(float value);                         // shortest form that reads back as the same float
std::string doubleText(double value);                        // shortest form that reads back as the same double

}  // namespace probe
