#pragma once
// Pictures decoded before they are asked for. A host that knows which
// pictures come next (the neighbours in its list) names them; each is opened
// (its header read) and decoded for the size it will be shown at, on the
// workers, while the user looks at the current one. The photo window's open
// then takes the prefetched picture when its file is still the one decoded:
// same path, same size in bytes, same modification time (a changed file is
// never served stale, it is opened afresh); a picture shown at another size
// than prefetched shrinks what it holds or decodes again, as any picture does.
//
// The cache is small and bounded: a few entries, their pixels a part of the
// shared picture budget (kit::PictureMemory, which accounts for them like any
// picture's), the least recently asked for dropped first. An open that finds
// nothing cancels the prefetches still under way, so that a jump elsewhere
// in the list gets the workers at once and costs no more than a cold open.
// Used on the UI thread only.
#include <QSize>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/picture.h"

namespace kit {

class PrefetchCache {
 public:
  static PrefetchCache& shared();
  static constexpr std::size_t kEntries = 4;
  // The shown size of a picture, from its header (natural size).
  using ShownSize = std::function<QSize(const Picture&)>;

  // Starts decoding the picture of `path` for the size `shownFor` gives;
  // while `shownFirst` (the picture just opened) is still decoding, once it
  // has arrived: a guess never slows what the user waits for. A file that
  // does not open or is too large to decode whole is left to the open that
  // asks for it (and says why). Never raises.
  void prefetch(const std::string& path, ShownSize shownFor, const std::shared_ptr<Picture>& shownFirst = nullptr);
  // A decode arrived: the prefetches waiting for the shown picture start
  // once a view has painted it (painted()), or after kPaintWait at the latest.
  void resume();
  // A view painted a picture: the prefetches waiting start after this paint.
  void painted();
  static constexpr int kPaintWait = 250;  // ms
  // The prefetched picture of `path`, taken out of the cache, when the file
  // is unchanged since it was prefetched; otherwise null, and the
  // prefetches still decoding are cancelled.
  std::shared_ptr<Picture> take(const std::string& path);

  std::size_t size() const { return entries_.size(); }
  // The bytes the entries hold or are decoding.
  std::int64_t bytes() const;
  // The most they may hold in all: an eighth of the shared budget.
  static std::int64_t cap();
  void clear() {
    entries_.clear();
    waiting_.clear();
    ++generation_;
  }

 private:
  struct Stamp {
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const Stamp& o) const { return size == o.size && modifiedNs == o.modifiedNs; }
  };
  struct Entry {
    std::string path;
    Stamp stamp;
    std::int64_t bytes = 0;  // of the decode asked for
    std::shared_ptr<Picture> picture;
  };
  struct Request {
    std::string path;
    ShownSize shownFor;
  };
  static std::optional<Stamp> stampOf(const std::string& path);
  void start(const std::string& path, const ShownSize& shownFor);
  void startWaiting();
  // startWaiting() for a later call, void once another picture has opened.
  std::function<void()> startWaitingUnlessReopened();
  void trim();

  std::list<Entry> entries_;  // most recently asked for first
  std::vector<Request> waiting_;
  std::weak_ptr<Picture> shownFirst_;
  std::uint64_t generation_ = 0;  // of the opens and drops: queued starts of an older one are void
};

}  // namespace kit
