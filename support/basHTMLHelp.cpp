#include "support/basHTMLHelp.h"

#include <dlfcn.h>

#include <filesystem>

#include "kit/platform.h"

#ifndef KORVENA_INSTALL_LIBDIR
#define KORVENA_INSTALL_LIBDIR "lib"  // the build sets the install's own library folder
#endif

namespace korvena {

std::string ComponentPath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ComponentPath), &info) && info.dli_fname) {
    std::error_code ec;
    auto path = std::filesystem::canonical(info.dli_fname, ec);
    if (!ec) return path.parent_path().string();
  }
  return std::filesystem::current_path().string();
}

// The help file stands beside the component. A program with the component
// linked in (korvena-view) is installed in a bin folder: its help file is
// then in the library folder the install puts beside it.
std::string HelpFilePath() {
  namespace fs = std::filesystem;
  constexpr const char* kHelpFile = "Lumastra.chm";
  const fs::path here = ComponentPath();
  const fs::path beside = here / kHelpFile;
  std::error_code ec;
  if (fs::exists(beside, ec)) return beside.string();
  const fs::path installed = here.parent_path() / KORVENA_INSTALL_LIBDIR / kHelpFile;
  return fs::exists(installed, ec) ? installed.string() : beside.string();
}

void ShowHelp(long helpContext) {
  // The result is not checked: a missing help file leaves the caller unaffected.
  kit::platform().htmlHelp(HelpFilePath(), kit::help::Context, helpContext);
}

}  // namespace korvena
