#include "support/basHTMLHelp.h"

#include <dlfcn.h>

#include <filesystem>

#include "kit/platform.h"

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

std::string HelpFilePath() { return ComponentPath() + "/Lumastra.chm"; }

void ShowHelp(long helpContext) {
  // The result is not checked: a missing help file leaves the caller unaffected.
  kit::platform().htmlHelp(HelpFilePath(), HH_HELP_CONTEXT, helpContext);
}

}  // namespace korvena
