// Fuzz target: probe scripts run against the component.
//
// The probe's driver plays the host and the user, so any script is a
// sequence of host calls and user actions. A command the reader or the
// driver refuses ends the script (as in korvena-probe); a runtime error of
// the component is recorded and the script goes on. After every command the
// windows, the image list and the free list must agree, and nothing but the
// driver's own refusal may escape.
//
// Left out so that a run stays quick and inside its folder: `registry` (it
// names a folder to write), paths that leave the script's folder, and more
// than 20 s of virtual time in one script.
#include <QImage>
#include <QImageReader>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>

#include "apps/probe/driver.h"
#include "apps/probe/script.h"
#include "fuzz/component_invariants.h"

namespace {

namespace fs = std::filesystem;

fs::path& pictures() {
  static fs::path dir;
  return dir;
}

bool insideFolder(const std::string& path) {
  return !path.empty() && path[0] != '/' && path.find("..") == std::string::npos;
}

// Whether the fuzz run lets this command through (see above).
bool allowed(const probe::Command& c, double& virtualTime) {
  if (c.word == "registry") return false;
  if (c.word == "advance") {
    virtualTime += c.numbers.at(0);
    return virtualTime <= 20000;
  }
  if (c.word == "host" && c.member == "list") {
    for (const std::string& file : c.args)
      if (!insideFolder(file)) return false;
  }
  if (c.word == "call" && c.member == "OpenImage") return insideFolder(c.args.at(0));
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A folder of pictures for the scripts to open: good ones of each kind and
  // a text file named like a picture.
  char pattern[] = "/tmp/korvena-fuzz-driver-XXXXXX";
  if (!mkdtemp(pattern)) std::abort();
  pictures() = pattern;
  QImage image(64, 48, QImage::Format_RGB32);
  image.fill(Qt::darkCyan);
  image.save(QString::fromStdString((pictures() / "a.png").string()), "PNG");
  image.scaled(300, 200).save(QString::fromStdString((pictures() / "b.jpg").string()), "JPEG");
  image.scaled(20, 900).save(QString::fromStdString((pictures() / "c.bmp").string()), "BMP");
  std::ofstream(pictures() / "bad.png") << "not a picture\n";
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(pictures(), ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::ostream nowhere(nullptr);
  probe::ScriptReader reader(in);
  double virtualTime = 0;
  try {
    probe::Driver driver(nowhere, pictures());
    while (std::optional<probe::Command> command = reader.next()) {
      if (!allowed(*command, virtualTime)) continue;
      driver.run(*command);
      const std::string broken = korvena::invariants::inconsistency();
      if (!broken.empty()) {
        std::fprintf(stderr, "fuzz_driver: after line %d (%s): %s\n", command->line, command->source.c_str(),
                     broken.c_str());
        std::abort();
      }
    }
  } catch (const probe::ScriptError&) {
    // The script stops at a line the probe refuses, as korvena-probe does.
  }
  return 0;
}
