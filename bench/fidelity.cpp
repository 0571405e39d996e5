#include "bench/fidelity.h"

#include <QProcess>
#include <QStringList>
#include <cmath>

#include "kit/picture_jpeg.h"

namespace bench {

namespace {

QByteArray rgbBytes(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  QByteArray bytes;
  bytes.reserve(static_cast<qsizetype>(rgb.width()) * rgb.height() * 3);
  for (int y = 0; y < rgb.height(); ++y)
    bytes.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), static_cast<qsizetype>(rgb.width()) * 3);
  return bytes;
}

// ImageMagick's Lanczos resize (3 lobes, windowed sinc) of `image` to `size`.
QImage lanczos(const QImage& image, QSize size, std::string& error) {
  QProcess convert;
  const QString in = QString("%1x%2").arg(image.width()).arg(image.height());
  const QString out = QString("%1x%2!").arg(size.width()).arg(size.height());
  // Out as PPM: raw output at depth 8 truncates ImageMagick's 16-bit levels, PPM rounds them.
  convert.start("convert", {"-size", in, "-depth", "8", "rgb:-", "-filter", "Lanczos", "-resize", out, "ppm:-"});
  if (!convert.waitForStarted()) {
    error = "ImageMagick's convert does not start";
    return {};
  }
  convert.write(rgbBytes(image));
  convert.closeWriteChannel();
  convert.waitForFinished(-1);
  const QImage result = QImage::fromData(convert.readAllStandardOutput(), "PPM");
  if (result.size() != size) {
    error = "convert failed: " + convert.readAllStandardError().toStdString();
    return {};
  }
  return result;
}

double psnr(const QImage& a, const QImage& b) {
  if (a.size() != b.size() || a.isNull()) return 0;
  const QImage x = a.convertToFormat(QImage::Format_RGB888), y = b.convertToFormat(QImage::Format_RGB888);
  double squares = 0;
  for (int row = 0; row < x.height(); ++row) {
    const uchar* p = x.constScanLine(row);
    const uchar* q = y.constScanLine(row);
    for (int i = 0; i < x.width() * 3; ++i) squares += (p[i] - q[i]) * (p[i] - q[i]);
  }
  const double mse = squares / (static_cast<double>(x.width()) * x.height() * 3);
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

QImage decodeAt(const std::string& path, int denominator, std::string& error) {
  kit::jpeg::Header header;
  if (!kit::jpeg::readHeader(path, header, error)) return {};
  kit::jpeg::Decoded decoded = kit::jpeg::decode(path, header, denominator, QRect(), QSize(), INT64_MAX, INT64_MAX);
  if (decoded.image.isNull()) error = decoded.error;
  return decoded.image;
}

}  // namespace

Fidelity measureFidelity(const std::string& jpegPath, const QImage& fitted, int denominator) {
  Fidelity f;
  const QSize size = fitted.size();
  const QImage full = decodeAt(jpegPath, 1, f.error);
  if (full.isNull()) return f;
  const QImage reference = lanczos(full, size, f.error);
  if (reference.isNull()) return f;
  const QImage scaled = decodeAt(jpegPath, denominator, f.error);
  if (scaled.isNull()) return f;
  f.fitted = psnr(fitted, reference);
  f.dctLanczos = psnr(lanczos(scaled, size, f.error), reference);
  f.qtSmooth = psnr(full.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), reference);
  return f;
}

}  // namespace bench
