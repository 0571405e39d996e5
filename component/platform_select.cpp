// The host's choice of platform: the headless one (the default) or the Qt
// view over the host's QApplication.
#include <QApplication>
#include <memory>

#include "helpview/help_window.h"
#include "kit/qt/qt_platform.h"
#include "korvena/Platform.h"
#include "korvena/RuntimeError.h"
#include "support/window_icon.h"

namespace korvena {

namespace {

std::unique_ptr<kit::qt::QtPlatform>& qtPlatform() {
  // The kit platform is made first, so that it outlives the view at exit.
  kit::platform();
  static std::unique_ptr<kit::qt::QtPlatform> instance;
  return instance;
}

// When the host destroys its QApplication, the view stops using Qt; its
// objects are left to the end of the process rather than freed without Qt.
void watchApplication(kit::qt::QtPlatform& view) {
  QObject::connect(QCoreApplication::instance(), &QObject::destroyed, &view.loop(), [&view] {
    auto& instance = qtPlatform();
    if (instance.get() == &view) instance.release()->abandon();
  });
}

}  // namespace

void UsePlatform(Platform platform) {
  switch (platform) {
    case Platform::Qt: {
      if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        throw RuntimeError(err::InvalidProcedureCall, "The Qt platform needs a QApplication created by the host");
      auto& instance = qtPlatform();
      if (!instance) {
        instance = std::make_unique<kit::qt::QtPlatform>();
        // The help window lives as long as the view: the backend's hook owns it.
        instance->backend().onHelp = [desk = std::make_shared<HelpDesk>()](const std::string& file, int, long context) {
          desk->show(file, context);
        };
        instance->loop().setWindowIcon(ComponentIcon());
        watchApplication(*instance);
      }
      instance->install();
      return;
    }
    case Platform::Headless:
      qtPlatform().reset();
      return;
  }
  throw RuntimeError(err::InvalidProcedureCall, "Unknown platform");
}

Platform CurrentPlatform() {
  const auto& instance = qtPlatform();
  return instance && instance->installed() ? Platform::Qt : Platform::Headless;
}

}  // namespace korvena
