// Pictures: the header first, the pixels for the size they are shown at.
//
// JPEG files go to the JPEG decoder (kit/picture_jpeg.*), which scales in the
// DCT: a picture shown below its natural size decodes at the smallest of 1/8,
// 1/4, 1/2, 1 that covers the shown size and is then shrunk smoothly to it.
// PNG files stream through libspng (kit/picture_png.*), shrunk as their rows
// come; every shrink goes through the resampler (kit/picture_shrink.h).
// HEIF, AVIF and JPEG XL files go to their own decoders (kit/picture_codecs.*),
// which decode an embedded smaller picture when it covers the shown size,
// else the whole picture, shrunk to it; the decode's working memory is
// bounded by the shared read budget before it starts.
// Other formats go through Qt's image readers, with the EXIF transformation
// always applied (the reader reports the stored size, so a quarter turn swaps
// it here). A picture's embedded colour profile is applied on the worker as
// its decode finishes, after the shrink (kit/picture_colour.h).
//
// A sequential JPEG shown much larger than the screen (a view shows only a
// part of it) decodes nothing up front: views are painted from tiles decoded
// from the region they show (the decoder crops columns and skips rows), and
// a small overview is made only when a paint needs a stand-in for tiles not
// decoded yet. A JPEG shown at more pixels than the decoding budget (below
// Qt's allocation limit) holds (a progressive one at high zoom, whose regions
// each cost a decode of the whole picture) keeps a small overview and is
// painted from tiles. Tiles are decoded as views ask for them into a cache
// with a fixed budget. A format Qt decodes is read at the size shown when its reader can
// scale; otherwise it is read whole and shrunk, the read bounded by the
// shared picture budget (Qt's allocation limit is lifted for that read only),
// and the held picture is reduced by halves to a quarter of that budget.
// Only a picture whose read would not fit is refused, saying so.
//
// Every decode is a task run off the UI thread (kit/picture_work.h); the
// state below is touched only on the UI thread. A picture never opens a
// file that is not a regular file (kit/picture_files.h).
#include "kit/picture.h"

#include <QImageIOHandler>
#include <QImageReader>
#include <QString>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <new>
#include <optional>
#include <utility>

#include "kit/picture_files.h"
#include "kit/picture_impl.h"
#include "kit/picture_messages.h"
#include "kit/picture_png.h"
#include "kit/picture_prefetch.h"
#include "kit/picture_shrink.h"
#include "kit/platform.h"
#include "korvena/RuntimeError.h"

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
// A sequential JPEG shown at more pixels than this many screens decodes
// region by region: a view shows at most half of it.
constexpr std::int64_t kRegionScreens = 2;

std::atomic<std::uint64_t> nextPictureId{1};

[[noreturn]] void throwInvalidPicture(std::string text) {
  if (text.empty()) text = "Invalid picture";
  throw korvena::RuntimeError(kInvalidPictureError, text);
}

std::string readerError(const QImageReader& reader) {
  std::string text = reader.errorString().toStdString();
  return text.empty() ? "Invalid picture" : text;
}

std::int64_t workBytes() { return PictureMemory::shared().budget(); }

// Three quarters of the allocation limit, leaving room for row padding and
// for a reader's own working buffers.
std::int64_t budgetBytes() {
  int limit = files::allocationLimit();
  if (limit <= 0) limit = kDefaultLimitMegabytes;
  return static_cast<std::int64_t>(limit) * kMegabyte * 3 / 4;
}

// NOTE: takes the format as a plain number: a damaged file's handler may
// report a value outside the enumeration, which must not be loaded as one.
std::int64_t bytesPerPixel(int format) {
  if (format <= QImage::Format_Invalid || format >= QImage::NImageFormats) return 4;
  const int bits = QImage::toPixelFormat(static_cast<QImage::Format>(format)).bitsPerPixel();
  return std::max(1, (bits + 7) / 8);
}

std::int64_t decodedBytes(QSize size, std::int64_t pixelBytes = 4) {
  return static_cast<std::int64_t>(size.width()) * size.height() * pixelBytes;
}

