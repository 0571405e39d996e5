// JPEG decoding with libjpeg.
//
// The decoder scales in the DCT (1/2, 1/4, 1/8 cost a fraction of a full
// decode) and reads a region by cropping columns and skipping rows, so a tile
// at high zoom decodes only its own pixels plus the entropy data before it.
// Rows come out in stored orientation, a strip of a few lines at a time; each
// strip is written straight to its displayed place, so the EXIF turn costs no
// second copy of the picture. A picture wanted smaller than its decoding scale
// gives is shrunk as the strips arrive, by the streaming resampler.
//
// Errors inside libjpeg jump back (longjmp) to the small function that
// started the work. Everything that outlives a jump is kept in a Job owned
// by the caller; the functions the jump leaves hold no objects with
// destructors.
#include "kit/picture_jpeg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "kit/picture_messages.h"
#include "kit/resample.h"

namespace kit::jpeg {

namespace {

// Rows decoded per strip: at least 16; for a quarter turn up to 64 within
// 4 MB, so that each destination row takes a run of pixels at a time.
constexpr int kStripRows = 16;
constexpr int kTurnStripRows = 64;
constexpr std::size_t kStripBytes = 4 * 1024 * 1024;
constexpr std::size_t kReadChunk = 256 * 1024;
// What libjpeg shows where a file's data is missing: mid grey.
constexpr QRgb kMissing = 0xFF808080u;
// libjpeg's working memory while it reads a header.
constexpr long kHeaderWorkBytes = 16L * 1024 * 1024;

#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr J_COLOR_SPACE kRgb32Space = JCS_EXT_BGRA;  // bytes B G R A: 0xAARRGGBB in memory order
#else
constexpr J_COLOR_SPACE kRgb32Space = JCS_EXT_ARGB;
#endif

std::int64_t pixelBytes(QSize size) { return static_cast<std::int64_t>(size.width()) * size.height() * 4; }

// ---- errors and input ----

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool truncated;
};

[[noreturn]] void errorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void emitMessage(j_common_ptr cinfo, int level) {
  // Warnings (level -1) are damaged data the decoder works around; the early
  // end of the file is remembered. A progression that contradicts itself is
  // not worked around: a file can repeat such scans thousands of times, each
  // costing a pass over the whole picture. Trace messages are dropped.
  if (level >= 0) return;
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (cinfo->err->msg_code == JWRN_JPEG_EOF) err->truncated = true;
  if (cinfo->err->msg_code == JWRN_BOGUS_PROGRESSION) {
    std::snprintf(err->message, sizeof err->message, "The picture's progressive scans are corrupt");
    std::longjmp(err->jump, 1);
  }
}

void outputMessage(j_common_ptr) {}

[[noreturn]] void failWith(j_decompress_ptr cinfo, const char* text) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::snprintf(err->message, sizeof err->message, "%s", text);
  std::longjmp(err->jump, 1);
}

// Called by libjpeg as it works through scans and rows: stops a cancelled
// decode and a file with more scans than any encoder writes.
struct Progress {
  jpeg_progress_mgr pub;
  const std::atomic<bool>* cancelled;
};

void checkProgress(j_common_ptr common) {
  auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
  const auto* progress = reinterpret_cast<Progress*>(common->progress);
  if (progress->cancelled != nullptr && progress->cancelled->load(std::memory_order_relaxed))
    failWith(cinfo, kCancelled);
  if (cinfo->input_scan_number > kMaxScans) {
    auto* err = reinterpret_cast<ErrorManager*>(common->err);
    std::snprintf(err->message, sizeof err->message,
                  "The picture has more than %d progressive scans: its decoding cost is out of all proportion",
                  kMaxScans);
    std::longjmp(err->jump, 1);
  }
}

struct FileSource {
  jpeg_source_mgr pub;
  int fd;
  JOCTET* buffer;
  std::int64_t delivered;  // bytes read from the file
  bool ended;
};

void initSource(j_decompress_ptr) {}

