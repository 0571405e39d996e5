// Shrinking: the resampler keeps exact coordinates, a picture shrunk as it
// decodes equals the whole decode shrunk at once, and PNG files of every kind
// stream to the same pixels as Qt's full read shrunk the same way.
#include <gtest/gtest.h>
#include <isa-l/crc.h>
#include <spng.h>

#include <QImageReader>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

#include "kit/picture.h"
#include "kit/picture_impl.h"
#include "kit/picture_jpeg.h"
#include "kit/picture_shrink.h"
#include "kit/resample.h"
#include "picture_test_helpers.h"

namespace {

using picture_test::maxDifference;
using picture_test::PictureFiles;
using picture_test::scene;

TEST(ResampleTruth, RampsComeOutAtTheirExactInputCoordinates) {
  // Channel 0 rises 4 levels a column, channel 1 3 levels a row: an output
  // pixel centred at input coordinate c shows the ramp's value at c, within
  // rounding, wherever it lies in the picture (away from the edges).
  struct Case {
    int inW, inH, outW, outH;
  };
  for (const Case c : {Case{60, 80, 40, 17}, Case{60, 80, 59, 79}, Case{61, 79, 8, 30}, Case{50, 60, 33, 60}}) {
    std::vector<std::uint32_t> in(static_cast<std::size_t>(c.inW * c.inH)),
        out(static_cast<std::size_t>(c.outW * c.outH));
    for (int y = 0; y < c.inH; ++y)
      for (int x = 0; x < c.inW; ++x) in[static_cast<std::size_t>(y * c.inW + x)] = 10 + 4 * x + (3 * y << 8);
    kit::resample::shrink(in.data(), c.inW, c.inH, c.inW, out.data(), c.outW, c.outH, c.outW);
    const double sx = double(c.inW) / c.outW, sy = double(c.inH) / c.outH;
    const int marginX = int(3 * sx) + 1, marginY = int(3 * sy) + 1;
    for (int y = marginY; y < c.outH - marginY; ++y)
      for (int x = marginX; x < c.outW - marginX; ++x) {
        const std::uint32_t p = out[static_cast<std::size_t>(y * c.outW + x)];
        EXPECT_NEAR(p & 0xFF, 10 + 4 * ((x + 0.5) * sx - 0.5), 0.6) << c.outW << " at " << x;
        EXPECT_NEAR((p >> 8) & 0xFF, 3 * ((y + 0.5) * sy - 0.5), 0.6) << c.outH << " at " << y;
      }
  }
}

using ResampleFiles = PictureFiles;

TEST_F(ResampleFiles, ShrinkingAsItDecodesEqualsShrinkingTheWholeDecode) {
  const QByteArray plain = picture_test::encode(scene(640, 480));
  struct Case {
    int orientation, denominator;
    QSize shown;
  };
  for (const Case c : {Case{1, 1, {501, 377}}, Case{1, 2, {300, 211}}, Case{3, 4, {97, 61}}, Case{6, 2, {199, 301}},
                       Case{8, 1, {333, 450}}, Case{1, 8, {80, 60}}}) {
    SCOPED_TRACE(c.orientation * 100 + c.denominator);
    const std::string path = write("a.jpg", picture_test::withExifOrientation(plain, c.orientation));
    kit::jpeg::Header header;
    std::string error;
    ASSERT_TRUE(kit::jpeg::readHeader(path, header, error)) << error;
    const auto whole = kit::jpeg::decode(path, header, c.denominator, QRect(), QSize(), INT64_MAX, INT64_MAX);
    const auto streamed = kit::jpeg::decode(path, header, c.denominator, QRect(), c.shown, INT64_MAX, INT64_MAX);
    ASSERT_FALSE(streamed.image.isNull()) << streamed.error;
    EXPECT_LE(maxDifference(streamed.image, kit::shrinkImage(whole.image, c.shown)), 1);
  }
}

// ---- PNG ----

struct PngKind {
  const char* name;
  std::uint8_t colorType;
  std::uint8_t depth;
  bool interlaced = false;
  bool transparentColour = false;  // a tRNS chunk
  int idatBytes = 0;               // the image data cut into chunks of this many bytes (0: as written)
};

// `png` with its image data in IDAT chunks of `size` bytes, the filter byte
// of row `badRow` (if any) made invalid.
QByteArray rechunked(const QByteArray& png, int size, int rows, int badRow = -1) {
  auto word = [&](qsizetype at) { return qFromBigEndian<quint32>(png.constData() + at); };
  QByteArray data, out = png.left(8), tail;
  for (qsizetype at = 8; at + 12 <= png.size(); at += 12 + word(at)) {
    const QByteArray chunk = png.mid(at, 12 + word(at));
    if (chunk.mid(4, 4) == "IDAT")
      data += chunk.mid(8, chunk.size() - 12);
    else
      (data.isEmpty() ? out : tail) += chunk;
  }
  if (badRow >= 0) {
    QByteArray raw = qUncompress(QByteArray(4, '\0') + data);  // the size is found as it inflates
    raw[badRow * (raw.size() / rows)] = 5;
    data = qCompress(raw).mid(4);
  }
  for (qsizetype at = 0; at < data.size(); at += size) {
    const QByteArray body = "IDAT" + data.mid(at, size);
    char head[4], crc[4];
    qToBigEndian<quint32>(static_cast<quint32>(body.size() - 4), head);
    qToBigEndian<quint32>(crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(body.constData()),
                                          static_cast<std::uint64_t>(body.size())),
                          crc);
    out += QByteArray(head, 4) + body + QByteArray(crc, 4);
  }
  return out + tail;
}

