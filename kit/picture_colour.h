#pragma once
// Colour management for decoded pictures: a picture's embedded profile, and
// the conversion of its pixels to the display's colour space.
//
// A decoder makes a Profile from what the file carries (ICC bytes, or the
// QColorSpace a Qt reader reports) and calls convertToDisplay() once on the
// pixels it has finished (a whole decode, a band or a tile), on the worker
// thread that made them and after any shrink, so the conversion costs a pass
// over the shown pixels only and nothing at paint time. An untagged picture,
// or one tagged with the display's own space, keeps its exact pixels.
//
// Profiles Qt parses (the matrix and curve profiles cameras, phones and
// editors write: sRGB, Display P3, Adobe RGB, ProPhoto) are converted by Qt's
// colour transform, which is several times faster than lcms2 on 8-bit
// pixels; the others (table-based profiles, other connection spaces) by
// lcms2, which reads every ICC profile.
#include <QByteArray>
#include <QColorSpace>
#include <QImage>
#include <memory>

namespace kit::colour {

class Profile {
 public:
  // Untagged: the pixels are taken as sRGB and left as they are.
  Profile() = default;
  // From an embedded ICC profile (JPEG APP2, PNG iCCP, HEIF or AVIF colr). A
  // profile that does not parse, or not for RGB pixels, converts nothing.
  static Profile fromIcc(const QByteArray& icc);
  // From what a Qt reader reports (QImage::colorSpace()).
  static Profile fromColorSpace(const QColorSpace& space);

  // False when the pixels are kept as they are.
  bool converts() const { return static_cast<bool>(transform_); }
  // Converts decoded pixels to the display's colour space in place; any
  // format is taken (an indexed picture's colour table is converted). Safe
  // to call from several threads at once on one profile.
  void convertToDisplay(QImage& image) const;

  struct Transform;

 private:
  std::shared_ptr<const Transform> transform_;
};

// The colour space pictures are converted to: sRGB.
// FIXME: Qt 6.4 reports no screen colour space; a window system that
// publishes one (X11's _ICC_PROFILE root property) could set it here.
QColorSpace displaySpace();

}  // namespace kit::colour
