#pragma once
// Shrinking pictures with a separable filter, streaming: input rows go in one
// at a time, in order, and each output row comes out as soon as the input
// rows under its filter are in. Input coordinates are exact (output pixel o
// is centred on input coordinate (o + 0.5) x in / out) and the filter's taps
// reach across any grouping of the input rows, so a picture fed in bands of
// any height shrinks to the same pixels as the whole picture at once.
//
// Shrinking by 4 or more first averages blocks of input pixels (a box of
// half the factor, rounded down, each way), so that the filter's taps stay
// few: the filter then shrinks by 2 to 3, over the blocks' exact centres.
//
// Pixels are 4 bytes of any channel order. When they carry premultiplied
// alpha in their fourth byte, the colours are kept within the alpha, which a
// filter with negative lobes could otherwise push past it.
#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kit::resample {

// One pixel's four channels, summed four at a time.
using Pixel = float __attribute__((vector_size(16)));
using Sums = std::uint32_t __attribute__((vector_size(16)));

// Lanczos-3: sharp and true; its support is 3 input pixels each side,
// widened by the shrink factor.
inline constexpr double kLanczosRadius = 3.0;

// The taps of one axis: for each output index, the first input index and the
// weights of the inputs from there on (they sum to 1). Inputs are blocks of
// `block` input pixels (the last one may be short).
class Axis {
 public:
  Axis(int inSize, int outSize, int block = 1);
  // The block a shrink from `inSize` to `outSize` averages first.
  static int blockFor(int inSize, int outSize);
  int outSize() const { return static_cast<int>(first_.size()); }
  int first(int out) const { return first_[static_cast<std::size_t>(out)]; }
  int count(int out) const { return count_[static_cast<std::size_t>(out)]; }
  const float* weights(int out) const { return weights_.data() + static_cast<std::size_t>(out) * stride_; }
  int maxCount() const { return stride_ == 0 ? 0 : static_cast<int>(stride_); }

 private:
  std::vector<int> first_;
  std::vector<int> count_;
  std::vector<float> weights_;  // stride_ per output index
  std::size_t stride_ = 0;
};

class Shrinker {
 public:
  // Receives output row `row` (outWidth pixels); the pointer is valid during the call.
  using Output = std::function<void(int row, const std::uint32_t* pixels)>;

  // A size of 0 either way is taken as 1. Sizes larger than the input are
  // allowed (the filter then interpolates) but this is made for shrinking.
  Shrinker(int inWidth, int inHeight, int outWidth, int outHeight, Output output, bool premultiplied = false);

  // Takes the next input row (inWidth pixels). Rows past the input's height are ignored.
  void push(const std::uint32_t* row);
  int rowsIn() const { return rowsIn_; }
  int rowsOut() const { return rowsOut_; }

  // The working memory a shrinker of these sizes holds, in bytes.
  static std::int64_t workBytes(int inWidth, int inHeight, int outWidth, int outHeight);

 private:
  void addToBlock(const unsigned char* bytes);
  void takeBlockRow();
  void filterRow(float* out);
  void emitRow();

  int inWidth_, inHeight_, outWidth_;
  int blockX_, blockY_;
  Axis columns_, rows_;
  Output output_;
  bool premultiplied_;
  std::size_t ring_ = 0;              // filtered rows held, the most any output row needs
  std::vector<std::uint32_t> block_;  // the sums of the block rows taken so far
  int blockRows_ = 0;
  std::vector<float> input_;           // one row of blocks as floats
  int blocksIn_ = 0;                   // rows of blocks made
  std::vector<float> filtered_;        // ring_ rows of outWidth x 4 floats
  std::vector<const float*> sources_;  // the filtered rows under one output row
  std::vector<std::uint32_t> line_;
  int rowsIn_ = 0;
  int rowsOut_ = 0;
};

// A shrinker on a thread of its own: the decoder hands its rows over a chunk
// at a time and goes on decoding while they are filtered, so that on a
// machine with a second core shrinking costs the decoder almost nothing.
// Output rows are delivered on that thread, in order.
class ShrinkerThread {
 public:
  // Rows waiting for the thread take at most `queueBytes` (and at least 4
  // chunks of 16 rows): a decoder that runs ahead while the thread waits for
  // a core does not stall at once. Chunks are made only as the queue grows.
  ShrinkerThread(int inWidth, int inHeight, int outWidth, int outHeight, Shrinker::Output output, bool premultiplied,
                 std::int64_t queueBytes);
  ~ShrinkerThread();  // finishes first
  ShrinkerThread(const ShrinkerThread&) = delete;
  ShrinkerThread& operator=(const ShrinkerThread&) = delete;

  // Room for the next `count` input rows (inWidth pixels each, one after
  // the other; at most kChunkRows), then taken by commit(count).
  std::uint32_t* reserve(int count);
  void commit(int count);
  std::uint32_t* slot() { return reserve(1); }
  void commit() { commit(1); }
  static constexpr int kChunkRows = 16;
  // Copies `count` rows (stride in pixels) in.
  void push(const std::uint32_t* rows, std::ptrdiff_t stride, int count);
  // Waits until every row handed over is filtered and its output delivered.
  void finish();
  // Output rows delivered (valid after finish()).
  int rowsOut() const { return shrinker_.rowsOut(); }

  static std::int64_t workBytes(int inWidth, int inHeight, int outWidth, int outHeight, std::int64_t queueBytes);
  // The queue a decode within `maxBytes` gives the thread.
  static std::int64_t queueFor(std::int64_t maxBytes) { return std::min<std::int64_t>(maxBytes / 16, kQueueBytes); }

 private:
  static constexpr std::int64_t kQueueBytes = 8 * 1024 * 1024;
  static int maxChunks(int inWidth, std::int64_t queueBytes);
  struct Chunk {
    std::vector<std::uint32_t> pixels;
    int rows = 0;
  };
  void send();
  void run();

  Shrinker shrinker_;
  std::size_t width_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Chunk>> free_, full_;
  std::unique_ptr<Chunk> filling_;
  int busy_ = 0;  // chunks the thread is working on
  int made_ = 0;  // chunks allocated
  int maxChunks_;
  bool closing_ = false;
  std::thread thread_;
};

// The whole picture at once (strides in pixels).
void shrink(const std::uint32_t* in, int inWidth, int inHeight, std::ptrdiff_t inStride, std::uint32_t* out,
            int outWidth, int outHeight, std::ptrdiff_t outStride, bool premultiplied = false);

}  // namespace kit::resample
