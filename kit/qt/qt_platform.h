#pragma once
// The Qt view as a whole: installs its backend and real clock into the kit
// platform, sets the screen size from the primary screen, and gives the
// widgets of forms and controls to those who need them (tests, a host that
// takes screenshots). Needs an existing QApplication; the host runs its
// event loop.
#include <QObject>
#include <memory>
#include <string>

#include "kit/controls.h"
#include "kit/qt/qt_backend.h"
#include "kit/qt/qt_clock.h"
#include "kit/qt/sync_loop.h"

class QWidget;

namespace kit::qt {

class QtPlatform {
 public:
  // Raises RuntimeError 5 when there is no QApplication.
  QtPlatform();
  // Uninstalls; the windows go.
  ~QtPlatform();
  QtPlatform(const QtPlatform&) = delete;
  QtPlatform& operator=(const QtPlatform&) = delete;

  // Makes the kit platform use the view (again after a platform reset, which
  // drops the backend and the clock). Running timers move to the real clock.
  void install();
  // Back to the headless presentation and the virtual clock.
  void uninstall();
  bool installed() const;

  // The instance that exists, if any.
  static QtPlatform* current();

  // Applies the kit's state to the windows now.
  void flush() { loop_->flush(); }

  // The window of a loaded form, the widget of a control, the button of a
  // toolbar key; null when there is none (yet: state reaches the windows at
  // the end of the turn, or at flush()).
  QWidget* window(const Form& form) const;
  QWidget* widget(const Control& control) const;
  QWidget* toolButton(const Toolbar& toolbar, const std::string& key) const;

  SyncLoop& loop() { return *loop_; }
  QtBackend& backend() { return backend_; }
  QtClock& clock() { return *clock_; }

  // The application object is being destroyed: stop using Qt; the object is
  // then left to the end of the process.
  void abandon();

 private:
  void updateScreen();

  QtBackend backend_;
  std::unique_ptr<SyncLoop> loop_;
  std::unique_ptr<QtClock> clock_;
  QObject context_;  // receiver of the screen's signals
  bool abandoned_ = false;
};

}  // namespace kit::qt
