#include "kit/form.h"

#include <algorithm>
#include <atomic>

#include "korvena/RuntimeError.h"

namespace kit {

namespace {
long nextHandle() {
  static long next = 0x100;
  return next += 4;
}
}  // namespace

// ---- Control ----

Control::Control(Form& owner, std::string name, int index) : owner_(owner), name_(std::move(name)), index_(index) {
  owner_.registerControl(this);
}

Control::~Control() { owner_.unregisterControl(this); }

std::string Control::fullName() const { return index_ < 0 ? name_ : name_ + "(" + std::to_string(index_) + ")"; }

void checkSize(float width, float height) {
  if (!(width >= 0) || !(height >= 0))
    throw korvena::RuntimeError(korvena::err::InvalidPropertyValue, "Invalid property value");
}

void Control::move(float left, float top, float width, float height) {
  checkSize(width, height);
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  changed();
}

void Control::setVisible(bool v) {
  if (visible_ == v) return;
  visible_ = v;
  changed();
}

void Control::setEnabled(bool v) {
  if (enabled_ == v) return;
  enabled_ = v;
  changed();
}

void Control::setTag(const std::string& v) { tag_ = v; }

void Control::setFocus() {
  if (!owner_.visible() || !visible_ || !enabled_)
    throw korvena::RuntimeError(korvena::err::InvalidProcedureCall, "Invalid procedure call or argument");
  owner_.setFocusedControl(seen() ? this : nullptr);
  owner_.setFocus();
}

bool Control::hasFocus() const { return owner_.active() && owner_.focusedControl() == this && seen(); }

bool Control::seen() const {
  if (!owner_.visible()) return false;
  // The control's rectangle, clipped by each container in turn, in the
  // coordinates of the container it sits in.
  float l = left_, t = top_, r = left_ + width_, b = top_ + height_;
  for (const Control* c = this;; c = c->container_) {
    if (!c->visible_) return false;
    const Control* box = c->container_;
    const float w = box ? box->width_ : owner_.scaleWidth(), h = box ? box->height_ : owner_.scaleHeight();
    l = std::max(l, 0.0f), t = std::max(t, 0.0f), r = std::min(r, w), b = std::min(b, h);
    if (l >= r || t >= b) return false;
    if (!box) return true;
    l += box->left_, r += box->left_, t += box->top_, b += box->top_;
  }
}

void Control::changed() {
  if (owner_.loaded()) platform().changed();
}

// ---- Form ----

Form::Form(std::string name) : name_(std::move(name)) {}

Form::~Form() {
  if (loaded_) {
    platform().formUnloaded(*this);
    loaded_ = false;
  }
  controls_set_.reset();
  // Buried controls keep a reference to their form: free them while it lives.
  platform().collectGarbage();
}

long Form::styleFor(int borderStyle) {
  switch (borderStyle) {
    case border::None:
      return ws::ClipSiblings;
    case border::FixedSingle:
      return ws::Caption | ws::SysMenu | ws::ClipSiblings;
    case border::FixedDialog:
      return ws::Caption | ws::SysMenu | ws::ClipSiblings | ws::DlgModalFrame;
    case border::FixedToolWindow:
      return ws::Caption | ws::SysMenu | ws::ClipSiblings;
    case border::SizableToolWindow:
      return ws::Caption | ws::SysMenu | ws::ThickFrame | ws::ClipSiblings;
    default:
      return ws::Caption | ws::SysMenu | ws::ThickFrame | ws::MinimizeBox | ws::MaximizeBox | ws::ClipSiblings;
  }
}

long Form::exStyleFor(int borderStyle) {
  switch (borderStyle) {
    case border::None:
      return 0;
    case border::FixedDialog:
      return ws::ExDlgModalFrame | ws::ExWindowEdge;
    case border::FixedToolWindow:
    case border::SizableToolWindow:
      return ws::ExToolWindow | ws::ExWindowEdge;
    default:
      return ws::ExWindowEdge;
  }
}

void Form::load() {
  if (loaded_) return;
  loaded_ = true;
  hwnd_ = nextHandle();
  borderStyle_ = design.borderStyle;
  style_ = styleFor(borderStyle_);
  exStyle_ = exStyleFor(borderStyle_);
  topmost_ = false;
  windowState_ = windowState::Normal;
  visible_ = false;
  tag_.clear();
  caption_ = design.caption;
  keyPreview_ = design.keyPreview;
  helpContextId_ = design.helpContextId;
  left_ = design.left;
  top_ = design.top;
  width_ = design.width;
  height_ = design.height;
  focused_ = nullptr;
  controls_set_ = std::shared_ptr<ControlSet>(createControls());
  platform().formLoaded(*this);
  try {
    Form_Load();
  } catch (...) {
    // A load handler that fails leaves the form unloaded, not half set up:
    // the next use loads it afresh and runs the whole handler again.
    visible_ = false;
    loaded_ = false;
    hwnd_ = 0;
    focused_ = nullptr;
    platform().formUnloaded(*this);
    platform().bury(std::move(controls_set_));
    throw;
  }
}

bool Form::unload(int unloadMode) {
  if (!loaded_) return true;
  int cancel = 0;
  Form_QueryUnload(cancel, unloadMode);
  if (cancel != 0 || !loaded_) return !loaded_;
  Form_Unload(cancel);
  if (cancel != 0 || !loaded_) return !loaded_;
  visible_ = false;
  loaded_ = false;
  hwnd_ = 0;
  focused_ = nullptr;
  platform().formUnloaded(*this);
  // The controls go to the graveyard: a handler of one of them may be running.
  platform().bury(std::move(controls_set_));
  return true;
}

void Form::show() {
  load();
  if (!visible_) {
    visible_ = true;
  }
  const bool palette = topmost_ && (exStyle_ & ws::ExToolWindow);
  // A palette shown by code floats in sight: a minimised one is restored.
  if (palette && windowState_ == windowState::Minimized) setWindowState(windowState::Normal);
  platform().formShown(*this);
  if (!palette && windowState_ != windowState::Minimized) platform().activate(*this);
}

void Form::showWithoutActivating() {
  load();
  visible_ = true;
  platform().formShown(*this);
}

void Form::hide() {
  if (!loaded_) load();
  if (!visible_) return;
  visible_ = false;
  platform().formHidden(*this);
}

void Form::setFocus() {
  if (!loaded_ || !visible_)
    throw korvena::RuntimeError(korvena::err::InvalidProcedureCall, "Invalid procedure call or argument");
  platform().bringToFront(*this);
  platform().activate(*this);
}

void Form::zOrder(int pos) {
  load();
  if (pos == zorder::Front)
    platform().bringToFront(*this);
  else
    platform().sendToBack(*this);
}

bool Form::active() const { return platform().activeForm() == this; }

void Form::setTopmost(bool v) {
  if (topmost_ == v) return;
  topmost_ = v;
  if (visible_) platform().bringToFront(*this);
  platform().changed();
}

void Form::move(float left, float top) { move(left, top, placed().width, placed().height); }

void Form::move(float left, float top, float width, float height) {
  checkSize(width, height);
  load();
  if (windowState_ != windowState::Normal) {
    restoreLeft_ = left;
    restoreTop_ = top;
    restoreWidth_ = width;
    restoreHeight_ = height;
    platform().changed();
    return;
  }
  applyGeometry(left, top, width, height, true);
}

void Form::applyGeometry(float left, float top, float width, float height, bool raiseResize) {
  const float oldW = scaleWidth(), oldH = scaleHeight();
  const bool sized = width != width_ || height != height_;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  if (windowState_ == windowState::Normal) {
    restoreLeft_ = left;
    restoreTop_ = top;
    restoreWidth_ = width;
    restoreHeight_ = height;
  }
  platform().changed();
  if (raiseResize && (sized || oldW != scaleWidth() || oldH != scaleHeight())) Form_Resize();
}

float Form::frameWidth() const { return platform().frameExtent(style_, exStyle_).width; }
float Form::frameHeight() const { return platform().frameExtent(style_, exStyle_).height; }
float Form::scaleWidth() const { return std::max(0.0f, width_ - frameWidth()); }
float Form::scaleHeight() const { return std::max(0.0f, height_ - frameHeight()); }

void Form::setStyle(long v) {
  const float oldW = scaleWidth(), oldH = scaleHeight();
  style_ = v;
  platform().changed();
  if (loaded_ && (oldW != scaleWidth() || oldH != scaleHeight())) Form_Resize();
}

void Form::setExStyle(long v) {
  const float oldW = scaleWidth(), oldH = scaleHeight();
  exStyle_ = v;
  platform().changed();
  if (loaded_ && (oldW != scaleWidth() || oldH != scaleHeight())) Form_Resize();
}

void Form::setWindowState(int state) {
  load();
  if (state == windowState_) return;
  const int old = windowState_;
  windowState_ = state;
  if (state == windowState::Maximized) {
    if (old == windowState::Normal) {
      restoreLeft_ = left_;
      restoreTop_ = top_;
      restoreWidth_ = width_;
      restoreHeight_ = height_;
    }
    left_ = 0;
    top_ = 0;
    width_ = platform().screenWidth();
    height_ = platform().screenHeight();
  } else if (state == windowState::Normal) {
    left_ = restoreLeft_;
    top_ = restoreTop_;
    width_ = restoreWidth_;
    height_ = restoreHeight_;
  }
  if (state == windowState::Minimized) platform().deactivate(*this);
  platform().changed();
  Form_Resize();
}

void Form::setTag(const std::string& v) {
  load();
  tag_ = v;
}

void Form::setCaption(const std::string& v) {
  load();
  caption_ = v;
  platform().changed();
}

void Form::popupMenu(Menu& menu, float x, float y) { platform().recordPopup(*this, menu, x, y); }

Control* Form::findControl(const std::string& name, int index) const {
  for (Control* c : controls_)
    if (c->name() == name && c->index() == index) return c;
  return nullptr;
}

void Form::registerControl(Control* control) { controls_.push_back(control); }

void Form::unregisterControl(Control* control) {
  controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
  if (focused_ == control) focused_ = nullptr;
}

void Form::userActivate() {
  if (!loaded_ || !visible_) return;
  if (windowState_ == windowState::Minimized) setWindowState(windowState::Normal);
  platform().bringToFront(*this);
  platform().activate(*this);
}

void Form::userResize(float width, float height) {
  if (!loaded_) return;
  applyGeometry(left_, top_, width, height, true);
}

void Form::userMove(float left, float top) {
  if (!loaded_) return;
  applyGeometry(left, top, width_, height_, false);
}

void Form::userKeyDown(int keyCode, int shift) {
  if (!loaded_) return;
  if (keyPreview_) Form_KeyDown(keyCode, shift);
  if (keyCode == key::None || !loaded_) return;
  Control* focused = focused_ && focused_->seen() ? focused_ : nullptr;
  if (focused && focused->onKeyDown)
    raise(focused->onKeyDown, keyCode, shift);
  else if (!keyPreview_)
    Form_KeyDown(keyCode, shift);
}

void Form::userKeyPress(int keyAscii) {
  if (!loaded_) return;
  if (keyPreview_) Form_KeyPress(keyAscii);
  if (keyAscii == ascii::None || !loaded_) return;
  Control* focused = focused_ && focused_->seen() ? focused_ : nullptr;
  if (focused && focused->onKeyPress)
    raise(focused->onKeyPress, keyAscii);
  else if (!keyPreview_)
    Form_KeyPress(keyAscii);
}

bool isFormLoaded(const std::string& name) {
  for (Form* f : platform().forms())
    if (f->name() == name) return true;
  return false;
}

}  // namespace kit
