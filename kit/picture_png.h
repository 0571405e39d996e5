#pragma once
// PNG files read with libspng, row by row as the data streams in: a picture
// shown smaller than its natural size is shrunk as its rows arrive (the
// streaming resampler), so the full-size picture is never held. Interlaced
// files, whose rows come in seven passes over the whole picture, are left to
// the caller, which reads them whole within its budget.
#include <QImage>
#include <QImageIOHandler>
#include <QSize>
#include <atomic>
#include <cstdint>
#include <string>

namespace kit::png {

struct Decoded {
  bool handled = false;  // false: not a PNG file this decoder streams (the caller reads it)
  QImage image;          // Format_RGB32, or ARGB32_Premultiplied with alpha; null on failure
  std::string error;     // why a handled file did not decode
};

// Decodes the file at `size` (displayed pixels, at most the natural size),
// the EXIF `transformation` applied. Neither the result nor the rows it
// needs may take more than `maxBytes`. Stops soon after `cancelled` is set
// (the error is then jpeg::kCancelled). Never raises.
Decoded decode(const std::string& path, QSize size, QImageIOHandler::Transformations transformation,
               std::int64_t maxBytes, const std::atomic<bool>* cancelled = nullptr);

}  // namespace kit::png
