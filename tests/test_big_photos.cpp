// Big photos: decoding only what is shown, the EXIF turn on every path,
// truncated and failed decodes, the decoding budget, tiles for pictures over
// it, and the memory a window gives back when it unloads.
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <atomic>
#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "component_fixture.h"
#include "kit/picture.h"
#include "kit/picture_impl.h"
#include "kit/picture_jpeg.h"
#include "kit/picture_tiles.h"
#include "kit/qt/photo_widget.h"
#include "korvena/RuntimeError.h"
#include "picture_test_helpers.h"

namespace {

using picture_test::AllocationLimit;
using picture_test::encode;
using picture_test::meanDifference;
using picture_test::scene;
using picture_test::withExifOrientation;
using picture_test::writeFile;

// Qt's own full read, past any allocation limit in place.
QImage qtRead(const std::string& path) {
  const AllocationLimit lifted(0);
  QImageReader reader(QString::fromStdString(path));
  reader.setAutoTransform(true);
  return reader.read().convertToFormat(QImage::Format_RGB32);
}

// What a view shows of `region` with the picture at `shown`, painted as the
// Qt view paints it: from a picture's pieces, or from a whole image.
template <typename Source>
QImage viewOf(Source&& source, QSize shown, QRect region, bool fast = false) {
  QImage canvas(region.size(), QImage::Format_RGB32);
  canvas.fill(Qt::magenta);
  QPainter painter(&canvas);
  painter.translate(-region.topLeft());
  kit::qt::paintPicture(painter, source, shown, region, fast);
  return canvas;
}

using BigPhotoDecode = picture_test::PictureFiles;

TEST_F(BigPhotoDecode, ShownSizeDecidesThePixelsHeldAndEveryOrientationMatchesQtsReader) {
  const QByteArray plain = encode(scene(160, 96));
  // Orientation 9 stands for a greyscale photo, upright: it becomes RGB.
  for (int orientation = 1; orientation <= 9; ++orientation) {
    SCOPED_TRACE(orientation);
    const std::string path = write("o" + std::to_string(orientation) + ".jpg",
                                   orientation == 9 ? encode(scene(160, 96).convertToFormat(QImage::Format_Grayscale8))
                                                    : withExifOrientation(plain, orientation));
    const QImage reference = qtRead(path);
    const auto picture = kit::Picture::open(path);
    const QSize natural(picture->widthPixels(), picture->heightPixels());
    EXPECT_EQ(natural, reference.size());
    EXPECT_EQ(natural, orientation >= 5 && orientation <= 8 ? QSize(96, 160) : QSize(160, 96));
    EXPECT_EQ(picture->heldBytes(), 0);  // opening reads the header only
    // Below the natural size exactly the shown size; above it the natural size.
    for (const QSize shown : {natural / 3, natural / 8, natural / 2, natural * 2, natural, natural - QSize(1, 1)}) {
      SCOPED_TRACE(shown.width());
      const QSize held = shown.boundedTo(natural);
      ASSERT_TRUE(picture->ensureDecoded(shown.width(), shown.height())) << picture->lastError();
      EXPECT_EQ(QSize(picture->decodedWidth(), picture->decodedHeight()), held);
      EXPECT_FALSE(picture->tiled());
      EXPECT_EQ(picture->heldBytes(), int64_t{held.width()} * held.height() * 4);
      EXPECT_EQ(picture->impl().image.format(), QImage::Format_RGB32);
      const QImage expected = reference.scaled(held, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
      EXPECT_LT(meanDifference(picture->impl().image, expected), held == natural ? 1.0 : 4.0);
    }
  }
}

TEST_F(BigPhotoDecode, PastTheBudgetALoadHalvesAndAShrinkGoesBandByBand) {
  // 1/2 of 1200 x 900 is over the 768 kB budget; 500 x 375 is within it.
  const AllocationLimit limit(1);
  for (const int orientation : {1, 6}) {
    SCOPED_TRACE(orientation);
    const std::string path =
        write("b" + std::to_string(orientation) + ".jpg", withExifOrientation(encode(scene(1200, 900)), orientation));
    const QImage full = qtRead(path);
    const auto picture = kit::Picture::open(path);
    const QSize shown = orientation == 6 ? QSize(375, 500) : QSize(500, 375);
    ASSERT_TRUE(picture->ensureDecoded(shown.width(), shown.height())) << picture->lastError();
    EXPECT_FALSE(picture->tiled());
    EXPECT_EQ(picture->impl().image.size(), shown);
    EXPECT_LT(
        meanDifference(picture->impl().image, full.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)),
        4.0);
  }
  // A load keeps its whole decode within the budget: 1000 x 600 at 1/2.
  const auto loaded = kit::Picture::load(write("a.jpg", withExifOrientation(encode(scene(1000, 600)), 8)));
  EXPECT_EQ(QSize(loaded->widthPixels(), loaded->heightPixels()), QSize(600, 1000));
  EXPECT_EQ(QSize(loaded->decodedWidth(), loaded->decodedHeight()), QSize(300, 500));
}

TEST_F(BigPhotoDecode, ACutFileShowsWhatDecodedAndGreyAfterButAHeaderAloneDoesNotOpen) {
  const QByteArray jpeg = encode(scene(400, 400));
  const std::string whole = write("whole.jpg", jpeg);
  const QImage full = qtRead(whole);
  const auto cut = kit::Picture::open(write("cut.jpg", jpeg.left(jpeg.size() * 55 / 100)));
  ASSERT_TRUE(cut->ensureDecoded(400, 400)) << cut->lastError();
  EXPECT_TRUE(cut->partial());
  const QImage& shown = cut->impl().image;
  EXPECT_LT(meanDifference(shown.copy(0, 0, 400, 100), full.copy(0, 0, 400, 100)), 1.0);
  QImage grey(400, 1, QImage::Format_RGB32);
  grey.fill(qRgb(128, 128, 128));
  EXPECT_LT(meanDifference(shown.copy(0, 399, 400, 1), grey), 2.0);
  ASSERT_TRUE(cut->ensureDecoded(100, 100));  // and at a reduced scale
  EXPECT_TRUE(cut->partial());
  const auto complete = kit::Picture::open(whole);
  ASSERT_TRUE(complete->ensureDecoded(400, 400));
  EXPECT_FALSE(complete->partial());
  // The bytes up to the end of the start-of-scan segment: a header with no data.
  const qsizetype sos = jpeg.indexOf("\xFF\xDA");
  const qsizetype header = sos + 2 + ((static_cast<uint8_t>(jpeg[sos + 2]) << 8) | static_cast<uint8_t>(jpeg[sos + 3]));
  for (const qsizetype length : {qsizetype{3}, qsizetype{60}, header - 3, header}) {
    SCOPED_TRACE(length);
    try {
      kit::Picture::open(write("short.jpg", jpeg.left(length)));
      ADD_FAILURE() << "opened";
    } catch (const korvena::RuntimeError& e) {
      EXPECT_EQ(e.number(), kit::kInvalidPictureError);
      EXPECT_FALSE(e.description().empty());
    }
  }
  // One byte of data is a picture that stops early.
  const auto picture = kit::Picture::open(write("one.jpg", jpeg.left(header + 1)));
  ASSERT_TRUE(picture->ensureDecoded(200, 100));
  EXPECT_TRUE(picture->partial());
}

TEST_F(BigPhotoDecode, AFailedDecodeKeepsThePixelsHeld) {
  const std::string path = write("a.jpg", encode(scene(1000, 600)));
  const auto picture = kit::Picture::open(path);
  ASSERT_TRUE(picture->ensureDecoded(300, 180));
  const QImage before = picture->impl().image;
  // The file goes bad, then turns into another picture: neither decodes.
  for (const QByteArray& now : {QByteArray("no longer a picture"), encode(scene(640, 480))}) {
    write("a.jpg", now);
    EXPECT_FALSE(picture->ensureDecoded(1000, 600));
    EXPECT_FALSE(picture->lastError().empty());
    EXPECT_EQ(picture->impl().image, before);
  }
  EXPECT_EQ(picture->widthPixels(), 1000);
  // A smaller size is made from the pixels held, with no file to read.
  EXPECT_TRUE(picture->ensureDecoded(150, 90));
  EXPECT_EQ(picture->decodedWidth(), 150);
}

TEST_F(BigPhotoDecode, OffTheUiThreadACallerWaitsAMomentAndTheDecodeArrivesLater) {
  const std::string path = write("slow.jpg", encode(scene(600, 400), "jpeg", true));
  const auto picture = kit::Picture::open(path);
  picture_test::BusyWorkers busy;
  // The decode cannot run yet: the caller goes on, nothing is painted.
  EXPECT_TRUE(picture->ensureDecoded(600, 400));
  EXPECT_EQ(picture->decodedWidth(), 0);
  EXPECT_TRUE(viewOf(*picture, QSize(600, 400), QRect(0, 0, 600, 400)).pixel(5, 5) == QColor(Qt::magenta).rgb());
  // A picture let go meanwhile cancels its decode.
  auto other = kit::Picture::open(path);
  EXPECT_TRUE(other->ensureDecoded(300, 200));
  other.reset();
  busy.release();
  for (int moments = 0; moments < 1000 && picture->decodedWidth() == 0; ++moments) picture->ensureDecoded(600, 400);
  EXPECT_EQ(QSize(picture->decodedWidth(), picture->decodedHeight()), QSize(600, 400));
  EXPECT_LT(meanDifference(picture->impl().image, qtRead(path)), 1.0);
}

TEST_F(BigPhotoDecode, ACancelledDecodeStopsSayingSo) {
  const std::string path = write("photo.jpg", encode(scene(64, 48), "jpeg", true));
  kit::jpeg::Header header;
  std::string error;
  ASSERT_TRUE(kit::jpeg::readHeader(path, header, error));
  const std::atomic<bool> cancelled{true};
  const kit::jpeg::Decoded decoded = kit::jpeg::decode(path, header, 1, QRect(), QSize(), 1 << 20, 1 << 20, &cancelled);
  EXPECT_TRUE(decoded.image.isNull());
  EXPECT_EQ(decoded.error, kit::jpeg::kCancelled);
}

// Colour noise as a 4:2:0 JPEG written by libjpeg, with a restart marker every MCU row when asked.
QByteArray noiseJpeg(int width, int height, bool restarts) {
  QImage noise(width, height, QImage::Format_RGB888);
  std::mt19937 random(5);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width * 3; ++x) noise.scanLine(y)[x] = static_cast<uchar>(random());
  return picture_test::libjpegOf(noise, [&](jpeg_compress_struct& cinfo) { cinfo.restart_in_rows = restarts ? 1 : 0; });
}

