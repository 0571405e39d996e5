#pragma once
// Helpers for tests that make their own pictures.
#include <QByteArray>
#include <QImageReader>

namespace picture_test {

// Inserts an APP1 "Exif" segment after the start-of-image marker: a
// big-endian TIFF header and one IFD entry, Orientation (0x0112), SHORT.
inline QByteArray withExifOrientation(const QByteArray& jpeg, int orientation) {
  const unsigned char tiff[] = {'M', 'M', 0, 42, 0, 0, 0, 8,  // header, IFD at 8
                                0, 1,                         // one entry
                                0x01, 0x12, 0, 3, 0, 0, 0, 1,  // tag, type, count
                                0, static_cast<unsigned char>(orientation), 0, 0,
                                0, 0, 0, 0};                  // no next IFD
  QByteArray payload("Exif\0\0", 6);
  payload.append(reinterpret_cast<const char*>(tiff), sizeof tiff);
  const int length = static_cast<int>(payload.size()) + 2;
  QByteArray segment;
  segment.append('\xFF').append('\xE1');
  segment.append(static_cast<char>(length >> 8)).append(static_cast<char>(length & 0xFF));
  segment.append(payload);
  return jpeg.left(2) + segment + jpeg.mid(2);
}

// Lowers Qt's allocation limit (and with it the decoding budget) for a scope.
class AllocationLimit {
 public:
  explicit AllocationLimit(int megabytes) : saved_(QImageReader::allocationLimit()) {
    QImageReader::setAllocationLimit(megabytes);
  }
  ~AllocationLimit() { QImageReader::setAllocationLimit(saved_); }
  AllocationLimit(const AllocationLimit&) = delete;
  AllocationLimit& operator=(const AllocationLimit&) = delete;

 private:
  int saved_;
};

}  // namespace picture_test
