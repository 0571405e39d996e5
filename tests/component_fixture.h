#pragma once
// A fresh component on the headless platform for each test, a settings store
// in a temporary folder, pictures written on demand, and a host with a list.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <string>
#include <vector>

#include "component/basView.h"
#include "kit/platform.h"
#include "korvena/Application.h"
#include "photo/frmPhoto.h"
#include "store/registry_store.h"
#include "support/basRegistry.h"
#include "support/frmBackGround.h"
#include "toolbar/frmNavToolbar.h"

namespace fixture {

// The host of the tests: a list of images, moved through by ThumbNav.
struct Host {
  korvena::Application* app = nullptr;
  std::vector<std::string> files;
  int current = -1;
  std::vector<int> requests;
  void open(int index) {
    current = index;
    app->OpenImage(files[static_cast<size_t>(index)],
                   std::filesystem::path(files[static_cast<size_t>(index)]).filename());
  }
  // First and last open their end; next and previous (any other direction)
  // the neighbour, or from no current picture the first or last; at an end
  // nothing opens and the end is reported.
  void attach(korvena::Application& a) {
    app = &a;
    a.setThumbNavHandler([this](uint8_t dir, bool& last) {
      requests.push_back(dir);
      const int n = static_cast<int>(files.size());
      if (n == 0) return;
      const bool ends = dir == korvena::MoveFirst || dir == korvena::MoveLast, fresh = current < 0;
      const int target = dir == korvena::MoveFirst  ? 0
                         : dir == korvena::MoveLast ? n - 1
                         : dir == korvena::MoveNext ? (fresh ? 0 : current + 1)
                                                    : (fresh ? n - 1 : current - 1);
      if (target < 0 || target >= n) {
        last = true;
        return;
      }
      open(target);
      if (ends || !fresh) last = ends || target == 0 || target == n - 1;
    });
  }
};

class ComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    korvena::ResetComponent();
    dir = std::filesystem::temp_directory_path() / ("korvena-test-" + std::to_string(::getpid()) + "-" +
                                                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "store");
    korvena::reg::setDefaultFolder((dir / "store").string());
    host.attach(app);
  }
  void TearDown() override {
    korvena::ResetComponent();
    korvena::reg::resetDefaultStore();
    std::filesystem::remove_all(dir);
  }
  // A PNG of the given size in pixels (15 twips each).
  std::string picture(const std::string& name, int width, int height, QColor colour = Qt::darkCyan) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    const std::string path = (dir / name).string();
    image.save(QString::fromStdString(path), "PNG");
    return path;
  }
  void start(bool newWindow = false) {
    app.srcAppName("KorvenaTest");
    app.Style("pbMDILoading");
    app.ShowForm();
    if (newWindow) clickButton("NewWindow");
  }
  korvena::frmNavToolbar& toolbar() { return korvena::NavToolbar(); }
  korvena::frmNavToolbar::Controls& bar() { return toolbar().c(); }
  korvena::frmPhoto& photo(int slot) { return *korvena::photoWindow(slot); }
  korvena::ViewState& state() { return korvena::view(); }
  void clickButton(const std::string& key) { bar().Toolbar.userClick(key); }
  void advance(double ms) { kit::platform().virtualClock()->advance(ms); }
  std::vector<kit::PlatformEvent> messageBoxes() {
    std::vector<kit::PlatformEvent> boxes;
    for (auto& e : kit::platform().takeEvents())
      if (e.kind == kit::PlatformEvent::Kind::MessageBox) boxes.push_back(e);
    return boxes;
  }
  std::filesystem::path dir;
  korvena::Application app;
  Host host;
};

}  // namespace fixture
