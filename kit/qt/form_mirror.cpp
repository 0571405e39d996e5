#include "kit/qt/form_mirror.h"

#include <QEvent>
#include <QFont>
#include <QGuiApplication>
#include <QMenuBar>
#include <QPalette>
#include <QWindow>
#include <algorithm>
#include <set>

#include "kit/qt/menus.h"
#include "kit/qt/sync_loop.h"
#include "kit/qt/units.h"
#include "kit/qt/x11_hints.h"

namespace kit::qt {

namespace {

// The blank background: a black window over the whole screen that the
// photo windows stand on, kept in the window manager's lowest layer and out
// of its task bar and task switcher, so that whatever activates it (a click,
// the task switcher, the focus falling back to it when a photo closes), it
// never covers them or the toolbar.
bool isBackdrop(const Form& form) { return form.name() == "frmBackGround"; }

Qt::WindowFlags windowFlagsFor(const Form& form) {
  const bool tool = (form.exStyle() & ws::ExToolWindow) != 0;
  Qt::WindowFlags flags = tool ? Qt::Tool : Qt::Window;
  if (!form.framed()) {
    flags |= Qt::FramelessWindowHint;
  } else {
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (form.style() & ws::SysMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    // A tool window's caption has a close box only, whatever its style asks.
    if ((form.style() & ws::MinimizeBox) && !tool) flags |= Qt::WindowMinimizeButtonHint;
    if ((form.style() & ws::MaximizeBox) && !tool) flags |= Qt::WindowMaximizeButtonHint;
  }
  if (form.topmost()) flags |= Qt::WindowStaysOnTopHint;
  if (isBackdrop(form)) flags |= Qt::WindowStaysOnBottomHint;
  return flags;
}

// A top-most tool window shown by code floats without taking activation.
bool isPalette(const Form& form) { return form.topmost() && (form.exStyle() & ws::ExToolWindow); }

// The narrowest a framed window may be (client pixels), as a window system's
// minimum tracking size makes it: room on its title bar for the window's
// icon, its buttons and the start of its caption, each about as wide as the
// bar is high. The headless platform keeps no minimum; nor does a window
// without a title bar.
int minimumClientWidth(Qt::WindowFlags flags, const QMargins& frame) {
  if ((flags & Qt::FramelessWindowHint) || !(flags & Qt::WindowTitleHint)) return 0;
  // Platforms with no window manager draw no title bar.
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) return 0;
  const int bar = frame.top() - frame.left();
  if (bar <= 0) return 0;
  int boxes = 2;  // the icon and the start of the caption
  for (Qt::WindowType box : {Qt::WindowCloseButtonHint, Qt::WindowMinimizeButtonHint, Qt::WindowMaximizeButtonHint})
    if (flags & box) ++boxes;
  return std::max(0, boxes * bar - frame.left() - frame.right());
}

constexpr Qt::WindowStates kStateMask = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;

}  // namespace

FormMirror::FormMirror(SyncLoop& loop, Form& form) : loop_(loop), form_(form), window_(new QWidget) {
  window_->setObjectName(QString::fromStdString(form.name()));
  if (!loop.windowIcon().isNull()) window_->setWindowIcon(loop.windowIcon());
  // The layouts in twips were made for an 8-point dialog font (11 pixels).
  QFont font = window_->font();
  font.setPixelSize(11);
  window_->setFont(font);
  if (isBackdrop(form)) {
    QPalette palette = window_->palette();
    palette.setColor(QPalette::Window, Qt::black);
    window_->setPalette(palette);
    window_->setAutoFillBackground(true);
  }
  window_->installEventFilter(this);
}

FormMirror::~FormMirror() {
  if (window_) window_->deleteLater();
}

QPointer<QWidget> FormMirror::detach() {
  dead_ = true;
  QPointer<QWidget> window = window_;
  if (handle_) handle_->removeEventFilter(this);
  if (window_) window_->removeEventFilter(this);
  window_ = nullptr;
  return window;
}

void FormMirror::dispatch(const std::function<void()>& action) {
  if (!dead_) loop_.dispatch(action);
}

// ---- Kit to window ----

void FormMirror::apply() {
  if (dead_) return;
  applyFlags();
  // Qt shows the application's name for an empty title; a blank keeps the
  // title bar as empty as the form's caption.
  QString caption = QString::fromStdString(form_.caption());
  if (caption.isEmpty()) caption = QStringLiteral(" ");
  if (window_->windowTitle() != caption) window_->setWindowTitle(caption);
  applyControls();
  applyMenuBar();
  applyGeometryAndState();
}

void FormMirror::applyFlags() {
  const Qt::WindowFlags flags = windowFlagsFor(form_);
  if (flags == appliedFlags_) return;
  if (QWindow* handle = window_->windowHandle()) {
    // NOTE: changed on the live window: setWindowFlags would re-create it, which
    // hides it, and some window managers then place the new one anew.
    window_->overrideWindowFlags(flags);
    handle->setFlags(flags);
    loop_.noteVisibilityChange();
    // A mapped window keeps its place while the window manager frames it
    // anew, and may pass through the asked place moved by the frame.
    if (window_->isVisible()) reframing_ = true;
  } else {
    window_->setWindowFlags(flags);
  }
  appliedFlags_ = flags;
  // The frame changes: the window's place is asked for again.
  asked_ = QRect();
}

void FormMirror::applyControls() {
  const auto& controls = form_.controls();
  for (Control* control : controls)
    if (!controls_.count(control)) controls_[control] = makeControlMirror(*this, *control, window_);
  for (auto it = controls_.begin(); it != controls_.end();) {
    if (std::find(controls.begin(), controls.end(), it->first) != controls.end()) {
      ++it;
      continue;
    }
    if (it->second) it->second.release()->deleteLater();
    it = controls_.erase(it);
  }
  for (Control* control : controls) {
    ControlMirror* mirror = controls_[control].get();
    if (!mirror) continue;
    float left = control->left(), top = control->top();
    QWidget* parent = parentFor(*control, left, top);
    mirror->place(parent, pixelRect(left, top, control->width(), control->height()));
    mirror->apply();
  }
}

QWidget* FormMirror::parentFor(const Control& control, float& left, float& top) const {
  if (Control* box = control.container()) {
    ControlMirror* mirror = controlMirror(*box);
    return mirror ? mirror->clientArea() : window_.data();
  }
  // A frame laid over a tab strip is one of its pages: it sits in the strip's
  // page area, below the row of tabs.
  if (dynamic_cast<const Frame*>(&control)) {
    for (Control* other : form_.controls()) {
      auto* strip = dynamic_cast<TabStrip*>(other);
      if (!strip || left < strip->left() || top < strip->top() || left >= strip->left() + strip->width() ||
          top >= strip->top() + strip->height())
        continue;
      if (ControlMirror* mirror = controlMirror(*strip)) {
        left -= strip->left();
        top -= strip->top();
        return mirror->clientArea();
      }
    }
  }
  return window_;
}

void FormMirror::applyMenuBar() {
  std::set<const Control*> items;
  std::function<void(const Menu&)> collect = [&](const Menu& menu) {
    for (const auto& item : menu.items()) {
      items.insert(item.get());
      collect(*item);
    }
  };
  for (Control* control : form_.controls())
    if (auto* menu = dynamic_cast<Menu*>(control)) collect(*menu);
  std::vector<Menu*> bar;
  std::string signature;
  for (Control* control : form_.controls()) {
    auto* menu = dynamic_cast<Menu*>(control);
    if (!menu || items.count(menu) || !menu->visible()) continue;
    bar.push_back(menu);
    signature += menuSignature(*menu);
  }
  if (signature != menuSignature_) {
    menuSignature_ = signature;
    if (menuBar_) {
      menuBar_->hide();
      menuBar_->deleteLater();
    }
    if (bar.empty()) return;
    menuBar_ = new QMenuBar(window_);
    auto chosen = [this](Menu& item) {
      Menu* picked = &item;
      dispatch([picked] { picked->userClick(); });
    };
    for (Menu* menu : bar) {
      const QString caption = QString::fromStdString(menu->caption());
      if (menu->items().empty()) {
        QAction* action = menuBar_->addAction(caption);
        action->setEnabled(menu->enabled());
        connect(action, &QAction::triggered, this, [chosen, menu] { chosen(*menu); });
      } else {
        QMenu* sub = menuBar_->addMenu(caption);
        sub->setEnabled(menu->enabled());
        fillMenu(*sub, *menu, chosen);
      }
    }
    menuBar_->show();
  }
  if (menuBar_) menuBar_->setGeometry(0, 0, window_->width(), menuBar_->sizeHint().height());
}

QRect FormMirror::clientRect() const {
  const QMargins insets = loop_.insets(form_);
  const QRect outer = pixelRect(form_.left(), form_.top(), form_.width(), form_.height());
  return {outer.x() + insets.left(), outer.y() + insets.top(), std::max(0, toPixels(form_.scaleWidth())),
          std::max(0, toPixels(form_.scaleHeight()))};
}

void FormMirror::applyGeometryAndState() {
  const int minimum = appliedFlags_ ? minimumClientWidth(*appliedFlags_, loop_.insets(form_)) : 0;
  // A window narrower than this is widened by the window system, and the
  // form reads the width back as any size the window system imposes.
  if (window_->minimumWidth() != minimum) window_->setMinimumWidth(minimum);
  const int state = form_.windowState();
  if (state == windowState::Normal) {
    const QRect rect = clientRect();
    if (rect != asked_) ask(rect);
  }
  const Qt::WindowStates want = state == windowState::Minimized   ? Qt::WindowMinimized
                                : state == windowState::Maximized ? Qt::WindowMaximized
                                                                  : Qt::WindowNoState;
  if ((window_->windowState() & kStateMask) != want) window_->setWindowState(want);

  if (form_.visible()) {
    if (!window_->isVisible()) {
      window_->setAttribute(Qt::WA_ShowWithoutActivating, isPalette(form_) || platform().activeForm() != &form_);
      // What the window manager answered before the window went is
      // delivered before it is mapped again: only this place is in flight.
      requests_.clear();
      if (!asked_.isNull()) requests_.ask(asked_);
      reframing_ = false;
      mapping_ = true;
      window_->winId();  // the window system's window, before it is mapped
      if (isBackdrop(form_)) {
        x11::setRole(*window_->windowHandle(), x11::Role::Backdrop);
        x11::keepOffTaskBar(*window_->windowHandle());
      }
      if (isPalette(form_)) x11::setRole(*window_->windowHandle(), x11::Role::Palette);
      window_->show();
      loop_.noteVisibilityChange();
    }
  } else if (window_->isVisible()) {
    window_->hide();
    loop_.noteVisibilityChange();
  }
  watchHandle();
}

void FormMirror::ask(const QRect& rect) {
  asked_ = rect;
  requests_.ask(rect);
  window_->setGeometry(rect);
}

bool FormMirror::mapped() const {
  const QWindow* handle = window_ ? window_->windowHandle() : nullptr;
  return handle && handle->isExposed();
}

void FormMirror::watchHandle() {
  QWindow* handle = window_->windowHandle();
  if (handle == handle_) return;
  if (handle_) handle_->removeEventFilter(this);
  handle_ = handle;
  if (handle_) handle_->installEventFilter(this);
}

void FormMirror::windowMapped() {
  learnFrame();
  if (!mapping_) return;
  mapping_ = false;
  // Until now X reported the places the window manager passed through while
  // it framed the window; the window's idea of its place may be one of them.
  // The place is asked for again, and what the window manager answers from
  // now on counts.
  if (!asked_.isNull() && form_.windowState() == windowState::Normal && window_->geometry() != asked_) {
    asked_ = QRect();
    loop_.schedule();
  }
}

// ---- Window to kit ----

bool FormMirror::eventFilter(QObject* watched, QEvent* event) {
  if (dead_) return false;
  if (watched == handle_ && watched != window_) {
    // The window system mapped the window, or showed more of it.
    if (event->type() == QEvent::Expose && mapped()) windowMapped();
    return false;
  }
  if (watched != window_) return false;
  switch (event->type()) {
    case QEvent::Close: {
      // The kit decides: its QueryUnload may cancel; an unload retires the window.
      event->ignore();
      if (!loop_.applying()) {
        Form& form = form_;
        dispatch([&form] { form.userClose(); });
      }
      return true;
    }
    case QEvent::Move:
    case QEvent::Resize:
      learnFrame();
      takeGeometry(true);
      return false;
    case QEvent::Show:
    case QEvent::Paint:  // by the first paint the window manager has framed the window
      learnFrame();
      return false;
    case QEvent::WindowActivate:
      loop_.windowActivated(*this);
      return false;
    case QEvent::WindowStateChange:
      takeWindowState();
      return false;
    default:
      return false;
  }
}

void FormMirror::reconcile() {
  learnFrame();
  takeGeometry(false);
}

void FormMirror::learnFrame() {
  if (dead_ || !form_.framed() || !window_->isVisible()) return;
  // Until the window is mapped the window manager is still building the
  // frame; while it frames a mapped window anew, the frame is half built.
  if (!mapped() || reframing_ || !appliedFlags_ || (*appliedFlags_ & Qt::FramelessWindowHint)) return;
  // A maximised or minimised window has another frame, or none; a window
  // on its way to another place may be read half moved.
  if (form_.windowState() != windowState::Normal || (window_->windowState() & kStateMask) ||
      window_->geometry() != asked_)
    return;
  if (const auto insets = builtFrame(window_->windowHandle()->frameMargins())) loop_.learnFrame(form_, *insets);
}

void FormMirror::takeGeometry(bool reported) {
  if (form_.windowState() == windowState::Maximized) return takeMaximisedSize();
  if (dead_ || loop_.applying() || form_.windowState() != windowState::Normal || !window_->isVisible() ||
      asked_.isNull())
    return;
  // Before the window is mapped, X reports where the window manager has got
  // to in framing it (a corner at 0,0, say): no place of the window's.
  if (!mapped()) return;
  const QRect now = window_->geometry();
  if (now == asked_) {
    // The answer to the last request: those before it were answered first.
    if (reported) {
      requests_.settle(asked_);
      reframing_ = false;
    }
    return;
  }
  // The window manager on its way to the last request.
  std::optional<QPoint> frameOffset;
  if (reframing_) {
    const QMargins insets = loop_.frameInsets(form_);
    frameOffset = QPoint(insets.left(), insets.top());
  }
  if (requests_.answering(now, frameOffset)) return;
  // A place the window manager imposed, or the user's.
  requests_.settle(now);
  reframing_ = false;
  const QRect before = asked_;
  asked_ = now;
  const QMargins insets = loop_.insets(form_);
  const float left = toTwips(now.x() - insets.left()), top = toTwips(now.y() - insets.top());
  const float width = toTwips(now.width()) + form_.frameWidth();
  const float height = toTwips(now.height()) + form_.frameHeight();
  const bool moved = now.topLeft() != before.topLeft(), sized = now.size() != before.size();
  Form& form = form_;
  dispatch([&form, moved, sized, left, top, width, height] {
    if (moved) form.userMove(left, top);
    if (sized) form.userResize(width, height);
  });
}

void FormMirror::takeMaximisedSize() {
  // The window manager gives a maximised window the work area, less the
  // frame it keeps: the form's client area is what the window has.
  if (dead_ || loop_.applying() || !window_->isVisible() || !mapped()) return;
  if (!(window_->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) return;
  const float width = toTwips(window_->width()) + form_.frameWidth();
  const float height = toTwips(window_->height()) + form_.frameHeight();
  if (width == form_.width() && height == form_.height()) return;
  Form& form = form_;
  dispatch([&form, width, height] {
    if (form.windowState() == windowState::Maximized) form.userResize(width, height);
  });
}

void FormMirror::takeWindowState() {
  if (dead_ || loop_.applying()) return;
  const Qt::WindowStates now = window_->windowState();
  const int state = (now & Qt::WindowMinimized)                            ? windowState::Minimized
                    : (now & (Qt::WindowMaximized | Qt::WindowFullScreen)) ? windowState::Maximized
                                                                           : windowState::Normal;
  if (state == form_.windowState()) return;
  if (state == windowState::Maximized && isPalette(form_)) {
    // A floating palette is never maximised: the window goes back to its place.
    window_->setWindowState(now & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
    asked_ = QRect();
    loop_.schedule();
    return;
  }
  Form& form = form_;
  const int before = form_.windowState();
  dispatch([&form, state, before] {
    if (state == windowState::Normal && before == windowState::Minimized)
      form.userActivate();  // restoring a minimised window activates it
    else
      form.setWindowState(state);
  });
}

// ---- Lookups ----

void FormMirror::setFastPaint(bool fast) {
  for (auto& [control, mirror] : controls_)
    if (mirror) mirror->setFastPaint(fast);
}

bool FormMirror::editsText(const QWidget* widget) const {
  for (const auto& [control, mirror] : controls_) {
    if (!mirror || !mirror->editsText() || !mirror->widget()) continue;
    if (mirror->widget() == widget || mirror->widget()->isAncestorOf(widget)) return true;
  }
  return false;
}

ControlMirror* FormMirror::controlMirror(const Control& control) const {
  auto it = controls_.find(const_cast<Control*>(&control));
  return it == controls_.end() ? nullptr : it->second.get();
}

}  // namespace kit::qt
