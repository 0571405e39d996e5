// PNG decoding, progressive: one row at a time, straight into the picture
// at full size or through the shrinker below it. libspng reads the header and
// the chunks before the image data. Photographs (8-bit RGB or RGBA) then
// stream through the fast path: the data inflated on a thread of its own
// (kit/png_rows.h), the rows unfiltered here. libspng decodes every other
// kind (grey, palette, 16-bit, a transparent colour) into 8-bit RGBA. Colours
// are premultiplied by alpha before they are filtered, so that transparent
// pixels lend no colour to their neighbours.
#include "kit/picture_png.h"

#include <spng.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <QTransform>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "kit/picture_colour.h"
#include "kit/picture_files.h"
#include "kit/picture_jpeg.h"
#include "kit/picture_messages.h"
#include "kit/picture_shrink.h"
#include "kit/png_rows.h"
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

// The shrinker that writes a picture's rows into `out`, smaller than the
// picture; none when `out` has the picture's own size and takes them directly.
std::unique_ptr<resample::ShrinkerThread> shrinkerInto(QImage& out, const spng_ihdr& ihdr, bool alpha,
                                                       std::int64_t maxBytes) {
  const auto width = static_cast<int>(ihdr.width), rows = static_cast<int>(ihdr.height);
  if (out.width() == width && out.height() == rows) return nullptr;
  uchar* bits = out.bits();  // taken here: the shrinker's thread writes the rows
  const qsizetype bytesPerLine = out.bytesPerLine();
  return std::make_unique<resample::ShrinkerThread>(
      width, rows, out.width(), out.height(),
      [bits, bytesPerLine, rowBytes = static_cast<std::size_t>(out.width()) * 4](int row, const std::uint32_t* pixels) {
        std::memcpy(bits + row * bytesPerLine, pixels, rowBytes);
      },
      alpha, resample::ShrinkerThread::queueFor(maxBytes));
}

// The rows of one picture, decoded into `out` (stored orientation) directly
// or through a shrinker. Returns libspng's error, 0 when all rows came.
int decodeRows(spng_ctx* ctx, const spng_ihdr& ihdr, bool alpha, QImage& out, std::int64_t maxBytes) {
  const std::size_t width = ihdr.width;
  const auto rows = static_cast<int>(ihdr.height);
  uchar* bits = out.bits();  // before the shrinker's thread writes to it
  const qsizetype bytesPerLine = out.bytesPerLine();
  const std::unique_ptr<resample::ShrinkerThread> shrinker = shrinkerInto(out, ihdr, alpha, maxBytes);
  const bool direct = !shrinker;
  for (int y = 0; y < rows; ++y) {
    auto* target = direct ? bits + y * bytesPerLine : reinterpret_cast<unsigned char*>(shrinker->slot());
    const int code = spng_decode_row(ctx, target, width * 4);
    if (code != 0 && !(code == SPNG_EOI && y == rows - 1)) return code == SPNG_EOI ? SPNG_EOF : code;
    if (alpha) premultiply(target, width);
    if (shrinker) shrinker->commit();
  }
  return 0;
}

// ---- 8-bit RGB and RGBA: the fast path ----

static_assert(RowStream::kChunkRows <= resample::ShrinkerThread::kChunkRows,
              "a chunk of rows goes to the shrinker whole");

// One pixel's bytes (three or four: a fourth read with three is the next
// pixel's first and goes unused), a pixel at a time: the predictors' chain
// from the left pixel stays in registers.
#if defined(__SSE2__)
using Pixel = __m128i;
Pixel zero() { return _mm_setzero_si128(); }
Pixel averageStart() { return _mm_set1_epi8(-1); }  // the inverse of zero
Pixel load(const unsigned char* p) {
  std::int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}
