#pragma once
// Tiles of pictures shown at high zoom, decoded on demand and kept in one
// cache for the whole process with a fixed memory budget: the least recently
// used tiles go first. A picture drops its tiles when it goes away.
#include <QImage>
#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

namespace kit {

struct TileKey {
  std::uint64_t owner = 0;  // the picture
  int denominator = 1;      // the decoding scale, 1/denominator
  int column = 0;
  int row = 0;
  bool operator<(const TileKey& o) const {
    return std::tie(owner, denominator, column, row) < std::tie(o.owner, o.denominator, o.column, o.row);
  }
};

class TileCache {
 public:
  explicit TileCache(std::int64_t budgetBytes) : budget_(budgetBytes) {}
  // The cache the pictures share. Pictures keep it alive while they hold tiles.
  static std::shared_ptr<TileCache> shared();
  static constexpr std::int64_t kSharedBudget = 64LL * 1024 * 1024;

  // The tile, made the most recently used; a null image when not held.
  QImage find(const TileKey& key);
  // Adds a tile, then lets go of the least recently used ones over the
  // budget. A tile still being painted lives on until its painter is done.
  // Nothing is added once `cancelled` is set: a picture cancels its decodes
  // before it drops its tiles, so none arrive after.
  void insert(const TileKey& key, QImage tile, const std::atomic<bool>* cancelled = nullptr);
  // Forgets every tile of a picture.
  void drop(std::uint64_t owner);

  std::int64_t budget() const { return budget_; }
  std::int64_t bytes() const;
  std::int64_t bytes(std::uint64_t owner) const;
  int count() const;

 private:
  struct Entry {
    QImage tile;
    std::list<TileKey>::iterator use;
  };
  void evictLocked();

  const std::int64_t budget_;
  mutable std::mutex mutex_;
  std::map<TileKey, Entry> tiles_;
  std::list<TileKey> uses_;  // most recent first
  std::int64_t bytes_ = 0;
};

}  // namespace kit