// `size` when it fits the budget, otherwise the first halving that does.
QSize withinBudget(QSize size, std::int64_t pixelBytes, std::int64_t budget) {
  const QSize full = size;
  for (int divisor = 2; decodedBytes(size, pixelBytes) > budget && size.width() > 1 && size.height() > 1; divisor *= 2)
    size = QSize(std::max(1, full.width() / divisor), std::max(1, full.height() / divisor));
  return size;
}

bool startsLikeJpeg(QIODevice& file) {
  unsigned char bytes[3] = {};
  const qint64 n = file.peek(reinterpret_cast<char*>(bytes), sizeof bytes);
  return n > 0 && jpeg::hasSignature(bytes, static_cast<std::size_t>(n));
}

codecs::Format codecFormat(QIODevice& file) {
  unsigned char bytes[64] = {};
  const qint64 n = file.peek(reinterpret_cast<char*>(bytes), sizeof bytes);
  return n > 0 ? codecs::sniff(bytes, static_cast<std::size_t>(n)) : codecs::Format::None;
}

// Natural sizes beyond this are refused: no screen shows them and their
// lengths in twips would not fit the photo code's numbers.
constexpr int kMaxSide = 1 << 20;

std::string tooLarge(QSize size, std::int64_t bytes, std::int64_t cap) {
  return "The picture is too large to decode: " + std::to_string(size.width()) + " x " + std::to_string(size.height()) +
         " pixels need " + std::to_string(bytes / kMegabyte) + " MB, more than the " + std::to_string(cap / kMegabyte) +
         " MB allowed";
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
  std::string failure;
  const std::unique_ptr<QFile> file = files::openForReader(path, failure);
  if (!file) throwInvalidPicture(failure);
  QSize natural;
  if (startsLikeJpeg(*file)) {
    std::string error;
    if (!jpeg::readHeader(path, impl->header, error)) throwInvalidPicture(error);
    impl->jpeg = true;
    impl->colourProfile = colour::Profile::fromIcc(impl->header.icc);
    natural = impl->header.size(1);
  } else if (const codecs::Format format = codecFormat(*file); format != codecs::Format::None) {
    std::string error;
    if (!codecs::readHeader(path, format, impl->codec, error, PictureMemory::shared().readCap()))
      throwInvalidPicture(error);
    natural = impl->codec.natural;
    if (natural.isEmpty()) throwInvalidPicture("Invalid picture");
    impl->colourProfile = colour::Profile::fromIcc(impl->codec.iccProfile);
  } else {
    QImageReader reader(file.get());
    reader.setAutoTransform(true);
    if (!reader.canRead()) throwInvalidPicture(readerError(reader));
    const QSize stored = reader.size();
    impl->quarterTurn = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    impl->scalable = reader.supportsOption(QImageIOHandler::ScaledSize);
    impl->readerPixelBytes = static_cast<int>(bytesPerPixel(static_cast<int>(reader.imageFormat())));
    if (stored.isValid() && !stored.isEmpty()) {
      natural = impl->quarterTurn ? stored.transposed() : stored;
    } else {
      // The reader knows the size only once it has decoded the picture.
      impl->image = reader.read();
      if (impl->image.isNull()) throwInvalidPicture(readerError(reader));
      colour::Profile::fromColorSpace(impl->image.colorSpace()).convertToDisplay(impl->image);
      natural = impl->image.size();
      impl->held_ = DecodePlan{DecodePlan::Kind::Reader, natural, 1};
    }
  }
  if (natural.width() > kMaxSide || natural.height() > kMaxSide)
    throwInvalidPicture("The picture is too large: " + std::to_string(natural.width()) + " x " +
                        std::to_string(natural.height()) + " pixels");
  impl->naturalWidth = natural.width();
  impl->naturalHeight = natural.height();
  if (!impl->image.isNull()) PictureMemory::shared().hold(*impl, impl->image.sizeInBytes());
  return std::shared_ptr<Picture>(new Picture(std::move(impl)));
}

