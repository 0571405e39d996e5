// The Qt side of the C client.
#include "qt_host.h"

#include <dlfcn.h>

#include <QApplication>
#include <QToolButton>
#include <memory>

#include "korvena/Platform.h"

namespace {
int argc = 1;
char name[] = "korvena-c-client";
char* argv[] = {name, nullptr};
std::unique_ptr<QApplication> application;
}  // namespace

extern "C" int hostStartQt(void) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  application = std::make_unique<QApplication>(argc, argv);
  return application != nullptr;
}

extern "C" int hostUsePlatform(void* library, int qt) {
  // The library's own function, as the loaded copy exports it.
  using Use = void (*)(korvena::Platform);
  auto use = reinterpret_cast<Use>(dlsym(library, "_ZN7korvena11UsePlatformENS_8PlatformE"));
  if (!use) return 0;
  use(qt ? korvena::Platform::Qt : korvena::Platform::Headless);
  return 1;
}

extern "C" int hostClick(const char* key) {
  QCoreApplication::processEvents();
  for (QWidget* widget : QApplication::allWidgets()) {
    auto* button = qobject_cast<QToolButton*>(widget);
    if (button && button->objectName() == QLatin1String(key) && button->isEnabled()) {
      button->click();
      QCoreApplication::processEvents();
      return 1;
    }
  }
  return 0;
}

extern "C" void hostStopQt(void) { application.reset(); }
