#pragma once
// The command line of korvena-view. Header-only, so the tests check the
// same parser that the program runs.
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
inline constexpr uint32_t kMaxSlideshowSeconds = 999 * 60 + 59;

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
    if (name == "--") {
      if (!noValue()) return result;
      onlyPaths = true;
    } else if (name == "-h" || name == "--help") {
      if (!noValue()) return result;
      o.help = true;
    } else if (name == "--new-window") {
      if (!noValue()) return result;
      o.newWindow = true;
    } else if (name == "--blank-screen") {
      if (!noValue()) return result;
      o.blankScreen = true;
    } else if (name == "--details") {
      if (!noValue()) return result;
      o.details = true;
    } else if (name == "--slideshow") {
      if (!takeValue()) return result;
      o.slideshowSeconds = ParseWholeNumber(value, 1, kMaxSlideshowSeconds);
      if (!o.slideshowSeconds) {
        result.error = "--slideshow needs whole seconds from 1 to " + std::to_string(kMaxSlideshowSeconds) +
                       ", not '" + value + "'";
        return result;
      }
    } else if (name == "--screenshot") {
      if (!takeValue()) return result;
      if (value.empty()) {
        result.error = "--screenshot needs a file name";
        return result;
      }
      o.screenshot = value;
    } else if (name == "--screenshot-delay") {
      if (!takeValue()) return result;
      const auto delay = ParseWholeNumber(value, 0, 60000);
      if (!delay) {
        result.error = "--screenshot-delay needs milliseconds from 0 to 60000, not '" + value + "'";
        return result;
      }
      o.screenshotDelayMs = *delay;
    } else {
      result.error = "unknown option " + name;
      return result;
    }
  }
  if (!o.help && o.paths.empty()) result.error = "no folder or picture given";
  return result;
}

}  // namespace korvena::host
