// PNG decoding with libspng, progressive: one row at a time, straight into
// the picture at full size or through the shrinker below it. libspng turns
// every kind (grey, palette, 16-bit, with or without alpha or a transparent
// colour) into 8-bit RGBA; colours are premultiplied by alpha before they
// are filtered, so that transparent pixels lend no colour to their
// neighbours.
#include "kit/picture_png.h"

#include <spng.h>

#include <QTransform>
#include <cstdio>
#include <cstring>
#include <memory>

#include "kit/picture_colour.h"
#include "kit/picture_messages.h"
#include "kit/picture_shrink.h"
#include "kit/resample.h"

namespace kit::png {

namespace {

constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kFileBuffer = 256 * 1024;
// Chunks past this size (and ancillary data past it in all) are refused:
// a hostile file cannot make the decoder hold more.
constexpr std::size_t kChunkLimit = 64 * 1024 * 1024;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
struct ContextFreer {
  void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};

std::string failure(int code) { return std::string("PNG: ") + spng_strerror(code); }

void premultiply(unsigned char* rgba, std::size_t pixels) {
  for (std::size_t i = 0; i < pixels; ++i, rgba += 4) {
    const unsigned a = rgba[3];
    if (a == 255) continue;
    for (int c = 0; c < 3; ++c) {
      const unsigned t = rgba[c] * a + 128;
      rgba[c] = static_cast<unsigned char>((t + (t >> 8)) >> 8);
    }
  }
}

// Qt's EXIF transformation of a decoded picture: mirror and flip first, then the quarter turn.
QImage transformed(QImage image, QImageIOHandler::Transformations t) {
  if (t == QImageIOHandler::TransformationNone) return image;
  if (t == QImageIOHandler::TransformationRotate270) return image.transformed(QTransform().rotate(270));
  image = image.mirrored(t.testFlag(QImageIOHandler::TransformationMirror),
                         t.testFlag(QImageIOHandler::TransformationFlip));
  if (t.testFlag(QImageIOHandler::TransformationRotate90)) image = image.transformed(QTransform().rotate(90));
  return image;
}

// The rows of one picture, decoded into `out` (stored orientation) directly
// or through a shrinker. Returns libspng's error, 0 when all rows came.
int decodeRows(spng_ctx* ctx, const spng_ihdr& ihdr, bool alpha, QImage& out, std::int64_t maxBytes) {
  const std::size_t width = ihdr.width;
  const auto rows = static_cast<int>(ihdr.height);
  const bool direct = out.width() == static_cast<int>(ihdr.width) && out.height() == rows;
  std::unique_ptr<resample::ShrinkerThread> shrinker;
  uchar* bits = out.bits();  // taken here: the shrinker's thread writes the rows
  const qsizetype bytesPerLine = out.bytesPerLine();
  if (!direct) {
    shrinker = std::make_unique<resample::ShrinkerThread>(
        static_cast<int>(width), rows, out.width(), out.height(),
        [bits, bytesPerLine, rowBytes = static_cast<std::size_t>(out.width()) * 4](int row, const std::uint32_t* pixels) {
          std::memcpy(bits + row * bytesPerLine, pixels, rowBytes);
        },
        alpha, resample::ShrinkerThread::queueFor(maxBytes));
  }
  for (int y = 0; y < rows; ++y) {
    auto* target = direct ? bits + y * bytesPerLine : reinterpret_cast<unsigned char*>(shrinker->slot());
    const int code = spng_decode_row(ctx, target, width * 4);
    if (code != 0 && !(code == SPNG_EOI && y == rows - 1)) return code == SPNG_EOI ? SPNG_EOF : code;
    if (alpha) premultiply(target, width);
    if (shrinker) shrinker->commit();
  }
  return 0;
}

// The colours the file declares: an ICC profile, else sRGB, else its
// chromaticities and gamma (as a Qt reader would take them); none: sRGB.
colour::Profile declaredProfile(spng_ctx* ctx) {
  spng_iccp iccp{};
  if (spng_get_iccp(ctx, &iccp) == 0 && iccp.profile != nullptr)
    return colour::Profile::fromIcc(QByteArray(iccp.profile, static_cast<qsizetype>(iccp.profile_len)));
  std::uint8_t intent = 0;
  if (spng_get_srgb(ctx, &intent) == 0) return {};
  std::uint32_t fileGamma = 0;
  if (spng_get_gama_int(ctx, &fileGamma) != 0 || fileGamma == 0) return {};
  constexpr double kScale = 100000.0;
  const float gamma = static_cast<float>(kScale / fileGamma);
  spng_chrm_int chrm{};
  if (spng_get_chrm_int(ctx, &chrm) != 0)
    return colour::Profile::fromColorSpace(QColorSpace(QColorSpace::Primaries::SRgb, gamma));
  auto point = [&](std::uint32_t x, std::uint32_t y) { return QPointF(x / kScale, y / kScale); };
  return colour::Profile::fromColorSpace(QColorSpace(
      point(chrm.white_point_x, chrm.white_point_y), point(chrm.red_x, chrm.red_y), point(chrm.green_x, chrm.green_y),
      point(chrm.blue_x, chrm.blue_y), QColorSpace::TransferFunction::Gamma, gamma));
}

}  // namespace

Decoded decode(const std::string& path, QSize size, QImageIOHandler::Transformations transformation,
               std::int64_t maxBytes) {
  Decoded result;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return result;
  unsigned char signature[8] = {};
  if (std::fread(signature, 1, 8, file.get()) != 8 || std::memcmp(signature, kSignature, 8) != 0) return result;
  std::rewind(file.get());
  std::setvbuf(file.get(), nullptr, _IOFBF, kFileBuffer);

  // Each chunk's CRC already checks the data: the inflater's own checksum is skipped.
  std::unique_ptr<spng_ctx, ContextFreer> ctx(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32));
  spng_ihdr ihdr{};
  int code = ctx ? 0 : SPNG_EMEM;
  if (code == 0) code = spng_set_png_file(ctx.get(), file.get());
  if (code == 0) code = spng_set_chunk_limits(ctx.get(), kChunkLimit, kChunkLimit);
  if (code == 0) code = spng_get_ihdr(ctx.get(), &ihdr);
  result.handled = true;
  if (code != 0) {
    result.error = failure(code);
    return result;
  }
  if (ihdr.interlace_method != SPNG_INTERLACE_NONE) {
    result.handled = false;
    return result;
  }
  spng_trns trns{};
  const bool alpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                     ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || spng_get_trns(ctx.get(), &trns) == 0;

