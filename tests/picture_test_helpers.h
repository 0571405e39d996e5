#pragma once
// Helpers for tests that make their own pictures.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include "kit/picture_work.h"

namespace picture_test {

// Smooth gradients (so differently scaled decodes compare closely) and a dark
// block near the top-left corner (so a wrong turn or place shows).
inline QImage scene(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x)
      line[x] =
          qRgb(255 * x / width, 255 * y / height, static_cast<int>(128 + 90 * std::sin(x / 41.0) * std::cos(y / 29.0)));
  }
  QPainter(&image).fillRect(width / 8, height / 8, width / 8, height / 8, QColor(20, 20, 20));
  return image;
}

// The mean difference per colour channel of two images of one size (255 when
// the sizes differ), and the largest of any channel, alpha too, in `worst`.
inline double meanDifference(const QImage& a, const QImage& b, int* worst = nullptr) {
  if (a.size() != b.size() || a.isNull()) {
    if (worst != nullptr) *worst = 256;
    return 255;
  }
  const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  double total = 0;
  for (int row = 0; row < x.height(); ++row) {
    const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
    const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
    for (int col = 0; col < x.width(); ++col) {
      const int dr = std::abs(qRed(p[col]) - qRed(q[col])), dg = std::abs(qGreen(p[col]) - qGreen(q[col])),
                db = std::abs(qBlue(p[col]) - qBlue(q[col])), da = std::abs(qAlpha(p[col]) - qAlpha(q[col]));
      total += dr + dg + db;
      if (worst != nullptr) *worst = std::max({*worst, dr, dg, db, da});
    }
  }
  return total / (3.0 * x.width() * x.height());
}

inline int maxDifference(const QImage& a, const QImage& b) {
  int worst = 0;
  meanDifference(a, b, &worst);
  return worst;
}

inline std::string writeFile(const std::string& path, const QByteArray& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.constData(), bytes.size());
  return path;
}

// A temporary folder for each test, to write its pictures in.
class PictureFiles : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const QByteArray& bytes) {
    return writeFile(dir_.filePath(QString::fromStdString(name)).toStdString(), bytes);
  }
  QTemporaryDir dir_;
};

inline QByteArray encode(const QImage& image, const char* format = "jpeg", bool progressive = false) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  writer.setQuality(92);
  writer.setProgressiveScanWrite(progressive);
  EXPECT_TRUE(writer.write(image)) << format << ": " << writer.errorString().toStdString();
  return bytes;
}

