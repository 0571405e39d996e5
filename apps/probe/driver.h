#pragma once
// The probe's executor: plays the host program and the user, one checked
// command at a time, and prints a JSON snapshot for each `dump`.
//
// Adding a command: write a handler method `void name(const Command&)` and
// add its word to the table in handlers(). A word the reader accepts but the
// table lacks answers "not available yet".
#include <filesystem>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "apps/probe/json.h"
#include "apps/probe/script.h"

namespace kit {
class Form;
class Control;
}  // namespace kit
namespace korvena {
class Application;
}

namespace probe {

class Driver {
 public:
  // `scriptDir` is the folder relative paths are read against. The settings
  // store starts empty in a fresh temporary folder, removed with the driver.
  Driver(std::ostream& out, std::filesystem::path scriptDir);
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Runs one command. A runtime error of the component becomes an error
  // event; a command that cannot run throws ScriptError.
  void run(const Command& command);

  // A script path: absolute as written, else relative to the script's folder.
  std::filesystem::path resolve(const std::string& path) const;

  // The snapshot a `dump` prints; the events recorded so far are taken.
  Json snapshot();

 private:
  using Handler = void (Driver::*)(const Command&);
  static const std::map<std::string, Handler, std::less<>>& handlers();

  // Environment.
  void screen(const Command& c);
  void registry(const Command& c);
  void regset(const Command& c);
  // Snapshot.
  void dump(const Command& c);
  // The host and the calls on the Application object.
  void host(const Command& c);
  void call(const Command& c);
  // The user's actions.
  void click(const Command& c);
  void dropdown(const Command& c);
  void pick(const Command& c);
  void settext(const Command& c);
  void type(const Command& c);
  void updown(const Command& c);
  void tab(const Command& c);
  void keydown(const Command& c);
  void keypress(const Command& c);
  void activate(const Command& c);
  void close(const Command& c);
  void rightclick(const Command& c);
  void resize(const Command& c);
  void windowState(const Command& c);
  void scroll(const Command& c);
  void move(const Command& c);
  void advance(const Command& c);

  korvena::Application& app();
  void onThumbNav(uint8_t direction, bool& bFirstLast);
  // The host list's entry a move goes to (-1: none), with bFirstLast set
  // as the list host answers it.
  long listStep(uint8_t direction, bool& bFirstLast) const;
  void openListed(size_t index);
  kit::Form& form(const Target& target, int line);
  kit::Control& control(const ControlRef& ref, int line);
  std::string targetName(const kit::Form* form) const;
  void takePlatformEvents();
  Json photoWindowsJson() const;
  Json toolbarJson() const;
  Json backgroundJson() const;

  Json cursorJson() const;
  Json registryJson() const;
  void recordError(long number, const std::string& description, const Command& c);

  std::ostream& out_;
  std::filesystem::path scriptDir_;
  std::filesystem::path tempDir_;  // the fresh settings store; empty if none
  Json events_ = Json::array();

  // The host the probe plays.
  enum class HostMode { List, Ignore, None, Throw };
  std::unique_ptr<korvena::Application> app_;
  HostMode hostMode_ = HostMode::None;
  std::vector<std::filesystem::path> hostFiles_;
  long current_ = -1;  // index into hostFiles_, -1 for none
  long throwNumber_ = 0;
  std::string throwText_;
  bool callingNewWin_ = false;
};

// Reads and runs a whole script: 0 when it ran to its end, 2 with
// "line N: reason" on `err` when a line cannot be parsed or run.
int runScript(std::istream& in, const std::filesystem::path& scriptDir, std::ostream& out, std::ostream& err);

}  // namespace probe
