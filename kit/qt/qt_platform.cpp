#include "kit/qt/qt_platform.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>

#include "kit/picture_work.h"
#include "kit/qt/form_mirror.h"
#include "kit/qt/units.h"
#include "korvena/RuntimeError.h"

namespace kit::qt {

namespace {
QtPlatform* instance = nullptr;
}

QtPlatform::QtPlatform() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
    throw korvena::RuntimeError(korvena::err::InvalidProcedureCall,
                                "The Qt platform needs a QApplication created by the host");
  loop_ = std::make_unique<SyncLoop>(backend_);
  backend_.setLoop(loop_.get());
  clock_ = std::make_unique<QtClock>([this](const std::function<void()>& tick) { loop_->dispatch(tick); });
  auto* app = static_cast<QGuiApplication*>(QCoreApplication::instance());
  QObject::connect(app, &QGuiApplication::primaryScreenChanged, &context_, [this] {
    if (installed()) updateScreen();
  });
  // FIXME: only the screen that is primary now is followed; a screen that
  // becomes primary later is read when it does, but not when it resizes.
  if (QScreen* screen = QGuiApplication::primaryScreen())
    QObject::connect(screen, &QScreen::geometryChanged, &context_, [this] {
      if (installed()) updateScreen();
    });
  instance = this;
}

QtPlatform::~QtPlatform() {
  if (instance == this) instance = nullptr;
  if (abandoned_) return;
  uninstall();
}

QtPlatform* QtPlatform::current() { return instance; }

bool QtPlatform::installed() const {
  return !abandoned_ && platform().backend() == &backend_ && &platform().clock() == clock_.get();
}

void QtPlatform::install() {
  if (abandoned_) return;
  if (installed()) {
    updateScreen();
    return;
  }
  Platform& p = platform();
  // Windows and timers of an earlier installation belong to forms that may be gone.
  loop_->reset();
  clock_->forget();
  Clock& previous = p.clock();
  p.setBackend(&backend_);
  p.setClock(clock_.get());
  moveTimers(previous, *clock_);
  updateScreen();
  backend_.applyCursor();
  loop_->schedule();
  // Windows paint what they have and repaint when a decode arrives.
  setDecodeWaiting(DecodeWaiting::Moment);
}

void QtPlatform::uninstall() {
  if (abandoned_) return;
  Platform& p = platform();
  if (p.backend() == &backend_) p.setBackend(nullptr);
  if (&p.clock() == clock_.get()) {
    p.setClock(nullptr);
    moveTimers(*clock_, p.clock());
  }
  clock_->forget();
  backend_.releaseCursor();
  loop_->reset();
  setDecodeWaiting(DecodeWaiting::Always);
}

void QtPlatform::updateScreen() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect whole = screen->geometry();
  if (platform().screenWidth() != toTwips(whole.width()) || platform().screenHeight() != toTwips(whole.height()))
    platform().setScreenSize(toTwips(whole.width()), toTwips(whole.height()));
}

QWidget* QtPlatform::window(const Form& form) const {
  FormMirror* mirror = loop_->mirror(form);
  return mirror ? mirror->window() : nullptr;
}

QWidget* QtPlatform::widget(const Control& control) const {
  FormMirror* mirror = loop_->mirror(control.form());
  ControlMirror* controlMirror = mirror ? mirror->controlMirror(control) : nullptr;
  return controlMirror ? controlMirror->widget() : nullptr;
}

QWidget* QtPlatform::toolButton(const Toolbar& toolbar, const std::string& key) const {
  QWidget* bar = widget(toolbar);
  return bar ? bar->findChild<QWidget*>(QString::fromStdString(key), Qt::FindDirectChildrenOnly) : nullptr;
}

void QtPlatform::abandon() {
  abandoned_ = true;
  backend_.abandon();
  loop_->abandon();
  clock_->abandon();
  if (instance == this) instance = nullptr;
}

}  // namespace kit::qt