boolean fillInput(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<FileSource*>(cinfo->src);
  ssize_t n;
  do {
    n = ::read(src->fd, src->buffer, kReadChunk);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    // The file ends early (or stops being readable): the picture ends here
    // and the rest of it decodes grey.
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    n = 2;
    src->ended = true;
    WARNMS(cinfo, JWRN_JPEG_EOF);
  } else {
    src->delivered += n;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = static_cast<std::size_t>(n);
  return TRUE;
}

void skipInput(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<FileSource*>(cinfo->src);
  if (count <= 0) return;
  while (count > static_cast<long>(src->pub.bytes_in_buffer)) {
    count -= static_cast<long>(src->pub.bytes_in_buffer);
    fillInput(cinfo);
    if (src->ended) return;
  }
  src->pub.next_input_byte += count;
  src->pub.bytes_in_buffer -= static_cast<std::size_t>(count);
}

void termSource(j_decompress_ptr) {}

// One decoding run: libjpeg's state, the open file and the progress made.
struct Job {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  FileSource src;
  Progress progress;
  long workBytes = 0;
  bool created = false;
  std::int64_t fileSize = 0;
  int rowsDone = 0;  // stored rows of the region delivered to the sink
  std::uint32_t* strip = nullptr;

  Job() {
    std::memset(&cinfo, 0, sizeof cinfo);
    std::memset(&err, 0, sizeof err);
    std::memset(&src, 0, sizeof src);
    std::memset(&progress, 0, sizeof progress);
    progress.pub.progress_monitor = checkProgress;
    src.fd = -1;
  }
  ~Job() {
    if (created) jpeg_destroy_decompress(&cinfo);
    delete[] strip;
    delete[] src.buffer;
    if (src.fd >= 0) ::close(src.fd);
  }
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  bool open(const std::string& path, std::string& error) {
    // Non-blocking, so that a FIFO put in the file's place never hangs the
    // open; only a regular file is read.
    do {
      src.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (src.fd < 0 && errno == EINTR);
    if (src.fd < 0) {
      error = std::strerror(errno);
      return false;
    }
    struct stat st {};
    if (::fstat(src.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      error = "Not a regular file";
      return false;
    }
    fileSize = st.st_size;
    src.buffer = new JOCTET[kReadChunk];
    src.pub.init_source = initSource;
    src.pub.fill_input_buffer = fillInput;
    src.pub.skip_input_data = skipInput;
    src.pub.resync_to_restart = jpeg_resync_to_restart;
    src.pub.term_source = termSource;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.emit_message = emitMessage;
    err.pub.output_message = outputMessage;
    return true;
  }
};

// Starts libjpeg on the job's file and reads the header. Jumps on failure.
void startHeader(Job& job, bool saveMarkers) {
  job.created = true;
  jpeg_create_decompress(&job.cinfo);
  // A header that claims a giant picture fails here instead of exhausting memory.
  job.cinfo.mem->max_memory_to_use = job.workBytes;
  job.cinfo.src = &job.src.pub;
  job.cinfo.progress = &job.progress.pub;
  if (saveMarkers) {
    jpeg_save_markers(&job.cinfo, JPEG_APP0 + 1, 0xFFFF);  // EXIF
    jpeg_save_markers(&job.cinfo, JPEG_APP0 + 2, 0xFFFF);  // ICC profile
  }
  jpeg_read_header(&job.cinfo, TRUE);
}

// Fails when the file holds nothing after its header: no pixel can decode.
void requirePictureData(Job& job) {
  const std::int64_t headerBytes = job.src.delivered - static_cast<std::int64_t>(job.src.pub.bytes_in_buffer);
  if (job.src.ended || headerBytes >= job.fileSize) failWith(&job.cinfo, "The file ends before its picture data");
}

// The ICC profile, joined from its APP2 segments; a damaged one (a segment
// missing or repeated) is left out with a warning from libjpeg.
void readIccProfile(j_decompress_ptr cinfo, Header& header) {
  JOCTET* data = nullptr;
  unsigned int length = 0;
  if (!jpeg_read_icc_profile(cinfo, &data, &length)) return;
  header.icc = QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
  std::free(data);
}

void readHeaderFields(Job& job, Header& header) {
  startHeader(job, true);
  requirePictureData(job);
  j_decompress_ptr cinfo = &job.cinfo;
  switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
    case JCS_CMYK:
    case JCS_YCCK:
      break;
    default:
      failWith(cinfo, "Unsupported JPEG colour space");
  }
  header.storedWidth = static_cast<int>(cinfo->image_width);
  header.storedHeight = static_cast<int>(cinfo->image_height);
  header.progressive = jpeg_has_multiple_scans(cinfo) != 0;
  header.coefficientBytes = 0;
  if (header.progressive) {
    for (int c = 0; c < cinfo->num_components; ++c) {
      const jpeg_component_info& component = cinfo->comp_info[c];
      header.coefficientBytes += static_cast<std::int64_t>(component.width_in_blocks) * component.height_in_blocks *
                                 DCTSIZE2 * static_cast<std::int64_t>(sizeof(JCOEF));
    }
  }
  header.orientation = 1;
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m != nullptr; m = m->next) {
    if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0) {
      header.orientation = exifOrientation(m->data, m->data_length);
      break;
    }
  }
  readIccProfile(cinfo, header);
}

