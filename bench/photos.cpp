#include "bench/photos.h"

#include <QImage>
#include <QImageWriter>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

// clang-format off
#include <jpeglib.h>
// clang-format on

namespace bench {

namespace {

std::uint32_t hash(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
  std::uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ seed * 0xcb1ab31fu;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return h;
}

// The low 16 bits of a hash as a number in [0, 1].
double unitOf(std::uint32_t h) { return static_cast<double>(h & 0xFFFF) / 0xFFFF; }

// Smooth noise in [0, 1]: bilinear between random values on a lattice.
double valueNoise(double x, double y, std::uint32_t seed) {
  const double fx = std::floor(x), fy = std::floor(y);
  const auto ix = static_cast<std::uint32_t>(static_cast<std::int64_t>(fx));
  const auto iy = static_cast<std::uint32_t>(static_cast<std::int64_t>(fy));
  double tx = x - fx, ty = y - fy;
  tx = tx * tx * (3 - 2 * tx);
  ty = ty * ty * (3 - 2 * ty);
  auto v = [&](std::uint32_t a, std::uint32_t b) { return unitOf(hash(a, b, seed)); };
  const double top = v(ix, iy) + (v(ix + 1, iy) - v(ix, iy)) * tx;
  const double bottom = v(ix, iy + 1) + (v(ix + 1, iy + 1) - v(ix, iy + 1)) * tx;
  return top + (bottom - top) * ty;
}

struct Blob {
  double x, y, rx, ry;
  double r, g, b;
};

// The picture, a row at a time (RGB bytes).
class PhotoMaker {
 public:
  PhotoMaker(int width, int height, std::uint32_t seed) : width_(width), height_(height), seed_(seed) {
    // Shapes are placed relative to the picture, so every size shows the
    // same scene; the texture has a fixed size in pixels, as in a photograph.
    for (int i = 0; i < 14; ++i) {
      auto unit = [&](int k) {
        return unitOf(hash(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(k), seed));
      };
      blobs_.push_back({unit(1), 0.35 + 0.6 * unit(2), 0.05 + 0.2 * unit(3), 0.04 + 0.15 * unit(4), 255 * unit(5),
                        255 * unit(6), 255 * unit(7)});
    }
  }

  void row(int y, unsigned char* out) const {
    const double v = static_cast<double>(y) / height_;
    const double horizon = 0.42;
    for (int x = 0; x < width_; ++x) {
      const double u = static_cast<double>(x) / width_;
      double r, g, b;
      if (v < horizon) {  // sky: a gradient with soft clouds
        const double t = v / horizon;
        const double cloud =
            valueNoise(x / 300.0, y / 180.0, seed_ + 1) * 0.6 + valueNoise(x / 90.0, y / 60.0, seed_ + 2) * 0.4;
        const double c = std::clamp((cloud - 0.45) * 2.2, 0.0, 1.0);
        r = 70 + 90 * t + 120 * c;
        g = 120 + 70 * t + 100 * c;
        b = 200 + 30 * t + 20 * c;
      } else {  // ground: foliage-like texture over a few colour fields
        const double t = (v - horizon) / (1 - horizon);
        double n = 0, amplitude = 0.5, scale = 64;
        for (int octave = 0; octave < 4; ++octave) {
          n += amplitude * valueNoise(x / scale, y / scale, seed_ + 10 + static_cast<std::uint32_t>(octave));
          amplitude *= 0.55;
          scale /= 2.2;
        }
        const double field = valueNoise(x / 700.0, y / 500.0, seed_ + 20);
        r = 40 + 90 * field + 120 * (n - 0.45) + 30 * t;
        g = 80 + 60 * (1 - field) + 130 * (n - 0.45);
        b = 30 + 40 * field + 60 * (n - 0.45);
      }
      for (const Blob& blob : blobs_) {
        const double dx = (u - blob.x) / blob.rx, dy = (v - blob.y) / blob.ry;
        const double d = dx * dx + dy * dy;
        if (d < 1) {
          const double w = (1 - d) * (1 - d) * 0.8;
          r += (blob.r - r) * w;
          g += (blob.g - g) * w;
          b += (blob.b - b) * w;
        }
      }
      // Sensor grain: a little in luma, less in colour.
      const std::uint32_t h = hash(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), seed_ + 99);
      const double grain = static_cast<int>(h & 31) - 15.5;
      const double tint = static_cast<int>((h >> 8) & 7) - 3.5;
      out[3 * x] = static_cast<unsigned char>(std::clamp(r + grain + tint, 0.0, 255.0));
      out[3 * x + 1] = static_cast<unsigned char>(std::clamp(g + grain, 0.0, 255.0));
      out[3 * x + 2] = static_cast<unsigned char>(std::clamp(b + grain - tint, 0.0, 255.0));
    }
  }

