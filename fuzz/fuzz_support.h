#pragma once
// What the fuzz targets share: stopping at a broken rule, and a scratch folder.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzz {

// Names the broken rule and stops the run; libFuzzer keeps the input.
[[noreturn]] inline void fault(const char* target, const std::string& what) {
  std::fprintf(stderr, "fuzz_%s: %s\n", target, what.c_str());
  std::abort();
}

// A fresh folder under /tmp, removed at exit.
inline const std::filesystem::path& scratchFolder(const char* target) {
  static std::filesystem::path dir;
  std::string pattern = std::string("/tmp/korvena-fuzz-") + target + "-XXXXXX";
  if (!mkdtemp(pattern.data())) std::abort();
  dir = pattern;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  });
  return dir;
}

}  // namespace fuzz
