#include "kit/picture_prefetch.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <exception>
#include <new>

#include "kit/picture_impl.h"

namespace kit {

PrefetchCache& PrefetchCache::shared() {
  // Made after the budget, so gone before it: its pictures leave the budget at exit.
  PictureMemory::shared();
  static PrefetchCache cache;
  return cache;
}

std::int64_t PrefetchCache::cap() { return PictureMemory::shared().budget() / 8; }

std::optional<PrefetchCache::Stamp> PrefetchCache::stampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return Stamp{static_cast<std::int64_t>(st.st_size),
               static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::int64_t PrefetchCache::bytes() const {
  std::int64_t sum = 0;
  for (const Entry& e : entries_) sum += e.bytes;
  return sum;
}

void PrefetchCache::prefetch(const std::string& path, ShownSize shownFor, const std::shared_ptr<Picture>& shownFirst) {
  if (shownFirst && shownFirst->impl().decoding()) {
    shownFirst_ = shownFirst;
    waiting_.push_back(Request{path, std::move(shownFor)});
    return;
  }
  start(path, shownFor);
}

void PrefetchCache::resume() {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return startWaiting();
  // The view's paint of what arrived starts them; this is for a view that
  // does not paint (hidden, minimised).
  QTimer::singleShot(kPaintWait, app, startWaitingUnlessReopened());
}

void PrefetchCache::painted() {
  if (waiting_.empty()) return;
  // After the paint has reached the screen: the frame the user waits for
  // does not share the processor with the guesses' headers and decodes.
  if (QCoreApplication* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(app, startWaitingUnlessReopened(), Qt::QueuedConnection);
}

std::function<void()> PrefetchCache::startWaitingUnlessReopened() {
  return [this, generation = generation_] {
    if (generation == generation_) startWaiting();
  };
}

void PrefetchCache::startWaiting() {
  if (waiting_.empty()) return;
  if (const std::shared_ptr<Picture> first = shownFirst_.lock(); first && first->impl().decoding()) return;
  const std::vector<Request> requests = std::move(waiting_);
  waiting_.clear();
  for (const Request& r : requests) start(r.path, r.shownFor);
}

void PrefetchCache::start(const std::string& path, const ShownSize& shownFor) {
  // Taken before the header is read: a file changed after this is stale at the take.
  const std::optional<Stamp> stamp = stampOf(path);
  if (!stamp) return;
  try {
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.path == path; });
    std::shared_ptr<Picture> picture;
    if (it != entries_.end() && it->stamp == *stamp) picture = it->picture;
    if (it != entries_.end()) entries_.erase(it);
    if (!picture) picture = Picture::open(path);
    const QSize shown = shownFor(*picture).boundedTo(QSize(picture->widthPixels(), picture->heightPixels()));
    // What would not fit the cache's share is not decoded at all.
    if (static_cast<std::int64_t>(shown.width()) * shown.height() * 4 > cap()) return;
    const std::int64_t bytes = picture->impl().prefetch(shown);
    if (bytes <= 0) return;
    entries_.push_front(Entry{path, *stamp, bytes, std::move(picture)});
    trim();
  } catch (const std::bad_alloc&) {
  } catch (const std::exception&) {
    // Not opened or not decoded now: the open that asks for it says why.
  }
}

std::shared_ptr<Picture> PrefetchCache::take(const std::string& path) {
  waiting_.clear();  // the neighbours of the picture shown before
  ++generation_;
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.path == path; });
  std::shared_ptr<Picture> picture;
  if (it != entries_.end()) {
    if (it->stamp == stampOf(path)) picture = std::move(it->picture);
    entries_.erase(it);
  }
  if (!picture) {
    // A jump elsewhere: its decode must not queue behind guesses.
    entries_.remove_if([](const Entry& e) { return e.picture->impl().decoding(); });
  }
  return picture;
}

void PrefetchCache::trim() {
  std::int64_t total = bytes();
  while (!entries_.empty() && (entries_.size() > kEntries || total > cap())) {
    total -= entries_.back().bytes;
    entries_.pop_back();  // the picture cancels its decode and leaves the budget
  }
}

}  // namespace kit
