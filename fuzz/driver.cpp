// Fuzz target: probe scripts (host calls and user actions) run against the
// component. A command the reader or the driver refuses ends the script; after
// every command the windows, the image list and the free list must agree, and
// nothing but the driver's own refusal may escape. Left out so that a run stays
// quick and inside its folder: `registry`, paths that leave the script's
// folder, more than 20 s of virtual time.
#include "apps/probe/driver.h"

#include <QImage>
#include <fstream>
#include <sstream>

#include "apps/probe/script.h"
#include "fuzz/component_invariants.h"
#include "fuzz/fuzz_support.h"

namespace {

std::filesystem::path pictures;

bool insideFolder(const std::string& path) {
  return !path.empty() && path[0] != '/' && path.find("..") == std::string::npos;
}

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
  // Pictures of each kind for the scripts to open, and a text file named like one.
  pictures = fuzz::scratchFolder("driver");
  QImage image(64, 48, QImage::Format_RGB32);
  image.fill(Qt::darkCyan);
  image.save(QString::fromStdString((pictures / "a.png").string()), "PNG");
  image.scaled(300, 200).save(QString::fromStdString((pictures / "b.jpg").string()), "JPEG");
  image.scaled(20, 900).save(QString::fromStdString((pictures / "c.bmp").string()), "BMP");
  std::ofstream(pictures / "bad.png") << "not a picture\n";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::ostream nowhere(nullptr);
  probe::ScriptReader reader(in);
  double virtualTime = 0;
  try {
    probe::Driver driver(nowhere, pictures);
    while (std::optional<probe::Command> command = reader.next()) {
      if (!allowed(*command, virtualTime)) continue;
      driver.run(*command);
      const std::string broken = korvena::invariants::inconsistency();
      if (!broken.empty())
        fuzz::fault("driver", "after line " + std::to_string(command->line) + " (" + command->source + "): " + broken);
    }
  } catch (const probe::ScriptError&) {  // the script stops at a line the probe refuses
  }
  return 0;
}
