#include "kit/platform.h"

#include <algorithm>

#include "kit/controls.h"
#include "kit/form.h"

namespace kit {

void VirtualClock::schedule(Timer& timer) { due_[&timer] = Due{now_ + static_cast<double>(timer.interval()), seq_++}; }

void VirtualClock::cancel(Timer& timer) { due_.erase(&timer); }

void VirtualClock::advance(double ms) {
  const double target = now_ + ms;
  for (;;) {
    // While a message box is open no timer ticks; headless boxes close at once.
    auto next = due_.end();
    for (auto it = due_.begin(); it != due_.end(); ++it) {
      if (it->second.at > target) continue;
      if (next == due_.end() || it->second.at < next->second.at ||
          (it->second.at == next->second.at && it->second.seq < next->second.seq))
        next = it;
    }
    if (next == due_.end()) break;
    Timer* timer = next->first;
    now_ = next->second.at;
    // Re-arm before the tick, so the handler may disable or re-time it.
    next->second = Due{now_ + static_cast<double>(timer->interval()), seq_++};
    timer->tick();
    platform().collectGarbage();
  }
  now_ = target;
}

Platform::Platform() { setClock(nullptr); }
Platform::~Platform() = default;

Platform& platform() {
  // Never destroyed: windows held in other static objects reach it while
  // the process exits.
  static Platform* instance = new Platform;
  return *instance;
}

void Platform::setScreenSize(float width, float height) {
  screenWidth_ = width;
  screenHeight_ = height;
  changed();
}

void Platform::setMousePointer(int pointer) {
  mousePointer_ = pointer;
  if (backend_) backend_->cursorChanged();
}

int Platform::showCursor(bool show) {
  cursorCounter_ += show ? 1 : -1;
  if (backend_) backend_->cursorChanged();
  return cursorCounter_;
}

void Platform::setClock(Clock* clock) {
  if (clock) {
    clock_ = clock;
    virtualClock_ = nullptr;
  } else {
    if (!ownClock_) ownClock_ = std::make_unique<VirtualClock>();
    clock_ = ownClock_.get();
    virtualClock_ = ownClock_.get();
  }
}

int Platform::msgBox(const std::string& text, const std::string& title, long flags) {
  PlatformEvent e;
  e.kind = PlatformEvent::Kind::MessageBox;
  e.text = text;
  e.title = title;
  e.flags = flags;
  events_.push_back(e);
  if (!backend_) return msgbox::Ok;
  ++modalDepth_;
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{modalDepth_};
  return backend_->messageBox(text, title, flags);
}

void Platform::htmlHelp(const std::string& file, int command, long data) {
  PlatformEvent e;
  e.kind = PlatformEvent::Kind::Help;
  e.file = file;
  e.command = command;
  e.context = data;
  events_.push_back(e);
  if (backend_) backend_->htmlHelp(file, command, data);
}

void Platform::recordPopup(Form& form, Menu& menu, float x, float y) {
  PlatformEvent e;
  e.kind = PlatformEvent::Kind::Popup;
  e.form = form.name();
  e.target = &form;
  e.menu = menu.name();
  events_.push_back(e);
  if (backend_) backend_->popupMenu(form, menu, x, y);
}

std::vector<PlatformEvent> Platform::takeEvents() {
  std::vector<PlatformEvent> out;
  out.swap(events_);
  return out;
}

Platform::Extent Platform::frameExtent(long style, long exStyle) const {
  if ((style & ws::Caption) != ws::Caption) return {};
  return (exStyle & ws::ExToolWindow) ? toolExtent_ : framedExtent_;
}

void Platform::setFrameExtent(bool toolWindow, Extent extent) { (toolWindow ? toolExtent_ : framedExtent_) = extent; }

void Platform::collectGarbage() {
  // Oldest first; freeing may bury more, which waits for the next round.
  std::vector<std::shared_ptr<void>> dead;
  dead.swap(graveyard_);
  for (auto& d : dead) d.reset();
}

void Platform::changed() {
  if (backend_) backend_->stateChanged();
}

void Platform::formLoaded(Form& form) { forms_.push_back(&form); }

void Platform::formUnloaded(Form& form) {
  formHidden(form);
  forms_.erase(std::remove(forms_.begin(), forms_.end(), &form), forms_.end());
  if (backend_) backend_->formDestroyed(form);
}

void Platform::formShown(Form& form) {
  if (std::find(zOrder_.begin(), zOrder_.end(), &form) == zOrder_.end()) zOrder_.push_back(&form);
  bringToFront(form);
}

void Platform::formHidden(Form& form) {
  zOrder_.erase(std::remove(zOrder_.begin(), zOrder_.end(), &form), zOrder_.end());
  if (active_ == &form) active_ = nullptr;
  changed();
}

void Platform::bringToFront(Form& form) {
  auto it = std::find(zOrder_.begin(), zOrder_.end(), &form);
  if (it == zOrder_.end()) return;
  zOrder_.erase(it);
  auto pos = zOrder_.begin();
  if (!form.topmost()) pos = std::find_if(zOrder_.begin(), zOrder_.end(), [](Form* f) { return !f->topmost(); });
  zOrder_.insert(pos, &form);
  changed();
}

void Platform::sendToBack(Form& form) {
  auto it = std::find(zOrder_.begin(), zOrder_.end(), &form);
  if (it == zOrder_.end()) return;
  zOrder_.erase(it);
  auto pos = zOrder_.end();
  if (form.topmost()) pos = std::find_if(zOrder_.begin(), zOrder_.end(), [](Form* f) { return !f->topmost(); });
  zOrder_.insert(pos, &form);
  changed();
}

void Platform::activate(Form& form) {
  if (active_ == &form) return;
  active_ = &form;
  changed();
  form.Form_Activate();
}

void Platform::deactivate(Form& form) {
  if (active_ == &form) active_ = nullptr;
  changed();
}

void Platform::reset() {
  for (Form* f : std::vector<Form*>(forms_)) f->unload(unloadMode::Code);
  forms_.clear();
  zOrder_.clear();
  active_ = nullptr;
  screenWidth_ = 15360;
  screenHeight_ = 11520;
  mousePointer_ = pointer::Default;
  cursorCounter_ = 0;
  ownClock_ = std::make_unique<VirtualClock>();
  setClock(nullptr);
  backend_ = nullptr;
  modalDepth_ = 0;
  events_.clear();
  graveyard_.clear();
  framedExtent_ = {90, 405};
  toolExtent_ = {90, 345};
  helpFile.clear();
}

}  // namespace kit
