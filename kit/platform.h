#pragma once
// The platform of the forms layer: the screen, the cursor, the forms
// collection, activation and z-order, the clock that drives all timers,
// message boxes, help requests and pop-up menus. One per process.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kit/platform_numbers.h"

namespace kit {

class Form;
class Menu;
class Timer;

inline constexpr float kTwipsPerPixel = 15.0f;
// The largest coordinate (pixels) a view can take.
inline constexpr double kLargestCoordinate = 16777215;

// Drives the timers. Every enabled timer with a non-zero interval is
// scheduled; the clock raises its tick once per interval.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual void schedule(Timer& timer) = 0;  // (re)starts a full interval
  virtual void cancel(Timer& timer) = 0;
  virtual double now() const = 0;  // milliseconds
};

// The headless clock: time moves only when advance() is called, and the
// ticks that fall due run in time order (ties in the order they were armed).
class VirtualClock : public Clock {
 public:
  void schedule(Timer& timer) override;
  void cancel(Timer& timer) override;
  double now() const override { return now_; }
  void advance(double ms);
  bool scheduled(const Timer& timer) const { return due_.count(const_cast<Timer*>(&timer)) != 0; }

 private:
  struct Due {
    double at;
    uint64_t seq;
  };
  double now_ = 0;
  uint64_t seq_ = 0;
  std::map<Timer*, Due> due_;
};

// What happened on the platform that a host or a test may want to see.
struct PlatformEvent {
  enum class Kind { MessageBox, Help, Popup };
  Kind kind = Kind::MessageBox;
  std::string text;   // message box text
  std::string title;  // message box title
  long flags = 0;     // message box flags
  std::string file;   // help file
  int command = 0;    // help command
  long context = 0;   // help context number
  std::string form;   // pop-up: the form's name
  const Form* target = nullptr;
  std::string menu;  // pop-up: the menu's name
};

// The presentation side of the platform. The headless platform has none;
// the Qt view implements it.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual int messageBox(const std::string& text, const std::string& title, long flags) = 0;
  virtual void htmlHelp(const std::string& file, int command, long data) = 0;
  virtual void popupMenu(Form& form, Menu& menu, float x, float y) = 0;
  virtual void stateChanged() {}
  virtual void cursorChanged() {}
  virtual void formDestroyed(Form&) {}
};

class Platform {
 public:
  Platform();
  ~Platform();

  // Screen, in twips.
  float screenWidth() const { return screenWidth_; }
  float screenHeight() const { return screenHeight_; }
  void setScreenSize(float width, float height);
  int mousePointer() const { return mousePointer_; }
  void setMousePointer(int pointer);

  // The cursor display counter: visible while it is 0 or more.
  int showCursor(bool show);
  int cursorCounter() const { return cursorCounter_; }

  // Loaded forms in load order.
  const std::vector<Form*>& forms() const { return forms_; }
  // Shown forms front to back: the top-most band first.
  const std::vector<Form*>& zOrder() const { return zOrder_; }
  Form* activeForm() const { return active_; }

  Clock& clock() { return *clock_; }
  VirtualClock* virtualClock() { return virtualClock_; }
  void setClock(Clock* clock);  // nullptr: back to the virtual clock

  Backend* backend() const { return backend_; }
  void setBackend(Backend* backend) { backend_ = backend; }

  // Application-modal message box; returns the button pressed (msgbox::Ok, ...).
  int msgBox(const std::string& text, const std::string& title, long flags);
  int modalDepth() const { return modalDepth_; }
  void htmlHelp(const std::string& file, int command, long data);

  std::vector<PlatformEvent> takeEvents();
  const std::vector<PlatformEvent>& events() const { return events_; }

  // The application-wide help file name.
  std::string helpFile;

  // Outer minus client size of a window with these style words: a framed
  // window (all caption bits set) has the extent of its kind, others none.
  struct Extent {
    float width = 0, height = 0;
  };
  Extent frameExtent(long style, long exStyle) const;
  void setFrameExtent(bool toolWindow, Extent extent);

  // Tell the view that state changed.
  void changed();

  // Controls and windows of unloaded forms are kept until the current
  // event has returned, so a handler may unload its own form safely.
  void bury(std::shared_ptr<void> remains) { graveyard_.push_back(std::move(remains)); }
  void collectGarbage();

  // Back to a fresh headless platform (tests).
  void reset();

 private:
  friend class Form;
  friend class Menu;
  void formLoaded(Form& form);
  void formUnloaded(Form& form);
  void formShown(Form& form);
  void formHidden(Form& form);
  void bringToFront(Form& form);
  void sendToBack(Form& form);
  void activate(Form& form);
  void deactivate(Form& form);
  void recordPopup(Form& form, Menu& menu, float x, float y);

  float screenWidth_ = 15360;
  float screenHeight_ = 11520;
  int mousePointer_ = pointer::Default;
  int cursorCounter_ = 0;
  std::vector<Form*> forms_;
  std::vector<Form*> zOrder_;
  Form* active_ = nullptr;
  std::unique_ptr<VirtualClock> ownClock_;
  VirtualClock* virtualClock_ = nullptr;
  Clock* clock_ = nullptr;
  Backend* backend_ = nullptr;
  int modalDepth_ = 0;
  Extent framedExtent_{90, 405};
  Extent toolExtent_{90, 345};
  std::vector<PlatformEvent> events_;
  std::vector<std::shared_ptr<void>> graveyard_;
};

Platform& platform();

// Screen object shorthands.
inline float screenWidth() { return platform().screenWidth(); }
inline float screenHeight() { return platform().screenHeight(); }

// Raise an event through a copy of the handler, so the handler may destroy
// the control that raised it.
template <class F, class... Args>
void raise(const F& handler, Args&&... args) {
  if (!handler) return;
  auto copy = handler;
  copy(std::forward<Args>(args)...);
}

}  // namespace kit
