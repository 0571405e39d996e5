#include "kit/picture_tiles.h"

namespace kit {

std::shared_ptr<TileCache> TileCache::shared() {
  static const std::shared_ptr<TileCache> cache = std::make_shared<TileCache>(kSharedBudget);
  return cache;
}

QImage TileCache::find(const TileKey& key) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto it = tiles_.find(key);
  if (it == tiles_.end()) return {};
  uses_.splice(uses_.begin(), uses_, it->second.use);
  return it->second.tile;
}

void TileCache::insert(const TileKey& key, QImage tile, const std::atomic<bool>* cancelled) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (cancelled != nullptr && cancelled->load()) return;
  const auto it = tiles_.find(key);
  if (it != tiles_.end()) {
    bytes_ -= it->second.tile.sizeInBytes();
    uses_.erase(it->second.use);
    tiles_.erase(it);
  }
  bytes_ += tile.sizeInBytes();
  uses_.push_front(key);
  tiles_.emplace(key, Entry{std::move(tile), uses_.begin()});
  evictLocked();
}

void TileCache::evictLocked() {
  // The tile just added stays, whatever its size.
  while (bytes_ > budget_ && uses_.size() > 1) {
    const auto it = tiles_.find(uses_.back());
    bytes_ -= it->second.tile.sizeInBytes();
    tiles_.erase(it);
    uses_.pop_back();
  }
}

void TileCache::drop(std::uint64_t owner) {
  const std::lock_guard<std::mutex> lock(mutex_);
  auto it = tiles_.lower_bound(TileKey{owner, 0, 0, 0});
  while (it != tiles_.end() && it->first.owner == owner) {
    bytes_ -= it->second.tile.sizeInBytes();
    uses_.erase(it->second.use);
    it = tiles_.erase(it);
  }
}

std::int64_t TileCache::bytes() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

std::int64_t TileCache::bytes(std::uint64_t owner) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::int64_t total = 0;
  for (auto it = tiles_.lower_bound(TileKey{owner, 0, 0, 0}); it != tiles_.end() && it->first.owner == owner; ++it)
    total += it->second.tile.sizeInBytes();
  return total;
}

int TileCache::count() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(tiles_.size());
}

}  // namespace kit