// `image` written by libjpeg itself; `configure` sets what Qt's writer does
// not offer (scan scripts, restart intervals) after libjpeg's defaults.
inline QByteArray libjpegOf(const QImage& image, const std::function<void(jpeg_compress_struct&)>& configure) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(rgb.width());
  cinfo.image_height = static_cast<JDIMENSION>(rgb.height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  configure(cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  for (int y = 0; y < rgb.height(); ++y) {
    auto* row = const_cast<JSAMPROW>(rgb.constScanLine(y));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(size));
  std::free(out);
  return bytes;
}

// Appends `v` in `bytes` bytes, the least significant first when `little`.
inline void put(QByteArray& out, uint32_t v, int bytes, bool little = true) {
  for (int i = 0; i < bytes; ++i) out.append(static_cast<char>(v >> 8 * (little ? i : bytes - 1 - i)));
}

// An EXIF payload: "Exif", a TIFF header and an IFD of two entries, another
// tag first, then the one given (the orientation is 0x0112, SHORT, one value).
inline QByteArray exifPayload(bool little, unsigned tag, unsigned type, unsigned count, unsigned value) {
  QByteArray p("Exif\0\0", 6);
  p.append(little ? "II" : "MM");
  for (const auto& [v, bytes] : std::initializer_list<std::pair<uint32_t, int>>{{42, 2},
                                                                                {8, 4},
                                                                                {2, 2},
                                                                                {0x010F, 2},
                                                                                {2, 2},
                                                                                {4, 4},
                                                                                {0, 4},
                                                                                {tag, 2},
                                                                                {type, 2},
                                                                                {count, 4},
                                                                                {value, 2},
                                                                                {0, 2},
                                                                                {0, 4}})
    put(p, v, bytes, little);
  return p;
}

// Inserts an APP1 segment with that payload after the start-of-image marker.
inline QByteArray withExifOrientation(const QByteArray& jpeg, int orientation) {
  const QByteArray payload = exifPayload(false, 0x0112, 3, 1, static_cast<unsigned>(orientation));
  QByteArray segment("\xFF\xE1", 2);
  put(segment, static_cast<uint32_t>(payload.size()) + 2, 2, false);
  return jpeg.left(2) + segment + payload + jpeg.mid(2);
}

// Inserts an ICC profile after the start-of-image marker in APP2
// "ICC_PROFILE" segments, each carrying at most `chunk` bytes of it.
inline QByteArray withIccProfile(const QByteArray& jpeg, const QByteArray& icc, int chunk = 65519) {
  const auto count = static_cast<int>((icc.size() + chunk - 1) / chunk);
  QByteArray segments;
  for (int i = 0; i < count; ++i) {
    const QByteArray part = icc.mid(static_cast<qsizetype>(i) * chunk, chunk);
    const auto length = static_cast<int>(part.size()) + 16;  // length field, name, sequence number, count
    segments.append("\xFF\xE2", 2);
    put(segments, static_cast<uint32_t>(length), 2, false);
    segments.append("ICC_PROFILE\0", 12).append(static_cast<char>(i + 1)).append(static_cast<char>(count)).append(part);
  }
  return jpeg.left(2) + segments + jpeg.mid(2);
}

// Sets a value for a scope, then puts the earlier one back.
template <typename T>
class ScopedValue {
 public:
  ScopedValue(std::function<void(T)> set, T earlier, T value) : set_(std::move(set)), earlier_(earlier) { set_(value); }
  ~ScopedValue() { set_(earlier_); }
  ScopedValue(const ScopedValue&) = delete;
  ScopedValue& operator=(const ScopedValue&) = delete;

 private:
  std::function<void(T)> set_;
  T earlier_;
};

// Lowers Qt's allocation limit (and with it the decoding budget) for a scope.
struct AllocationLimit : ScopedValue<int> {
  explicit AllocationLimit(int megabytes)
      : ScopedValue(QImageReader::setAllocationLimit, QImageReader::allocationLimit(), megabytes) {}
};

// Sets the budget all pictures share for a scope.
struct MemoryBudget : ScopedValue<std::int64_t> {
  explicit MemoryBudget(std::int64_t bytes)
      : ScopedValue([](std::int64_t b) { kit::PictureMemory::shared().setBudget(b); },
                    kit::PictureMemory::shared().budget(), bytes) {}
};

// Decodes run as the Qt view runs them (the caller waits only a moment) for
// a scope, with every worker kept busy until release(): a decode asked for
// meanwhile cannot finish, so what the views do without it shows.
class BusyWorkers {
 public:
  BusyWorkers() {
    kit::setDecodeWaiting(kit::DecodeWaiting::Moment);
    for (int i = 0; i < kit::kDecodeWorkers; ++i) {
      tasks_.push_back(std::make_shared<kit::DecodeTask>([gate = gate_](const std::atomic<bool>&) {
        gate.wait();
        return kit::DecodeResult{};
      }));
      kit::DecodeTask::start(tasks_.back(), nullptr);
    }
  }
  ~BusyWorkers() {
    release();
    kit::setDecodeWaiting(kit::DecodeWaiting::Always);
  }
  void release() {
    if (released_) return;
    released_ = true;
    open_.set_value();
    for (const auto& task : tasks_) task->wait();
  }

 private:
  std::promise<void> open_;
  std::shared_future<void> gate_ = open_.get_future().share();
  std::vector<std::shared_ptr<kit::DecodeTask>> tasks_;
  bool released_ = false;
};

}  // namespace picture_test
