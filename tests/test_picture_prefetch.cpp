// Pictures decoded ahead: served only while their file is unchanged, and few
// of them, within their share of the shared budget.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QTemporaryDir>
#include <filesystem>
#include <functional>

#include "kit/picture_prefetch.h"
#include "tests/picture_test_helpers.h"

namespace {

std::string writePicture(const QTemporaryDir& dir, const QString& name, int side) {
  QImage image(side, side, QImage::Format_RGB32);
  image.fill(QColor(40, 90, 160));
  return picture_test::writeFile(dir.filePath(name).toStdString(), picture_test::encode(image, "png"));
}

QSize natural(const kit::Picture& p) { return QSize(p.widthPixels(), p.heightPixels()); }

TEST(PicturePrefetch, ServesOnlyTheFileItDecoded) {
  namespace fs = std::filesystem;
  const std::pair<const char*, std::function<void(const QTemporaryDir&, const std::string&)>> changes[] = {
      {"unchanged", nullptr},
      {"rewritten at another size", [](const QTemporaryDir& d, const std::string&) { writePicture(d, "a.png", 40); }},
      {"touched",
       [](const QTemporaryDir&, const std::string& p) {
         fs::last_write_time(p, fs::last_write_time(p) + std::chrono::seconds(2));
       }},
      {"removed", [](const QTemporaryDir&, const std::string& p) { fs::remove(p); }},
  };
  kit::PrefetchCache& cache = kit::PrefetchCache::shared();
  for (const auto& [name, change] : changes) {
    QTemporaryDir dir;
    const std::string path = writePicture(dir, "a.png", 64);
    cache.prefetch(path, [](const kit::Picture&) { return QSize(32, 32); });
    ASSERT_EQ(cache.size(), 1u) << name;
    if (change) change(dir, path);
    const std::shared_ptr<kit::Picture> taken = cache.take(path);
    EXPECT_EQ(taken != nullptr, change == nullptr) << name;
    // Decoded ahead at the size asked for (the headless platform waits for it).
    EXPECT_TRUE(!taken || taken->decodedWidth() == 32) << name;
    EXPECT_EQ(cache.size(), 0u) << name;
  }
}

TEST(PicturePrefetch, KeepsTheLatestWithinItsShareOfTheBudget) {
  const picture_test::MemoryBudget budget(8 << 20);  // the cache's share: 1 MB
  kit::PrefetchCache& cache = kit::PrefetchCache::shared();
  QTemporaryDir dir;
  std::vector<std::string> paths;
  for (int i = 0; i < 4; ++i) paths.push_back(writePicture(dir, QString("p%1.png").arg(i), 300));  // 360 kB each
  for (const std::string& path : paths) cache.prefetch(path, natural);
  EXPECT_EQ(cache.size(), 2u);
  EXPECT_LE(cache.bytes(), kit::PrefetchCache::cap());
  EXPECT_EQ(cache.take(paths[1]), nullptr);  // the older ones went first
  EXPECT_NE(cache.take(paths[3]), nullptr);
  // One picture larger than the share is not kept at all.
  cache.prefetch(writePicture(dir, "big.png", 600), natural);
  EXPECT_EQ(cache.size(), 1u);
  cache.clear();
  EXPECT_LE(kit::PictureMemory::shared().total(), 8 << 20);
}

}  // namespace
