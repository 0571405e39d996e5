#pragma once
// Pictures shrunk with the streaming resampler (kit/resample.h): the one way
// every path that makes a picture smaller does it, so that a picture shrunk
// whole, band by band as it decodes, or from pixels already held comes out
// the same.
#include <QImage>
#include <QImageReader>
#include <QSize>
#include <cstdint>

namespace kit {

// `image` shrunk to `size`: Format_RGB32 when the image is opaque, else
// Format_ARGB32_Premultiplied (filtered premultiplied, so that transparent
// pixels lend no colour). A null image when memory runs out.
QImage shrinkImage(const QImage& image, QSize size);

// The format pixels must have to be fed to a shrinker, and whether they are
// premultiplied: 4 bytes a pixel, alpha (if any) in the fourth byte.
QImage::Format shrinkFormat(bool alpha);

// Reads the picture for showing at `want` (displayed pixels): a vector
// picture is rendered at that size by the reader; a raster picture is read at
// its natural size and shrunk with the resampler, unless that exceeds
// `budget`: then the reader scales it itself. On failure a null image; the
// reader's errorString() says why.
QImage readShrunk(QImageReader& reader, QSize natural, QSize want, bool quarterTurn, std::int64_t budget);

}  // namespace kit