std::shared_ptr<Picture> Picture::load(const std::string& path) {
  auto picture = open(path);
  bool ok = false;
  try {
    ok = picture->impl_->ensureNatural();
  } catch (const std::bad_alloc&) {
    picture->impl_->error = kOutOfMemory;
  }
  if (!ok) throwInvalidPicture(picture->impl_->error);
  return picture;
}

// ---- planning ----

Picture::Impl::Impl() : id(nextPictureId++), listener_(std::make_shared<Listener>(Listener{this, {}})) {}

Picture::Impl::~Impl() {
  cancelDecodes();
  PictureMemory::shared().forget(*this);
}

void Picture::Impl::cancelDecodes() {
  if (task_) task_->cancel();
  if (tileTask_) tileTask_->cancel();
}

DecodePlan Picture::Impl::planFor(QSize shown) const {
  shown = shown.expandedTo(QSize(1, 1));
  const QSize natural(naturalWidth, naturalHeight);
  const QSize target = shown.boundedTo(natural);
  const std::int64_t budget = budgetBytes();
  if (jpeg) {
    const int denominator = header.coveringDenominator(shown);
    QSize side =
        natural.scaled(kOverviewSide, kOverviewSide, Qt::KeepAspectRatio).boundedTo(natural).expandedTo({1, 1});
    const std::int64_t overviewBytes = std::min(kOverviewBytes, budget / 4);
    while (decodedBytes(side) > overviewBytes && (side.width() > 1 || side.height() > 1))
      side = (side / 2).expandedTo(QSize(1, 1));
    const QSize screen(pixelsFromTwips(screenWidth()), pixelsFromTwips(screenHeight()));
    if (!header.progressive && decodedBytes(target) > kRegionScreens * decodedBytes(screen))
      return {DecodePlan::Kind::Regions, side, denominator};
    if (decodedBytes(target) <= budget) return {DecodePlan::Kind::Jpeg, target, denominator};
    return {DecodePlan::Kind::Tiles, side, denominator};
  }
  const PictureMemory& memory = PictureMemory::shared();
  const QSize want = withinBudget(target, 4, memory.pictureCap());
  if (codec.format != codecs::Format::None) {
    if (!covers(image, want) && codec.workBytes(want) > memory.readCap())
      return {DecodePlan::Kind::TooLarge, natural, 1};
    return {DecodePlan::Kind::Codec, want, 1};
  }
  const std::int64_t read = scalable ? decodedBytes(want, readerPixelBytes) : decodedBytes(natural, readerPixelBytes);
  if (!covers(image, want) && read > memory.readCap()) return {DecodePlan::Kind::TooLarge, natural, 1};
  return {DecodePlan::Kind::Reader, want, 1};
}

std::int64_t Picture::Impl::transientBytes(const DecodePlan& plan) const {
  if (plan.kind == DecodePlan::Kind::Codec && !covers(image, plan.size)) return codec.workBytes(plan.size);
  if (plan.kind == DecodePlan::Kind::Reader && !scalable && !covers(image, plan.size))
    return decodedBytes(QSize(naturalWidth, naturalHeight), readerPixelBytes) + decodedBytes(plan.size);
  if (jpeg && !covers(image, plan.size)) return decodedBytes(plan.size) + header.coefficientBytes;
  return decodedBytes(plan.size);
}

// ---- the decodes (run on a worker: they see copies, never the picture) ----

