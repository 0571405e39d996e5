#pragma once
// Where pictures decode and how much they may hold.
//
// Decodes are tasks: a function of its inputs only (path, header, sizes: never
// the picture itself) that runs on a worker thread and can be cancelled. The
// picture that started a task takes its result on the UI thread, either by
// waiting for it (the headless platform always waits, so tests and the probe
// see every decode finished when the call returns) or when the worker
// delivers it (the Qt view: it paints what it has meanwhile and repaints on
// delivery). Region decodes, prefetching and other resamplers are more tasks
// of the same kind.
//
// One memory budget holds the decoded pixels of all pictures: when a picture
// takes more, the least recently shown others give theirs back and decode
// again when they are shown.
#include <QImage>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>

namespace kit {

// What a decode gives: pixels, or why there are none.
struct DecodeResult {
  QImage image;
  bool partial = false;  // the file ended early: the rest shows grey
  std::string error;
};

class DecodeTask {
 public:
  using Work = std::function<DecodeResult(const std::atomic<bool>& cancelled)>;
  explicit DecodeTask(Work work) : work_(std::move(work)) {}

  // Runs the work on a worker thread; `delivered` runs on the UI thread once
  // it has finished (when the process has an event loop to run it on).
  static void start(const std::shared_ptr<DecodeTask>& task, std::function<void()> delivered);

  void cancel() { cancelled_ = true; }
  bool cancelled() const { return cancelled_; }
  // Waits up to `limit` for the result; true when it is there.
  bool waitFor(std::chrono::milliseconds limit);
  void wait();
  // The result, once finished (taken once).
  DecodeResult take();

 private:
  void run();

  Work work_;
  std::atomic<bool> cancelled_{false};
  std::mutex mutex_;
  std::condition_variable finishedSignal_;
  bool finished_ = false;
  DecodeResult result_;
};

// Whether the UI thread waits for every decode (the headless platform, the
// default) or only a moment before painting what it has (the Qt view).
enum class DecodeWaiting { Always, Moment };
void setDecodeWaiting(DecodeWaiting waiting);
DecodeWaiting decodeWaiting();
// Decodes that run at once; more wait their turn, first asked first run.
inline constexpr int kDecodeWorkers = 2;
// How long the UI thread waits for a decode before it paints without it.
inline constexpr std::chrono::milliseconds kDecodeMoment{60};

// A holder of decoded pixels in the shared budget.
class MemoryHolder {
 public:
  virtual ~MemoryHolder() = default;
  // Give back the pixels; they are decoded again when shown.
  virtual void releasePixels() = 0;
};

// The budget all pictures' decoded pixels share. Used on the UI thread.
class PictureMemory {
 public:
  static PictureMemory& shared();
  static constexpr std::int64_t kDefaultBudget = 1024LL * 1024 * 1024;

  std::int64_t budget() const { return budget_; }
  void setBudget(std::int64_t bytes);  // tests and hosts with other means
  // The largest single picture held whole, and the largest transient read.
  std::int64_t pictureCap() const { return budget_ / 4; }
  std::int64_t readCap() const { return budget_ / 2; }

  // `holder` now holds `bytes` and was just shown: others least recently
  // shown give theirs back until all fit the budget.
  void hold(MemoryHolder& holder, std::int64_t bytes);
  // Room for a transient `bytes` beside what `holder` and the others hold.
  void makeRoom(MemoryHolder& holder, std::int64_t bytes);
  void shown(MemoryHolder& holder);
  void forget(MemoryHolder& holder);
  std::int64_t total() const;

 private:
  struct Entry {
    MemoryHolder* holder;
    std::int64_t bytes;
  };
  std::list<Entry>::iterator find(MemoryHolder& holder);
  void fit(MemoryHolder& keep, std::int64_t extra);

  std::int64_t budget_ = kDefaultBudget;
  std::list<Entry> entries_;  // most recently shown first
};

}  // namespace kit
