// korvena-view: a photo viewer built on the Korvena component. It lists the
// pictures of the folders and files named on its command line, shows the
// first one through the component on the Qt platform and answers the
// component's first/previous/next/last requests from that list.
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "apps/view/options.h"
#include "apps/view/photo_list.h"
#include "apps/view/viewer_host.h"
#include "korvena/Application.h"
#include "korvena/Platform.h"

namespace {

using korvena::host::kAppName;

void Fail(const std::string& message) { std::fprintf(stderr, "%s: %s\n", kAppName, message.c_str()); }

std::string Describe(const std::exception& e) {
  if (const auto* error = dynamic_cast<const korvena::RuntimeError*>(&e))
    return "error " + std::to_string(error->number()) + ": " + error->description();
  return e.what();
}

bool HasDisplay() {
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

int VisibleWindowCount() {
  int count = 0;
  for (QWindow* window : QGuiApplication::topLevelWindows())
    if (window->isVisible()) ++count;
  return count;
}

bool AnyWindowExposed() {
  for (QWindow* window : QGuiApplication::topLevelWindows())
    if (window->isVisible() && window->isExposed()) return true;
  return false;
}

bool SaveScreenshot(const QString& file) {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) {
    Fail("no screen to take a screenshot of");
    return false;
  }
  const QPixmap shot = screen->grabWindow(0);
  const QFileInfo info(file);
  QDir().mkpath(info.absolutePath());
  if (shot.isNull() || !shot.save(info.absoluteFilePath(), "PNG")) {
    Fail("cannot write the screenshot " + file.toStdString());
    return false;
  }
  std::printf("%s\n", info.absoluteFilePath().toLocal8Bit().constData());
  std::fflush(stdout);
  return true;
}

// Takes the screenshot once a window of the viewer is on the screen and has
// had the delay to settle (window manager frames, first paint), then quits.
// Gives up waiting for an exposed window after 20 seconds and takes the
// screenshot all the same, reporting the failure in the exit code.
void ScheduleScreenshot(const QString& file, uint32_t delayMs, int& exitCode) {
  auto* poll = new QTimer(qApp);
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  QObject::connect(poll, &QTimer::timeout, qApp, [poll, clock, file, delayMs, &exitCode] {
    const bool exposed = AnyWindowExposed();
    if (!exposed && clock->elapsed() < 20000) return;
    poll->stop();
    if (!exposed) {
      Fail("no window appeared within 20 seconds");
      exitCode = 3;
    }
    QTimer::singleShot(exposed ? static_cast<int>(delayMs) : 0, qApp, [file, &exitCode] {
      if (!SaveScreenshot(file) && exitCode == 0) exitCode = 4;
      // exit(), not quit(): quit() first asks every window to close, and the
      // toolbar answers a close request by hiding itself and refusing.
      QCoreApplication::exit(0);
    });
  });
  poll->start(50);
}

// Quits when none of the viewer's windows is visible any more (the user
// closed the toolbar, which closes every photo window). Two polls in a row
// must agree, so a window that is hidden and shown again in one turn of the
// event loop does not end the program.
void QuitWhenNoWindowIsLeft() {
  auto* poll = new QTimer(qApp);
  auto misses = std::make_shared<int>(0);
  QObject::connect(poll, &QTimer::timeout, qApp, [misses] {
    *misses = VisibleWindowCount() == 0 ? *misses + 1 : 0;
    if (*misses >= 2) QCoreApplication::exit(0);
  });
  poll->start(400);
}

// The command line's paths as the bytes it gave (a name need not be UTF-8);
// false, after saying which, when one does not exist.
bool CheckPaths(const std::vector<std::string>& given, QList<QByteArray>& paths) {
  for (const std::string& path : given) {
    paths.append(QByteArray::fromStdString(path));
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      Fail("no such file or folder: " + path);
      return false;
    }
  }
  return true;
}

// Runs the viewer over the list until the user closes it (or the screenshot
// is taken); the exit code.
int RunViewer(korvena::host::PhotoList& list, const korvena::host::Options& options) {
  int exitCode = 0;
  try {
    korvena::UsePlatform(korvena::Platform::Qt);
    korvena::Application app;
    korvena::host::ViewerHost host(app, list);
    // The start runs inside the event loop, so that a message box it raises
    // (a first picture that does not decode) runs as a nested loop that the
    // screenshot and the exit can end.
    QTimer::singleShot(0, qApp, [&] {
      try {
        host.start(options);
        if (options.screenshot.empty()) QuitWhenNoWindowIsLeft();
      } catch (const std::exception& e) {
        Fail(Describe(e));
        exitCode = 1;
        QCoreApplication::exit(1);
      }
    });
    if (!options.screenshot.empty())
      ScheduleScreenshot(QString::fromLocal8Bit(options.screenshot.c_str()), options.screenshotDelayMs, exitCode);
    const int loopCode = QApplication::exec();
    if (exitCode == 0) exitCode = loopCode;

    // Saves the toolbar's place and zoom rate for the next run.
    app.UnloadForm();
  } catch (const std::exception& e) {
    Fail(Describe(e));
    exitCode = 1;
  }
  korvena::UsePlatform(korvena::Platform::Headless);
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const korvena::host::ParseResult parsed = korvena::host::ParseOptions(args);
  if (!parsed.error.empty()) {
    Fail(parsed.error);
    std::fputs(korvena::host::kUsage, stderr);
    return 2;
  }
  const korvena::host::Options& options = parsed.options;
  if (options.help) {
    std::fputs(korvena::host::kUsage, stdout);
    return 0;
  }

  // Check the paths before any window-system work, so that a typing error
  // gets its message also where no display is available.
  QList<QByteArray> paths;
  if (!CheckPaths(options.paths, paths)) return 1;
  if (!HasDisplay()) {
    Fail("no display: set DISPLAY, or run scripts/run-view, which starts a virtual one");
    return 1;
  }

  QApplication qapp(argc, argv);
  // The name gives the windows their WM_CLASS and, with the desktop file's
  // name, ties them to the installed desktop entry: the task switcher shows
  // its name and icon.
  QApplication::setApplicationName(kAppName);
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kAppName));
  QApplication::setQuitOnLastWindowClosed(false);

  korvena::host::PhotoList list;
  if (auto error = list.addPaths(paths, korvena::host::PictureSuffixes())) {
    Fail(error->toStdString());
    return 1;
  }
  if (list.empty()) {
    Fail("no pictures found in " + paths.join(", ").toStdString());
    return 1;
  }

  return RunViewer(list, options);
}
