#include "kit/qt/sync_loop.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QWidget>
#include <algorithm>

#include "kit/qt/form_mirror.h"
#include "kit/qt/qt_backend.h"
#include "kit/qt/units.h"
#include "kit/qt/x11_hints.h"
#include "korvena/RuntimeError.h"

namespace kit::qt {

SyncLoop::SyncLoop(QtBackend& backend) : backend_(backend) {
  turn_.setSingleShot(true);
  turn_.setInterval(0);
  connect(&turn_, &QTimer::timeout, this, [this] { turn(); });
  qApp->installEventFilter(this);
  reset();
}

SyncLoop::~SyncLoop() {
  if (abandoned_) return;
  qApp->removeEventFilter(this);
  for (auto& [form, mirror] : mirrors_) drop(mirror);
  retire();
}

bool SyncLoop::installed() const { return !abandoned_ && platform().backend() == &backend_; }

void SyncLoop::schedule() {
  if (!abandoned_ && !turn_.isActive()) turn_.start();
}

void SyncLoop::turn() {
  // Nothing of the kit is running here: the remains of unloaded forms can go.
  if (busy_ == 0) platform().collectGarbage();
  // A platform reset sets the cursor back without telling anyone.
  if (installed())
    backend_.applyCursor();
  else
    backend_.releaseCursor();
  flush();
}

void SyncLoop::flush() {
  if (abandoned_ || applying_) return;
  applying_ = true;
  retire();
  if (installed()) {
    for (Form* form : platform().forms()) {
      FormMirror*& mirror = mirrors_[form];
      if (!mirror) mirror = new FormMirror(*this, *form);
      mirror->apply();
    }
    // Mirrors of forms that went while the view was not told (a reset).
    for (auto it = mirrors_.begin(); it != mirrors_.end();) {
      const auto& forms = platform().forms();
      if (std::find(forms.begin(), forms.end(), it->first) != forms.end()) {
        ++it;
        continue;
      }
      drop(it->second);
      it = mirrors_.erase(it);
    }
    applyZOrder();
    applyActivation();
  }
  applying_ = false;
  if (!retired_.empty()) schedule();
  // What the window system did while the state was applied is looked at now;
  // a kit handler that answers it is applied at the next turn, so a window
  // system and a handler that disagree take turns instead of recursing.
  if (reconciling_) {
    schedule();
    return;
  }
  reconciling_ = true;
  std::vector<QPointer<FormMirror>> mirrors;
  for (auto& [form, mirror] : mirrors_) mirrors.emplace_back(mirror);
  for (auto& mirror : mirrors)
    if (mirror && !mirror->dead()) mirror->reconcile();
  reconciling_ = false;
}

void SyncLoop::drop(FormMirror* mirror) {
  // The mirror may be the one delivering the current event: it goes later,
  // and its window at the next turn.
  retired_.push_back(mirror->detach());
  mirror->deleteLater();
}

void SyncLoop::retire() {
  std::vector<QPointer<QWidget>> windows;
  windows.swap(retired_);
  for (auto& window : windows) {
    if (!window) continue;
    if (window->isVisible()) noteVisibilityChange();
    window->hide();
    window->deleteLater();
  }
}

void SyncLoop::applyZOrder() {
  const auto& order = platform().zOrder();
  if (order == appliedZOrder_) return;
  appliedZOrder_ = order;
  // NOTE: no stacking on platforms without it (offscreen, minimal): they would only complain.
  const QString name = QGuiApplication::platformName();
  if (name == "offscreen" || name == "minimal") return;
  for (auto it = order.rbegin(); it != order.rend(); ++it)
    if (FormMirror* mirror = this->mirror(**it); mirror && mirror->window()->isVisible()) mirror->window()->raise();
}

void SyncLoop::applyActivation() {
  Form* active = platform().activeForm();
  if (active == appliedActive_) return;
  appliedActive_ = active;
  // No active form: the kit picks no successor, and neither does the view.
  if (!active) return;
  if (FormMirror* mirror = this->mirror(*active); mirror && mirror->window()->isVisible()) requestActivation(*mirror);
}

void SyncLoop::requestActivation(FormMirror& mirror) {
  QWidget* window = mirror.window();
  if (window->isActiveWindow()) return;
  pendingActivations_.erase(std::remove(pendingActivations_.begin(), pendingActivations_.end(), nullptr),
                            pendingActivations_.end());
  pendingActivations_.emplace_back(window);
  window->activateWindow();
}

void SyncLoop::windowActivated(FormMirror& mirror) {
  if (applying_ || mirror.dead()) return;
  QWidget* window = mirror.window();
  auto pending = std::find(pendingActivations_.begin(), pendingActivations_.end(), window);
  if (pending != pendingActivations_.end()) {
    pendingActivations_.erase(pendingActivations_.begin(), pending + 1);
    return;  // the echo of the kit's own activation
  }
  Form* active = platform().activeForm();
  if (active == &mirror.form()) return;
  if (settling()) {
    // The window system activated a window it just showed: the kit's active
    // window keeps the activation.
    if (active)
      if (FormMirror* kept = this->mirror(*active); kept && kept->window()->isVisible()) requestActivation(*kept);
    return;
  }
  Form& form = mirror.form();
  windowSystemActivated(form);
  dispatch([&form] { form.userActivate(); });
}

void SyncLoop::windowSystemActivated(Form& form) {
  // The window system activated the window and raised it: the kit's order
  // and active window are applied again, whatever its handlers make of it
  // (the background's activation brings the photo windows forward).
  appliedActive_ = &form;
  appliedZOrder_.clear();
}

bool SyncLoop::settling() const { return settle_.isValid() && settle_.elapsed() < kSettleMs; }

void SyncLoop::dispatch(const std::function<void()>& action) {
  if (abandoned_) return;
  ++busy_;
  try {
    action();
  } catch (const korvena::RuntimeError& e) {
    report(e.description());
  } catch (const std::exception& e) {
    report(e.what());
  } catch (...) {
    report("Unexpected error");
  }
  --busy_;
  if (busy_ == 0) platform().collectGarbage();
  flush();
}

void SyncLoop::report(const std::string& description) {
  try {
    platform().msgBox(description, "Error", msgbox::Critical);
  } catch (...) {
    // Nothing more can be shown; the error stops here.
  }
}

void SyncLoop::formDestroyed(Form& form) {
  auto it = mirrors_.find(&form);
  if (it == mirrors_.end()) return;
  drop(it->second);
  mirrors_.erase(it);
  if (appliedActive_ == &form) appliedActive_ = nullptr;
  schedule();
}

void SyncLoop::reset() {
  for (auto& [form, mirror] : mirrors_) drop(mirror);
  mirrors_.clear();
  pendingActivations_.clear();
  appliedZOrder_.clear();
  appliedActive_ = nullptr;
  for (int k = 0; k < 2; ++k) {
    const Platform::Extent extent = platform().frameExtent(ws::Caption, k == 1 ? ws::ExToolWindow : 0);
    const int side = toPixels(extent.width / 2);
    insets_[k] = QMargins(side, std::max(0, toPixels(extent.height) - side), side, side);
    // A window manager that says beforehand which frame it will draw sizes
    // the first window right: a form loaded now reckons with the real frame.
    if (const auto frame = askedFrame(k == 1)) learnFrame(k == 1, *frame);
  }
  schedule();
}

void SyncLoop::abandon() {
  abandoned_ = true;
  for (auto& [form, mirror] : mirrors_) mirror->detach();
  mirrors_.clear();
  retired_.clear();
}

FormMirror* SyncLoop::mirror(const Form& form) const {
  auto it = mirrors_.find(&form);
  return it == mirrors_.end() ? nullptr : it->second;
}

FormMirror* SyncLoop::mirrorOfWindow(const QWidget* window) const {
  for (auto& [form, mirror] : mirrors_)
    if (mirror->window() == window) return mirror;
  return nullptr;
}

int SyncLoop::kind(const Form& form) { return (form.exStyle() & ws::ExToolWindow) ? 1 : 0; }

QMargins SyncLoop::insets(const Form& form) const { return form.framed() ? insets_[kind(form)] : QMargins(); }

std::optional<QMargins> SyncLoop::askedFrame(bool toolWindow) {
  // The window manager's frames do not change while the view runs: it is asked once.
  if (!framesAsked_[toolWindow]) {
    askedFrames_[toolWindow] = x11::askFrameExtents(toolWindow);
    framesAsked_[toolWindow] = true;
  }
  return askedFrames_[toolWindow];
}

void SyncLoop::learnFrame(const Form& form, const QMargins& insets) { learnFrame(kind(form) == 1, insets); }

void SyncLoop::learnFrame(bool toolWindow, const QMargins& insets) {
  const int k = toolWindow ? 1 : 0;
  if (insets == insets_[k]) return;
  insets_[k] = insets;
  platform().setFrameExtent(k == 1, {toTwips(insets.left() + insets.right()), toTwips(insets.top() + insets.bottom())});
  schedule();
}

bool SyncLoop::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if ((type != QEvent::KeyPress && type != QEvent::MouseButtonPress) || applying_ || !watched->isWidgetType())
    return false;
  auto* widget = static_cast<QWidget*>(watched);
  FormMirror* found = mirrorOfWindow(widget->window());
  if (!found || found->dead()) return false;
  QPointer<FormMirror> mirror(found);
  Form& form = found->form();
  settle_.invalidate();  // the user is at work

  if (type == QEvent::MouseButtonPress) {
    // A click in a window that the kit does not hold active activates it.
    if (platform().activeForm() != &form && form.visible()) {
      // The window manager may raise the window it was clicked in: the kit's order is applied again.
      appliedZOrder_.clear();
      dispatch([&form] { form.userActivate(); });
    }
    return false;
  }

  // A key goes from the focus widget up through its parents: take it once.
  QWidget* focus = QApplication::focusWidget();
  if (focus && focus != widget && widget->isAncestorOf(focus)) return false;
  const auto& key = *static_cast<QKeyEvent*>(event);
  const int code = virtualKey(key), shift = shiftState(key.modifiers()), ascii = keyAscii(key);
  if (code != key::None) dispatch([&form, code, shift] { form.userKeyDown(code, shift); });
  if (!mirror || mirror->dead()) return true;
  // A text control takes its characters itself, after its form's KeyDown.
  if (mirror->editsText(widget)) return false;
  if (ascii >= 0) dispatch([&form, ascii] { form.userKeyPress(ascii); });
  return !mirror || mirror->dead();
}

}  // namespace kit::qt
