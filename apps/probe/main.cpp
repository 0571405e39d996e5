// korvena-probe [SCRIPT]: runs a probe script (or standard input) and prints a
// JSON snapshot for each `dump`.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string_view>

#include "apps/probe/driver.h"

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (argc > 2 || (argc == 2 && std::string_view(argv[1]).starts_with("-"))) {
    std::cerr << "usage: korvena-probe [SCRIPT]\n";
    return 2;
  }
  std::error_code ec;
  if (argc == 1) return probe::runScript(std::cin, fs::current_path(ec), std::cout, std::cerr);

  std::ifstream script(argv[1]);
  if (!script || fs::is_directory(argv[1], ec)) {
    std::cerr << "korvena-probe: cannot open " << argv[1] << '\n';
    return 2;
  }
  fs::path dir = fs::absolute(argv[1], ec).parent_path();
  return probe::runScript(script, dir, std::cout, std::cerr);
}
