#include "kit/png_rows.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cstring>

namespace kit::png {

namespace {

constexpr std::size_t kReadBytes = 64 * 1024;
constexpr std::uint32_t kLongestChunk = 0x7FFFFFFF;

std::uint32_t bigEndian(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// The data of a file's IDAT chunks, a piece at a time, each chunk's CRC
// checked when its last piece has been taken. Chunks before the first IDAT
// are passed over (their reader has checked them); the first chunk of
// another type after it ends the data.
class ImageData {
 public:
  explicit ImageData(std::FILE* file) : file_(file), buffer_(kReadBytes) { gathered_.reserve(2 * kReadBytes); }

  // The next piece, up to kReadBytes gathered from as many chunks as it
  // takes (the inflater copies its history at every call: the fewer calls
  // the better); empty at the end of the data. Valid until the next call.
  // False on failure (`error` set).
  bool next(const unsigned char*& data, std::size_t& length, std::string& error) {
    gathered_.clear();
    const unsigned char* piece = nullptr;
    std::size_t size = 0;
    do {
      if (!nextPiece(piece, size, error)) return false;
      gathered_.insert(gathered_.end(), piece, piece + size);
    } while (size > 0 && gathered_.size() < kReadBytes);
    data = gathered_.data();
    length = gathered_.size();
    return true;
  }

 private:
  // The next piece of one chunk, at most what the buffer holds.
  bool nextPiece(const unsigned char*& data, std::size_t& length, std::string& error) {
    length = 0;
    while (left_ == 0) {
      if (inChunk_) {
        if (!fill(4)) return fail(error, "PNG: the file ends inside the image data");
        if (bigEndian(buffer_.data() + begin_) != crc_) return fail(error, "PNG: the image data is damaged (CRC)");
        begin_ += 4;
        inChunk_ = false;
      }
      if (!fill(8)) {
        if (seen_) return true;  // no IEND: the rows decide whether the data sufficed
        return fail(error, "PNG: the file has no image data");
      }
      const unsigned char* head = buffer_.data() + begin_;
      const std::uint32_t size = bigEndian(head);
      if (size > kLongestChunk) return fail(error, "PNG: a chunk's length is invalid");
      const bool idat = std::memcmp(head + 4, "IDAT", 4) == 0;
      if (!idat && seen_) return true;
      begin_ += 8;
      if (idat) {
        seen_ = inChunk_ = true;
        left_ = size;
        crc_ = crc32_gzip_refl(0, head + 4, 4);
        continue;
      }
      // A chunk before the data, and its CRC: passed over.
      for (std::uint64_t skip = std::uint64_t{size} + 4; skip > 0;) {
        if (!fill(1)) return fail(error, "PNG: the file ends before the image data");
        const std::size_t step = std::min<std::uint64_t>(skip, end_ - begin_);
        begin_ += step;
        skip -= step;
      }
    }
    if (!fill(1)) return fail(error, "PNG: the file ends inside the image data");
    length = std::min<std::size_t>(left_, end_ - begin_);
    data = buffer_.data() + begin_;
    crc_ = crc32_gzip_refl(crc_, data, length);
    begin_ += length;
    left_ -= static_cast<std::uint32_t>(length);
    return true;
  }

  static bool fail(std::string& error, const char* why) {
    error = why;
    return false;
  }
  // At least `count` bytes (at most the buffer's size) unread in the buffer.
  bool fill(std::size_t count) {
    if (end_ - begin_ >= count) return true;
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    while (end_ < count) {
      const std::size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
      if (got == 0) return false;
      end_ += got;
    }
    return true;
  }

  std::FILE* file_;
  std::vector<unsigned char> buffer_, gathered_;
  std::size_t begin_ = 0, end_ = 0;
  std::uint32_t left_ = 0;  // bytes of the current IDAT chunk not yet taken
  std::uint32_t crc_ = 0;
  bool inChunk_ = false;
  bool seen_ = false;  // an IDAT chunk was found
};

}  // namespace

RowStream::RowStream(std::FILE* file, std::size_t rowBytes, int rows)
    : file_(file), stride_(rowBytes + 1), rows_(rows) {
  // A spare byte: rows are read four bytes a pixel.
  for (Chunk& c : chunks_) c.bytes.resize(stride_ * kChunkRows + 1);
  thread_ = std::thread([this] { run(); });
}

RowStream::~RowStream() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

std::int64_t RowStream::workBytes(std::size_t rowBytes) {
  return static_cast<std::int64_t>((rowBytes + 1) * kChunkRows * kChunks + 3 * kReadBytes + sizeof(inflate_state));
}

const unsigned char* RowStream::next(int& count) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return filled_ > taken_ || done_; });
  if (filled_ == taken_) return nullptr;
  const Chunk& c = chunks_[taken_ % kChunks];
  count = c.rows;
  return c.bytes.data();
}

void RowStream::release() {
  {
    std::lock_guard lock(mutex_);
    ++taken_;
  }
  changed_.notify_all();
}

std::string RowStream::error() {
  std::lock_guard lock(mutex_);
  return error_;
}

RowStream::Chunk* RowStream::waitFree() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return filled_ - taken_ < kChunks || stopping_; });
  return stopping_ ? nullptr : &chunks_[filled_ % kChunks];
}

void RowStream::run() {
  std::string error = inflateAll();
  {
    std::lock_guard lock(mutex_);
    error_ = std::move(error);
    done_ = true;
  }
  changed_.notify_all();
}

std::string RowStream::inflateAll() {
  ImageData data(file_);
  auto state = std::make_unique<inflate_state>();
  isal_inflate_init(state.get());
  state->crc_flag = ISAL_ZLIB;
  std::string error;
  bool ended = false;  // no input left
  for (int rowsLeft = rows_; rowsLeft > 0;) {
    Chunk* chunk = waitFree();
    if (chunk == nullptr) return {};
    chunk->rows = std::min(rowsLeft, kChunkRows);
    state->next_out = chunk->bytes.data();
    state->avail_out = static_cast<std::uint32_t>(stride_ * chunk->rows);
    while (state->avail_out > 0) {
      if (state->block_state == ISAL_BLOCK_FINISH) return "PNG: the image data ends too soon";
      if (state->avail_in == 0 && !ended) {
        const unsigned char* piece = nullptr;
        std::size_t length = 0;
        if (!data.next(piece, length, error)) return error;
        ended = length == 0;
        state->next_in = const_cast<unsigned char*>(piece);
        state->avail_in = static_cast<std::uint32_t>(length);
      }
      // The inflater may hold output back for want of room: it comes
      // after the last input too.
      const std::uint32_t in = state->avail_in, out = state->avail_out;
      if (isal_inflate(state.get()) != ISAL_DECOMP_OK) return "PNG: the image data is damaged";
      if (state->avail_in == in && state->avail_out == out && state->block_state != ISAL_BLOCK_FINISH)
        return ended ? "PNG: the image data ends too soon" : "PNG: the image data is damaged";
    }
    {
      std::lock_guard lock(mutex_);
      ++filled_;
    }
    changed_.notify_all();
    rowsLeft -= chunk->rows;
  }
  return {};
}

}  // namespace kit::png
