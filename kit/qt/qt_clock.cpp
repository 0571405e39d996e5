#include "kit/qt/qt_clock.h"

#include <QTimer>

namespace kit::qt {

QtClock::QtClock(Runner run) : run_(std::move(run)) { elapsed_.start(); }

QtClock::~QtClock() = default;

void QtClock::schedule(Timer& timer) {
  if (abandoned_) return;
  if (timer.interval() <= 0 || !timer.timerEnabled()) {
    cancel(timer);
    return;
  }
  QTimer*& q = timers_[&timer];
  if (!q) {
    q = new QTimer(&owner_);
    Timer* target = &timer;
    QObject::connect(q, &QTimer::timeout, &owner_, [this, target] { fire(target); });
  }
  // To the millisecond: a coarse timer may be 5 % late, 50 ms a second.
  q->setTimerType(Qt::PreciseTimer);
  q->start(static_cast<int>(timer.interval()));
}

void QtClock::cancel(Timer& timer) {
  auto it = timers_.find(&timer);
  if (it == timers_.end()) return;
  QTimer* q = it->second;
  timers_.erase(it);
  if (abandoned_) return;
  q->stop();
  q->deleteLater();  // it may be delivering this very tick
}

double QtClock::now() const { return static_cast<double>(elapsed_.nsecsElapsed()) / 1e6; }

void QtClock::forget() {
  for (auto& [timer, q] : timers_) {
    if (abandoned_) continue;
    q->stop();
    q->deleteLater();
  }
  timers_.clear();
}

void QtClock::abandon() {
  abandoned_ = true;
  timers_.clear();
}

void QtClock::fire(Timer* timer) {
  if (abandoned_) return;
  if (&platform().clock() != this) {
    // The platform was reset and runs on its own clock again.
    forget();
    return;
  }
  if (!timers_.count(timer)) return;
  if (platform().modalDepth() > 0) return;
  run_([timer] { timer->tick(); });
}

void moveTimers(Clock& from, Clock& to) {
  for (Form* form : platform().forms())
    for (Control* control : form->controls())
      if (auto* timer = dynamic_cast<Timer*>(control)) {
        from.cancel(*timer);
        if (timer->timerEnabled() && timer->interval() > 0) to.schedule(*timer);
      }
}

}  // namespace kit::qt
