// Pictures: the header first, the pixels for the size they are shown at.
//
// JPEG files go to the JPEG decoder (kit/picture_jpeg.*), which scales in the
// DCT: a picture shown below its natural size decodes at the smallest of 1/8,
// 1/4, 1/2, 1 that covers the shown size and is then shrunk smoothly to it.
// PNG files stream through libspng (kit/picture_png.*), shrunk as their rows
// come; every shrink goes through the resampler (kit/picture_shrink.h).
// Other formats go through Qt's image readers, with the EXIF transformation
// always applied (the reader reports the stored size, so a quarter turn swaps
// it here).
//
// Decoding stays within a budget below Qt's allocation limit, which is never
// switched off. A JPEG shown at more pixels than the budget holds (a huge
// picture at high zoom) keeps a small overview and is painted from tiles,
// decoded as views ask for them into a cache with a fixed budget. A format
// Qt decodes is reduced by halves to fit the budget; readers that cannot
// decode at a reduced size (BMP, TIFF, the PNM family) decode fully first, so
// for them Qt's allocation limit still decides what can be loaded.
#include "kit/picture.h"

#include <QImageIOHandler>
#include <QImageReader>
#include <QString>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <new>
#include <utility>

#include "korvena/RuntimeError.h"
#include "kit/picture_impl.h"
#include "kit/picture_png.h"
#include "kit/picture_shrink.h"
#include "kit/platform.h"

