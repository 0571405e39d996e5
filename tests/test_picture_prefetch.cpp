// Pictures decoded ahead: served only while their file is unchanged, and few
// of them, within their share of the shared budget.
#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>
#include <filesystem>
#include <functional>

#include "kit/picture_prefetch.h"
#include "tests/picture_test_helpers.h"

namespace {

std::string writePicture(const std::string& path, int side) {
  return picture_test::writeFile(path, picture_test::encode(picture_test::scene(side, side), "png"));
}

QSize natural(const kit::Picture& p) { return QSize(p.widthPixels(), p.heightPixels()); }

TEST(PicturePrefetch, ServesOnlyTheFileItDecoded) {
  namespace fs = std::filesystem;
  const std::pair<const char*, std::function<void(const std::string&)>> changes[] = {
      {"unchanged", nullptr},
      {"rewritten at another size", [](const std::string& p) { writePicture(p, 40); }},
      {"touched", [](const std::string& p) { fs::last_write_time(p, fs::last_write_time(p) + std::chrono::hours(1)); }},
      {"removed", [](const std::string& p) { fs::remove(p); }},
  };
  kit::PrefetchCache& cache = kit::PrefetchCache::shared();
  for (const auto& [name, change] : changes) {
    QTemporaryDir dir;
    const std::string path = writePicture(dir.filePath("a.png").toStdString(), 64);
    cache.prefetch(path, [](const kit::Picture&) { return QSize(32, 32); });
    ASSERT_EQ(cache.size(), 1u) << name;
    if (change) change(path);
    const std::shared_ptr<kit::Picture> taken = cache.take(path);
    EXPECT_EQ(taken != nullptr, change == nullptr) << name;
    // Decoded ahead at the size asked for (the headless platform waits for it).
    EXPECT_TRUE(!taken || taken->decodedWidth() == 32) << name;
    EXPECT_EQ(cache.size(), 0u) << name;
  }
}

TEST(PicturePrefetch, KeepsTheLatestWithinItsShareOfTheBudget) {
  const picture_test::MemoryBudget budget(8 << 20);  // the cache's share: 1 MB, two of the 360 kB pictures below
  kit::PrefetchCache& cache = kit::PrefetchCache::shared();
  QTemporaryDir dir;
  std::vector<std::string> paths;
  for (int i = 0; i < 4; ++i) paths.push_back(writePicture(dir.filePath(QString("p%1.png").arg(i)).toStdString(), 300));
  for (const std::string& path : paths) cache.prefetch(path, natural);
  EXPECT_EQ(cache.size(), 2u);
  EXPECT_LE(cache.bytes(), kit::PrefetchCache::cap());
  EXPECT_EQ(cache.take(paths[1]), nullptr);  // the older ones went first
  EXPECT_NE(cache.take(paths[3]), nullptr);
  // One picture larger than the share is not kept at all.
  cache.prefetch(writePicture(dir.filePath("big.png").toStdString(), 600), natural);
  EXPECT_EQ(cache.size(), 1u);
  cache.clear();
  EXPECT_LE(kit::PictureMemory::shared().total(), 8 << 20);
}

}  // namespace