void store(unsigned char* p, Pixel v) {
  const std::int32_t bytes = _mm_cvtsi128_si32(v);
  std::memcpy(p, &bytes, 4);
}
Pixel opaque(Pixel v) { return _mm_or_si128(v, _mm_cvtsi32_si128(static_cast<std::int32_t>(0xFF000000u))); }
Pixel add(Pixel a, Pixel b) { return _mm_add_epi8(a, b); }
// The Average filter's next pixel from `in`, the pixel above and the left
// one, which is carried inverted: the inverses' rounded-up average is the
// inverse of the rounded-down one, so the chain from pixel to pixel is two
// instructions.
Pixel averageNext(Pixel& notLeft, Pixel in, Pixel above) {
  const __m128i ones = _mm_set1_epi8(-1);
  notLeft = _mm_sub_epi8(_mm_avg_epu8(notLeft, _mm_xor_si128(above, ones)), in);
  return _mm_xor_si128(notLeft, ones);
}
// Left, above or above-left: the one nearest to left + above - above-left.
Pixel paeth(Pixel a, Pixel b, Pixel c) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i wa = _mm_unpacklo_epi8(a, zero), wb = _mm_unpacklo_epi8(b, zero), wc = _mm_unpacklo_epi8(c, zero);
  auto absolute = [zero](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); };
  const __m128i db = _mm_sub_epi16(wb, wc), da = _mm_sub_epi16(wa, wc);
  const __m128i pa = absolute(db), pb = absolute(da), pc = absolute(_mm_add_epi16(da, db));
  const __m128i least = _mm_min_epi16(_mm_min_epi16(pa, pb), pc);
  const __m128i takeA = _mm_cmpeq_epi16(least, pa), takeB = _mm_andnot_si128(takeA, _mm_cmpeq_epi16(least, pb));
  const __m128i chosen = _mm_or_si128(_mm_or_si128(_mm_and_si128(takeA, wa), _mm_and_si128(takeB, wb)),
                                      _mm_andnot_si128(_mm_or_si128(takeA, takeB), wc));
  return _mm_packus_epi16(chosen, chosen);
}
#else
struct Pixel {
  std::uint8_t v[4];
};
Pixel zero() { return Pixel{}; }
Pixel averageStart() { return Pixel{}; }
Pixel load(const unsigned char* p) {
  Pixel x;
  std::memcpy(x.v, p, 4);
  return x;
}
void store(unsigned char* p, Pixel x) { std::memcpy(p, x.v, 4); }
Pixel opaque(Pixel x) {
  x.v[3] = 0xFF;
  return x;
}
template <typename F>
Pixel each(Pixel a, Pixel b, Pixel c, F f) {
  for (int i = 0; i < 4; ++i) a.v[i] = static_cast<std::uint8_t>(f(a.v[i], b.v[i], c.v[i]));
  return a;
}
Pixel add(Pixel a, Pixel b) {
  return each(a, b, b, [](int x, int y, int) { return x + y; });
}
Pixel averageNext(Pixel& left, Pixel in, Pixel above) {
  left = each(in, left, above, [](int x, int l, int b) { return x + ((l + b) >> 1); });
  return left;
}
Pixel paeth(Pixel a, Pixel b, Pixel c) {
  return each(a, b, c, [](int x, int y, int z) {
    const int pa = std::abs(y - z), pb = std::abs(x - z), pc = std::abs(x + y - 2 * z);
    return pa <= pb && pa <= pc ? x : pb <= pc ? y : z;
  });
}
#endif

enum Filter { kNone, kSub, kUp, kAverage, kPaeth };

// Undoes a row's filter into `out` (the row above, unfiltered, is `above`;
// zeros above the first row) and writes its pixels to `target`, 4 bytes
// each: RGB gains an opaque alpha. `B` bytes a pixel. Reads and writes one
// byte past the row's end (the buffers have room).
template <int B, Filter F>
void unfilterRow(const unsigned char* in, const unsigned char* above, unsigned char* out, std::size_t width,
                 unsigned char* target) {
  Pixel a = zero(), c = zero();                     // left of the first pixel: zeros
  [[maybe_unused]] Pixel carried = averageStart();  // the Average filter's left pixel, as it carries it
  for (std::size_t x = 0; x < width; ++x, in += B, above += B, out += B, target += 4) {
    const Pixel b = load(above);
    if constexpr (F == kNone) a = load(in);
    if constexpr (F == kSub) a = add(load(in), a);
    if constexpr (F == kUp) a = add(load(in), b);
    if constexpr (F == kAverage) a = averageNext(carried, load(in), b);
    if constexpr (F == kPaeth) a = add(load(in), paeth(a, b, c));
    c = b;
    store(out, a);
    store(target, B == 3 ? opaque(a) : a);
  }
}

template <int B>
void unfilterRow(unsigned char type, const unsigned char* in, const unsigned char* above, unsigned char* out,
                 std::size_t width, unsigned char* target) {
  switch (type) {
    case kNone:
      return unfilterRow<B, kNone>(in, above, out, width, target);
    case kSub:
      return unfilterRow<B, kSub>(in, above, out, width, target);
    case kUp:
      return unfilterRow<B, kUp>(in, above, out, width, target);
    case kAverage:
      return unfilterRow<B, kAverage>(in, above, out, width, target);
    default:
      return unfilterRow<B, kPaeth>(in, above, out, width, target);
  }
}

