#include "kit/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kit::resample {

namespace {

double sinc(double x) {
  if (x == 0) return 1;
  const double a = std::numbers::pi * x;
  return std::sin(a) / a;
}

double lanczos(double x) {
  x = std::abs(x);
  return x < kLanczosRadius ? sinc(x) * sinc(x / kLanczosRadius) : 0;
}

// The two loops every input byte goes through, sixteen bytes at a time
// where the vector unit allows (and a sanitizer checks one access, not 16).
void toFloats(float* out, const unsigned char* bytes, std::size_t n) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    const __m128i low = _mm_unpacklo_epi8(b, zero), high = _mm_unpackhi_epi8(b, zero);
    _mm_storeu_ps(out + i, _mm_cvtepi32_ps(_mm_unpacklo_epi16(low, zero)));
    _mm_storeu_ps(out + i + 4, _mm_cvtepi32_ps(_mm_unpackhi_epi16(low, zero)));
    _mm_storeu_ps(out + i + 8, _mm_cvtepi32_ps(_mm_unpacklo_epi16(high, zero)));
    _mm_storeu_ps(out + i + 12, _mm_cvtepi32_ps(_mm_unpackhi_epi16(high, zero)));
  }
#endif
  for (; i < n; ++i) out[i] = bytes[i];
}

void addBytes(std::uint32_t* sums, const unsigned char* bytes, std::size_t n) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  auto add = [](std::uint32_t* at, __m128i v) {
    auto* p = reinterpret_cast<__m128i*>(at);
    _mm_storeu_si128(p, _mm_add_epi32(_mm_loadu_si128(p), v));
  };
  for (; i + 16 <= n; i += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    const __m128i low = _mm_unpacklo_epi8(b, zero), high = _mm_unpackhi_epi8(b, zero);
    add(sums + i, _mm_unpacklo_epi16(low, zero));
    add(sums + i + 4, _mm_unpackhi_epi16(low, zero));
    add(sums + i + 8, _mm_unpacklo_epi16(high, zero));
    add(sums + i + 12, _mm_unpackhi_epi16(high, zero));
  }
#endif
  for (; i < n; ++i) sums[i] += bytes[i];
}

Pixel load(const float* p) {
  Pixel v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void store(float* p, Pixel v) { std::memcpy(p, &v, sizeof v); }

// Four channels from 0 to 255 (already rounded up by a half) as 4 bytes.
std::uint32_t packed(Pixel v, bool premultiplied) {
  unsigned char b[4] = {static_cast<unsigned char>(v[0]), static_cast<unsigned char>(v[1]),
                        static_cast<unsigned char>(v[2]), static_cast<unsigned char>(v[3])};
  if (premultiplied)
    for (int i = 0; i < 3; ++i) b[i] = std::min(b[i], b[3]);
  std::uint32_t pixel;
  std::memcpy(&pixel, b, sizeof pixel);
  return pixel;
}

}  // namespace

int Axis::blockFor(int inSize, int outSize) {
  const double scale = static_cast<double>(std::max(1, inSize)) / std::max(1, outSize);
  return scale < 4 ? 1 : static_cast<int>(scale / 2);
}

Axis::Axis(int inSize, int outSize, int block) {
  inSize = std::max(1, inSize);
  outSize = std::max(1, outSize);
  block = std::max(1, block);
  const int blocks = (inSize + block - 1) / block;
  // In units of blocks: block b covers input pixels [b x block, (b + 1) x block).
  const double scale = static_cast<double>(inSize) / outSize / block;
  const double widen = std::max(1.0, scale);
  const double support = kLanczosRadius * widen;
  stride_ = static_cast<std::size_t>(std::ceil(2 * support)) + 2;
  first_.resize(static_cast<std::size_t>(outSize));
  count_.resize(static_cast<std::size_t>(outSize));
  weights_.assign(static_cast<std::size_t>(outSize) * stride_, 0.0f);
  std::size_t widest = 0;
  std::vector<double> w(stride_);
  for (int o = 0; o < outSize; ++o) {
    const double centre = (o + 0.5) * scale;
    const int start = std::clamp(static_cast<int>(std::floor(centre - support + 0.5)), 0, blocks - 1);
    const int stop = std::min(blocks, static_cast<int>(std::floor(centre + support + 0.5)));
    double total = 0;
    std::size_t n = 0;
    for (int i = start; i < stop && n < stride_; ++i, ++n) {
      w[n] = lanczos((i + 0.5 - centre) / widen);
      total += w[n];
    }
    if (n == 0 || total == 0) {
      // Only at a degenerate edge: take the nearest input as it is.
      n = 1;
      w[0] = total = 1;
    }
    // Trailing zero weights cost time and carry nothing.
    while (n > 1 && w[n - 1] == 0) --n;
    const auto at = static_cast<std::size_t>(o);
    first_[at] = start;
    count_[at] = static_cast<int>(n);
    for (std::size_t k = 0; k < n; ++k) weights_[at * stride_ + k] = static_cast<float>(w[k] / total);
    widest = std::max(widest, n);
  }
  // Only as wide as the widest output needs: the ring of rows is this high.
  std::vector<float> packed(static_cast<std::size_t>(outSize) * widest);
  for (std::size_t o = 0; o < first_.size(); ++o)
    std::copy_n(weights_.data() + o * stride_, widest, packed.data() + o * widest);
  weights_ = std::move(packed);
  stride_ = widest;
}