// Noise: a region whose edge pixels missed their neighbours' colour would show.
TEST_F(BigPhotoDecode, ARegionDecodesAsTheSamePartOfTheWhole) {
  for (const bool restarts : {false, true})
    for (int orientation = 1; orientation <= 8; ++orientation) {
      const std::string path = write("r.jpg", withExifOrientation(noiseJpeg(333, 251, restarts), orientation));
      kit::jpeg::Header header;
      std::string error;
      ASSERT_TRUE(kit::jpeg::readHeader(path, header, error)) << error;
      for (const int denominator : {1, 2, 4, 8}) {
        SCOPED_TRACE(testing::Message() << restarts << " " << orientation << " 1/" << denominator);
        const QImage whole = kit::jpeg::decode(path, header, denominator, {}, {}, 1 << 24, 1 << 24).image;
        const int w = whole.width(), h = whole.height();
        for (const QRect region : {QRect(w / 3, h / 4, w / 3, h / 2), QRect(0, 0, w / 2 + 1, h / 2 + 1),
                                   QRect(w / 2 - 1, h / 3, w - w / 2 + 1, h - h / 3), QRect(w / 2, h / 2, 1, 1)}) {
          const QImage part = kit::jpeg::decode(path, header, denominator, region, {}, 1 << 24, 1 << 24).image;
          int worst = 0;
          EXPECT_LT(meanDifference(part, whole.copy(region), &worst), 255);  // the same size
          EXPECT_LE(worst, 2) << region.x() << "," << region.y() << " " << w << "x" << h;
        }
      }
    }
}

