#include "apps/probe/script.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>

namespace probe {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9'); }

struct Split {
  std::vector<std::string> words;
  size_t end = 0;  // where the comment starts, or the line's length
};

Split split(std::string_view line, int lineNo) {
  Split out;
  if (line.ends_with('\r')) line.remove_suffix(1);  // a script saved with CRLF line ends
  size_t i = 0;
  const size_t n = line.size();
  while (true) {
    while (i < n && isBlank(line[i])) ++i;
    if (i == n || line[i] == '#') break;
    std::string word;
    if (line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < n) {
        char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c != '\\') {
          word += c;
          continue;
        }
        if (i == n) break;
        switch (char e = line[i++]) {
          case '"':
            word += '"';
            break;
          case '\\':
            word += '\\';
            break;
          case 'r':
            word += '\r';
            break;
          case 'b':
            word += '\b';
            break;
          case 'e':
            word += '\x1b';
            break;
          case 't':
            word += '\t';
            break;
          default:
            throw ScriptError(lineNo, std::string("unknown escape \\") + e);
        }
      }
      if (!closed) throw ScriptError(lineNo, "unterminated quote");
      if (i < n && !isBlank(line[i]) && line[i] != '#')
        throw ScriptError(lineNo, "a blank must follow a closing quote");
    } else {
      while (i < n && !isBlank(line[i]) && line[i] != '#') {
        if (line[i] == '"') throw ScriptError(lineNo, "a quote inside a word");
        word += line[i++];
      }
    }
    out.words.push_back(std::move(word));
    out.end = i;
  }
  return out;
}

// A decimal number: an optional minus, digits, an optional point and digits.
double number(const std::string& word, int lineNo, const char* what) {
  // from_chars alone would also take "inf" and "nan".
  bool digit = false, other = false;
  for (size_t i = 0; i < word.size(); ++i) {
    char c = word[i];
    if (c >= '0' && c <= '9')
      digit = true;
    else if (c != '.' && !(c == '-' && i == 0))
      other = true;
  }
  double value = 0;
  auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, std::chars_format::fixed);
  if (!digit || other || ec != std::errc() || end != word.data() + word.size() || !std::isfinite(value))
    throw ScriptError(lineNo, std::string(what) + " must be a number: " + word);
  return value;
}

long long integer(const std::string& word, int lineNo, const char* what, long long min, long long max) {
  long long value = 0;
  auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (word.empty() || ec != std::errc() || end != word.data() + word.size() || value < min || value > max)
    throw ScriptError(lineNo, std::string(what) + " must be a whole number from " + std::to_string(min) + " to " +
                                  std::to_string(max) + ": " + word);
  return value;
}

constexpr long long kIntMin = -2147483648LL, kIntMax = 2147483647LL;
constexpr long long kShortMin = INT16_MIN, kShortMax = INT16_MAX;

void arity(const Command& c, size_t min, size_t max, const char* usage) {
  if (c.args.size() < min || c.args.size() > max) throw ScriptError(c.line, std::string("usage: ") + usage);
}

bool choice(const Command& c, const std::string& word, const char* yes, const char* no) {
  if (word == yes) return true;
  if (word == no) return false;
  throw ScriptError(c.line, "expected " + std::string(yes) + " or " + no + ": " + word);
}

// Each command word's checker: it validates the words after the command word
// (already in args) and fills the typed fields.
using Checker = void (*)(Command&);

void checkScreen(Command& c) {
  arity(c, 2, 2, "screen W H");
  c.numbers = {number(c.args[0], c.line, "W"), number(c.args[1], c.line, "H")};
  if (c.numbers[0] < 0 || c.numbers[1] < 0) throw ScriptError(c.line, "the screen size may not be negative");
}

void checkRegistry(Command& c) {
  arity(c, 1, 1, "registry DIR");
  if (c.args[0].empty()) throw ScriptError(c.line, "the folder name is empty");
  c.text = c.args[0];
}

void checkRegset(Command& c) {
  arity(c, 4, 4, "regset KEYPATH NAME sz TEXT | regset KEYPATH NAME dword N");
  if (c.args[0].empty()) throw ScriptError(c.line, "the key path is empty");
  if (c.args[2] == "sz") {
    c.text = c.args[3];
  } else if (c.args[2] == "dword") {
    long long v = integer(c.args[3], c.line, "a dword", kIntMin, 4294967295LL);
    c.numbers = {static_cast<double>(static_cast<uint32_t>(v))};
  } else {
    throw ScriptError(c.line, "the value type must be sz or dword: " + c.args[2]);
  }
}

