#pragma once
// The inside of a picture, for the views that paint it. Only code that
// already depends on Qt includes this header.
#include <QImage>
#include <QRect>
#include <QRectF>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kit/picture.h"
#include "kit/picture_codecs.h"
#include "kit/picture_colour.h"
#include "kit/picture_jpeg.h"
#include "kit/picture_tiles.h"
#include "kit/picture_work.h"

namespace kit {

// A part of a picture to paint: `source` (pixels of `image`) drawn into
// `target` (pixels of the view that shows the picture).
struct PicturePiece {
  QImage image;
  QRectF source;
  QRectF target;
};

// What a picture holds, or is decoding: the whole picture at a size (by the
// JPEG decoder, the HEIF, AVIF and JPEG XL decoders or Qt's readers), or an overview with tiles at a DCT scale.
struct DecodePlan {
  // Regions: tiles decoded from the shown region only, nothing up front; an
  // overview of `size` is made only when a paint needs a stand-in.
  enum class Kind { None, Jpeg, Reader, Codec, Tiles, Regions, TooLarge };
  Kind kind = Kind::None;
  QSize size;           // the pixels held (the overview's for tiles and regions)
  int denominator = 1;  // the JPEG decoding scale
  bool operator==(const DecodePlan& o) const {
    return kind == o.kind && size == o.size && denominator == o.denominator;
  }
};

struct Picture::Impl : MemoryHolder {
  Impl();
  ~Impl() override;

  // The decoded pixels, EXIF transformation applied: the picture at the size
  // it is shown (at most its natural size; a reader that cannot decode
  // smaller within the budget gives less). For a picture served from tiles,
  // a small overview that stands in where a tile is not decoded. Null before
  // the first decode arrives and after the pixels were given back to the
  // shared budget.
  QImage image;
  // The natural size in pixels, EXIF transformation applied.
  int naturalWidth = 0;
  int naturalHeight = 0;
  std::string path;

  // The pieces that paint `region` of the picture shown at `shown` (view
  // pixels). Tiles not held yet are decoded, unless `fast`: then the
  // overview stands in for them. While decodes run off the UI thread, what
  // is held stands in (the overview, or the picture at another size).
  std::vector<PicturePiece> pieces(QSize shown, QRect region, bool fast);
  // Called on the UI thread when a decode started off it has arrived.
  void setOnReady(std::function<void()> onReady);

  // ---- how the picture decodes ----
  static constexpr int kTileSize = 512;
  bool jpeg = false;              // decoded by the JPEG decoder (else by Qt's readers)
  jpeg::Header header;            // for JPEG files
  colour::Profile colourProfile;  // for JPEG, HEIF, AVIF and JPEG XL files: their pixels to the display's colours
  codecs::Header codec;           // for HEIF, AVIF and JPEG XL files (its colour profile in codec.iccProfile)
  bool quarterTurn = false;       // for Qt's readers: the EXIF transformation turns the picture
  bool scalable = false;          // for Qt's readers: it decodes at a reduced size itself
  int readerPixelBytes = 4;       // for Qt's readers: bytes per pixel of a full read
  bool tiled = false;             // views are served from tiles
  int tileDenominator = 1;        // tiles are decoded at 1/tileDenominator
  bool partial = false;           // the last decode stopped early
  std::string error;              // why the last decode failed
  std::uint64_t id = 0;           // the picture's key in the tile cache
  std::shared_ptr<TileCache> cache = TileCache::shared();

  bool ensure(QSize shown);
  bool ensureNatural();
  // Starts the decode that showing at `shown` needs, without waiting for it
  // (the headless platform waits, as for every decode), and returns its
  // bytes; 0 for a picture served from tiles or too large, which the views
  // decode as they are shown (kit/picture_prefetch.h).
  std::int64_t prefetch(QSize shown);
  // A decode of the whole picture is under way.
  bool decoding() const;
  void releasePixels() override;
  void cancelDecodes();

 private:
  friend class Picture;
  struct Listener {
    Impl* owner;
    std::function<void()> onReady;
  };
  DecodePlan planFor(QSize shown) const;
  DecodeTask::Work workFor(const DecodePlan& plan) const;
  DecodeTask::Work tileWork(const std::vector<QPoint>& missing) const;
  std::int64_t transientBytes(const DecodePlan& plan) const;
  void begin(const DecodePlan& plan);
  void showRegions(const DecodePlan& plan);
  void leaveTiles();
  bool settle();
  bool collect();
  void delivered();
  std::function<void()> deliverer() const;
  bool requestTiles(const std::vector<QPoint>& missing);
  QRect tileRect(int column, int row) const;

  DecodePlan held_;                       // what `image` holds
  DecodePlan wanted_;                     // what `task_` decodes
  DecodePlan failed_;                     // what failed to decode last
  DecodePlan regions_;                    // the regions shown, while they are
  std::shared_ptr<DecodeTask> task_;      // the whole picture or overview under way
  std::shared_ptr<DecodeTask> tileTask_;  // tiles under way
  QSize lastShown_;
  std::shared_ptr<Listener> listener_;
};

}  // namespace kit