// The rows of an 8-bit RGB or RGBA picture from `stream` into `out`, as
// decodeRows does. An empty string when all rows came, else why not.
std::string streamRows(RowStream& stream, const spng_ihdr& ihdr, bool alpha, QImage& out, std::int64_t maxBytes,
                       const std::atomic<bool>* cancelled) {
  const std::size_t width = ihdr.width;
  const auto rows = static_cast<int>(ihdr.height);
  const std::size_t rowBytes = width * (alpha ? 4 : 3);
  uchar* bits = out.bits();  // before the shrinker's thread writes to it
  const qsizetype bytesPerLine = out.bytesPerLine();
  const std::unique_ptr<resample::ShrinkerThread> shrinker = shrinkerInto(out, ihdr, alpha, maxBytes);
  const bool direct = !shrinker;
  // A byte more each: the rows are read and written four bytes a pixel.
  std::vector<unsigned char> above(rowBytes + 1, 0), row(rowBytes + 1);
  int y = 0;
  int count = 0;
  while (const unsigned char* chunk = stream.next(count)) {
    if (cancelled != nullptr && cancelled->load(std::memory_order_relaxed)) return jpeg::kCancelled;
    auto* target = direct ? bits + y * bytesPerLine : reinterpret_cast<unsigned char*>(shrinker->reserve(count));
    for (int i = 0; i < count; ++i, chunk += rowBytes + 1) {
      if (chunk[0] > kPaeth) return "PNG: a row has an unknown filter";
      unsigned char* pixels = target + (direct ? i * bytesPerLine : static_cast<qsizetype>(i * width * 4));
      if (alpha) {
        unfilterRow<4>(chunk[0], chunk + 1, above.data(), row.data(), width, pixels);
        premultiply(pixels, width);
      } else {
        unfilterRow<3>(chunk[0], chunk + 1, above.data(), row.data(), width, pixels);
      }
      row.swap(above);
    }
    if (shrinker) shrinker->commit(count);
    y += count;
    stream.release();
  }
  if (y < rows) return stream.error().empty() ? "PNG: the image data ends too soon" : stream.error();
  return {};
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
               std::int64_t maxBytes, const std::atomic<bool>* cancelled) {
  Decoded result;
  std::string notOpened;  // left to the caller's reader, which says why
  std::unique_ptr<std::FILE, FileCloser> file(files::openStream(path, notOpened));
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
  // 8-bit RGB and RGBA (photographs) take the fast path: their rows are
  // inflated on a thread of their own, unfiltered and expanded here.
  const bool fast =
      ihdr.bit_depth == 8 && !(alpha && ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR) &&
      (ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR || ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA);
  const std::size_t rowBytes = static_cast<std::size_t>(ihdr.width) * (alpha ? 4 : 3);
  const std::int64_t work = (stored == natural ? 0
                                               : resample::ShrinkerThread::workBytes(
                                                     natural.width(), natural.height(), stored.width(), stored.height(),
                                                     resample::ShrinkerThread::queueFor(maxBytes))) +
                            (fast ? RowStream::workBytes(rowBytes) + 2 * static_cast<std::int64_t>(rowBytes) : 0);
  if (outBytes > maxBytes || work > maxBytes) {
    result.error = "The picture is too large to decode";
    return result;
  }
  QImage out(stored, alpha ? QImage::Format_RGBA8888_Premultiplied : QImage::Format_RGBX8888);
  if (out.isNull()) {
    result.error = kOutOfMemory;
    return result;
  }
  const colour::Profile profile = declaredProfile(ctx.get());
  if (fast) {
    // A file of its own, unbuffered: the stream reads big pieces.
    std::string notOpened;
    std::unique_ptr<std::FILE, FileCloser> data(files::openStream(path, notOpened));
    if (!data || std::setvbuf(data.get(), nullptr, _IONBF, 0) != 0 || std::fseek(data.get(), 8, SEEK_SET) != 0) {
      result.error = "PNG: the file cannot be read";
      return result;
    }
    RowStream stream(data.get(), rowBytes, static_cast<int>(ihdr.height));
    result.error = streamRows(stream, ihdr, alpha, out, maxBytes, cancelled);
    if (!result.error.empty()) return result;
  } else {
    code = spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
    if (code == 0) code = decodeRows(ctx.get(), ihdr, alpha, out, maxBytes);
    if (code != 0) {
      result.error = failure(code);
      return result;
    }
  }
  // In place: the same bytes a pixel, the channels swapped.
  out.convertTo(alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  profile.convertToDisplay(out);
  result.image = transformed(std::move(out), transformation);
  if (result.image.isNull()) result.error = kOutOfMemory;
  return result;
}

}  // namespace kit::png