void checkHost(Command& c) {
  if (c.args.empty()) throw ScriptError(c.line, "usage: host list FILE... | ignore | none | throw N TEXT");
  c.member = c.args[0];
  c.args.erase(c.args.begin());
  if (c.member == "list") {
    arity(c, 1, SIZE_MAX, "host list FILE...");
  } else if (c.member == "ignore" || c.member == "none") {
    arity(c, 0, 0, "host ignore | host none");
  } else if (c.member == "throw") {
    arity(c, 2, 2, "host throw N TEXT");
    c.numbers = {static_cast<double>(integer(c.args[0], c.line, "N", kIntMin, kIntMax))};
    c.text = c.args[1];
  } else {
    throw ScriptError(c.line, "unknown host behaviour: " + c.member);
  }
}

void checkCall(Command& c) {
  struct Arity {
    size_t min, max;
    const char* usage;
  };
  static const std::map<std::string, Arity, std::less<>> members = {
      {"srcAppName", {1, 1, "call srcAppName NAME"}},
      {"Style", {0, 1, "call Style [WORD]"}},
      {"ShowForm", {0, 0, "call ShowForm"}},
      {"OpenImage", {2, 2, "call OpenImage PATH NAME"}},
      {"FireEventNewWin", {1, 1, "call FireEventNewWin true|false"}},
      {"FireEventThumbNav", {1, 1, "call FireEventThumbNav D"}},
      {"UnloadForm", {0, 0, "call UnloadForm"}},
  };
  if (c.args.empty()) throw ScriptError(c.line, "usage: call MEMBER ...");
  c.member = c.args[0];
  c.args.erase(c.args.begin());
  auto it = members.find(c.member);
  if (it == members.end()) throw ScriptError(c.line, "unknown member: " + c.member);
  arity(c, it->second.min, it->second.max, it->second.usage);
  if (c.member == "FireEventNewWin") c.flag = choice(c, c.args[0], "true", "false");
  if (c.member == "FireEventThumbNav") c.numbers = {static_cast<double>(integer(c.args[0], c.line, "D", 0, 255))};
}

void checkControl(Command& c) {
  arity(c, 1, 1, "click CONTROL");
  c.control = parseControl(c.args[0], c.line);
}

void checkDropdown(Command& c) {
  arity(c, 1, 1, "dropdown Toolbar.KEY");
  c.control = parseControl(c.args[0], c.line);
  if (c.control.key.empty()) throw ScriptError(c.line, "dropdown needs a toolbar button: Toolbar.KEY");
}

void checkPick(Command& c) {
  arity(c, 2, 2, "pick CONTROL INDEX");
  c.control = parseControl(c.args[0], c.line);
  c.numbers = {static_cast<double>(integer(c.args[1], c.line, "INDEX", kIntMin, kIntMax))};
}

void checkControlText(Command& c) {
  arity(c, 2, 2, "settext|type CONTROL TEXT");
  c.control = parseControl(c.args[0], c.line);
  c.text = c.args[1];
}

void checkUpdown(Command& c) {
  arity(c, 2, 2, "updown CONTROL up|down");
  c.control = parseControl(c.args[0], c.line);
  c.flag = choice(c, c.args[1], "up", "down");
}

void checkTab(Command& c) {
  arity(c, 1, 1, "tab N");
  c.numbers = {static_cast<double>(integer(c.args[0], c.line, "N", kIntMin, kIntMax))};
}

void checkKey(Command& c) {
  arity(c, 2, 2, "keydown|keypress TARGET CODE");
  c.target = parseTarget(c.args[0], c.line);
  c.numbers = {static_cast<double>(integer(c.args[1], c.line, "the key", kShortMin, UINT16_MAX))};
}

void checkTargetOnly(Command& c) {
  arity(c, 1, 1, "activate|close|minimize|maximize|restore TARGET");
  c.target = parseTarget(c.args[0], c.line);
}

void checkPhoto(Command& c) {
  c.target = parseTarget(c.args[0], c.line);
  if (c.target.kind != Target::Kind::Photo)
    throw ScriptError(c.line, c.word + " needs a photo window (photo:N): " + c.args[0]);
}

void checkRightclick(Command& c) {
  arity(c, 3, 3, "rightclick photo:N X Y");
  checkPhoto(c);
  c.numbers = {number(c.args[1], c.line, "X"), number(c.args[2], c.line, "Y")};
}

void checkTargetXY(Command& c) {
  arity(c, 3, 3, c.word == "resize" ? "resize TARGET W H" : "move TARGET L T");
  c.target = parseTarget(c.args[0], c.line);
  c.numbers = {number(c.args[1], c.line, c.word == "resize" ? "W" : "L"),
               number(c.args[2], c.line, c.word == "resize" ? "H" : "T")};
}

void checkScroll(Command& c) {
  arity(c, 3, 3, "scroll photo:N V|H VALUE");
  checkPhoto(c);
  c.flag = choice(c, c.args[1], "V", "H");
  c.numbers = {static_cast<double>(integer(c.args[2], c.line, "VALUE", kShortMin, kShortMax))};
}

void checkAdvance(Command& c) {
  arity(c, 1, 1, "advance MS");
  c.numbers = {number(c.args[0], c.line, "MS")};
  if (c.numbers[0] < 0) throw ScriptError(c.line, "time cannot go back: " + c.args[0]);
}

