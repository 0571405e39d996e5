// HEIF, AVIF and JPEG XL decoding with the formats' reference libraries.
//
// The three decoders read from memory: the file is read whole first (these
// files are compressed, a few megabytes for a large photo), bounded by the
// caller. Each decoder's own limits stay in force; ours come first, from the
// header's dimensions, so a file that claims a giant picture is refused
// before any pixel is allocated.
//
// Orientation: libheif applies irot/imir itself and reports the turned size;
// libavif reports them and leaves the turn to us; libjxl applies its
// orientation field and reports the stored size. An Exif orientation inside
// these files is not applied again (the containers' own fields take its place).
#include "kit/picture_codecs.h"

#include <dlfcn.h>

#include <QColorSpace>
#include <QTransform>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

// clang-format off
#include <libheif/heif.h>
#include <avif/avif.h>
#include <jxl/decode.h>
// clang-format on

#include "kit/picture_files.h"
#include "kit/picture_messages.h"

namespace kit::codecs {

namespace {

// Two libraries the decoders bring keep what they allocate as they load (the
// HEVC decoder's tables, the OpenMP runtime's state) for the process's life:
// they stay loaded when a host unloads this library, so that memory stays theirs.
[[maybe_unused]] const bool kPinned = [] {
  for (const char* library : {"libde265.so.0", "libgomp.so.1"}) dlopen(library, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  return true;
}();

constexpr const char* kCancelled = "The decode was cancelled";
constexpr const char* kTooLarge = "The picture is too large to decode";
// Bytes per pixel a decode holds while it works, beside the pixels it hands
// over (4): libheif's planes and its RGBA copy; libavif's YUV planes;
// libjxl's floating-point frame (a 24 MP picture peaks near 15 bytes a pixel).
constexpr int kHeifWork = 12;
constexpr int kAvifWork = 10;
constexpr int kJxlWork = 16;

std::int64_t pixels(QSize size) { return static_cast<std::int64_t>(size.width()) * size.height(); }

bool cancelledNow(const std::atomic<bool>* cancelled) {
  return cancelled != nullptr && cancelled->load(std::memory_order_relaxed);
}

// FIXME: the header of a HEIF, AVIF or JPEG XL file is read this way too, on
// the UI thread at open; reading only the boxes the header needs would spare it.
// Inside one libheif or libavif call a cancel is not seen until it returns.
bool readWhole(const std::string& path, QByteArray& bytes, std::string& error, std::int64_t maxBytes,
               const std::atomic<bool>* cancelled) {
  const std::unique_ptr<QFile> file = files::openForReader(path, error, cancelled);
  if (!file) return false;
  if (file->size() > maxBytes) {
    error = "The file is too large to decode";
    return false;
  }
  bytes = file->readAll();
  if (cancelledNow(cancelled)) {
    error = kCancelled;
    return false;
  }
  if (bytes.isEmpty()) {
    error = "The file is empty";
    return false;
  }
  return true;
}

// The decoded pixels as the views hold them, with their colour space.
QImage finished(QImage image, bool alpha, const QByteArray& icc) {
  image.convertTo(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  if (!image.isNull() && !icc.isEmpty()) {
    const QColorSpace space = QColorSpace::fromIccProfile(icc);
    if (space.isValid()) image.setColorSpace(space);
  }
  return image;
}

QImage shrunkTo(QImage image, QSize size) {
  if (image.isNull() || image.size() == size) return image;
  return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// ---- HEIF ----

struct HeifDeleter {
  void operator()(heif_context* c) const { heif_context_free(c); }
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
  void operator()(heif_image* i) const { heif_image_release(i); }
  void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};
template <class T>
using HeifPtr = std::unique_ptr<T, HeifDeleter>;

std::string heifMessage(const heif_error& e) {
  return e.message != nullptr && e.message[0] != '\0' ? std::string("HEIF: ") + e.message : "Invalid HEIF file";
}

struct HeifFile {
  HeifPtr<heif_context> context;
  HeifPtr<heif_image_handle> primary;
  HeifPtr<heif_image_handle> thumbnail;  // the largest, when there is one
};

bool openHeif(const QByteArray& bytes, HeifFile& file, std::string& error) {
  static const bool initialised = heif_init(nullptr).code == heif_error_Ok;
  if (!initialised) {
    error = "The HEIF decoder could not start";
    return false;
  }
  file.context.reset(heif_context_alloc());
  heif_error e = heif_context_read_from_memory_without_copy(file.context.get(), bytes.constData(),
                                                            static_cast<std::size_t>(bytes.size()), nullptr);
  if (e.code != heif_error_Ok) {
    error = heifMessage(e);
    return false;
  }
  heif_image_handle* handle = nullptr;
  e = heif_context_get_primary_image_handle(file.context.get(), &handle);
  if (e.code != heif_error_Ok) {
    error = heifMessage(e);
    return false;
  }
  file.primary.reset(handle);
  const int count = std::min(heif_image_handle_get_number_of_thumbnails(handle), 16);
  std::vector<heif_item_id> ids(static_cast<std::size_t>(std::max(count, 0)));
  if (count > 0) heif_image_handle_get_list_of_thumbnail_IDs(handle, ids.data(), count);
  for (const heif_item_id id : ids) {
    heif_image_handle* thumb = nullptr;
    if (heif_image_handle_get_thumbnail(handle, id, &thumb).code != heif_error_Ok) continue;
    HeifPtr<heif_image_handle> owned(thumb);
    if (!file.thumbnail || heif_image_handle_get_width(thumb) > heif_image_handle_get_width(file.thumbnail.get()))
      file.thumbnail = std::move(owned);
  }
  return true;
}

QSize heifSize(const heif_image_handle* handle) {
  return {heif_image_handle_get_width(handle), heif_image_handle_get_height(handle)};
}

bool heifHeader(const QByteArray& bytes, Header& header, std::string& error) {
  HeifFile file;
  if (!openHeif(bytes, file, error)) return false;
  header.natural = heifSize(file.primary.get());
  if (file.thumbnail) header.reduced = heifSize(file.thumbnail.get());
  const std::size_t icc = heif_image_handle_get_raw_color_profile_size(file.primary.get());
  if (icc > 0) {
    header.iccProfile.resize(static_cast<qsizetype>(icc));
    if (heif_image_handle_get_raw_color_profile(file.primary.get(), header.iccProfile.data()).code != heif_error_Ok)
      header.iccProfile.clear();
  }
  header.workBytesPerPixel = kHeifWork;
  return true;
}

Decoded heifDecode(const QByteArray& bytes, const Header& header, bool fromReduced,
                   const std::atomic<bool>* cancelled) {
  Decoded out;
  HeifFile file;
  if (!openHeif(bytes, file, out.error)) return out;
  const heif_image_handle* handle = fromReduced && file.thumbnail ? file.thumbnail.get() : file.primary.get();
  if (cancelledNow(cancelled)) {
    out.error = kCancelled;
    return out;
  }
  // NOTE: a derived image (a grid) declares its own output size; libheif
  // allocates it as declared. No image may be much larger than the primary's
  // size, which the budget was checked against (the margin covers coded
  // sizes padded to whole coding blocks; libheif's limit is exclusive).
  constexpr int kCodedMargin = 256;
  heif_context_set_maximum_image_size_limit(file.context.get(),
                                            kCodedMargin + std::max(heif_image_handle_get_width(file.primary.get()),
                                                                    heif_image_handle_get_height(file.primary.get())));
  const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
  HeifPtr<heif_decoding_options> options(heif_decoding_options_alloc());
  options->convert_hdr_to_8bit = 1;
  heif_image* decoded = nullptr;
  const heif_error e =
      heif_decode_image(handle, &decoded, heif_colorspace_RGB,
                        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
  HeifPtr<heif_image> image(decoded);
  if (e.code != heif_error_Ok || !image) {
    out.error = heifMessage(e);
    return out;
  }
  int stride = 0;
  const std::uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
  if (plane == nullptr || width <= 0 || height <= 0 || pixels({width, height}) > pixels(header.natural) * 4) {
    out.error = "Invalid HEIF file";
    return out;
  }
  // Wraps libheif's rows; the conversion below copies them.
  const QImage rows(plane, width, height, stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
  out.image = finished(rows, alpha, header.iccProfile);
  return out;
}

// ---- AVIF ----

struct AvifDecoderDeleter {
  void operator()(avifDecoder* d) const { avifDecoderDestroy(d); }
};
using AvifPtr = std::unique_ptr<avifDecoder, AvifDecoderDeleter>;

std::string avifMessage(avifResult result) { return std::string("AVIF: ") + avifResultToString(result); }

// Parses the file: the first image's header, no pixels yet.
AvifPtr parseAvif(const QByteArray& bytes, std::string& error, std::int64_t maxPixels) {
  AvifPtr decoder(avifDecoderCreate());
  if (!decoder) {
    error = kOutOfMemory;
    return nullptr;
  }
  decoder->maxThreads = 1;
  decoder->strictFlags = AVIF_STRICT_DISABLED;
  decoder->imageSizeLimit =
      static_cast<std::uint32_t>(std::clamp<std::int64_t>(maxPixels, 1, AVIF_DEFAULT_IMAGE_SIZE_LIMIT));
  decoder->ignoreXMP = AVIF_TRUE;
  decoder->ignoreExif = AVIF_TRUE;
  avifResult result = avifDecoderSetIOMemory(decoder.get(), reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                             static_cast<std::size_t>(bytes.size()));
  if (result == AVIF_RESULT_OK) result = avifDecoderParse(decoder.get());
  if (result != AVIF_RESULT_OK) {
    error = avifMessage(result);
    return nullptr;
  }
  return decoder;
}

bool avifQuarterTurn(const avifImage* image) {
  return (image->transformFlags & AVIF_TRANSFORM_IROT) != 0 && image->irot.angle % 2 == 1;
}

bool avifHeader(const QByteArray& bytes, Header& header, std::string& error) {
  const AvifPtr decoder = parseAvif(bytes, error, AVIF_DEFAULT_IMAGE_SIZE_LIMIT);
  if (!decoder) return false;
  const avifImage* image = decoder->image;
  const QSize stored(static_cast<int>(std::min<std::uint32_t>(image->width, 1u << 30)),
                     static_cast<int>(std::min<std::uint32_t>(image->height, 1u << 30)));
  if (stored.isEmpty()) {
    error = "Invalid AVIF file";
    return false;
  }
  header.natural = avifQuarterTurn(image) ? stored.transposed() : stored;
  if (image->icc.size > 0)
    header.iccProfile =
        QByteArray(reinterpret_cast<const char*>(image->icc.data), static_cast<qsizetype>(image->icc.size));
  header.workBytesPerPixel = kAvifWork;
  return true;
}

// irot turns anticlockwise, after which imir mirrors.
QImage avifOriented(QImage pixels, const avifImage* image) {
  QTransform turn;
  if ((image->transformFlags & AVIF_TRANSFORM_IROT) != 0 && image->irot.angle != 0)
    turn.rotate(-90.0 * image->irot.angle);
  if (!turn.isIdentity()) pixels = pixels.transformed(turn);
  if ((image->transformFlags & AVIF_TRANSFORM_IMIR) != 0)
    pixels = image->imir.mode == 0 ? pixels.mirrored(false, true) : pixels.mirrored(true, false);
  return pixels;
}

Decoded avifDecode(const QByteArray& bytes, const Header& header, std::int64_t maxPixels,
                   const std::atomic<bool>* cancelled) {
  Decoded out;
  const AvifPtr decoder = parseAvif(bytes, out.error, maxPixels);
  if (!decoder) return out;
  if (cancelledNow(cancelled)) {
    out.error = kCancelled;
    return out;
  }
  const avifResult result = avifDecoderNextImage(decoder.get());
  if (result != AVIF_RESULT_OK) {
    out.error = avifMessage(result);
    return out;
  }
  avifImage* image = decoder->image;
  const bool alpha = image->alphaPlane != nullptr;
  QImage pixels(static_cast<int>(image->width), static_cast<int>(image->height),
                alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  if (pixels.isNull()) {
    out.error = kOutOfMemory;
    return out;
  }
  avifRGBImage rgb;
  avifRGBImageSetDefaults(&rgb, image);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
  rgb.format = AVIF_RGB_FORMAT_BGRA;  // 0xAARRGGBB in memory order
#else
  rgb.format = AVIF_RGB_FORMAT_ARGB;
#endif
  rgb.depth = 8;
  rgb.pixels = pixels.bits();
  rgb.rowBytes = static_cast<std::uint32_t>(pixels.bytesPerLine());
  const avifResult converted = avifImageYUVToRGB(image, &rgb);
  if (converted != AVIF_RESULT_OK) {
    out.error = avifMessage(converted);
    return out;
  }
  out.image = finished(avifOriented(std::move(pixels), image), alpha, header.iccProfile);
  return out;
}

// ---- JPEG XL ----

struct JxlDeleter {
  void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};

// Runs libjxl over the file up to the first picture (or the preview, with
// `preview`); `header` only: up to the colour profile.
class JxlRun {
 public:
  JxlRun(const QByteArray& bytes, bool preview, bool headerOnly) : decoder_(JxlDecoderCreate(nullptr)) {
    if (!decoder_) return;
    int events = JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING;
    if (!headerOnly) events |= preview ? JXL_DEC_PREVIEW_IMAGE : JXL_DEC_FULL_IMAGE;
    JxlDecoderSubscribeEvents(decoder_.get(), events);
    JxlDecoderSetInput(decoder_.get(), reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                       static_cast<std::size_t>(bytes.size()));
    JxlDecoderCloseInput(decoder_.get());
  }

  // Fills `header`; with a limit, decodes the picture into `out`.
  bool run(Header& header, QImage& out, std::string& error, std::int64_t maxBytes, const std::atomic<bool>* cancelled) {
    if (!decoder_) {
      error = kOutOfMemory;
      return false;
    }
    for (;;) {
      if (cancelledNow(cancelled)) {
        error = kCancelled;
        return false;
      }
      switch (JxlDecoderProcessInput(decoder_.get())) {
        case JXL_DEC_BASIC_INFO:
          if (!readBasicInfo(header)) return fail(error);
          break;
        case JXL_DEC_COLOR_ENCODING:
          readProfile(header);
          if (maxBytes <= 0) return true;
          break;
        case JXL_DEC_NEED_PREVIEW_OUT_BUFFER:
          if (!setBuffer(header.reduced, maxBytes, out, error, true)) return false;
          break;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
          if (!setBuffer(header.natural, maxBytes, out, error, false)) return false;
          break;
        case JXL_DEC_PREVIEW_IMAGE:
        case JXL_DEC_FULL_IMAGE:
          return true;  // the first frame of a sequence
        case JXL_DEC_SUCCESS:
          if (!out.isNull()) return true;
          error = "The JPEG XL file holds no picture";
          return false;
        case JXL_DEC_NEED_MORE_INPUT:
          error = "The file ends before the picture does";
          return false;
        default:
          return fail(error);
      }
    }
  }

  bool alpha() const { return alpha_; }

 private:
  bool readBasicInfo(Header& header) {
    JxlBasicInfo info{};
    if (JxlDecoderGetBasicInfo(decoder_.get(), &info) != JXL_DEC_SUCCESS) return false;
    const bool turn = info.orientation >= JXL_ORIENT_TRANSPOSE;
    const QSize stored(static_cast<int>(std::min<std::uint32_t>(info.xsize, 1u << 30)),
                       static_cast<int>(std::min<std::uint32_t>(info.ysize, 1u << 30)));
    header.natural = turn ? stored.transposed() : stored;
    if (info.have_preview) {
      const QSize small(static_cast<int>(info.preview.xsize), static_cast<int>(info.preview.ysize));
      header.reduced = turn ? small.transposed() : small;
    }
    alpha_ = info.alpha_bits > 0;
    header.workBytesPerPixel = kJxlWork;
    return !header.natural.isEmpty();
  }
  // The profile of the pixels as decoded (an XYB picture decodes to a space
  // of the decoder's choosing, described here).
  void readProfile(Header& header) {
    std::size_t size = 0;
    if (JxlDecoderGetICCProfileSize(decoder_.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) != JXL_DEC_SUCCESS ||
        size == 0 || size >= (1u << 24))
      return;
    header.iccProfile.resize(static_cast<qsizetype>(size));
    if (JxlDecoderGetColorAsICCProfile(decoder_.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       reinterpret_cast<std::uint8_t*>(header.iccProfile.data()),
                                       size) != JXL_DEC_SUCCESS)
      header.iccProfile.clear();
  }
  static bool fail(std::string& error) {
    error = "Invalid JPEG XL file";
    return false;
  }
  bool setBuffer(QSize size, std::int64_t maxBytes, QImage& out, std::string& error, bool preview) {
    if (pixels(size) * kJxlWork > maxBytes) {
      error = kTooLarge;
      return false;
    }
    const JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    out = QImage(size, QImage::Format_RGBA8888);
    std::size_t need = 0;
    const JxlDecoderStatus sized = preview ? JxlDecoderPreviewOutBufferSize(decoder_.get(), &format, &need)
                                           : JxlDecoderImageOutBufferSize(decoder_.get(), &format, &need);
    if (out.isNull() || sized != JXL_DEC_SUCCESS || need != static_cast<std::size_t>(out.sizeInBytes())) {
      error = out.isNull() ? kOutOfMemory : "Invalid JPEG XL file";
      return false;
    }
    const JxlDecoderStatus set = preview ? JxlDecoderSetPreviewOutBuffer(decoder_.get(), &format, out.bits(), need)
                                         : JxlDecoderSetImageOutBuffer(decoder_.get(), &format, out.bits(), need);
    return set == JXL_DEC_SUCCESS || fail(error);
  }

  std::unique_ptr<JxlDecoder, JxlDeleter> decoder_;
  bool alpha_ = false;
};

}  // namespace

Format sniff(const unsigned char* bytes, std::size_t size) {
  if (size >= 2 && JxlSignatureCheck(bytes, size) >= JXL_SIG_CODESTREAM) return Format::Jxl;
  // An ISO base media file: 'ftyp', a major brand, a version, compatible brands.
  if (size < 16 || std::memcmp(bytes + 4, "ftyp", 4) != 0) return Format::None;
  const std::size_t box =
      (std::size_t{bytes[0]} << 24) | (std::size_t{bytes[1]} << 16) | (std::size_t{bytes[2]} << 8) | bytes[3];
  const std::size_t end = std::min(size, std::max<std::size_t>(box, 16));
  bool heif = false;
  for (std::size_t at = 8; at + 4 <= end; at += at == 8 ? 8 : 4) {
    const char* brand = reinterpret_cast<const char*>(bytes + at);
    if (std::memcmp(brand, "avif", 4) == 0 || std::memcmp(brand, "avis", 4) == 0) return Format::Avif;
    for (const char* h : {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"})
      if (std::memcmp(brand, h, 4) == 0) heif = true;
  }
  return heif ? Format::Heif : Format::None;
}

std::int64_t Header::workBytes(QSize size) const {
  const QSize source =
      !reduced.isEmpty() && reduced.width() >= size.width() && reduced.height() >= size.height() ? reduced : natural;
  return pixels(source) * workBytesPerPixel + pixels(size) * 4;
}

bool readHeader(const std::string& path, Format format, Header& header, std::string& error, std::int64_t maxFileBytes) {
  QByteArray bytes;
  if (!readWhole(path, bytes, error, maxFileBytes, nullptr)) return false;
  header = Header{};
  header.format = format;
  switch (format) {
    case Format::Heif:
      return heifHeader(bytes, header, error);
    case Format::Avif:
      return avifHeader(bytes, header, error);
    case Format::Jxl: {
      QImage none;
      return JxlRun(bytes, false, true).run(header, none, error, 0, nullptr);
    }
    case Format::None:
      break;
  }
  error = "Invalid picture";
  return false;
}

Decoded decode(const std::string& path, const Header& header, QSize size, std::int64_t maxBytes,
               const std::atomic<bool>* cancelled) {
  Decoded out;
  size = size.boundedTo(header.natural).expandedTo(QSize(1, 1));
  if (header.workBytes(size) > maxBytes) {
    out.error = kTooLarge;
    return out;
  }
  QByteArray bytes;
  if (!readWhole(path, bytes, out.error, maxBytes, cancelled)) return out;
  const bool fromReduced =
      !header.reduced.isEmpty() && header.reduced.width() >= size.width() && header.reduced.height() >= size.height();
  switch (header.format) {
    case Format::Heif:
      out = heifDecode(bytes, header, fromReduced, cancelled);
      break;
    case Format::Avif:
      out = avifDecode(bytes, header, pixels(header.natural), cancelled);
      break;
    case Format::Jxl: {
      Header seen;
      JxlRun run(bytes, fromReduced, false);
      QImage rgba;
      if (!run.run(seen, rgba, out.error, maxBytes, cancelled)) return out;
      if (seen.natural != header.natural) {
        out.error = "The file changed while it was read";
        return out;
      }
      out.image = finished(std::move(rgba), run.alpha(), seen.iccProfile);
      break;
    }
    case Format::None:
      out.error = "Invalid picture";
      return out;
  }
  if (out.image.isNull()) {
    if (out.error.empty()) out.error = kOutOfMemory;
    return out;
  }
  if (cancelledNow(cancelled)) return Decoded{QImage(), kCancelled};
  out.image = shrunkTo(std::move(out.image), size);
  if (out.image.isNull()) out.error = kOutOfMemory;
  return out;
}

}  // namespace kit::codecs