namespace {

DecodeResult shrinkHeld(const QImage& held, QSize size, bool partial) {
  DecodeResult out{shrunk(held, size), partial, {}};
  if (out.image.isNull()) out.error = kOutOfMemory;
  return out;
}

DecodeResult readWithQt(const std::string& path, QSize want, QSize natural, bool quarterTurn, int pixelBytes,
                        std::int64_t readCap, const std::atomic<bool>& cancelled) {
  DecodeResult out;
  const std::unique_ptr<QFile> file = files::openForReader(path, out.error, &cancelled);
  if (!file) return out;
  QImageReader reader(file.get());
  reader.setAutoTransform(true);
  // PNG files stream through their own decoder, shrunk as their rows come.
  png::Decoded streamed = png::decode(path, want, reader.transformation(), readCap, &cancelled);
  if (streamed.handled) return DecodeResult{std::move(streamed.image), false, std::move(streamed.error)};
  // Some readers read the whole picture even when they scale: a read of the
  // natural size within the budget is let through for all.
  std::optional<files::AllocationLift> lift;
  const std::int64_t whole = decodedBytes(natural, pixelBytes);
  if (whole <= readCap) lift.emplace(whole);
  QImage decoded = readShrunk(reader, natural, want, quarterTurn, readCap);
  lift.reset();
  if (cancelled) return DecodeResult{QImage(), false, jpeg::kCancelled};
  if (decoded.isNull()) return DecodeResult{QImage(), false, readerError(reader)};
  const QColorSpace space = decoded.colorSpace();
  if (decoded.size() != want) decoded = shrunk(decoded, want);
  // The picture's own colours to the display's, on the shown pixels only.
  colour::Profile::fromColorSpace(space).convertToDisplay(decoded);
  // Sixteen bits a channel are more than a screen shows: held at eight.
  if (decoded.depth() > 32) decoded.convertTo(decoded.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  out.image = std::move(decoded);
  if (out.image.isNull()) out.error = kOutOfMemory;
  return out;
}

}  // namespace

DecodeTask::Work Picture::Impl::workFor(const DecodePlan& plan) const {
  const QImage held = image;
  const bool heldPartial = partial;
  const std::string file = path;
  const jpeg::Header head = header;
  const colour::Profile profile = colourProfile;
  const std::int64_t work = workBytes();
  switch (plan.kind) {
    case DecodePlan::Kind::Jpeg:
      return [=](const std::atomic<bool>& cancelled) {
        if (covers(held, plan.size)) return shrinkHeld(held, plan.size, heldPartial);
        jpeg::Decoded d =
            jpeg::decode(file, head, plan.denominator, QRect(), plan.size, budgetBytes(), work, &cancelled);
        profile.convertToDisplay(d.image);
        return DecodeResult{std::move(d.image), d.partial, std::move(d.error)};
      };
    case DecodePlan::Kind::Tiles:
      return [=](const std::atomic<bool>& cancelled) {
        if (!held.isNull() && held.sizeInBytes() <= std::min(kOverviewBytes, budgetBytes() / 4))
          return DecodeResult{held, heldPartial, {}};
        jpeg::Decoded d = jpeg::decode(file, head, head.coveringDenominator(plan.size), QRect(), plan.size,
                                       budgetBytes(), work, &cancelled);
        profile.convertToDisplay(d.image);
        return DecodeResult{std::move(d.image), d.partial, std::move(d.error)};
      };
    case DecodePlan::Kind::Codec:
      return [=, codecHeader = codec, cap = PictureMemory::shared().readCap()](const std::atomic<bool>& cancelled) {
        if (covers(held, plan.size)) return shrinkHeld(held, plan.size, heldPartial);
        codecs::Decoded d = codecs::decode(file, codecHeader, plan.size, cap, &cancelled);
        profile.convertToDisplay(d.image);
        return DecodeResult{std::move(d.image), false, std::move(d.error)};
      };
    case DecodePlan::Kind::Reader:
      return [=, natural = QSize(naturalWidth, naturalHeight), turn = quarterTurn, bytes = readerPixelBytes,
              cap = PictureMemory::shared().readCap()](const std::atomic<bool>& cancelled) {
        if (covers(held, plan.size)) return shrinkHeld(held, plan.size, heldPartial);
        return readWithQt(file, plan.size, natural, turn, bytes, cap, cancelled);
      };
    default:
      return [](const std::atomic<bool>&) { return DecodeResult{QImage(), false, "Nothing to decode"}; };
  }
}

// ---- decoding ----

bool Picture::Impl::ensure(QSize shown) {
  collect();
  lastShown_ = shown;
  const DecodePlan plan = planFor(shown);
  if (plan.kind == DecodePlan::Kind::TooLarge) {
    const std::int64_t need =
        codec.format != codecs::Format::None ? codec.workBytes(plan.size) : decodedBytes(plan.size, readerPixelBytes);
    error = tooLarge(plan.size, need, PictureMemory::shared().readCap());
    return false;
  }
  if (plan.kind == DecodePlan::Kind::Regions) {
    showRegions(plan);
    return true;
  }
  regions_ = DecodePlan{};
  // Tiles paint nothing at a size that does not want them; what is held
  // stands in until the new decode arrives.
  if (tiled && plan.kind != DecodePlan::Kind::Tiles) leaveTiles();
  if (plan == held_ && !image.isNull()) {
    PictureMemory::shared().shown(*this);
    return true;
  }
  // What failed once fails again: not retried at every paint.
  if (plan == failed_ && !task_) return false;
  if (!(task_ && wanted_ == plan)) begin(plan);
  return settle();
}

bool Picture::Impl::ensureNatural() {
  DecodePlan plan{DecodePlan::Kind::Reader, QSize(naturalWidth, naturalHeight), 1};
  if (jpeg) {
    plan.kind = DecodePlan::Kind::None;
    for (int denominator = 1; denominator <= 8 && plan.kind == DecodePlan::Kind::None; denominator *= 2) {
      if (decodedBytes(header.size(denominator)) <= budgetBytes())
        plan = {DecodePlan::Kind::Jpeg, header.size(denominator), denominator};
    }
    if (plan.kind == DecodePlan::Kind::None) {
      error = "The picture is too large to decode";
      return false;
    }
  } else {
    plan = planFor(plan.size);
    if (plan.kind == DecodePlan::Kind::TooLarge) return ensure(plan.size);
  }
  if (plan == held_ && !image.isNull()) return true;
  begin(plan);
  task_->wait();
  return collect();
}

// Views of `plan` paint from tiles of the regions they show; nothing is
// decoded now. What is held (a picture decoded at another size, an overview)
// stands in for tiles not decoded yet.
void Picture::Impl::showRegions(const DecodePlan& plan) {
  PictureMemory::shared().shown(*this);
  if (tiled && regions_ == plan) return;
  const bool overviewUnderWay = task_ && wanted_ == DecodePlan{DecodePlan::Kind::Tiles, plan.size, plan.denominator};
  if (task_ && !overviewUnderWay) {
    task_->cancel();
    task_.reset();
  }
  if (tiled && tileDenominator != plan.denominator) leaveTiles();
  tiled = true;
  tileDenominator = plan.denominator;
  regions_ = plan;
}

void Picture::Impl::leaveTiles() {
  if (tileTask_) tileTask_->cancel();
  tileTask_.reset();
  if (task_ && wanted_.kind == DecodePlan::Kind::Tiles) {
    task_->cancel();
    task_.reset();
  }
  cache->drop(id);
  tiled = false;
}

std::int64_t Picture::Impl::prefetch(QSize shown) {
  collect();
  const DecodePlan plan = planFor(shown);
  if (plan.kind != DecodePlan::Kind::Jpeg && plan.kind != DecodePlan::Kind::Reader &&
      plan.kind != DecodePlan::Kind::Codec)
    return 0;
  lastShown_ = shown;
  if (!(plan == held_ && !image.isNull()) && !(task_ && wanted_ == plan)) begin(plan);
  if (task_ && decodeWaiting() == DecodeWaiting::Always) {
    task_->wait();
    collect();
  }
  return decodedBytes(plan.size);
}

bool Picture::Impl::decoding() const { return task_ && !task_->waitFor(std::chrono::milliseconds(0)); }

void Picture::Impl::begin(const DecodePlan& plan) {
  if (task_) task_->cancel();
  PictureMemory::shared().makeRoom(*this, transientBytes(plan));
  wanted_ = plan;
  task_ = std::make_shared<DecodeTask>(workFor(plan));
  DecodeTask::start(task_, deliverer());
}

// Waits for the decode under way as the platform wants: to its end, or a
// moment (then it arrives later and the views paint what is held meanwhile).
bool Picture::Impl::settle() {
  if (decodeWaiting() == DecodeWaiting::Always)
    task_->wait();
  else if (!task_->waitFor(kDecodeMoment))
    return true;
  return collect();
}

// Takes the result of a finished decode. False when it failed: what was
// held before stays.
bool Picture::Impl::collect() {
  if (tileTask_ && tileTask_->waitFor(std::chrono::milliseconds(0))) tileTask_.reset();
  if (!task_ || !task_->waitFor(std::chrono::milliseconds(0))) return true;
  const std::shared_ptr<DecodeTask> done = std::move(task_);
  DecodeResult result = done->take();
  if (result.image.isNull()) {
    error = result.error.empty() ? "Invalid picture" : result.error;
    if (!done->cancelled()) failed_ = wanted_;
    return false;
  }
  failed_ = DecodePlan{};
  const bool tiles = wanted_.kind == DecodePlan::Kind::Tiles;
  if (tiled && (!tiles || tileDenominator != wanted_.denominator)) {
    if (tileTask_) tileTask_->cancel();
    tileTask_.reset();
    cache->drop(id);
  }
  tiled = tiles;
  tileDenominator = wanted_.denominator;
  image = std::move(result.image);
  partial = result.partial;
  held_ = wanted_;
  PictureMemory::shared().hold(*this, image.sizeInBytes());
  return true;
}

void Picture::Impl::releasePixels() {
  cancelDecodes();
  task_.reset();
  tileTask_.reset();
  image = QImage();
  held_ = DecodePlan{};
  if (tiled) cache->drop(id);
  tiled = false;
}

void Picture::Impl::setOnReady(std::function<void()> onReady) { listener_->onReady = std::move(onReady); }

std::function<void()> Picture::Impl::deliverer() const {
  // A caller that always waits takes the result itself: nothing to deliver.
  if (decodeWaiting() == DecodeWaiting::Always) return nullptr;
  return [weak = std::weak_ptr<Listener>(listener_)] {
    if (const std::shared_ptr<Listener> listener = weak.lock()) listener->owner->delivered();
  };
}

// On the UI thread, when a decode started off it has finished.
void Picture::Impl::delivered() {
  const bool hadPixels = !image.isNull();
  const bool ok = collect();
  const std::function<void()> onReady = listener_->onReady;
  if (onReady) onReady();
  // A picture that never showed says why; one that did keeps its pixels.
  if (!ok && !hadPixels && onReady) platform().msgBox(error, "Error", msgbox::Exclamation);
  PrefetchCache::shared().resume();  // the neighbours wait for the picture shown
}

// ---- painting ----

QRect Picture::Impl::tileRect(int column, int row) const {
  return QRect(column * kTileSize, row * kTileSize, kTileSize, kTileSize) &
         QRect(QPoint(0, 0), header.size(tileDenominator));
}

DecodeTask::Work Picture::Impl::tileWork(const std::vector<QPoint>& missing) const {
  // Each pass reads the file's data up to its last row, so fewer passes are
  // faster: all the tiles in one when that stays small, else a pass per row
  // of tiles, else a pass per tile.
  // A pass over a progressive file holds all its coefficients while it runs:
  // room is made for them in the shared budget before the passes start, and
  // one such decode runs at a time.
  // FIXME: keeping the coefficients (or an index of restart points) between
  // passes would make later regions of a progressive file cheap.
  const std::int64_t limit =
      std::max(decodedBytes(QSize(kTileSize, kTileSize)), std::min(kTileBatchBytes, budgetBytes()));
  std::vector<QRect> rects;
  for (const QPoint& t : missing) rects.push_back(tileRect(t.x(), t.y()));
  auto bounds = [&rects](const std::vector<int>& tiles) {
    QRect area;
    for (const int t : tiles) area |= rects[static_cast<std::size_t>(t)];
    return area;
  };
  std::vector<std::vector<int>> passes;
  std::vector<int> all(missing.size());
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
  if (decodedBytes(bounds(all).size()) <= limit) {
    passes.push_back(all);
  } else {
    std::vector<std::vector<int>> rows;
    for (const int t : all) {
      if (rows.empty() ||
          missing[static_cast<std::size_t>(rows.back().front())].y() != missing[static_cast<std::size_t>(t)].y())
        rows.emplace_back();
      rows.back().push_back(t);
    }
    for (auto& row : rows) {
      if (decodedBytes(bounds(row).size()) <= limit) {
        passes.push_back(std::move(row));
      } else {
        for (const int t : row) passes.push_back({t});
      }
    }
  }
  std::vector<std::pair<QRect, std::vector<int>>> plans;
  for (const auto& pass : passes) plans.emplace_back(bounds(pass), pass);
  return [=, file = path, head = header, profile = colourProfile, den = tileDenominator, owner = id, tiles = cache,
          work = workBytes()](const std::atomic<bool>& cancelled) {
    for (const auto& [area, pass] : plans) {
      jpeg::Decoded decoded = jpeg::decode(file, head, den, area, QSize(), limit, work, &cancelled);
      if (cancelled) break;
      // A tile that does not decode is left to the overview, silently.
      // FIXME: a file whose header is sound and whose data is not shows such
      // tiles as background and never says why; the error should reach the view.
      if (decoded.image.isNull()) continue;
      profile.convertToDisplay(decoded.image);
      for (const int t : pass) {
        const QPoint at = missing[static_cast<std::size_t>(t)];
        tiles->insert(TileKey{owner, den, at.x(), at.y()},
                      decoded.image.copy(rects[static_cast<std::size_t>(t)].translated(-area.topLeft())), &cancelled);
      }
    }
    return DecodeResult{};
  };
}

// Asks for the missing tiles; true when they may be looked for again.
bool Picture::Impl::requestTiles(const std::vector<QPoint>& missing) {
  if (tileTask_) return false;  // a paint after it arrives asks for what is still missing
  PictureMemory::shared().makeRoom(*this, header.coefficientBytes);
  tileTask_ = std::make_shared<DecodeTask>(tileWork(missing));
  DecodeTask::start(tileTask_, deliverer());
  if (decodeWaiting() == DecodeWaiting::Always)
    tileTask_->wait();
  else if (!tileTask_->waitFor(kDecodeMoment))
    return false;
  tileTask_.reset();
  return true;
}

std::vector<PicturePiece> Picture::Impl::pieces(QSize shown, QRect region, bool fast) {
  std::vector<PicturePiece> out;
  collect();
  region &= QRect(QPoint(0, 0), shown);
  if (region.isEmpty()) return out;
  // Pixels given back to the shared budget decode again now they are shown.
  if (image.isNull() && !task_ && held_.kind == DecodePlan::Kind::None && naturalWidth > 0) ensure(shown);
  PictureMemory::shared().shown(*this);
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
  if (!fast && !missing.empty() && requestTiles(missing)) {
    for (Cell& cell : cells)
      if (cell.tile.isNull()) cell.tile = cache->find(TileKey{id, tileDenominator, cell.at.x(), cell.at.y()});
  }
  // Regions with nothing to stand in for a missing tile make their overview:
  // waited for as the platform waits, or painted when it arrives.
  const DecodePlan overview{DecodePlan::Kind::Tiles, regions_.size, tileDenominator};
  if (image.isNull() && !task_ && regions_.kind == DecodePlan::Kind::Regions && !(failed_ == overview) &&
      std::any_of(cells.begin(), cells.end(), [](const Cell& cell) { return cell.tile.isNull(); })) {
    begin(overview);
    if (decodeWaiting() == DecodeWaiting::Always) settle();
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
  impl_->cancelDecodes();  // first: no tile arrives after the drop
  if (impl_->cache) impl_->cache->drop(impl_->id);
}

bool Picture::ensureDecoded(int shownWidthPixels, int shownHeightPixels) {
  try {
    return impl_->ensure(QSize(shownWidthPixels, shownHeightPixels));
  } catch (const std::bad_alloc&) {
    impl_->error = kOutOfMemory;
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
  const double pixels = static_cast<double>(twips) / kTwipsPerPixel;
  if (!std::isfinite(pixels)) return 0;
  return static_cast<int>(std::lround(std::clamp(pixels, 0.0, kLargestCoordinate)));
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