bool readHeaderInto(Job& job, Header& header) {
  if (setjmp(job.err.jump)) return false;
  readHeaderFields(job, header);
  return true;
}

// ---- rows to pixels ----

// Where the stored pixels of a rectangle land in an image: the index of its
// first pixel and the steps for one pixel right and one row down.
struct Placement {
  qsizetype origin = 0;
  qsizetype stepX = 1;
  qsizetype stepY = 0;
};

Placement placementOf(int orientation, QSize stored, QPoint from, QPoint destinationOrigin, qsizetype stride) {
  auto index = [&](QPoint p) {
    const QPoint d = toDisplayed(orientation, stored, p) - destinationOrigin;
    return static_cast<qsizetype>(d.x()) + static_cast<qsizetype>(d.y()) * stride;
  };
  Placement placement;
  placement.origin = index(from);
  placement.stepX = index(from + QPoint(1, 0)) - placement.origin;
  placement.stepY = index(from + QPoint(0, 1)) - placement.origin;
  return placement;
}

// Writes `rows` rows of `width` pixels, the first being row `first` of the
// placed rectangle.
void placeRows(const std::uint32_t* src, qsizetype srcStride, int rows, int width, std::uint32_t* dst,
               const Placement& p, int first) {
  std::uint32_t* start = dst + p.origin + static_cast<qsizetype>(first) * p.stepY;
  if (p.stepX == 1) {
    for (int r = 0; r < rows; ++r)
      std::memcpy(start + r * p.stepY, src + r * srcStride, static_cast<std::size_t>(width) * 4);
  } else if (p.stepX == -1) {
    for (int r = 0; r < rows; ++r) {
      const std::uint32_t* in = src + r * srcStride;
      std::uint32_t* out = start + r * p.stepY;
      for (int i = 0; i < width; ++i) out[-i] = in[i];
    }
  } else {
    // A quarter turn: stored rows become columns. Column by column, the
    // strip's rows land side by side in one destination row.
    for (int i = 0; i < width; ++i) {
      std::uint32_t* out = start + i * p.stepX;
      for (int r = 0; r < rows; ++r) out[r * p.stepY] = src[r * srcStride + i];
    }
  }
}

void fillRect(QImage& image, QRect rect) {
  rect &= image.rect();
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    auto* line = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
    std::fill(line + rect.left(), line + rect.left() + rect.width(), kMissing);
  }
}

