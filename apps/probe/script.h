#pragma once
// The probe's script reader: one command per line, read and checked as it is
// reached, so the lines before a bad one have already run when it is found.
#include <cstdint>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace probe {

// A line the probe cannot parse or run: reported as "line N: reason" with
// exit status 2.
class ScriptError : public std::runtime_error {
 public:
  ScriptError(int line, const std::string& reason) : std::runtime_error(reason), line_(line) {}
  int line() const { return line_; }
  std::string reason() const { return what(); }
  std::string message() const { return "line " + std::to_string(line_) + ": " + what(); }

 private:
  int line_;
};

// A window the script acts on: `toolbar`, `background` or `photo:N`.
struct Target {
  enum class Kind { Toolbar, Background, Photo };
  Kind kind = Kind::Toolbar;
  int slot = 0;  // photo windows only, 1 or more

  std::string str() const;  // as written in the script and in snapshots
  bool operator==(const Target&) const = default;
};

// A control: `cboZoomRate`, `optImgPos(33)`, `Toolbar.MoveNext`,
// `photo:2.mnuPopClose`. Without a target prefix it is the toolbar's.
struct ControlRef {
  Target target;
  std::string name;          // the control's name, without index or key
  std::optional<int> index;  // the control-array index, `name(INDEX)`
  std::string key;           // a toolbar button's key, `Toolbar.KEY`; else empty

  std::string str() const;
  bool operator==(const ControlRef&) const = default;
};

// One checked command. `word` is the command word; which other fields are
// filled depends on it:
//   screen W H              numbers {W, H}
//   registry DIR            text = DIR (relative to the script's folder)
//   regset KEY NAME sz T    args {KEY, NAME, "sz", T}
//   regset KEY NAME dword N args {KEY, NAME, "dword", N}, numbers {N as unsigned 32 bits}
//   host list FILE...       member = "list", args = the files
//   host ignore|none        member
//   host throw N TEXT       member = "throw", numbers {N}, text
//   call MEMBER ...         member, args = the words after it; numbers {D} for
//                           FireEventThumbNav, flag for FireEventNewWin
//   click CONTROL           control
//   dropdown Toolbar.KEY    control (with a key)
//   pick CONTROL INDEX      control, numbers {INDEX}
//   settext|type CONTROL T  control, text
//   updown CONTROL up|down  control, flag (true = up)
//   tab N                   numbers {N}
//   keydown|keypress T N    target, numbers {N}
//   activate|close|minimize|maximize|restore T   target
//   rightclick photo:N X Y  target, numbers {X, Y}
//   resize T W H / move T L T   target, numbers
//   scroll photo:N V|H VAL  target, flag (true = vertical), numbers {VAL}
//   advance MS              numbers {MS}
//   dump                    nothing
struct Command {
  int line = 0;
  std::string source;  // the line without its comment, trimmed
  std::string word;
  std::string member;
  std::vector<std::string> args;  // every word after the command word (and member)
  Target target;
  ControlRef control;
  std::vector<double> numbers;
  std::string text;
  bool flag = false;
};

// Splits a line into words; nothing for a blank or comment-only line.
// Throws ScriptError for an unterminated quote or an unknown escape.
std::vector<std::string> tokenize(std::string_view line, int lineNo);

Target parseTarget(std::string_view word, int lineNo);
ControlRef parseControl(std::string_view word, int lineNo);

// Checks one line on its own; std::nullopt for a blank or comment-only line.
std::optional<Command> parseLine(std::string_view line, int lineNo);

// Reads a script line by line. Keeps the state that spans lines: `screen`
// and `registry` are refused once a `call` has been read.
class ScriptReader {
 public:
  explicit ScriptReader(std::istream& in) : in_(in) {}
  // The next command, or std::nullopt at the end. Throws ScriptError.
  std::optional<Command> next();
  int lineNumber() const { return line_; }

 private:
  std::istream& in_;
  int line_ = 0;
  bool called_ = false;
};

}  // namespace probe