Shrinker::Shrinker(int inWidth, int inHeight, int outWidth, int outHeight, Output output, bool premultiplied)
    : inWidth_(std::max(1, inWidth)),
      inHeight_(std::max(1, inHeight)),
      outWidth_(std::max(1, outWidth)),
      blockX_(Axis::blockFor(inWidth_, outWidth_)),
      blockY_(Axis::blockFor(inHeight_, outHeight)),
      columns_(inWidth_, outWidth_, blockX_),
      rows_(inHeight_, std::max(1, outHeight), blockY_),
      output_(std::move(output)),
      premultiplied_(premultiplied) {
  ring_ = static_cast<std::size_t>(rows_.maxCount());
  const auto outFloats = static_cast<std::size_t>(outWidth_) * 4;
  if (blockX_ > 1 || blockY_ > 1) block_.assign(static_cast<std::size_t>(inWidth_) * 4, 0);
  input_.resize(static_cast<std::size_t>((inWidth_ + blockX_ - 1) / blockX_) * 4);
  filtered_.resize(ring_ * outFloats);
  line_.resize(static_cast<std::size_t>(outWidth_));
}

std::int64_t Shrinker::workBytes(int inWidth, int inHeight, int outWidth, int outHeight) {
  // The ring holds at most 2 x 3 x the filter's shrink + 3 rows (Axis's widest filter).
  const int block = Axis::blockFor(inHeight, outHeight);
  const double scale = std::max(1.0, static_cast<double>(std::max(1, inHeight)) / std::max(1, outHeight) / block);
  const auto ring = static_cast<std::int64_t>(std::ceil(2 * kLanczosRadius * scale)) + 2;
  const std::int64_t outRow = static_cast<std::int64_t>(std::max(1, outWidth)) * 16;
  return static_cast<std::int64_t>(std::max(1, inWidth)) * 32 + (ring + 1) * outRow + outRow / 4;
}

void Shrinker::push(const std::uint32_t* row) {
  if (rowsIn_ >= inHeight_) return;
  ++rowsIn_;
  const auto* bytes = reinterpret_cast<const unsigned char*>(row);
  if (block_.empty()) {
    toFloats(input_.data(), bytes, input_.size());
    takeBlockRow();
    return;
  }
  addToBlock(bytes);
  if (blockRows_ == blockY_ || rowsIn_ == inHeight_) {
    // The block row's average, each block over the pixels it has.
    const auto columns = static_cast<std::size_t>(inWidth_);
    const auto step = static_cast<std::size_t>(blockX_);
    for (std::size_t b = 0, x = 0; x < columns; ++b) {
      Sums across = {0, 0, 0, 0};
      const std::size_t end = std::min(columns, x + step);
      const float scale = 1.0f / static_cast<float>((end - x) * static_cast<std::size_t>(blockRows_));
      for (; x < end; ++x) {
        Sums p;
        std::memcpy(&p, block_.data() + 4 * x, sizeof p);
        across += p;
      }
      store(input_.data() + 4 * b, __builtin_convertvector(across, Pixel) * scale);
    }
    std::fill(block_.begin(), block_.end(), 0u);
    blockRows_ = 0;
    takeBlockRow();
  }
}

void Shrinker::addToBlock(const unsigned char* bytes) {
  addBytes(block_.data(), bytes, block_.size());
  ++blockRows_;
}

void Shrinker::takeBlockRow() {
  const int r = blocksIn_++;
  const auto outFloats = static_cast<std::size_t>(outWidth_) * 4;
  // A row before every remaining output's taps is not needed.
  if (rowsOut_ < rows_.outSize() && r >= rows_.first(rowsOut_))
    filterRow(filtered_.data() + (static_cast<std::size_t>(r) % ring_) * outFloats);
  while (rowsOut_ < rows_.outSize() && rows_.first(rowsOut_) + rows_.count(rowsOut_) <= blocksIn_) emitRow();
}

void Shrinker::filterRow(float* out) {
  const float* in = input_.data();
  for (int o = 0; o < outWidth_; ++o) {
    const float* w = columns_.weights(o);
    const float* s = in + static_cast<std::size_t>(columns_.first(o)) * 4;
    const int count = columns_.count(o);
    // Two sums, so that each addition need not wait for the one before.
    Pixel even = {0, 0, 0, 0}, odd = {0, 0, 0, 0};
    int k = 0;
    for (; k + 1 < count; k += 2) {
      even += w[k] * load(s + 4 * k);
      odd += w[k + 1] * load(s + 4 * k + 4);
    }
    if (k < count) even += w[k] * load(s + 4 * k);
    store(out + static_cast<std::size_t>(o) * 4, even + odd);
  }
}