// CMYK to RGB32 in place: inverted when an APP14 marker says the file was
// written that way (the usual case), else plain.
void cmykToRgb(std::uint32_t* row, int width, bool inverted) {
  auto* bytes = reinterpret_cast<unsigned char*>(row);
  for (int i = 0; i < width; ++i) {
    unsigned c = bytes[4 * i], m = bytes[4 * i + 1], y = bytes[4 * i + 2], k = bytes[4 * i + 3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    row[i] = qRgb(static_cast<int>(c * k / 255), static_cast<int>(m * k / 255), static_cast<int>(y * k / 255));
  }
}

// Receives the decoded rows of the stored rectangle, in order.
class Sink {
 public:
  virtual ~Sink() = default;
  // Room for `count` rows the decoder may write into directly (stride in
  // pixels), or null; written(count) follows once they are there.
  virtual std::uint32_t* directRows(int /*first*/, int /*count*/, qsizetype& /*stride*/) { return nullptr; }
  virtual void written(int /*count*/) {}
  virtual void put(const std::uint32_t* rows, qsizetype stride, int count, int first) = 0;
  // The decoder stopped after `done` rows: mark what is missing.
  virtual void fillMissing(int done) = 0;
  // The decoder is done: every row handed over must be in place on return.
  virtual void complete() {}
};

// Writes the rows at their displayed places in an image of the region.
class PlaceSink : public Sink {
 public:
  PlaceSink(QImage& image, int orientation, QSize stored, QRect storedRect, QRect region)
      : image_(image), orientation_(orientation), stored_(stored), storedRect_(storedRect), region_(region) {
    placement_ = placementOf(orientation, stored, storedRect.topLeft(), region.topLeft(), image.bytesPerLine() / 4);
  }
  std::uint32_t* directRows(int first, int /*count*/, qsizetype& stride) override {
    if (placement_.stepX != 1 || placement_.stepY <= 0) return nullptr;
    stride = placement_.stepY;
    return pixels() + placement_.origin + first * placement_.stepY;
  }
  void put(const std::uint32_t* rows, qsizetype stride, int count, int first) override {
    placeRows(rows, stride, count, storedRect_.width(), pixels(), placement_, first);
  }
  void fillMissing(int done) override {
    if (done >= storedRect_.height()) return;
    const QRect missing(storedRect_.x(), storedRect_.y() + done, storedRect_.width(), storedRect_.height() - done);
    fillRect(image_, toDisplayed(orientation_, stored_, missing).translated(-region_.topLeft()));
  }

 private:
  std::uint32_t* pixels() { return reinterpret_cast<std::uint32_t*>(image_.bits()); }
  QImage& image_;
  int orientation_;
  QSize stored_;
  QRect storedRect_;
  QRect region_;
  Placement placement_;
};

// Shrinks the rows as they arrive (kit/resample.h) and writes each output
// row at its displayed place in `out`: only the input rows under the filter
// are held, never the region at its decoded size.
class ShrinkSink : public Sink {
 public:
  // `in`: the stored rectangle's size; `out` holds it shrunk and turned.
  ShrinkSink(QImage& out, int orientation, QSize in, std::int64_t maxBytes)
      : out_(out),
        orientation_(orientation),
        shrunk_(orientation >= 5 ? out.size().transposed() : out.size()),
        placement_(placementOf(orientation, shrunk_, QPoint(0, 0), QPoint(0, 0), out.bytesPerLine() / 4)),
        pixels_(reinterpret_cast<std::uint32_t*>(out.bits())),
        width_(in.width()),
        shrinker_(
            in.width(), in.height(), shrunk_.width(), shrunk_.height(),
            [this](int row, const std::uint32_t* line) {
              placeRows(line, 0, 1, shrunk_.width(), pixels_, placement_, row);
            },
            false, resample::ShrinkerThread::queueFor(maxBytes)) {}

  // What shrinking needs besides the result: the filter's rows and a strip.
  static std::int64_t workBytes(QSize in, QSize shrunk, std::int64_t maxBytes) {
    return resample::ShrinkerThread::workBytes(in.width(), in.height(), shrunk.width(), shrunk.height(),
                                               resample::ShrinkerThread::queueFor(maxBytes)) +
           static_cast<std::int64_t>(kStripRows) * in.width() * 4;
  }

  void put(const std::uint32_t* rows, qsizetype stride, int count, int /*first*/) override {
    shrinker_.push(rows, stride, count);
  }
  // The decoder writes straight into the thread's queue: no copy.
  std::uint32_t* directRows(int /*first*/, int count, qsizetype& stride) override {
    if (count > resample::ShrinkerThread::kChunkRows) return nullptr;
    stride = width_;
    return shrinker_.reserve(count);
  }
  void written(int count) override { shrinker_.commit(count); }
  void complete() override { shrinker_.finish(); }
  void fillMissing(int /*done*/) override {
    shrinker_.finish();
    const int next = shrinker_.rowsOut();
    if (next >= shrunk_.height()) return;
    fillRect(out_, toDisplayed(orientation_, shrunk_, QRect(0, next, shrunk_.width(), shrunk_.height() - next)));
  }

 private:
  QImage& out_;
  int orientation_;
  QSize shrunk_;  // the output in stored orientation
  Placement placement_;
  std::uint32_t* pixels_;
  qsizetype width_;
  resample::ShrinkerThread shrinker_;  // last: its thread stops before the rest goes
};

// Reads the region's rows and hands them to the sink. Jumps on failure.
void decodeRows(Job& job, Sink& sink, const Header& header, int denominator, QRect storedRect) {
  startHeader(job, false);
  j_decompress_ptr cinfo = &job.cinfo;
  if (static_cast<int>(cinfo->image_width) != header.storedWidth ||
      static_cast<int>(cinfo->image_height) != header.storedHeight)
    failWith(cinfo, "The file changed while it was read");
  requirePictureData(job);

  const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  cinfo->out_color_space = cmyk ? JCS_CMYK : kRgb32Space;
  cinfo->scale_num = 1;
  cinfo->scale_denom = static_cast<unsigned>(denominator);
  jpeg_start_decompress(cinfo);
  const auto scaledWidth = static_cast<JDIMENSION>((header.storedWidth + denominator - 1) / denominator);
  const auto scaledHeight = static_cast<JDIMENSION>((header.storedHeight + denominator - 1) / denominator);
  if (cinfo->output_width != scaledWidth || cinfo->output_height != scaledHeight || cinfo->output_components != 4)
    failWith(cinfo, "Unexpected decoded size");

  // The crop takes a column more on each side where there is one: the
  // chroma upsampler treats the crop's edges as the picture's, so the
  // region's own edge columns get their true neighbours.
  const int cropLeft = std::max(0, storedRect.x() - 1);
  const int cropRight = std::min(static_cast<int>(cinfo->output_width), storedRect.x() + storedRect.width() + 1);
  JDIMENSION xoffset = static_cast<JDIMENSION>(cropLeft);
  JDIMENSION width = static_cast<JDIMENSION>(cropRight - cropLeft);
  if (width < cinfo->output_width) jpeg_crop_scanline(cinfo, &xoffset, &width);
  const int rowWidth = static_cast<int>(cinfo->output_width);
  const int shift = storedRect.x() - static_cast<int>(xoffset);
  if (storedRect.y() > 0 &&
      jpeg_skip_scanlines(cinfo, static_cast<JDIMENSION>(storedRect.y())) != static_cast<JDIMENSION>(storedRect.y()))
    failWith(cinfo, "The decoder could not reach the region");

  const int stripRows = header.quarterTurn()
                            ? std::clamp(static_cast<int>(kStripBytes / (static_cast<std::size_t>(rowWidth) * 4)),
                                         kStripRows, kTurnStripRows)
                            : kStripRows;
  job.strip = new std::uint32_t[static_cast<std::size_t>(rowWidth) * static_cast<std::size_t>(stripRows)];
  const bool direct = shift == 0 && rowWidth == storedRect.width();
  const bool inverted = cinfo->saw_Adobe_marker;
  JSAMPROW rows[kTurnStripRows];
  while (job.rowsDone < storedRect.height()) {
    const int count = std::min(stripRows, storedRect.height() - job.rowsDone);
    qsizetype stride = rowWidth;
    std::uint32_t* target = direct ? sink.directRows(job.rowsDone, count, stride) : nullptr;
    std::uint32_t* base = target != nullptr ? target : job.strip;
    if (target == nullptr) stride = rowWidth;
    for (int r = 0; r < count; ++r) rows[r] = reinterpret_cast<JSAMPROW>(base + r * stride);
    int got = 0;
    while (got < count) {
      const JDIMENSION n = jpeg_read_scanlines(cinfo, rows + got, static_cast<JDIMENSION>(count - got));
      if (n == 0) failWith(cinfo, "The decoder stopped before the end of the picture");
      got += static_cast<int>(n);
    }
    if (cmyk)
      for (int r = 0; r < count; ++r) cmykToRgb(base + r * stride, rowWidth, inverted);
    if (target == nullptr)
      sink.put(base + shift, stride, count, job.rowsDone);
    else
      sink.written(count);
    job.rowsDone += count;
    // A sequential file whose data has ended has nothing more to give: the
    // rest is grey without decoding it (a header may claim a giant picture
    // over a few bytes of data). A progressive one still refines every row.
    if (job.src.ended && !jpeg_has_multiple_scans(cinfo) && job.rowsDone < storedRect.height())
      failWith(cinfo, "The file ends before the picture does");
  }
}

bool runDecode(Job& job, Sink& sink, const Header& header, int denominator, QRect storedRect) {
  if (setjmp(job.err.jump)) return false;
  decodeRows(job, sink, header, denominator, storedRect);
  return true;
}

// Finishes a decode into `out`: a stop after some rows leaves the rest grey.
void finish(Job& job, Sink& sink, bool completed, Decoded& out) {
  sink.complete();
  if (!completed) {
    if (job.rowsDone == 0) {
      out.image = QImage();
      out.error = job.err.message[0] != '\0' ? job.err.message : "Invalid JPEG file";
      return;
    }
    sink.fillMissing(job.rowsDone);
    out.partial = true;
  }
  if (job.err.truncated) out.partial = true;
}

}  // namespace

