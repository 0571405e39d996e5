// Fuzz target: korvena-probe's script reader. Only the reader's own error may
// escape, naming the line it stopped at; every command carries its line and word.
#include "apps/probe/script.h"

#include <sstream>

#include "fuzz/fuzz_support.h"

namespace {
[[noreturn]] void fault(const char* what) { fuzz::fault("script", what); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  probe::ScriptReader reader(in);
  int previous = 0;
  try {
    while (std::optional<probe::Command> command = reader.next()) {
      if (command->line != reader.lineNumber() || command->line <= previous) fault("a command's line number");
      if (command->word.empty()) fault("a command without a word");
      if (command->source.find('\n') != std::string::npos) fault("a command's text spans lines");
      previous = command->line;
    }
  } catch (const probe::ScriptError& error) {
    if (error.line() != reader.lineNumber()) fault("an error names another line");
    if (error.reason().empty()) fault("an error without a reason");
    if (error.message().rfind("line " + std::to_string(error.line()) + ": ", 0) != 0) fault("an error's message form");
  }
  return 0;
}