  const QSize natural(static_cast<int>(ihdr.width), static_cast<int>(ihdr.height));
  const bool quarterTurn = transformation.testFlag(QImageIOHandler::TransformationRotate90);
  const QSize stored = (quarterTurn ? size.transposed() : size).boundedTo(natural).expandedTo(QSize(1, 1));
  const std::int64_t outBytes = static_cast<std::int64_t>(stored.width()) * stored.height() * 4;
  const std::int64_t work = stored == natural ? 0
                                              : resample::ShrinkerThread::workBytes(
                                                    natural.width(), natural.height(), stored.width(), stored.height(),
                                                    resample::ShrinkerThread::queueFor(maxBytes));
  if (outBytes > maxBytes || work > maxBytes) {
    result.error = "The picture is too large to decode";
    return result;
  }
  QImage out(stored, alpha ? QImage::Format_RGBA8888_Premultiplied : QImage::Format_RGBX8888);
  if (out.isNull()) {
    result.error = kOutOfMemory;
    return result;
  }
  code = spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
  if (code == 0) code = decodeRows(ctx.get(), ihdr, alpha, out, maxBytes);
  if (code != 0) {
    result.error = failure(code);
    return result;
  }
  // In place: the same bytes a pixel, the channels swapped.
  out.convertTo(alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  declaredProfile(ctx.get()).convertToDisplay(out);
  result.image = transformed(std::move(out), transformation);
  if (result.image.isNull()) result.error = kOutOfMemory;
  return result;
}

}  // namespace kit::png