bool hasSignature(const unsigned char* bytes, std::size_t size) {
  return size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

QSize Header::size(int denominator) const {
  const QSize stored((storedWidth + denominator - 1) / denominator, (storedHeight + denominator - 1) / denominator);
  return quarterTurn() ? stored.transposed() : stored;
}

int Header::coveringDenominator(QSize shown) const {
  for (int d = 8; d > 1; d /= 2) {
    const QSize s = size(d);
    if (s.width() >= shown.width() && s.height() >= shown.height()) return d;
  }
  return 1;
}

bool readHeader(const std::string& path, Header& header, std::string& error) {
  Job job;
  job.workBytes = kHeaderWorkBytes;
  if (!job.open(path, error)) return false;
  if (!readHeaderInto(job, header)) {
    error = job.err.message[0] != '\0' ? job.err.message : "Invalid JPEG file";
    return false;
  }
  return true;
}

Decoded decode(const std::string& path, const Header& header, int denominator, QRect region, QSize size,
               std::int64_t maxBytes, std::int64_t workBytes, const std::atomic<bool>* cancelled) {
  Decoded out;
  if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8) {
    out.error = "Unsupported decoding scale";
    return out;
  }
  const QRect bounds(QPoint(0, 0), header.size(denominator));
  region = region.isNull() ? bounds : region.intersected(bounds);
  if (region.isEmpty()) {
    out.error = "The region lies outside the picture";
    return out;
  }
  size = size.isEmpty() ? region.size() : size.boundedTo(region.size());
  if (pixelBytes(size) > maxBytes) {
    out.error = "The picture is too large to decode";
    return out;
  }
  // NOTE: one progressive decode at a time: each holds all its coefficients
  // while it runs, and the shared budget makes room for one such set.
  static std::mutex progressiveDecode;
  std::unique_lock<std::mutex> onlyOne(progressiveDecode, std::defer_lock);
  if (header.progressive) onlyOne.lock();
  if (cancelled != nullptr && *cancelled) {
    out.error = kCancelled;
    return out;
  }
  Job job;
  job.workBytes = static_cast<long>(workBytes);
  job.progress.cancelled = cancelled;
  if (!job.open(path, out.error)) return out;
  const QSize stored((header.storedWidth + denominator - 1) / denominator,
                     (header.storedHeight + denominator - 1) / denominator);
  const QRect storedRect = toStored(header.orientation, stored, region);
  if (size == region.size()) {
    // Full size: rows go straight to their places.
    out.image = QImage(size, QImage::Format_RGB32);
    if (out.image.isNull()) {
      out.error = kOutOfMemory;
      return out;
    }
    PlaceSink sink(out.image, header.orientation, stored, storedRect, region);
    finish(job, sink, runDecode(job, sink, header, denominator, storedRect), out);
    return out;
  }
  // Smaller than the region: shrink it as it decodes.
  const QSize shrunk = header.quarterTurn() ? size.transposed() : size;
  if (ShrinkSink::workBytes(storedRect.size(), shrunk, maxBytes) > maxBytes) {
    out.error = "The picture is too large to shrink to this size";
    return out;
  }
  out.image = QImage(size, QImage::Format_RGB32);
  if (out.image.isNull()) {
    out.error = kOutOfMemory;
    return out;
  }
  ShrinkSink sink(out.image, header.orientation, storedRect.size(), maxBytes);
  finish(job, sink, runDecode(job, sink, header, denominator, storedRect), out);
  return out;
}

