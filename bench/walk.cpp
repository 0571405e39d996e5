// korvena-walk-bench: what a user of korvena-view waits for when walking a
// folder of 24 MP photos, on the Qt view in this process (the offscreen
// platform unless another is set):
//  - Next: from the click on the toolbar's Next button to the end of the
//    first paint of the photo widget that draws the new picture, the user
//    looking at each photo for a while; with the neighbours decoded ahead and,
//    as the reference, without (every step a cold open);
//  - jumps to photos not prefetched (First from the far end, then Last from
//    the first), with and without prefetching: prefetching must not make
//    them slower;
//  - a slideshow at 1-second intervals: how late each new picture is painted
//    after its due time (the start plus whole intervals), with and without.
//
//   korvena-walk-bench [--pictures DIR] [--steps N] [--look MS]
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QMouseEvent>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "apps/view/options.h"
#include "apps/view/photo_list.h"
#include "apps/view/toolbar_actions.h"
#include "apps/view/viewer_host.h"
#include "bench/photos.h"
#include "component/basView.h"
#include "kit/picture_impl.h"
#include "kit/picture_prefetch.h"
#include "kit/qt/photo_widget.h"
#include "kit/qt/qt_platform.h"
#include "korvena/Application.h"
#include "korvena/Platform.h"
#include "store/registry_store.h"
#include "toolbar/frmNavToolbar.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPhotos = 8;
constexpr int kSlideshowMs = 1000;
constexpr int kRounds = 3;  // walks of each kind

// Records when the photo widget has finished painting a picture, by path:
// the first paint that draws the picture's own decoded pixels.
class PaintWatch : public QObject {
 public:
  std::function<void(const std::string&, double)> painted;
  QElapsedTimer clock;

 protected:
  bool eventFilter(QObject* target, QEvent* event) override {
    if (event->type() != QEvent::Paint) return false;
    auto* widget = dynamic_cast<kit::qt::PhotoWidget*>(target);
    if (widget == nullptr || !widget->picture()) return false;
    // Painted here, so that the time taken is after the paint.
    static_cast<QObject*>(widget)->event(event);
    const kit::Picture& picture = *widget->picture();
    if (!picture.impl().image.isNull() && painted)
      painted(picture.path(), static_cast<double>(clock.nsecsElapsed()) / 1e6);
    return true;
  }
};

void runFor(int ms, const std::function<bool()>& done = nullptr) {
  QEventLoop loop;
  QTimer stop;
  stop.setSingleShot(true);
  QObject::connect(&stop, &QTimer::timeout, &loop, &QEventLoop::quit);
  stop.start(ms);
  QTimer poll;
  if (done) {
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (done()) loop.quit();
    });
    poll.start(1);
  }
  loop.exec();
}

