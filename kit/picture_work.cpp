#include "kit/picture_work.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThreadPool>
#include <algorithm>
#include <new>

#include "kit/picture_messages.h"

namespace kit {

namespace {

QThreadPool& workers() {
  static QThreadPool pool;
  static const bool configured = [] {
    // One decode may run while the next is asked for; other cores stay with the UI.
    pool.setMaxThreadCount(kDecodeWorkers);
    return true;
  }();
  (void)configured;
  return pool;
}

std::atomic<DecodeWaiting> waiting{DecodeWaiting::Always};

}  // namespace

// ---- tasks ----

void DecodeTask::start(const std::shared_ptr<DecodeTask>& task, std::function<void()> delivered) {
  workers().start([task, delivered = std::move(delivered)] {
    task->run();
    QCoreApplication* app = QCoreApplication::instance();
    if (app != nullptr && delivered) QMetaObject::invokeMethod(app, delivered, Qt::QueuedConnection);
  });
}

void DecodeTask::run() {
  DecodeResult result;
  if (cancelled_) {
    result.error = "The decode was cancelled";
  } else {
    try {
      result = work_(cancelled_);
    } catch (const std::bad_alloc&) {
      result = DecodeResult{QImage(), false, kOutOfMemory};
    } catch (const std::exception& e) {
      result = DecodeResult{QImage(), false, e.what()};
    }
  }
  work_ = nullptr;  // what the work captured goes now, on this thread
  const std::lock_guard<std::mutex> lock(mutex_);
  result_ = std::move(result);
  finished_ = true;
  finishedSignal_.notify_all();
}

bool DecodeTask::waitFor(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return finishedSignal_.wait_for(lock, limit, [this] { return finished_; });
}

void DecodeTask::wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  finishedSignal_.wait(lock, [this] { return finished_; });
}

DecodeResult DecodeTask::take() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return std::move(result_);
}

void setDecodeWaiting(DecodeWaiting w) { waiting = w; }

DecodeWaiting decodeWaiting() { return waiting; }

// ---- the shared budget ----

PictureMemory& PictureMemory::shared() {
  static PictureMemory memory;
  return memory;
}

void PictureMemory::setBudget(std::int64_t bytes) { budget_ = std::max<std::int64_t>(bytes, 1); }

std::list<PictureMemory::Entry>::iterator PictureMemory::find(MemoryHolder& holder) {
  return std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.holder == &holder; });
}

void PictureMemory::shown(MemoryHolder& holder) {
  auto it = find(holder);
  if (it == entries_.end())
    entries_.push_front({&holder, 0});
  else
    entries_.splice(entries_.begin(), entries_, it);
}

void PictureMemory::hold(MemoryHolder& holder, std::int64_t bytes) {
  shown(holder);
  entries_.front().bytes = bytes;
  fit(holder, 0);
}

void PictureMemory::makeRoom(MemoryHolder& holder, std::int64_t bytes) {
  shown(holder);
  fit(holder, bytes);
}

void PictureMemory::fit(MemoryHolder& keep, std::int64_t extra) {
  // Oldest first; a holder's release may not touch the list.
  for (auto it = entries_.end(); it != entries_.begin() && total() + extra > budget_;) {
    --it;
    if (it->holder == &keep || it->bytes == 0) continue;
    MemoryHolder* holder = it->holder;
    it->bytes = 0;
    holder->releasePixels();
  }
}

void PictureMemory::forget(MemoryHolder& holder) {
  auto it = find(holder);
  if (it != entries_.end()) entries_.erase(it);
}

std::int64_t PictureMemory::total() const {
  std::int64_t sum = 0;
  for (const Entry& e : entries_) sum += e.bytes;
  return sum;
}

}  // namespace kit
