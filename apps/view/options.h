#pragma once
// The command line of korvena-view. Header-only, so the tests check the
// same parser that the program runs.
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "toolbar/frmNavToolbar.h"

namespace korvena::host {

inline constexpr const char* kUsage =
    "Usage: korvena-view [options] PATH...\n"
    "Shows the pictures of each folder (in natural file-name order) and each file named.\n"
    "\n"
    "Options:\n"
    "  --new-window           open every picture in a window of its own\n"
    "  --slideshow SECONDS    start a slideshow that changes the picture every SECONDS\n"
    "  --blank-screen         put a black background behind the photo windows\n"
    "  --details              open the toolbar's details panel (zoom box, image\n"
    "                         list and option pages)\n"
    "  --screenshot FILE      save a PNG of the whole screen once the first picture\n"
    "                         is shown, then quit\n"
    "  --screenshot-delay MS  how long the first picture settles before the\n"
    "                         screenshot (default 1500)\n"
    "  -h, --help             show this help and quit\n";

// The longest slideshow interval the toolbar's boxes hold: 999 min 59 s.
inline constexpr uint32_t kMaxSlideshowSeconds = kMostSlideMinutes * 60 + kMostSlideSeconds;

struct Options {
  bool help = false;
  bool newWindow = false;
  bool blankScreen = false;
  bool details = false;
  std::optional<uint32_t> slideshowSeconds;
  std::string screenshot;
  uint32_t screenshotDelayMs = 1500;
  std::vector<std::string> paths;
};

struct ParseResult {
  Options options;
  std::string error;  // empty when the command line is good
};

// Reads a whole decimal number from min to max; nothing else is accepted.
inline std::optional<uint32_t> ParseWholeNumber(std::string_view text, uint32_t min, uint32_t max) {
  uint32_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < min || value > max) return std::nullopt;
  return value;
}

// Whether `name` is an option that takes no value.
inline bool IsFlag(const std::string& name) {
  return name == "--" || name == "-h" || name == "--help" || name == "--new-window" || name == "--blank-screen" ||
         name == "--details";
}

// Whether `name` is an option that takes a value.
inline bool TakesValue(const std::string& name) {
  return name == "--slideshow" || name == "--screenshot" || name == "--screenshot-delay";
}

// Sets the option a flag names.
inline void SetFlag(const std::string& name, Options& o, bool& onlyPaths) {
  if (name == "--") {
    onlyPaths = true;
  } else if (name == "-h" || name == "--help") {
    o.help = true;
  } else if (name == "--new-window") {
    o.newWindow = true;
  } else if (name == "--blank-screen") {
    o.blankScreen = true;
  } else if (name == "--details") {
    o.details = true;
  }
}

// Sets the option `name` to `value`; the error, empty when the value is good.
inline std::string SetValue(const std::string& name, const std::string& value, Options& o) {
  if (name == "--slideshow") {
    o.slideshowSeconds = ParseWholeNumber(value, 1, kMaxSlideshowSeconds);
    if (!o.slideshowSeconds)
      return "--slideshow needs whole seconds from 1 to " + std::to_string(kMaxSlideshowSeconds) + ", not '" + value +
             "'";
  } else if (name == "--screenshot") {
    if (value.empty()) return "--screenshot needs a file name";
    o.screenshot = value;
  } else if (name == "--screenshot-delay") {
    const auto delay = ParseWholeNumber(value, 0, 60000);
    if (!delay) return "--screenshot-delay needs milliseconds from 0 to 60000, not '" + value + "'";
    o.screenshotDelayMs = *delay;
  }
  return "";
}

// args: the arguments after the program name.
inline ParseResult ParseOptions(const std::vector<std::string>& args) {
  ParseResult result;
  Options& o = result.options;
  bool onlyPaths = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyPaths || arg.empty() || arg[0] != '-' || arg == "-") {
      o.paths.push_back(arg);
      continue;
    }
    // Options with a value take it from the next argument or after "=".
    std::string name = arg, value;
    bool hasValue = false;
    if (const size_t eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      hasValue = true;
    }
    auto takeValue = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= args.size()) {
        result.error = name + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    auto noValue = [&]() -> bool {
      if (hasValue) result.error = name + " takes no value";
      return !hasValue;
    };
    if (IsFlag(name)) {
      if (!noValue()) return result;
      SetFlag(name, o, onlyPaths);
    } else if (TakesValue(name)) {
      if (!takeValue()) return result;
      result.error = SetValue(name, value, o);
      if (!result.error.empty()) return result;
    } else {
      result.error = "unknown option " + name;
      return result;
    }
  }
  if (!o.help && o.paths.empty()) result.error = "no folder or picture given";
  return result;
}

}  // namespace korvena::host