// ---- the orientation tag ----

TEST(BigPhotoOrientation, OnlyAWellFormedTagCounts) {
  using picture_test::exifPayload;
  // Read from a copy of exactly its size, so that a read past the end shows.
  auto read = [](const QByteArray& p) {
    const std::vector<unsigned char> exact(p.begin(), p.end());
    return kit::jpeg::exifOrientation(exact.data(), exact.size());
  };
  // Either byte order; then out of range, not a SHORT, not one value, another tag: upright.
  for (const auto& [little, tag, type, count, value, read_as] : {std::tuple{true, 0x0112u, 3u, 1u, 8u, 8},
                                                                 {false, 0x0112u, 3u, 1u, 6u, 6},
                                                                 {false, 0x0112u, 3u, 1u, 0u, 1},
                                                                 {false, 0x0112u, 3u, 1u, 9u, 1},
                                                                 {false, 0x0112u, 4u, 1u, 6u, 1},
                                                                 {false, 0x0112u, 3u, 2u, 6u, 1},
                                                                 {false, 0x0113u, 3u, 1u, 6u, 1}})
    EXPECT_EQ(read(exifPayload(little, tag, type, count, value)), read_as) << tag << " " << type << " " << count;
  // Cut anywhere before the value ends: upright, never a read past the end.
  const QByteArray whole = exifPayload(false, 0x0112, 3, 1, 6);
  for (qsizetype n = 0; n < whole.size() - 6; ++n) EXPECT_EQ(read(whole.left(n)), 1) << n;
  auto damaged = [](QByteArray p, qsizetype at, char byte) { return p[at] = byte, p; };
  EXPECT_EQ(read(damaged(whole, 6, 'X')), 1);      // byte order
  EXPECT_EQ(read(damaged(whole, 13, '\xF0')), 1);  // the IFD lies past the end
  // 65000 entries claimed in a few bytes: those present are read, no more.
  EXPECT_EQ(read(damaged(damaged(exifPayload(false, 0x0113, 3, 1, 6), 14, '\xFF'), 15, '\xE8')), 1);
  EXPECT_EQ(read(damaged(whole, 14, '\xFF')), 6);
}

