#pragma once
// The image data of a PNG file, inflated on a thread of its own: the file's
// IDAT chunks are read in order, each one's CRC checked, and their zlib
// stream inflated (ISA-L's inflater) into a small ring of chunks of filtered
// rows, which the decoding thread takes one at a time. Reading and inflating
// then run on one core while the rows are unfiltered and shrunk on another.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kit::png {

class RowStream {
 public:
  static constexpr int kChunkRows = 16;
  static constexpr int kChunks = 4;

  // Reads `rows` rows of `rowBytes` bytes each (the filter byte not
  // counted) from `file`, a PNG file, from its first IDAT chunk on; the
  // stream's own reading position is used (from byte 8: after the
  // signature). The file must stay open while the stream lives.
  RowStream(std::FILE* file, std::size_t rowBytes, int rows);
  ~RowStream();  // stops the thread and waits for it
  RowStream(const RowStream&) = delete;
  RowStream& operator=(const RowStream&) = delete;

  // The next chunk of rows, each the filter byte and then `rowBytes` bytes;
  // `count` says how many. Null when all rows were taken or the data failed
  // (then error() says why). The chunk stays valid until release(); the
  // byte after its last row may be read.
  const unsigned char* next(int& count);
  void release();
  std::string error();

  // The memory a stream holds for rows of `rowBytes` bytes.
  static std::int64_t workBytes(std::size_t rowBytes);

 private:
  struct Chunk {
    std::vector<unsigned char> bytes;
    int rows = 0;
  };
  void run();
  std::string inflateAll();
  Chunk* waitFree();

  std::FILE* file_;
  std::size_t stride_;
  int rows_;
  Chunk chunks_[kChunks];
  std::mutex mutex_;
  std::condition_variable changed_;
  int filled_ = 0;  // chunks filled by the thread, in ring order
  int taken_ = 0;   // chunks released by the reader
  bool stopping_ = false;
  bool done_ = false;
  std::string error_;
  std::thread thread_;
};

}  // namespace kit::png
