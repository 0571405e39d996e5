#pragma once
// Pictures read from files. Opening reads only the header: the natural size
// (the size after the file's EXIF transformation), and whether a reader can
// decode the file. Decoding is asked for separately, for the size the picture
// is shown at: only as many pixels as will be shown are decoded. The photo
// code sees only sizes; the views reach the pixels through picture_impl.h.
#include <cstdint>
#include <memory>
#include <string>

namespace kit {

class Picture {
 public:
  // Reads the header. Raises a RuntimeError (481) with the reader's
  // description when no reader can decode the file, or saying what is wrong
  // with the path (not found, no permission, a folder, a pipe or device).
  static std::shared_ptr<Picture> open(const std::string& path);
  // Opens and decodes the whole picture at its natural size, reduced by
  // halves while it exceeds the decoding budget. Raises 481 on failure.
  static std::shared_ptr<Picture> load(const std::string& path);

  ~Picture();
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;

  int widthPixels() const;   // natural width, EXIF transformation applied
  int heightPixels() const;  // natural height
  float widthTwips() const;
  float heightTwips() const;
  const std::string& path() const;

  // Decodes what showing the picture at this size (pixels) needs: below the
  // natural size, the picture shrunk smoothly to it; at or above it, the
  // natural size. A picture whose shown pixels exceed the decoding budget is
  // decoded in tiles as views ask for them. True when the pixels are ready,
  // or (the Qt view) still decoding off the UI thread after a moment's wait:
  // the view paints what is held and repaints when they arrive. On failure
  // the pixels held before stay and lastError() says why. Never raises.
  bool ensureDecoded(int shownWidthPixels, int shownHeightPixels);
  // The same for a size in twips, rounded to pixels as the views round.
  bool ensureDecodedTwips(float shownWidthTwips, float shownHeightTwips);
  const std::string& lastError() const;

  // What is held: the decoded pixels' size (0 x 0 before any decode), whether
  // views are served from tiles, whether the last decode stopped early
  // (a truncated file: the rest shows grey), and the bytes of pixels held,
  // tiles included.
  int decodedWidth() const;
  int decodedHeight() const;
  bool tiled() const;
  bool partial() const;
  std::int64_t heldBytes() const;

  // A length in twips as the views round it to pixels.
  static int pixelsFromTwips(float twips);

  // Pixel access for views (an opaque handle to the decoded image).
  struct Impl;
  Impl& impl() const { return *impl_; }

 private:
  explicit Picture(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

inline constexpr long kInvalidPictureError = 481;

}  // namespace kit
