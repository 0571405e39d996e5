#pragma once
// JPEG files read with libjpeg: the header with the EXIF orientation, and the
// pixels of the whole picture or of one region, decoded at a DCT scale of 1,
// 1/2, 1/4 or 1/8 and turned by the EXIF orientation as they are written.
//
// A decode refuses, quickly and with a message, a file whose work is out of
// all proportion to its size: more progressive scans than any encoder makes,
// or a progression that contradicts itself (the decoder would redo the same
// coefficients again and again). A decode can be cancelled from another
// thread; it then stops at its next strip of rows or scan.
//
// All rectangles and sizes here are in displayed orientation (the EXIF
// transformation applied), in pixels of the picture at the decoding scale.
#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QSize>
#include <atomic>
#include <cstdint>
#include <string>

namespace kit::jpeg {

// True when the bytes begin with a JPEG start-of-image marker.
bool hasSignature(const unsigned char* bytes, std::size_t size);

struct Header {
  int storedWidth = 0;
  int storedHeight = 0;
  int orientation = 1;       // EXIF orientation 1 to 8; 1 when the file has none
  bool progressive = false;  // a region costs a decode of the whole picture
  // What a decode of a progressive file holds while it runs: every
  // component's coefficients (0 for a sequential file).
  std::int64_t coefficientBytes = 0;
  QByteArray icc;  // the embedded ICC profile (APP2 segments joined); empty when none
  bool quarterTurn() const { return orientation >= 5; }
  // The picture's size decoded at 1/denominator, EXIF orientation applied.
  QSize size(int denominator = 1) const;
  // The largest of 8, 4, 2, 1 whose decoded size covers `shown` both ways.
  int coveringDenominator(QSize shown) const;
};

// Reads the header, with the EXIF orientation and the ICC profile, and checks
// the decoder can turn it into pixels. False with the decoder's description in
// `error` when it cannot.
bool readHeader(const std::string& path, Header& header, std::string& error);

struct Decoded {
  QImage image;          // Format_RGB32; null when nothing decoded
  bool partial = false;  // the data ended early: the part after it is grey
  std::string error;     // why nothing decoded
};

// Decodes `region` (the whole picture when null) at 1/denominator and shrinks
// it smoothly to `size` when that is smaller (a null size keeps the region's
// size). Shrinking goes band by band as the rows decode: the region is never
// held at its decoded size. Neither the result nor a band's rows may need
// more than `maxBytes`. `workBytes` bounds the decoder's own working memory
// (a progressive file keeps all its coefficients while it decodes).
Decoded decode(const std::string& path, const Header& header, int denominator, QRect region, QSize size,
               std::int64_t maxBytes, std::int64_t workBytes, const std::atomic<bool>* cancelled = nullptr);

// More progressive scans than this are refused (real encoders write about ten).
inline constexpr int kMaxScans = 256;
inline constexpr const char* kCancelled = "The decode was cancelled";

// Where a point or rectangle of the stored picture (size `stored`) shows
// once the EXIF orientation is applied, and back.
QPoint toDisplayed(int orientation, QSize stored, QPoint point);
QRect toDisplayed(int orientation, QSize stored, QRect rect);
QRect toStored(int orientation, QSize stored, QRect displayed);

// The orientation read from the payload of an APP1 segment ("Exif\0\0" and a
// TIFF structure); 1 when it holds none or it is malformed.
int exifOrientation(const unsigned char* data, std::size_t size);

}  // namespace kit::jpeg