QPoint toDisplayed(int orientation, QSize stored, QPoint p) {
  const int w = stored.width(), h = stored.height();
  switch (orientation) {
    case 2:
      return {w - 1 - p.x(), p.y()};
    case 3:
      return {w - 1 - p.x(), h - 1 - p.y()};
    case 4:
      return {p.x(), h - 1 - p.y()};
    case 5:
      return {p.y(), p.x()};
    case 6:
      return {h - 1 - p.y(), p.x()};
    case 7:
      return {h - 1 - p.y(), w - 1 - p.x()};
    case 8:
      return {p.y(), w - 1 - p.x()};
    default:
      return p;
  }
}

QRect toDisplayed(int orientation, QSize stored, QRect rect) {
  if (rect.isEmpty()) return {};
  const QPoint a = toDisplayed(orientation, stored, rect.topLeft());
  const QPoint b = toDisplayed(orientation, stored, rect.bottomRight());
  return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
               QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
}

QRect toStored(int orientation, QSize stored, QRect displayed) {
  // Every orientation is its own inverse except the two quarter turns.
  const int inverse = orientation == 6 ? 8 : orientation == 8 ? 6 : orientation;
  const QSize shown = orientation >= 5 && orientation <= 8 ? stored.transposed() : stored;
  return toDisplayed(inverse, shown, displayed);
}

