#include "kit/picture_shrink.h"

#include <QColorSpace>

#include "kit/resample.h"

namespace kit {

QImage::Format shrinkFormat(bool alpha) {
  // RGBA8888 keeps alpha in the fourth byte on every byte order.
  return alpha ? QImage::Format_RGBA8888_Premultiplied : QImage::Format_RGB32;
}

QImage shrinkImage(const QImage& image, QSize size) {
  if (image.isNull() || size.isEmpty()) return {};
  const bool alpha = image.hasAlphaChannel();
  const QImage in = image.convertToFormat(shrinkFormat(alpha));
  QImage out(size, shrinkFormat(alpha));
  if (in.isNull() || out.isNull()) return {};
  resample::shrink(reinterpret_cast<const std::uint32_t*>(in.constBits()), in.width(), in.height(),
                   in.bytesPerLine() / 4, reinterpret_cast<std::uint32_t*>(out.bits()), out.width(), out.height(),
                   out.bytesPerLine() / 4, alpha);
  if (alpha) out.convertTo(QImage::Format_ARGB32_Premultiplied);
  // The pixels keep their meaning: the colour space goes with them.
  out.setColorSpace(image.colorSpace());
  return out;
}

QImage readShrunk(QImageReader& reader, QSize natural, QSize want, bool quarterTurn, std::int64_t budget) {
  const QByteArray format = reader.format();
  const bool vector = format == "svg" || format == "svgz";
  const bool wholeFits = static_cast<std::int64_t>(natural.width()) * natural.height() * 4 <= budget;
  // The reader scales before it turns the picture: the size goes in stored orientation.
  if (want != natural && (vector || !wholeFits)) reader.setScaledSize(quarterTurn ? want.transposed() : want);
  QImage image = reader.read();
  if (image.isNull() || image.size() == want || want.width() > image.width() || want.height() > image.height())
    return image;
  QImage small = shrinkImage(image, want);
  return small.isNull() ? image : small;
}

}  // namespace kit
