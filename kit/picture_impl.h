#pragma once
// The inside of a loaded picture, for the views that paint it. Only code that
// already depends on Qt includes this header.
#include <QImage>
#include <string>

#include "kit/picture.h"

namespace kit {

struct Picture::Impl {
  // The decoded pixels with the file's EXIF transformation applied. A picture
  // too large for the decoding budget is held at a reduced size; views scale
  // it to the natural size when they paint.
  QImage image;
  // The natural size in pixels, EXIF transformation applied.
  int naturalWidth = 0;
  int naturalHeight = 0;
  std::string path;
};

}  // namespace kit