int exifOrientation(const unsigned char* data, std::size_t size) {
  if (size < 6 + 8 || std::memcmp(data, "Exif\0\0", 6) != 0) return 1;
  const unsigned char* tiff = data + 6;
  const std::size_t length = size - 6;
  bool little;
  if (tiff[0] == 'I' && tiff[1] == 'I')
    little = true;
  else if (tiff[0] == 'M' && tiff[1] == 'M')
    little = false;
  else
    return 1;
  auto u16 = [&](std::size_t at) -> unsigned {
    if (at + 2 > length) return 0;
    return little ? qFromLittleEndian<quint16>(tiff + at) : qFromBigEndian<quint16>(tiff + at);
  };
  auto u32 = [&](std::size_t at) -> std::uint32_t {
    if (at + 4 > length) return 0;
    return little ? qFromLittleEndian<quint32>(tiff + at) : qFromBigEndian<quint32>(tiff + at);
  };
  if (u16(2) != 42) return 1;
  const std::uint32_t ifd = u32(4);
  if (ifd < 8 || static_cast<std::size_t>(ifd) + 2 > length) return 1;
  const unsigned entries = u16(ifd);
  for (unsigned i = 0; i < entries; ++i) {
    const std::size_t entry = ifd + 2 + static_cast<std::size_t>(i) * 12;
    if (entry + 12 > length) break;
    if (u16(entry) != 0x0112) continue;
    if (u16(entry + 2) != 3 || u32(entry + 4) != 1) return 1;  // one SHORT
    const unsigned value = u16(entry + 8);
    return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
  }
  return 1;
}

}  // namespace kit::jpeg