// ---- tiles ----

TEST(BigPhotoTileCache, KeepsItsBudgetLeastRecentlyUsedFirst) {
  kit::TileCache cache(100000);
  QImage tile(100, 100, QImage::Format_RGB32);  // 40 000 bytes
  tile.fill(Qt::red);
  const kit::TileKey a{1, 1, 0, 0}, b{1, 1, 1, 0}, c{1, 1, 2, 0}, other{2, 1, 0, 0};
  cache.insert(a, tile);
  cache.insert(b, tile);
  EXPECT_FALSE(cache.find(a).isNull());  // a is now the most recent
  cache.insert(c, tile);                 // over the budget: b goes
  EXPECT_EQ(std::tuple(cache.find(a).isNull(), cache.find(b).isNull(), cache.find(c).isNull()),
            std::tuple(false, true, false));
  EXPECT_EQ(cache.bytes(), 80000);
  // Dropping a picture forgets only its tiles.
  cache.insert(other, tile);
  cache.drop(1);
  EXPECT_EQ(std::pair(cache.count(), cache.bytes(2)), std::pair(1, std::int64_t{40000}));
  // One tile larger than the budget replaces the one under its key and is kept alone.
  QImage huge(200, 200, QImage::Format_RGB32);
  cache.insert(a, tile);
  cache.insert(other, huge);
  EXPECT_EQ(std::pair(cache.count(), cache.bytes(2)), std::pair(1, std::int64_t{160000}));
}

using BigPhotoTiles = picture_test::PictureFiles;

TEST_F(BigPhotoTiles, OverBudgetPicturePaintsFromTilesLikeAWholeDecodeAndGivesThemBackBelowIt) {
  // Budget 768 kB: 1300 x 900 at 100 % (4.7 MB) is served from tiles.
  const AllocationLimit limit(1);
  for (const auto& [orientation, progressive] : {std::pair{1, false}, std::pair{6, false}, std::pair{3, true}}) {
    SCOPED_TRACE(orientation);
    const std::string path = write("t" + std::to_string(orientation) + ".jpg",
                                   withExifOrientation(encode(scene(1300, 900), "jpeg", progressive), orientation));
    const QImage full = qtRead(path);
    const auto picture = kit::Picture::open(path);
    const QSize natural(picture->widthPixels(), picture->heightPixels());
    ASSERT_TRUE(picture->ensureDecoded(natural.width(), natural.height())) << picture->lastError();
    EXPECT_TRUE(picture->tiled());
    EXPECT_LE(std::max(picture->decodedWidth(), picture->decodedHeight()), 1024);  // the overview
    const int64_t overview = picture->heldBytes();
    // 100 %: a region across tile edges, pixel for pixel. While a scroll bar
    // is dragged the overview stands in: nothing is decoded.
    const QRect region(300, 400, 500, 420);  // inside either way round
    const QImage quick = viewOf(*picture, natural, region, true);
    EXPECT_EQ(picture->heldBytes(), overview);
    EXPECT_NE(quick.pixelColor(0, 0), QColor(Qt::magenta));
    const QImage exact = viewOf(*picture, natural, region);
    EXPECT_LT(meanDifference(exact, full.copy(region)), 1.0);
    EXPECT_GT(picture->heldBytes(), overview);      // tiles now held
    EXPECT_LT(meanDifference(quick, exact), 12.0);  // the same scene, softer
    // 400 %: the same tiles, enlarged.
    const QSize zoomed = natural * 4;
    ASSERT_TRUE(picture->ensureDecoded(zoomed.width(), zoomed.height()));
    const QRect deep(2100, 1700, 700, 500);
    EXPECT_LT(meanDifference(viewOf(*picture, zoomed, deep), viewOf(full, zoomed, deep)), 1.0);
    // Below the natural size but still over the budget: tiles at 1/1, shrunk smoothly.
    const QSize smaller = natural * 0.9;
    ASSERT_TRUE(picture->ensureDecoded(smaller.width(), smaller.height()));
    EXPECT_TRUE(picture->tiled());
    const QRect part(100, 100, 500, 400);
    EXPECT_LT(meanDifference(viewOf(*picture, smaller, part), viewOf(full, smaller, part)), 3.0);
    // A size within the budget needs no tiles: they are given back.
    const QSize small = natural / 3;
    ASSERT_TRUE(picture->ensureDecoded(small.width(), small.height()));
    EXPECT_FALSE(picture->tiled());
    EXPECT_EQ(picture->heldBytes(), int64_t{small.width()} * small.height() * 4);
  }
}

