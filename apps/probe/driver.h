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
#include <string>

#include "apps/probe/json.h"
#include "apps/probe/script.h"

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

  Json cursorJson() const;
  Json registryJson() const;
  void recordError(long number, const std::string& description, const Command& c);

  std::ostream& out_;
  std::filesystem::path scriptDir_;
  std::filesystem::path tempDir_;  // the fresh settings store; empty if none
  Json events_ = Json::array();
};

// Reads and runs a whole script: 0 when it ran to its end, 2 with
// "line N: reason" on `err` when a line cannot be parsed or run.
int runScript(std::istream& in, const std::filesystem::path& scriptDir, std::ostream& out,
              std::ostream& err);

}  // namespace probe
