// Pictures decoded with Qt's image readers.
//
// The reader always applies the file's EXIF transformation. The natural size
// is the header's size with that transformation applied: the reader reports
// the stored size, so a quarter turn swaps it here.
//
// Decoding stays within a memory budget below Qt's allocation limit (which is
// never switched off). A picture whose full decode would exceed the budget is
// decoded at 1/2, 1/4, 1/8 ... of its size, the first that fits; it still
// reports its natural size. Halving keeps the JPEG decoder on its own cheap
// reduced decode (it reduces by powers of two before any exact scaling), so
// the decoder's intermediate image is no larger than the result. Readers that
// cannot decode at a reduced size (BMP, TIFF and the PNM family among them)
// decode fully and scale afterwards, so for them Qt's allocation limit still
// decides what can be loaded; a picture over the limit fails like any other
// unreadable file.
#include "kit/picture.h"

#include <QImageIOHandler>
#include <QImageReader>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <utility>

#include "korvena/RuntimeError.h"
#include "kit/picture_impl.h"
#include "kit/platform.h"

namespace kit {

namespace {

constexpr std::int64_t kMegabyte = 1024 * 1024;
// Used when the process has no allocation limit: the limit Qt applies by default.
constexpr int kDefaultLimitMegabytes = 128;

[[noreturn]] void fail(const QImageReader& reader) {
  std::string text = reader.errorString().toStdString();
  if (text.empty()) text = "Invalid picture";
  throw korvena::RuntimeError(kInvalidPictureError, text);
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

std::int64_t decodedBytes(QSize size, std::int64_t pixelBytes) {
  return static_cast<std::int64_t>(size.width()) * size.height() * pixelBytes;
}

// The size to decode a picture stored at `stored` size: the stored size when
// it fits the budget, otherwise the first halving that does.
QSize decodeSize(QSize stored, std::int64_t pixelBytes, std::int64_t budget) {
  QSize size = stored;
  for (int divisor = 2; decodedBytes(size, pixelBytes) > budget && size.width() > 1 && size.height() > 1;
       divisor *= 2) {
    size = QSize(std::max(1, stored.width() / divisor), std::max(1, stored.height() / divisor));
  }
  return size;
}

}  // namespace

std::shared_ptr<Picture> Picture::load(const std::string& path) {
  QImageReader reader(QString::fromStdString(path));
  reader.setAutoTransform(true);
  if (!reader.canRead()) fail(reader);

  const QSize stored = reader.size();
  const bool known = stored.isValid() && !stored.isEmpty();
  const bool quarterTurn =
      reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
  if (known) {
    // The reduced size is given in stored orientation: the reader scales
    // before it turns the picture.
    const QSize target = decodeSize(stored, bytesPerPixel(reader.imageFormat()), budgetBytes());
    if (target != stored) reader.setScaledSize(target);
  }

  QImage image = reader.read();
  if (image.isNull()) fail(reader);

  auto impl = std::make_unique<Impl>();
  const QSize natural = known ? (quarterTurn ? stored.transposed() : stored) : image.size();
  impl->naturalWidth = natural.width();
  impl->naturalHeight = natural.height();
  impl->image = std::move(image);
  impl->path = path;
  return std::shared_ptr<Picture>(new Picture(std::move(impl)));
}

Picture::Picture(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Picture::~Picture() = default;

int Picture::widthPixels() const { return impl_->naturalWidth; }

int Picture::heightPixels() const { return impl_->naturalHeight; }

float Picture::widthTwips() const { return static_cast<float>(impl_->naturalWidth) * kTwipsPerPixel; }

float Picture::heightTwips() const {
  return static_cast<float>(impl_->naturalHeight) * kTwipsPerPixel;
}

const std::string& Picture::path() const { return impl_->path; }

}  // namespace kit