void Shrinker::emitRow() {
  const int o = rowsOut_++;
  const auto outFloats = static_cast<std::size_t>(outWidth_) * 4;
  const float* w = rows_.weights(o);
  const int count = rows_.count(o);
  sources_.resize(static_cast<std::size_t>(count));
  for (int k = 0; k < count; ++k)
    sources_[static_cast<std::size_t>(k)] =
        filtered_.data() + (static_cast<std::size_t>(rows_.first(o) + k) % ring_) * outFloats;
  const Pixel half = {0.5f, 0.5f, 0.5f, 0.5f}, top = {255, 255, 255, 255}, bottom = {0, 0, 0, 0};
  for (std::size_t x = 0, i = 0; i < outFloats; ++x, i += 4) {
    Pixel sum = w[0] * load(sources_[0] + i);
    for (int k = 1; k < count; ++k) sum += w[k] * load(sources_[static_cast<std::size_t>(k)] + i);
    sum += half;
    sum = sum > top ? top : sum;
    sum = sum < bottom ? bottom : sum;
    line_[x] = packed(sum, premultiplied_);
  }
  output_(o, line_.data());
}

ShrinkerThread::ShrinkerThread(int inWidth, int inHeight, int outWidth, int outHeight, Shrinker::Output output,
                               bool premultiplied, std::int64_t queueBytes)
    : shrinker_(inWidth, inHeight, outWidth, outHeight, std::move(output), premultiplied),
      width_(static_cast<std::size_t>(std::max(1, inWidth))),
      maxChunks_(maxChunks(inWidth, queueBytes)) {
  thread_ = std::thread([this] { run(); });
}

int ShrinkerThread::maxChunks(int inWidth, std::int64_t queueBytes) {
  const std::int64_t chunkBytes = static_cast<std::int64_t>(std::max(1, inWidth)) * kChunkRows * 4;
  return static_cast<int>(std::clamp<std::int64_t>(queueBytes / chunkBytes, 4, 64));
}

ShrinkerThread::~ShrinkerThread() {
  finish();
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

std::int64_t ShrinkerThread::workBytes(int inWidth, int inHeight, int outWidth, int outHeight,
                                       std::int64_t queueBytes) {
  return Shrinker::workBytes(inWidth, inHeight, outWidth, outHeight) +
         static_cast<std::int64_t>(maxChunks(inWidth, queueBytes)) * kChunkRows * std::max(1, inWidth) * 4;
}

std::uint32_t* ShrinkerThread::reserve(int count) {
  if (filling_ && filling_->rows + count > kChunkRows) send();
  if (!filling_) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (free_.empty() && made_ < maxChunks_) {
      ++made_;
      lock.unlock();
      filling_ = std::make_unique<Chunk>();
      filling_->pixels.resize(width_ * kChunkRows);
    } else {
      changed_.wait(lock, [this] { return !free_.empty(); });
      filling_ = std::move(free_.front());
      free_.pop_front();
    }
    filling_->rows = 0;
  }
  return filling_->pixels.data() + static_cast<std::size_t>(filling_->rows) * width_;
}

void ShrinkerThread::commit(int count) {
  if (filling_ && (filling_->rows += count) >= kChunkRows) send();
}

void ShrinkerThread::push(const std::uint32_t* rows, std::ptrdiff_t stride, int count) {
  for (int r = 0; r < count; ++r) {
    std::copy_n(rows + r * stride, width_, slot());
    commit();
  }
}

void ShrinkerThread::send() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    full_.push_back(std::move(filling_));
  }
  changed_.notify_all();
}

void ShrinkerThread::finish() {
  if (filling_ && filling_->rows > 0) send();
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return full_.empty() && busy_ == 0; });
}

void ShrinkerThread::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return closing_ || !full_.empty(); });
    if (full_.empty()) return;
    std::unique_ptr<Chunk> chunk = std::move(full_.front());
    full_.pop_front();
    ++busy_;
    lock.unlock();
    for (int r = 0; r < chunk->rows; ++r) shrinker_.push(chunk->pixels.data() + static_cast<std::size_t>(r) * width_);
    lock.lock();
    --busy_;
    free_.push_back(std::move(chunk));
    changed_.notify_all();
  }
}

void shrink(const std::uint32_t* in, int inWidth, int inHeight, std::ptrdiff_t inStride, std::uint32_t* out,
            int outWidth, int outHeight, std::ptrdiff_t outStride, bool premultiplied) {
  Shrinker shrinker(
      inWidth, inHeight, outWidth, outHeight,
      [&](int row, const std::uint32_t* pixels) { std::copy_n(pixels, std::max(1, outWidth), out + row * outStride); },
      premultiplied);
  for (int y = 0; y < inHeight; ++y) shrinker.push(in + y * inStride);
}

}  // namespace kit::resample