void checkNothing(Command& c) { arity(c, 0, 0, "dump"); }

const std::map<std::string, Checker, std::less<>>& checkers() {
  static const std::map<std::string, Checker, std::less<>> table = {
      {"screen", checkScreen},       {"registry", checkRegistry},
      {"regset", checkRegset},       {"host", checkHost},
      {"call", checkCall},           {"click", checkControl},
      {"dropdown", checkDropdown},   {"pick", checkPick},
      {"settext", checkControlText}, {"type", checkControlText},
      {"updown", checkUpdown},       {"tab", checkTab},
      {"keydown", checkKey},         {"keypress", checkKey},
      {"activate", checkTargetOnly}, {"close", checkTargetOnly},
      {"minimize", checkTargetOnly}, {"maximize", checkTargetOnly},
      {"restore", checkTargetOnly},  {"rightclick", checkRightclick},
      {"resize", checkTargetXY},     {"move", checkTargetXY},
      {"scroll", checkScroll},       {"advance", checkAdvance},
      {"dump", checkNothing},
  };
  return table;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string Target::str() const {
  switch (kind) {
    case Kind::Toolbar:
      return "toolbar";
    case Kind::Background:
      return "background";
    case Kind::Photo:
      break;
  }
  return "photo:" + std::to_string(slot);
}

std::string ControlRef::str() const {
  std::string s = target.str() + "." + name;
  if (index) {
    // Appended piece by piece: a literal before a temporary string gives GCC 12
    // a false overlap warning at -O2.
    s += '(';
    s += std::to_string(*index);
    s += ')';
  }
  if (!key.empty()) s += "." + key;
  return s;
}

std::vector<std::string> tokenize(std::string_view line, int lineNo) { return split(line, lineNo).words; }

Target parseTarget(std::string_view word, int lineNo) {
  if (word == "toolbar") return {Target::Kind::Toolbar, 0};
  if (word == "background") return {Target::Kind::Background, 0};
  if (word.starts_with("photo:")) {
    std::string slot(word.substr(6));
    return {Target::Kind::Photo, static_cast<int>(integer(slot, lineNo, "the photo slot", 1, kShortMax))};
  }
  throw ScriptError(lineNo, "unknown target (toolbar, background or photo:N): " + std::string(word));
}

ControlRef parseControl(std::string_view word, int lineNo) {
  ControlRef ref;
  const std::string whole(word);
  auto bad = [&](const std::string& why) { return ScriptError(lineNo, "bad control name " + whole + ": " + why); };
  // An optional target prefix, then NAME[(INDEX)][.KEY].
  size_t dot = word.find('.');
  if (dot != std::string_view::npos) {
    std::string_view prefix = word.substr(0, dot);
    if (prefix == "toolbar" || prefix == "background" || prefix.starts_with("photo:")) {
      ref.target = parseTarget(prefix, lineNo);
      word.remove_prefix(dot + 1);
    }
  } else if (word.starts_with("photo:")) {
    throw bad("a control name must follow the window");
  }
  size_t i = 0;
  if (i == word.size() || !isNameStart(word[i])) throw bad("a name must start with a letter");
  while (i < word.size() && isNameChar(word[i])) ++i;
  ref.name = std::string(word.substr(0, i));
  if (i < word.size() && word[i] == '(') {
    size_t close = word.find(')', i);
    if (close == std::string_view::npos) throw bad("missing )");
    ref.index = static_cast<int>(
        integer(std::string(word.substr(i + 1, close - i - 1)), lineNo, "the control index", 0, kShortMax));
    i = close + 1;
  }
  if (i < word.size() && word[i] == '.') {
    ref.key = std::string(word.substr(i + 1));
    if (ref.key.empty()) throw bad("the button key is empty");
    i = word.size();
  }
  if (i != word.size()) throw bad("unexpected " + std::string(word.substr(i)));
  return ref;
}

std::optional<Command> parseLine(std::string_view line, int lineNo) {
  Split s = split(line, lineNo);
  if (s.words.empty()) return std::nullopt;
  Command c;
  c.line = lineNo;
  c.source = std::string(trim(line.substr(0, s.end)));
  c.word = s.words.front();
  c.args.assign(s.words.begin() + 1, s.words.end());
  auto it = checkers().find(c.word);
  if (it == checkers().end()) throw ScriptError(lineNo, "unknown command: " + c.word);
  it->second(c);
  return c;
}

std::optional<Command> ScriptReader::next() {
  std::string text;
  while (std::getline(in_, text)) {
    ++line_;
    std::optional<Command> c = parseLine(text, line_);
    if (!c) continue;
    if (c->word == "call") called_ = true;
    if (called_ && (c->word == "screen" || c->word == "registry"))
      throw ScriptError(line_, c->word + " must come before the first call");
    return c;
  }
  return std::nullopt;
}

}  // namespace probe