 private:
  int width_, height_;
  std::uint32_t seed_;
  std::vector<Blob> blobs_;
};

// An APP1 payload: "Exif", a big-endian TIFF header and one IFD entry,
// Orientation (0x0112), one SHORT.
std::vector<unsigned char> exifWithOrientation(int orientation) {
  return {'E', 'x', 'i', 'f',  0,    0, 'M', 'M', 0, 42, 0, 0, 0,
          8,   0,   1,   0x01, 0x12, 0, 3,   0,   0, 0,  1, 0, static_cast<unsigned char>(orientation),
          0,   0,   0,   0,    0,    0};
}

}  // namespace

bool writeJpeg(const std::string& path, int width, int height, std::uint32_t seed, int orientation, bool progressive) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::perror(path.c_str());
    return false;
  }
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);  // YCbCr with 2 x 2 chroma subsampling
  jpeg_set_quality(&cinfo, 90, TRUE);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  if (orientation != 1) {
    const std::vector<unsigned char> exif = exifWithOrientation(orientation);
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
  }
  const PhotoMaker maker(width, height, seed);
  std::vector<unsigned char> line(static_cast<std::size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    maker.row(y, line.data());
    JSAMPROW row = line.data();
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::fclose(file) == 0;
}

bool writeRepeatedScan(const std::string& from, const std::string& to, int times) {
  std::ifstream in(from, std::ios::binary);
  const std::string jpeg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(jpeg[i]); };
  // Each scan runs from its SOS marker to the next marker that is not a restart.
  std::size_t best = 0, bestEnd = 0;
  for (std::size_t i = 2; i + 3 < jpeg.size();) {
    const std::size_t length = (byte(i + 2) << 8) | byte(i + 3);
    if (byte(i + 1) != 0xDA) {
      i += 2 + length;
      continue;
    }
    std::size_t end = i + 2 + length;
    while (end + 1 < jpeg.size() && !(byte(end) == 0xFF && byte(end + 1) != 0 && (byte(end + 1) & 0xF8) != 0xD0)) ++end;
    const std::size_t spectral = i + 5 + 2 * byte(i + 4);  // Ss; Se and Ah/Al follow
    const bool firstAc = byte(spectral) != 0 && (byte(spectral + 2) >> 4) == 0;
    if (firstAc && (bestEnd == 0 || end - i < bestEnd - best)) best = i, bestEnd = end;
    i = end;
  }
  if (bestEnd == 0) {
    std::fprintf(stderr, "%s: no AC scan to repeat\n", from.c_str());
    return false;
  }
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out.write(jpeg.data(), static_cast<std::streamsize>(bestEnd));
  for (int i = 0; i < times; ++i) out.write(jpeg.data() + best, static_cast<std::streamsize>(bestEnd - best));
  out.write(jpeg.data() + bestEnd, static_cast<std::streamsize>(jpeg.size() - bestEnd));
  return static_cast<bool>(out);
}

bool writePng(const std::string& path, int width, int height, std::uint32_t seed) {
  QImage image(width, height, QImage::Format_RGB888);
  if (image.isNull()) return false;
  const PhotoMaker maker(width, height, seed);
  for (int y = 0; y < height; ++y) maker.row(y, image.scanLine(y));
  QImageWriter writer(QString::fromStdString(path), "png");
  if (!writer.write(image)) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), writer.errorString().toLocal8Bit().constData());
    return false;
  }
  return true;
}

}  // namespace bench
