#pragma once
// The real clock of the Qt view: one QTimer per running kit timer. A tick is
// delivered like a user event; no tick is delivered while a message box is
// open, and a timer with interval 0 is never started.
#include <QElapsedTimer>
#include <QObject>
#include <functional>
#include <unordered_map>

#include "kit/controls.h"

class QTimer;

namespace kit::qt {

class QtClock : public Clock {
 public:
  using Runner = std::function<void(const std::function<void()>&)>;
  explicit QtClock(Runner run);
  ~QtClock() override;

  void schedule(Timer& timer) override;
  void cancel(Timer& timer) override;
  double now() const override;

  bool scheduled(const Timer& timer) const { return timers_.count(const_cast<Timer*>(&timer)) != 0; }
  // Drops every timer without touching the kit's (they may be gone after a
  // platform reset).
  void forget();
  // The application object is gone: stop using Qt at all.
  void abandon();

 private:
  void fire(Timer* timer);

  Runner run_;
  QObject owner_;  // parent of the QTimers
  std::unordered_map<Timer*, QTimer*> timers_;
  QElapsedTimer elapsed_;
  bool abandoned_ = false;
};

// Moves the running timers of every loaded form from one clock to another.
void moveTimers(Clock& from, Clock& to);

}  // namespace kit::qt
