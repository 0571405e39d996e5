#pragma once
// Pictures loaded from files. The natural size is the size after the file's
// EXIF transformation. Holds the decoded pixels for the views; the photo code
// sees only sizes. Implemented over the platform's image readers.
#include <memory>
#include <string>

namespace kit {

class Picture {
 public:
  // Loads and decodes a picture; raises a RuntimeError (481) with the
  // reader's description when the file cannot be decoded.
  static std::shared_ptr<Picture> load(const std::string& path);

  ~Picture();
  int widthPixels() const;   // natural width, EXIF transformation applied
  int heightPixels() const;  // natural height
  float widthTwips() const;
  float heightTwips() const;
  const std::string& path() const;

  // Pixel access for views (an opaque handle to the decoded image).
  struct Impl;
  Impl& impl() const { return *impl_; }

 private:
  explicit Picture(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

inline constexpr long kInvalidPictureError = 481;

}  // namespace kit