TEST_F(BigPhotoTiles, AtHighZoomTheOverviewStandsInUntilTheTilesArrive) {
  const std::string path = write("zoomed.jpg", encode(scene(1300, 900), "jpeg", true));
  const QSize shown(5200, 3600);
  const QRect region(2000, 1600, 600, 400);
  const QImage whole = viewOf(qtRead(path), shown, region);
  const AllocationLimit limit(1);  // 768 kB budget: 1300 x 900 at 400 % is tiled
  const auto picture = kit::Picture::open(path);
  ASSERT_TRUE(picture->ensureDecoded(shown.width(), shown.height()));
  ASSERT_TRUE(picture->tiled());
  picture_test::BusyWorkers busy;
  // The tiles cannot decode yet: the overview, scaled up, paints the region.
  const QImage early = viewOf(*picture, shown, region);
  EXPECT_EQ(picture->impl().cache->bytes(picture->impl().id), 0);
  EXPECT_LT(meanDifference(early, whole), 12.0);
  busy.release();
  for (int moments = 0; moments < 1000 && picture->impl().cache->bytes(picture->impl().id) == 0; ++moments)
    viewOf(*picture, shown, region);
  EXPECT_LT(meanDifference(viewOf(*picture, shown, region), whole), 2.0);
}

// ---- photo windows ----

class BigPhotoWindow : public fixture::ComponentTest {
 protected:
  std::string jpeg(const std::string& name, const QByteArray& bytes) { return writeFile((dir / name).string(), bytes); }
  void zoom(const std::string& rate) {
    kit::ComboBox& box = bar().cboZoomRate;
    for (int i = 0; i < box.listCount(); ++i)
      if (box.itemText(i) == rate) return box.userPick(i);
    ADD_FAILURE() << "no rate " << rate;
  }
  kit::Picture& shownPicture() { return *photo(state().CurrentIndex).c().picPhoto.picture(); }
  QSize shownPixels() {
    const auto& pic = photo(state().CurrentIndex).c().picPhoto;
    return {kit::Picture::pixelsFromTwips(pic.width()), kit::Picture::pixelsFromTwips(pic.height())};
  }
  QSize held() { return {shownPicture().decodedWidth(), shownPicture().decodedHeight()}; }
};

