#pragma once
// The inside of a picture, for the views that paint it. Only code that
// already depends on Qt includes this header.
#include <QImage>
#include <QRect>
#include <QRectF>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kit/picture.h"
#include "kit/picture_jpeg.h"
#include "kit/picture_tiles.h"

namespace kit {

// A part of a picture to paint: `source` (pixels of `image`) drawn into
// `target` (pixels of the view that shows the picture).
struct PicturePiece {
  QImage image;
  QRectF source;
  QRectF target;
};

struct Picture::Impl {
  // The decoded pixels, EXIF transformation applied: the picture at the size
  // it is shown (at most its natural size; a reader that cannot decode
  // smaller within the budget gives less). For a picture served from tiles,
  // a small overview that stands in where a tile is not decoded.
  QImage image;
  // The natural size in pixels, EXIF transformation applied.
  int naturalWidth = 0;
  int naturalHeight = 0;
  std::string path;

  // The pieces that paint `region` of the picture shown at `shown` (view
  // pixels). Tiles not held yet are decoded, unless `fast`: then the
  // overview stands in for them.
  std::vector<PicturePiece> pieces(QSize shown, QRect region, bool fast);

  // ---- how the picture decodes ----
  static constexpr int kTileSize = 512;
  bool jpeg = false;          // decoded by the JPEG decoder (else by Qt's readers)
  jpeg::Header header;        // for JPEG files
  bool quarterTurn = false;   // for Qt's readers: the EXIF transformation turns the picture
  bool tiled = false;         // views are served from tiles
  int tileDenominator = 1;    // tiles are decoded at 1/tileDenominator
  bool partial = false;       // the last decode stopped early
  std::string error;          // why the last decode failed
  std::uint64_t id = 0;       // the picture's key in the tile cache
  std::shared_ptr<TileCache> cache = TileCache::shared();

  bool ensure(QSize shown);
  bool ensureNatural();

 private:
  bool wholeJpeg(QSize target, int denominator, std::int64_t budget);
  bool wholeQt(QSize target, std::int64_t budget);
  bool tiles(int denominator, std::int64_t budget);
  void decodeTiles(const std::vector<QPoint>& missing);
  QRect tileRect(int column, int row) const;
};

}  // namespace kit