void clickButton(const std::string& key) {
  QWidget* button = kit::qt::QtPlatform::current()->toolButton(korvena::NavToolbar().c().Toolbar, key);
  if (button == nullptr) return;
  const QPointF at(button->width() / 2.0, button->height() / 2.0);
  QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(button, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(button, &release);
}

double median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double largest(const std::vector<double>& v) { return v.empty() ? -1 : *std::max_element(v.begin(), v.end()); }

// One viewer over the folder, as korvena-view runs it, fitted to its window.
class Viewer {
 public:
  Viewer(const fs::path& folder, bool prefetch) {
    korvena::ResetComponent();
    korvena::UsePlatform(korvena::Platform::Qt);  // the reset went back to the headless one
    kit::PrefetchCache::shared().clear();
    list_.addPath(QString::fromStdString(folder.string()), korvena::host::PictureSuffixes());
    host_.prefetchNeighbours = prefetch;
    host_.start(korvena::host::Options{});
    korvena::NavToolbar().c().cboZoomRate.setText(korvena::kFitToWindow);
    host_.open(0);
  }
  ~Viewer() {
    korvena::ResetComponent();
    kit::PrefetchCache::shared().clear();
  }
  const korvena::host::PhotoList& list() const { return list_; }
  std::string path(qsizetype i) const { return list_.paths().at(i % list_.size()).toStdString(); }

 private:
  korvena::Application app_;
  korvena::host::PhotoList list_;
  korvena::host::ViewerHost host_{app_, list_};
};

// Clicks `button` and waits for the paint of `expected`: milliseconds, or -1.
double step(PaintWatch& watch, const std::string& button, const std::string& expected) {
  double paintedAt = -1;
  watch.painted = [&](const std::string& path, double at) {
    if (path == expected && paintedAt < 0) paintedAt = at;
  };
  const double start = static_cast<double>(watch.clock.nsecsElapsed()) / 1e6;
  clickButton(button);
  runFor(5000, [&] { return paintedAt >= 0; });
  watch.painted = nullptr;
  return paintedAt < 0 ? -1 : paintedAt - start;
}

struct Walk {
  std::vector<double> next;
  std::vector<double> jumps;
  QSize shown;
  void add(const Walk& w) {
    next.insert(next.end(), w.next.begin(), w.next.end());
    jumps.insert(jumps.end(), w.jumps.begin(), w.jumps.end());
    shown = w.shown;
  }
};

Walk walk(PaintWatch& watch, const fs::path& folder, bool prefetch, int steps, int lookMs) {
  Walk out;
  Viewer viewer(folder, prefetch);
  runFor(lookMs);
  // Next stops two short of the last photo: the last is then never prefetched.
  const int moves = std::min(steps, static_cast<int>(viewer.list().size()) - 3);
  for (int i = 1; i <= moves; ++i) {
    out.next.push_back(step(watch, korvena::buttons::kMoveNext, viewer.path(i)));
    runFor(lookMs);
  }
  // Jumps to photos not prefetched: First from where Next stopped, then Last
  // from the first (whose only neighbour ahead is the second).
  out.jumps.push_back(step(watch, korvena::buttons::kMoveFirst, viewer.path(0)));
  runFor(lookMs);
  out.jumps.push_back(step(watch, korvena::buttons::kMoveLast, viewer.path(viewer.list().size() - 1)));
  if (korvena::frmPhoto* photo = korvena::loadedPhotoWindow(korvena::view().CurrentIndex))
    out.shown = QSize(kit::Picture::pixelsFromTwips(photo->c().picPhoto.width()),
                      kit::Picture::pixelsFromTwips(photo->c().picPhoto.height()));
  runFor(lookMs);
  return out;
}

// How late each step's picture is painted after its due time.
std::vector<double> slideshow(PaintWatch& watch, const fs::path& folder, bool prefetch, int steps, int lookMs) {
  Viewer viewer(folder, prefetch);
  runFor(lookMs);
  std::vector<double> painted(static_cast<std::size_t>(steps), -1);
  watch.painted = [&](const std::string& path, double at) {
    for (int k = 1; k <= steps; ++k)
      if (path == viewer.path(k) && painted[static_cast<std::size_t>(k - 1)] < 0)
        painted[static_cast<std::size_t>(k - 1)] = at;
  };
  korvena::host::StartSlideshow(1);
  const double start = static_cast<double>(watch.clock.nsecsElapsed()) / 1e6;
  runFor(steps * kSlideshowMs + 500);
  watch.painted = nullptr;
  std::vector<double> late;
  // A step never painted counts as a whole interval late.
  for (int k = 1; k <= steps; ++k) {
    const double at = painted[static_cast<std::size_t>(k - 1)];
    late.push_back(at < 0 ? kSlideshowMs : at - (start + k * kSlideshowMs));
  }
  return late;
}

std::string list(const std::vector<double>& v) {
  std::string out;
  for (const double x : v) {
    char text[16];
    std::snprintf(text, sizeof text, "%s%.0f", out.empty() ? "" : " ", x);
    out += text;
  }
  return out;
}

bool makePhotos(const fs::path& folder) {
  fs::create_directories(folder);
  for (int i = 1; i <= kPhotos; ++i) {
    const fs::path file = folder / ("walk-" + std::to_string(i) + ".jpg");
    if (!fs::exists(file) && !bench::writeJpeg(file.string(), 6000, 4000, 700u + static_cast<unsigned>(i)))
      return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qapp(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  fs::path pictures = "pictures";
  int steps = 6;  // from the far end, the first photo has left the cache
  int lookMs = 1500;
  for (int i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == "--pictures")
      pictures = args[++i].toStdString();
    else if (args[i] == "--steps")
      steps = std::max(1, args[++i].toInt());
    else if (args[i] == "--look")
      lookMs = std::max(200, args[++i].toInt());
  }
  const fs::path folder = pictures / "walk";
  if (!makePhotos(folder)) return 1;
  korvena::reg::setDefaultFolder((pictures / "walk-store").string());
  korvena::UsePlatform(korvena::Platform::Qt);
  PaintWatch watch;
  watch.clock.start();
  qapp.installEventFilter(&watch);

  // Walks in turn, so that a load that comes and goes touches both kinds alike.
  Walk ahead, cold;
  for (int round = 0; round < kRounds; ++round) {
    ahead.add(walk(watch, folder, true, steps, lookMs));
    cold.add(walk(watch, folder, false, steps, lookMs));
  }
  const std::vector<double> showAhead = slideshow(watch, folder, true, steps, lookMs);
  const std::vector<double> showCold = slideshow(watch, folder, false, steps, lookMs);
  qapp.removeEventFilter(&watch);
  korvena::UsePlatform(korvena::Platform::Headless);

  std::printf(
      "\nWalking a folder of %d 24 MP JPEGs (6000 x 4000) in the Qt view (%s), shown at %d x %d, "
      "%d ms looking at each, %d walks of each kind\n",
      kPhotos, qPrintable(QGuiApplication::platformName()), ahead.shown.width(), ahead.shown.height(), lookMs, kRounds);
  std::printf("Next, click to painted frame (ms):\n");
  std::printf("  prefetch      median %6.1f  max %6.1f   [%s]\n", median(ahead.next), largest(ahead.next),
              list(ahead.next).c_str());
  std::printf("  cold (none)   median %6.1f  max %6.1f   [%s]\n", median(cold.next), largest(cold.next),
              list(cold.next).c_str());
  std::printf("  ratio prefetch / cold: %.2f\n", median(ahead.next) / median(cold.next));
  std::printf(
      "Jumps to photos not prefetched (First from the far end, Last from the first), medians: %.1f ms with prefetching "
      "[%s], %.1f ms "
      "without [%s] (%.2f x)\n",
      median(ahead.jumps), list(ahead.jumps).c_str(), median(cold.jumps), list(cold.jumps).c_str(),
      median(ahead.jumps) / median(cold.jumps));
  std::printf("Slideshow at 1 s, lateness of each step's paint after its due time (ms):\n");
  std::printf("  prefetch      max %6.1f   [%s]\n", largest(showAhead), list(showAhead).c_str());
  std::printf("  cold (none)   max %6.1f   [%s]\n", largest(showCold), list(showCold).c_str());
  std::printf(
      "Goals\n  Next painted <= 50 ms: %s\n  jump no slower than cold: %s\n  slideshow never > 50 ms late: %s\n",
      largest(ahead.next) >= 0 && largest(ahead.next) <= 50 ? "met" : "not met",
      median(ahead.jumps) >= 0 && median(ahead.jumps) <= median(cold.jumps) * 1.1 ? "met (within 10 %)" : "not met",
      largest(showAhead) <= 50 ? "met" : "not met");
  return 0;
}
