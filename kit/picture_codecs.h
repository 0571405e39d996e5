#pragma once
// HEIF (HEIC), AVIF and JPEG XL files, read with their reference decoders
// (libheif, libavif, libjxl). The header gives the natural size in displayed
// orientation (HEIF and AVIF irot/imir, JPEG XL's orientation field), a
// smaller picture the file carries (an HEIF thumbnail, a JPEG XL preview) and
// the embedded colour profile. A decode gives the first picture of the file
// (the primary image, a sequence's first frame), turned as the file says,
// at the size asked for: from the smaller picture when it covers that size,
// else from a full decode shrunk smoothly.
//
// Every decode is bounded before the decoder allocates: the pixels it holds
// while it works (its own planes and ours) may not pass the caller's limit.
// Decoders never raise: a bad file gives a message.
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kit::codecs {

enum class Format { None, Heif, Avif, Jxl };

// The format whose signature the bytes begin with (a file's first 64 bytes
// are enough); None when none of these.
Format sniff(const unsigned char* bytes, std::size_t size);

// File-name suffixes (lower case) of these formats, for listing a folder.
inline constexpr const char* kSuffixes[] = {"heic", "heif", "hif", "avif", "jxl"};

struct Header {
  Format format = Format::None;
  QSize natural;  // displayed orientation
  QSize reduced;  // the smaller picture the file carries, displayed orientation; empty when none
  // The embedded colour profile (ICC) the decoded pixels are in; empty when
  // the file has none (then they are sRGB). Decodes also set it on the image
  // as its QColorSpace.
  QByteArray iccProfile;
  // Bytes per pixel a decode holds while it works: the decoder's planes and
  // the pixels it hands over.
  int workBytesPerPixel = 8;
  // The bytes a decode for `size` holds at most while it runs.
  std::int64_t workBytes(QSize size) const;
};

// Reads the header. False with a message when the file cannot be decoded or
// is larger than `maxFileBytes`.
bool readHeader(const std::string& path, Format format, Header& header, std::string& error, std::int64_t maxFileBytes);

struct Decoded {
  QImage image;  // Format_RGB32 or Format_ARGB32; null when nothing decoded
  std::string error;
};

// Decodes the first picture at `size` (displayed orientation, at most the
// natural size). Refuses, before decoding, a decode whose working bytes
// would pass `maxBytes`. Stops between the decoder's steps once `cancelled`
// is set.
Decoded decode(const std::string& path, const Header& header, QSize size, std::int64_t maxBytes,
               const std::atomic<bool>* cancelled = nullptr);

}  // namespace kit::codecs