TEST_F(BigPhotoWindow, FitDecodesOnlyTheShownPixelsAndZoomDecodesAgain) {
  start();
  bar().cboZoomRate.setText("Fit to Window");
  const std::string path = jpeg("big.jpg", encode(scene(3000, 2000)));
  app.OpenImage(path, "big.jpg");
  EXPECT_TRUE(messageBoxes().empty());
  // Fitted to the 1024 x 768 screen: 1002 x 668 shown, and no more held.
  EXPECT_EQ(shownPixels(), QSize(1002, 668));
  EXPECT_EQ(held(), shownPixels());
  zoom("100%");  // the fitted picture stands in; a paint decodes the tiles it shows
  EXPECT_TRUE(shownPicture().tiled());
  EXPECT_EQ(held(), QSize(1002, 668));
  viewOf(shownPicture(), shownPixels(), QRect(0, 0, 1000, 700));
  EXPECT_EQ(shownPicture().heldBytes() - 1002 * 668 * 4, 4 * 512 * 512 * 4);
  zoom("50%");
  EXPECT_FALSE(shownPicture().tiled());
  EXPECT_EQ(held(), QSize(1500, 1000));
  zoom("Fit to Window");
  EXPECT_EQ(held(), QSize(1002, 668));
  EXPECT_EQ(shownPicture().heldBytes(), 1002 * 668 * 4);  // one copy, the shown size
  // The file is replaced: a later decode fails silently and the view enlarges what it has.
  jpeg("big.jpg", "the file was replaced");
  zoom("100%");
  EXPECT_TRUE(messageBoxes().empty());
  EXPECT_EQ(held(), QSize(1002, 668));
  EXPECT_EQ(photo(1).ZoomPercent, 100);
  EXPECT_EQ(shownPixels(), QSize(3000, 2000));
  // A turned photo fits upright.
  bar().cboZoomRate.setText("Fit to Window");
  app.OpenImage(jpeg("turned.jpg", withExifOrientation(encode(scene(1600, 1200)), 6)), "turned.jpg");
  EXPECT_EQ(held(), QSize(501, 668));
  EXPECT_EQ(held(), shownPixels());
}

TEST_F(BigPhotoWindow, UnloadGivesThePictureBack) {
  const AllocationLimit limit(1);
  start(true);
  const std::shared_ptr<kit::TileCache> cache = kit::TileCache::shared();
  const int64_t cached = cache->bytes();
  bar().cboZoomRate.setText("400%");
  app.OpenImage(jpeg("a.jpg", encode(scene(1300, 900))), "a.jpg");
  app.OpenImage(picture("b.png", 40, 30), "b.png");
  std::weak_ptr<kit::Picture> first = photo(1).c().picPhoto.picture();
  std::weak_ptr<kit::Picture> second = photo(2).c().picPhoto.picture();
  ASSERT_FALSE(first.expired());
  // Paint a part of the tiled photo, as the view would.
  viewOf(*first.lock(), QSize(5200, 3600), QRect(0, 0, 1024, 768));
  EXPECT_GT(cache->bytes(), cached);
  photo(1).unload(1);
  kit::platform().collectGarbage();  // the platform frees unloaded controls on its next round
  EXPECT_TRUE(first.expired());
  EXPECT_EQ(cache->bytes(), cached);
  EXPECT_FALSE(second.expired());
  photo(2).unload(1);
  kit::platform().collectGarbage();
  EXPECT_TRUE(second.expired());
}

TEST_F(BigPhotoWindow, WindowsShareOneBudgetAndTheLeastRecentlyShownGiveBack) {
  // 16 MB for all: five 1000 x 750 photos at 100 % (3 MB each) fit, ten do not.
  const picture_test::MemoryBudget budget(16 << 20);
  start(true);
  bar().cboZoomRate.setText("100%");
  const std::string path = jpeg("photo.jpg", encode(scene(1000, 750)));
  auto width = [&](int i) { return photo(i).c().picPhoto.picture()->decodedWidth(); };
  for (int i = 0; i < 4; ++i) app.OpenImage(path, "photo.jpg");
  EXPECT_EQ(width(1), 1000);
  // Four hold 12 MB: a progressive one needs 3 MB of pixels and over 2 MB of
  // coefficients while it decodes, so the oldest gives back.
  app.OpenImage(jpeg("progressive.jpg", encode(scene(1000, 750), "jpeg", true)), "progressive.jpg");
  EXPECT_EQ((std::vector{width(1), width(2), width(5)}), (std::vector{0, 1000, 1000}));
  for (int i = 0; i < 5; ++i) app.OpenImage(path, "photo.jpg");
  EXPECT_TRUE(messageBoxes().empty());
  std::int64_t held = 0;
  for (int i = 1; i <= 10; ++i) held += photo(i).c().picPhoto.picture()->heldBytes();
  EXPECT_LE(held, 16 << 20);
  EXPECT_EQ((std::vector{width(2), width(10)}), (std::vector{0, 1000}));  // given back; the last shown
  // Shown again, the first decodes again and the next oldest gives back.
  viewOf(*photo(1).c().picPhoto.picture(), QSize(1000, 750), QRect(0, 0, 1000, 750));
  EXPECT_EQ(width(1), 1000);
  EXPECT_LE(kit::PictureMemory::shared().total(), 16 << 20);
}

}  // namespace