namespace kit {

namespace {

constexpr std::int64_t kMegabyte = 1024 * 1024;
// Used when the process has no allocation limit: the limit Qt applies by default.
constexpr int kDefaultLimitMegabytes = 128;
// The overview of a tiled picture fits this square and a quarter of the budget.
constexpr int kOverviewSide = 1024;
// An image held already serves as the overview up to this size.
constexpr std::int64_t kOverviewBytes = 16 * kMegabyte;
// Missing tiles of one paint are decoded in one pass up to this size (and
// the budget), but one tile at a time at least.
constexpr std::int64_t kTileBatchBytes = 32 * kMegabyte;

std::atomic<std::uint64_t> nextPictureId{1};

[[noreturn]] void raise(std::string text) {
  if (text.empty()) text = "Invalid picture";
  throw korvena::RuntimeError(kInvalidPictureError, text);
}

std::string readerError(const QImageReader& reader) {
  std::string text = reader.errorString().toStdString();
  return text.empty() ? "Invalid picture" : text;
}

// Three quarters of the allocation limit, leaving room for row padding and
// for a reader's own working buffers.
std::int64_t budgetBytes() {
  int limit = QImageReader::allocationLimit();
  if (limit <= 0) limit = kDefaultLimitMegabytes;
  return static_cast<std::int64_t>(limit) * kMegabyte * 3 / 4;
}

std::int64_t bytesPerPixel(QImage::Format format) {
  if (format == QImage::Format_Invalid) return 4;
  const int bits = QImage::toPixelFormat(format).bitsPerPixel();
  return std::max(1, (bits + 7) / 8);
}

std::int64_t decodedBytes(QSize size, std::int64_t pixelBytes = 4) {
  return static_cast<std::int64_t>(size.width()) * size.height() * pixelBytes;
}

// `size` when it fits the budget, otherwise the first halving that does.
QSize withinBudget(QSize size, std::int64_t pixelBytes, std::int64_t budget) {
  const QSize full = size;
  for (int divisor = 2; decodedBytes(size, pixelBytes) > budget && size.width() > 1 && size.height() > 1;
       divisor *= 2)
    size = QSize(std::max(1, full.width() / divisor), std::max(1, full.height() / divisor));
  return size;
}

bool startsLikeJpeg(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  unsigned char bytes[3] = {};
  const std::size_t n = std::fread(bytes, 1, sizeof bytes, file);
  std::fclose(file);
  return jpeg::hasSignature(bytes, n);
}

QImage shrunk(const QImage& image, QSize size) { return shrinkImage(image, size); }

bool covers(const QImage& image, QSize size) {
  return !image.isNull() && image.width() >= size.width() && image.height() >= size.height();
}

}  // namespace

// ---- opening ----

std::shared_ptr<Picture> Picture::open(const std::string& path) {
  auto impl = std::make_unique<Impl>();
  impl->path = path;
  impl->id = nextPictureId++;
  QSize natural;
  if (startsLikeJpeg(path)) {
    std::string error;
    if (!jpeg::readHeader(path, impl->header, error)) raise(error);
    impl->jpeg = true;
    natural = impl->header.size(1);
  } else {
    QImageReader reader(QString::fromStdString(path));
    reader.setAutoTransform(true);
    if (!reader.canRead()) raise(readerError(reader));
    const QSize stored = reader.size();
    impl->quarterTurn = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    if (stored.isValid() && !stored.isEmpty()) {
      natural = impl->quarterTurn ? stored.transposed() : stored;
    } else {
      // The reader knows the size only once it has decoded the picture.
      impl->image = reader.read();
      if (impl->image.isNull()) raise(readerError(reader));
      natural = impl->image.size();
    }
  }
  impl->naturalWidth = natural.width();
  impl->naturalHeight = natural.height();
  return std::shared_ptr<Picture>(new Picture(std::move(impl)));
}

std::shared_ptr<Picture> Picture::load(const std::string& path) {
  auto picture = open(path);
  bool ok = false;
  try {
    ok = picture->impl_->ensureNatural();
  } catch (const std::bad_alloc&) {
    picture->impl_->error = "Out of memory";
  }
  if (!ok) raise(picture->impl_->error);
  return picture;
}

// ---- decoding ----

bool Picture::Impl::ensure(QSize shown) {
  shown = shown.expandedTo(QSize(1, 1));
  const QSize target = shown.boundedTo(QSize(naturalWidth, naturalHeight));
  const std::int64_t budget = budgetBytes();
  if (!jpeg) return wholeQt(target, budget);
  const int denominator = header.coveringDenominator(shown);
  if (decodedBytes(target) > budget) return tiles(denominator, budget);
  return wholeJpeg(target, denominator, budget);
}

bool Picture::Impl::ensureNatural() {
  const std::int64_t budget = budgetBytes();
  if (!jpeg) return wholeQt(QSize(naturalWidth, naturalHeight), budget);
  for (int denominator = 1; denominator <= 8; denominator *= 2) {
    const QSize size = header.size(denominator);
    if (decodedBytes(size) <= budget) return wholeJpeg(size, denominator, budget);
  }
  error = "The picture is too large to decode";
  return false;
}

bool Picture::Impl::wholeJpeg(QSize target, int denominator, std::int64_t budget) {
  if (!tiled && image.size() == target) return true;
  QImage result;
  bool stoppedEarly = partial;
  if (covers(image, target)) {
    // More pixels are held than the new size needs: shrink them, no decoding.
    result = shrunk(image, target);
  } else {
    jpeg::Decoded decoded = jpeg::decode(path, header, denominator, QRect(), target, budget);
    if (decoded.image.isNull()) {
      error = decoded.error;
      return false;
    }
    result = std::move(decoded.image);
    stoppedEarly = decoded.partial;
  }
  if (result.isNull()) {
    error = "Out of memory";
    return false;
  }
  image = std::move(result);
  partial = stoppedEarly;
  if (tiled) {
    cache->drop(id);
    tiled = false;
  }
  return true;
}

bool Picture::Impl::wholeQt(QSize target, std::int64_t budget) {
  QImageReader reader(QString::fromStdString(path));
  reader.setAutoTransform(true);
  const QSize want = withinBudget(target, bytesPerPixel(reader.imageFormat()), budget);
  if (image.size() == want) return true;
  if (covers(image, want)) {
    QImage result = shrunk(image, want);
    if (result.isNull()) {
      error = "Out of memory";
      return false;
    }
    image = std::move(result);
    return true;
  }
  // PNG files stream through their own decoder, shrunk as their rows come.
  png::Decoded streamed = png::decode(path, want, reader.transformation(), budget);
  if (streamed.handled) {
    if (streamed.image.isNull()) {
      error = streamed.error;
      return false;
    }
    image = std::move(streamed.image);
    return true;
  }
  QImage decoded = readShrunk(reader, QSize(naturalWidth, naturalHeight), want, quarterTurn, budget);
  if (decoded.isNull()) {
    error = readerError(reader);
    return false;
  }
  image = std::move(decoded);
  return true;
}

bool Picture::Impl::tiles(int denominator, std::int64_t budget) {
  if (tiled && tileDenominator == denominator) return true;
  QImage overview;
  bool stoppedEarly = partial;
  const std::int64_t overviewBytes = std::min(kOverviewBytes, budget / 4);
  if (!image.isNull() && image.sizeInBytes() <= overviewBytes) {
    overview = image;
  } else {
    QSize side = QSize(naturalWidth, naturalHeight)
                     .scaled(kOverviewSide, kOverviewSide, Qt::KeepAspectRatio)
                     .boundedTo(QSize(naturalWidth, naturalHeight))
                     .expandedTo(QSize(1, 1));
    while (decodedBytes(side) > overviewBytes && (side.width() > 1 || side.height() > 1))
      side = (side / 2).expandedTo(QSize(1, 1));
    jpeg::Decoded decoded = jpeg::decode(path, header, header.coveringDenominator(side), QRect(), side, budget);
    if (decoded.image.isNull()) {
      error = decoded.error;
      return false;
    }
    overview = std::move(decoded.image);
    stoppedEarly = decoded.partial;
  }
  if (tiled) cache->drop(id);
  image = std::move(overview);
  partial = stoppedEarly;
  tiled = true;
  tileDenominator = denominator;
  return true;
}

// ---- painting ----

QRect Picture::Impl::tileRect(int column, int row) const {
  return QRect(column * kTileSize, row * kTileSize, kTileSize, kTileSize) &
         QRect(QPoint(0, 0), header.size(tileDenominator));
}

void Picture::Impl::decodeTiles(const std::vector<QPoint>& missing) {
  // Each pass reads the file's data up to its last row, so fewer passes are
  // faster: all the tiles in one when that stays small, else a pass per row
  // of tiles, else a pass per tile.
  const std::int64_t limit =
      std::max(decodedBytes(QSize(kTileSize, kTileSize)), std::min(kTileBatchBytes, budgetBytes()));
  auto bounds = [this](const std::vector<QPoint>& tiles) {
    QRect area;
    for (const QPoint& t : tiles) area |= tileRect(t.x(), t.y());
    return area;
  };
  std::vector<std::vector<QPoint>> passes;
  if (decodedBytes(bounds(missing).size()) <= limit) {
    passes.push_back(missing);
  } else {
    std::vector<std::vector<QPoint>> rows;
    for (const QPoint& t : missing) {
      if (rows.empty() || rows.back().front().y() != t.y()) rows.emplace_back();
      rows.back().push_back(t);
    }
    for (auto& row : rows) {
      if (decodedBytes(bounds(row).size()) <= limit) {
        passes.push_back(std::move(row));
      } else {
        for (const QPoint& t : row) passes.push_back({t});
      }
    }
  }
  for (const auto& pass : passes) {
    const QRect area = bounds(pass);
    const jpeg::Decoded decoded = jpeg::decode(path, header, tileDenominator, area, QSize(), limit);
    // A tile that does not decode is left to the overview, silently.
    if (decoded.image.isNull()) continue;
    for (const QPoint& t : pass) {
      const QRect r = tileRect(t.x(), t.y());
      cache->insert(TileKey{id, tileDenominator, t.x(), t.y()}, decoded.image.copy(r.translated(-area.topLeft())));
    }
  }
}

std::vector<PicturePiece> Picture::Impl::pieces(QSize shown, QRect region, bool fast) {
  std::vector<PicturePiece> out;
  region &= QRect(QPoint(0, 0), shown);
  if (region.isEmpty()) return out;
  const QRectF wanted(region);
  // The part of `from` (the whole picture at its own size) that paints `target`.
  auto pieceOf = [&](const QImage& from, QRectF target) {
    const double sx = static_cast<double>(from.width()) / shown.width();
    const double sy = static_cast<double>(from.height()) / shown.height();
    out.push_back({from, QRectF(target.x() * sx, target.y() * sy, target.width() * sx, target.height() * sy), target});
  };
  if (!tiled) {
    if (!image.isNull()) pieceOf(image, wanted);
    return out;
  }

  const QSize full = header.size(tileDenominator);
  const double fx = static_cast<double>(full.width()) / shown.width();
  const double fy = static_cast<double>(full.height()) / shown.height();
  const int x0 = std::clamp(static_cast<int>(std::floor(region.left() * fx)), 0, full.width() - 1);
  const int y0 = std::clamp(static_cast<int>(std::floor(region.top() * fy)), 0, full.height() - 1);
  const int x1 = std::clamp(static_cast<int>(std::ceil((region.right() + 1) * fx)), x0 + 1, full.width());
  const int y1 = std::clamp(static_cast<int>(std::ceil((region.bottom() + 1) * fy)), y0 + 1, full.height());

  struct Cell {
    QPoint at;
    QImage tile;
  };
  std::vector<Cell> cells;
  std::vector<QPoint> missing;
  for (int row = y0 / kTileSize; row <= (y1 - 1) / kTileSize; ++row) {
    for (int column = x0 / kTileSize; column <= (x1 - 1) / kTileSize; ++column) {
      cells.push_back({QPoint(column, row), cache->find(TileKey{id, tileDenominator, column, row})});
      if (cells.back().tile.isNull()) missing.push_back(QPoint(column, row));
    }
  }
  if (!fast && !missing.empty()) {
    decodeTiles(missing);
    for (Cell& cell : cells)
      if (cell.tile.isNull()) cell.tile = cache->find(TileKey{id, tileDenominator, cell.at.x(), cell.at.y()});
  }
  for (const Cell& cell : cells) {
    const QRect r = tileRect(cell.at.x(), cell.at.y());
    // Tile edges map to the same view coordinates from both sides: no seams.
    const QRectF onView(r.x() / fx, r.y() / fy, r.width() / fx, r.height() / fy);
    const QRectF target = onView & wanted;
    if (target.isEmpty()) continue;
    if (!cell.tile.isNull()) {
      out.push_back({cell.tile,
                     QRectF((target.x() - onView.x()) * fx, (target.y() - onView.y()) * fy, target.width() * fx,
                            target.height() * fy),
                     target});
    } else if (!image.isNull()) {
      pieceOf(image, target);
    }
  }
  return out;
}

// ---- the picture ----

Picture::Picture(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Picture::~Picture() {
  if (impl_->cache) impl_->cache->drop(impl_->id);
}

bool Picture::ensureDecoded(int shownWidthPixels, int shownHeightPixels) {
  try {
    return impl_->ensure(QSize(shownWidthPixels, shownHeightPixels));
  } catch (const std::bad_alloc&) {
    impl_->error = "Out of memory";
  } catch (const std::exception& e) {
    impl_->error = e.what();
  }
  return false;
}

bool Picture::ensureDecodedTwips(float shownWidthTwips, float shownHeightTwips) {
  return ensureDecoded(pixelsFromTwips(shownWidthTwips), pixelsFromTwips(shownHeightTwips));
}

int Picture::pixelsFromTwips(float twips) {
  // As the views round a control's size: to the nearest pixel, within the
  // largest size a widget can take.
  constexpr double kLimit = 16777215;
  const double pixels = static_cast<double>(twips) / kTwipsPerPixel;
  if (!std::isfinite(pixels)) return 0;
  return static_cast<int>(std::lround(std::clamp(pixels, 0.0, kLimit)));
}

const std::string& Picture::lastError() const { return impl_->error; }

int Picture::decodedWidth() const { return impl_->image.width(); }

int Picture::decodedHeight() const { return impl_->image.height(); }

bool Picture::tiled() const { return impl_->tiled; }

bool Picture::partial() const { return impl_->partial; }

std::int64_t Picture::heldBytes() const { return impl_->image.sizeInBytes() + impl_->cache->bytes(impl_->id); }

int Picture::widthPixels() const { return impl_->naturalWidth; }

int Picture::heightPixels() const { return impl_->naturalHeight; }

float Picture::widthTwips() const { return static_cast<float>(impl_->naturalWidth) * kTwipsPerPixel; }

float Picture::heightTwips() const { return static_cast<float>(impl_->naturalHeight) * kTwipsPerPixel; }

const std::string& Picture::path() const { return impl_->path; }

}  // namespace kit