// A PNG of `kind` written with libspng: shading, a sharp pattern and, where
// the kind has alpha, alpha from opaque to clear.
QByteArray pngOf(const PngKind& kind, int width, int height) {
  const int channels = std::array{1, 0, 3, 1, 2, 0, 4}[kind.colorType];  // by the colour type's number
  const int bytes = kind.depth / 8;
  std::vector<unsigned char> data;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) {
        const int value = c == 3 || (channels == 2 && c == 1) ? 255 * x / width
                          : (x / 5 + y / 3) % 2               ? (c * 70 + 255 * y / height) % 256
                                                              : 30 + c * 50;
        data.push_back(static_cast<unsigned char>(value));
        if (bytes == 2) data.push_back(static_cast<unsigned char>(x * 37 + y));  // low byte
      }
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr ihdr{static_cast<std::uint32_t>(width),
                 static_cast<std::uint32_t>(height),
                 kind.depth,
                 kind.colorType,
                 0,
                 0,
                 static_cast<std::uint8_t>(kind.interlaced ? 1 : 0)};
  spng_set_ihdr(ctx, &ihdr);
  spng_plte plte{};
  const auto key = static_cast<std::uint16_t>(30 * (bytes == 2 ? 257 : 1));
  spng_trns trns{.gray = key, .red = key, .green = 80, .blue = 130, .n_type3_entries = 0, .type3_alpha = {}};
  if (kind.colorType == SPNG_COLOR_TYPE_INDEXED) {
    plte.n_entries = 256;
    for (int i = 0; i < 256; ++i) plte.entries[i] = {std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 7), 0};
    spng_set_plte(ctx, &plte);
    trns.n_type3_entries = 256;
    for (int i = 0; i < 256; ++i) trns.type3_alpha[i] = std::uint8_t(i * 3);
  }
  if (kind.transparentColour) spng_set_trns(ctx, &trns);
  const int error = spng_encode_image(ctx, data.data(), data.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  EXPECT_EQ(error, 0) << spng_strerror(error);
  std::size_t length = 0;
  int ignored = 0;
  void* png = spng_get_png_buffer(ctx, &length, &ignored);
  QByteArray out(static_cast<const char*>(png), static_cast<qsizetype>(length));
  std::free(png);
  spng_ctx_free(ctx);
  return kind.idatBytes > 0 ? rechunked(out, kind.idatBytes, height) : out;
}

class PngStreaming : public PictureFiles, public ::testing::WithParamInterface<PngKind> {};

TEST_P(PngStreaming, PixelsMatchQtsFullReadShrunkTheSameWay) {
  const PngKind kind = GetParam();
  const std::string path = write("a.png", pngOf(kind, 300, 200));
  QImageReader reader(QString::fromStdString(path));
  const QImage full = reader.read();
  ASSERT_FALSE(full.isNull()) << reader.errorString().toStdString();
  // 16-bit samples reach 8 bits through two roundings: one level more.
  const int tolerance = kind.depth == 16 ? 2 : 1;
  for (const QSize shown : {QSize(300, 200), QSize(211, 97), QSize(40, 30)}) {
    const auto picture = kit::Picture::open(path);  // afresh: nothing held to shrink from
    ASSERT_TRUE(picture->ensureDecoded(shown.width(), shown.height())) << picture->lastError();
    EXPECT_EQ(picture->impl().image.hasAlphaChannel(), full.hasAlphaChannel());
    EXPECT_LE(maxDifference(picture->impl().image, shown == full.size() ? full : kit::shrinkImage(full, shown)),
              tolerance)
        << shown.width();
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, PngStreaming,
    ::testing::Values(PngKind{"rgb", SPNG_COLOR_TYPE_TRUECOLOR, 8}, PngKind{"rgba", SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8},
                      PngKind{"grey", SPNG_COLOR_TYPE_GRAYSCALE, 8},
                      PngKind{"greyAlpha", SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 8},
                      PngKind{"palette", SPNG_COLOR_TYPE_INDEXED, 8},
                      PngKind{"paletteAlpha", SPNG_COLOR_TYPE_INDEXED, 8, false, true},
                      PngKind{"rgbKeyColour", SPNG_COLOR_TYPE_TRUECOLOR, 8, false, true},
                      PngKind{"rgb16", SPNG_COLOR_TYPE_TRUECOLOR, 16},
                      PngKind{"rgba16", SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 16},
                      PngKind{"grey16KeyColour", SPNG_COLOR_TYPE_GRAYSCALE, 16, false, true},
                      PngKind{"interlaced", SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8, true},
                      PngKind{"rgbaInSmallChunks", SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8, false, false, 5}),
    [](const auto& info) { return std::string(info.param.name); });

// A cut file, a flipped byte in the image data (its chunk's CRC), data cut
// inside the first chunk and a row with an unknown filter each fail with a
// message of the PNG reader.
TEST_F(PictureFiles, DamagedPngRowsFailWithTheReadersMessage) {
  const QByteArray good = pngOf({"rgb", SPNG_COLOR_TYPE_TRUECOLOR, 8}, 300, 200);
  const qsizetype data = good.indexOf("IDAT") + 4;
  QByteArray flipped = good;
  flipped[data + 100] = static_cast<char>(flipped[data + 100] ^ 0x55);
  for (const QByteArray& bad :
       {good.left(good.size() / 2), flipped, good.left(data + 6), rechunked(good, 999, 200, 77)}) {
    const auto picture = kit::Picture::open(write("a.png", bad));
    EXPECT_FALSE(picture->ensureDecoded(300, 200));
    EXPECT_NE(picture->lastError().find("PNG"), std::string::npos) << picture->lastError();
  }
}

}  // namespace
