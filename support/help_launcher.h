#pragma once
// Opens the help file at the topic of a help context number on a desktop:
// with the desktop's help viewer (xchm) when it is installed, otherwise by
// unpacking the help file's pages into a temporary folder and opening the
// topic in the web browser. Never blocks on the program it starts, never
// throws: a failure is reported on standard error and help stays closed.
#include <functional>
#include <string>
#include <vector>

namespace korvena {

// What the launcher needs from the system; the tests give their own.
struct HelpEnvironment {
  // The full path of a program found on PATH, or "" when it is not there.
  std::function<std::string(const std::string& program)> findProgram;
  // Starts a program (argv[0] a full path) without waiting for it; false
  // when it could not be started.
  std::function<bool(const std::vector<std::string>& argv)> spawn;
  // Where the pages are unpacked: a new folder is made inside it.
  std::string tempRoot;
};

// The system's own: PATH look-up, a detached child, $TMPDIR (else /tmp).
HelpEnvironment SystemHelpEnvironment();

struct HelpResult {
  bool launched = false;
  std::vector<std::string> command;  // what was started
  std::string topic;                 // the topic opened, inside the help file
  std::string message;               // why nothing was started, or a note
};

HelpResult LaunchHelp(const std::string& chmFile, long context, const HelpEnvironment& env);
// With the system's environment; failures go to standard error.
void LaunchHelp(const std::string& chmFile, long context);

}  // namespace korvena
