#include "support/chm_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace korvena {

namespace {

constexpr uint64_t kFrameSize = 0x8000;
// Larger help files than this are refused rather than decoded into memory.
constexpr uint64_t kMaxDecoded = 256ull << 20;

[[noreturn]] void Bad(const std::string& what) { throw ChmError("damaged help file: " + what); }

uint32_t Le32(const std::string& b, uint64_t at) {
  if (at > b.size() || b.size() - at < 4) Bad("a header runs past the end of its data");
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
  return v;
}

uint64_t Le64(const std::string& b, uint64_t at) {
  return Le32(b, at) | (static_cast<uint64_t>(Le32(b, at + 4)) << 32);
}

// The directory's variable-length numbers: 7 bits a byte, high bit "more".
uint64_t EncInt(const std::string& b, uint64_t& at, uint64_t end) {
  uint64_t v = 0;
  for (int n = 0; n < 10; ++n) {
    if (at >= end) Bad("a directory entry runs past its chunk");
    const auto c = static_cast<uint8_t>(b[at++]);
    v = (v << 7) | (c & 0x7f);
    if (!(c & 0x80)) return v;
  }
  Bad("a directory number is too long");
}

// ---- LZX ----

constexpr int kNumChars = 256;
constexpr int kPretreeSize = 20;
constexpr int kLengthTreeSize = 249;
constexpr int kAlignedSize = 8;
constexpr int kMaxCodeLength = 16;

struct SlotTables {
  std::array<uint8_t, 51> extraBits{};
  std::array<uint32_t, 51> positionBase{};
  SlotTables() {
    for (int i = 0, j = 0; i < 51; i += 2) {
      extraBits[i] = static_cast<uint8_t>(j);
      extraBits[i + 1] = static_cast<uint8_t>(j);
      if (i != 0 && j < 17) ++j;
    }
    for (uint32_t i = 0, j = 0; i < 51; ++i) {
      positionBase[i] = j;
      j += 1u << extraBits[i];
    }
  }
};
const SlotTables kSlots;

// 16-bit little-endian words, read from the most significant bit down.
class BitReader {
 public:
  BitReader(const std::string& data, uint64_t begin, uint64_t end) : d_(data), pos_(begin), end_(end) {}

  uint32_t peek(int n) {
    fill(n);
    return n == 0 ? 0 : buf_ >> (32 - n);
  }
  void remove(int n) {
    buf_ = n == 32 ? 0 : buf_ << n;
    left_ -= n;
  }
  uint32_t read(int n) {
    const uint32_t v = peek(n);
    remove(n);
    return v;
  }
  // Steps to the next 16-bit boundary the way an uncompressed block starts:
  // 1 to 16 bits of padding, then the reader works on whole bytes.
  void alignForBytes() {
    fill(16);
    if (left_ > 16) pos_ -= 2;
    buf_ = 0;
    left_ = 0;
  }
  // Starts reading bits afresh at the current byte position.
  void restartBits() {
    buf_ = 0;
    left_ = 0;
  }
  // A 32-bit little-endian number from whole bytes (after alignForBytes).
  uint32_t readBytes32() {
    if (pos_ > end_ || end_ - pos_ < 4) Bad("a stored block's header is cut off");
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(d_[pos_ + i]);
    pos_ += 4;
    return v;
  }
  uint64_t bytePos() const { return pos_; }
  void skipBytes(uint64_t n) { pos_ += n; }
  uint64_t end() const { return end_; }

 private:
  void fill(int n) {
    while (left_ < n) {
      uint32_t word = 0;
      if (pos_ + 1 < end_) {
        word = static_cast<uint8_t>(d_[pos_]) | (static_cast<uint32_t>(static_cast<uint8_t>(d_[pos_ + 1])) << 8);
      } else if (++overrun_ > 8) {
        Bad("compressed data ends too early");
      }
      pos_ += 2;
      buf_ |= word << (16 - left_);
      left_ += 16;
    }
  }

  const std::string& d_;
  uint64_t pos_;
  uint64_t end_;
  uint32_t buf_ = 0;
  int left_ = 0;
  int overrun_ = 0;
};

// A canonical Huffman code, decoded a bit at a time (help files are small).
class Huffman {
 public:
  void build(const uint8_t* lengths, int count) {
    counts_.fill(0);
    symbols_.clear();
    for (int s = 0; s < count; ++s) counts_[lengths[s]]++;
    counts_[0] = 0;
    // A code that claims more codes than it can have is damaged.
    int room = 1;
    for (int len = 1; len <= kMaxCodeLength; ++len) {
      room = room * 2 - counts_[len];
      if (room < 0) Bad("a Huffman code is over-subscribed");
    }
    for (int len = 1; len <= kMaxCodeLength; ++len)
      for (int s = 0; s < count; ++s)
        if (lengths[s] == len) symbols_.push_back(static_cast<uint16_t>(s));
  }
  int decode(BitReader& in) const {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= kMaxCodeLength; ++len) {
      code |= static_cast<int>(in.read(1));
      const int count = counts_[len];
      if (code - first < count) return symbols_[index + code - first];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    Bad("an LZX code is not in its table");
  }

 private:
  std::array<int, kMaxCodeLength + 1> counts_{};
  std::vector<uint16_t> symbols_;
};

class LzxDecoder {
 public:
  explicit LzxDecoder(unsigned windowBits) {
    if (windowBits < 15 || windowBits > 21) Bad("unsupported LZX window");
    windowSize_ = 1u << windowBits;
    window_.assign(windowSize_, 0);
    const int slots = windowBits == 20 ? 42 : windowBits == 21 ? 50 : static_cast<int>(windowBits) * 2;
    mainElements_ = kNumChars + slots * 8;
    reset();
  }

  void reset() {
    r0_ = r1_ = r2_ = 1;
    headerRead_ = false;
    framesRead_ = 0;
    blockRemaining_ = 0;
    blockLength_ = 0;
    blockType_ = 0;
    intelCurPos_ = 0;
    intelStarted_ = false;
    windowPos_ = 0;
    frameStart_ = 0;
    mainLengths_.fill(0);
    lengthLengths_.fill(0);
  }

  // Decodes one frame of outLength bytes from data[begin, end).
  std::string frame(const std::string& data, uint64_t begin, uint64_t end, uint32_t outLength) {
    BitReader in(data, begin, end);
    if (!headerRead_) {
      if (in.read(1)) {
        const uint32_t hi = in.read(16), lo = in.read(16);
        intelFileSize_ = static_cast<int32_t>((hi << 16) | lo);
      } else {
        intelFileSize_ = 0;
      }
      headerRead_ = true;
    }
    // A frame starts where the last one ended; a match may have run on
    // past that end already (encoders pad the last frame), so only what
    // is still missing is decoded.
    if (frameStart_ >= windowSize_) frameStart_ = 0;
    if (windowPos_ < frameStart_ || windowPos_ >= windowSize_) windowPos_ = frameStart_;
    if (frameStart_ + outLength > windowSize_) Bad("an LZX frame crosses the window's end");
    while (windowPos_ - frameStart_ < outLength) {
      if (blockRemaining_ == 0) readBlockHeader(in);
      const uint32_t run = std::min(blockRemaining_, outLength - (windowPos_ - frameStart_));
      uint32_t produced = run;
      if (blockType_ == 3) {
        if (in.bytePos() > in.end() || in.end() - in.bytePos() < run) Bad("stored data ends too early");
        std::memcpy(&window_[windowPos_], data.data() + in.bytePos(), run);
        in.skipBytes(run);
        windowPos_ += run;
      } else {
        produced = decodeRun(in, run);
      }
      if (produced > blockRemaining_) Bad("an LZX match runs past its block");
      blockRemaining_ -= produced;
    }
    std::string out(reinterpret_cast<const char*>(&window_[frameStart_]), outLength);
    frameStart_ += outLength;
    undoE8(out);
    return out;
  }

 private:
  void readBlockHeader(BitReader& in) {
    if (blockType_ == 3) {
      // After stored bytes the stream realigns to a 16-bit word.
      if (blockLength_ & 1) in.skipBytes(1);
      in.restartBits();
    }
    blockType_ = static_cast<int>(in.read(3));
    const uint32_t hi = in.read(16), lo = in.read(8);
    blockRemaining_ = blockLength_ = (hi << 8) | lo;
    switch (blockType_) {
      case 2:  // aligned offsets: an 8-symbol tree first, then as verbatim
        for (int i = 0; i < kAlignedSize; ++i) alignedLengths_[i] = static_cast<uint8_t>(in.read(3));
        aligned_.build(alignedLengths_.data(), kAlignedSize);
        [[fallthrough]];
      case 1:
        readLengths(in, mainLengths_.data(), 0, kNumChars);
        readLengths(in, mainLengths_.data(), kNumChars, mainElements_);
        main_.build(mainLengths_.data(), mainElements_);
        if (mainLengths_[0xE8] != 0) intelStarted_ = true;
        readLengths(in, lengthLengths_.data(), 0, kLengthTreeSize);
        length_.build(lengthLengths_.data(), kLengthTreeSize);
        break;
      case 3: {
        intelStarted_ = true;
        in.alignForBytes();
        r0_ = in.readBytes32();
        r1_ = in.readBytes32();
        r2_ = in.readBytes32();
        break;
      }
      default:
        Bad("unknown LZX block type");
    }
    if (blockLength_ == 0 && blockType_ != 3) Bad("an empty LZX block");
  }

  // Code lengths, sent as differences to the previous block's through a
  // 20-symbol pre-tree with runs of zeros and of equal values.
  void readLengths(BitReader& in, uint8_t* lengths, int first, int last) {
    std::array<uint8_t, kPretreeSize> pre{};
    for (auto& l : pre) l = static_cast<uint8_t>(in.read(4));
    Huffman pretree;
    pretree.build(pre.data(), kPretreeSize);
    auto delta = [](int old, int z) { return static_cast<uint8_t>((old - z + 17) % 17); };
    for (int x = first; x < last;) {
      int z = pretree.decode(in);
      int run = 0;
      uint8_t value = 0;
      if (z == 17) {
        run = static_cast<int>(in.read(4)) + 4;
      } else if (z == 18) {
        run = static_cast<int>(in.read(5)) + 20;
      } else if (z == 19) {
        run = static_cast<int>(in.read(1)) + 4;
        z = pretree.decode(in);
        if (z > 16) Bad("a repeated code length is not a length");
        value = delta(lengths[x], z);
      } else {
        run = 1;
        value = delta(lengths[x], z);
      }
      if (run > last - x) Bad("a run of code lengths overflows its table");
      for (int i = 0; i < run; ++i) lengths[x++] = value;
    }
  }

  // Decodes at least `run` bytes into the window; the last match may go on
  // past it. Returns the number of bytes decoded.
  uint32_t decodeRun(BitReader& in, uint32_t run) {
    uint32_t produced = 0;
    while (produced < run) {
      const int element = main_.decode(in);
      if (element < kNumChars) {
        if (windowPos_ >= windowSize_) Bad("LZX data runs past the window's end");
        window_[windowPos_++] = static_cast<uint8_t>(element);
        ++produced;
        continue;
      }
      const int code = element - kNumChars;
      uint32_t matchLength = code & 7;
      if (matchLength == 7) matchLength += static_cast<uint32_t>(length_.decode(in));
      matchLength += 2;
      const int slot = code >> 3;
      uint32_t offset = 0;
      if (slot > 2) {
        const int extra = kSlots.extraBits[slot];
        offset = kSlots.positionBase[slot] - 2;
        if (blockType_ == 2 && extra >= 3) {
          if (extra > 3) offset += in.read(extra - 3) << 3;
          offset += static_cast<uint32_t>(aligned_.decode(in));
        } else if (extra > 0) {
          offset += in.read(extra);
        } else {
          offset = 1;
        }
        r2_ = r1_;
        r1_ = r0_;
        r0_ = offset;
      } else if (slot == 0) {
        offset = r0_;
      } else if (slot == 1) {
        offset = r1_;
        r1_ = r0_;
        r0_ = offset;
      } else {
        offset = r2_;
        r2_ = r0_;
        r0_ = offset;
      }
      if (offset == 0 || offset > windowSize_) Bad("an LZX match points outside the window");
      if (matchLength > windowSize_ - windowPos_) Bad("an LZX match runs past the window's end");
      produced += matchLength;
      uint32_t src = (windowPos_ + windowSize_ - offset) & (windowSize_ - 1);
      for (uint32_t i = 0; i < matchLength; ++i) {
        window_[windowPos_++] = window_[src];
        src = (src + 1) & (windowSize_ - 1);
      }
    }
    return produced;
  }

  // Undoes the x86 call-address translation some compressors apply.
  void undoE8(std::string& out) {
    if (framesRead_++ >= 32768 || intelFileSize_ == 0) return;
    const auto length = static_cast<int32_t>(out.size());
    if (length <= 6 || !intelStarted_) {
      intelCurPos_ += length;
      return;
    }
    int32_t curpos = intelCurPos_;
    intelCurPos_ += length;
    for (int32_t i = 0; i < length - 10;) {
      if (static_cast<uint8_t>(out[i++]) != 0xE8) {
        ++curpos;
        continue;
      }
      uint32_t raw = 0;
      for (int k = 3; k >= 0; --k) raw = (raw << 8) | static_cast<uint8_t>(out[i + k]);
      const auto abs = static_cast<int32_t>(raw);
      if (abs >= -curpos && abs < intelFileSize_) {
        const int32_t rel = abs >= 0 ? abs - curpos : abs + intelFileSize_;
        for (int k = 0; k < 4; ++k) out[i + k] = static_cast<char>((static_cast<uint32_t>(rel) >> (8 * k)) & 0xff);
      }
      i += 4;
      curpos += 5;
    }
  }

 private:
  uint32_t windowSize_ = 0;
  std::vector<uint8_t> window_;
  int mainElements_ = 0;
  uint32_t r0_ = 1, r1_ = 1, r2_ = 1;
  bool headerRead_ = false;
  int32_t intelFileSize_ = 0;
  int32_t intelCurPos_ = 0;
  bool intelStarted_ = false;
  uint32_t framesRead_ = 0;
  uint32_t blockRemaining_ = 0;
  uint32_t blockLength_ = 0;
  int blockType_ = 0;
  uint32_t windowPos_ = 0;
  uint32_t frameStart_ = 0;
  std::array<uint8_t, kNumChars + 50 * 8> mainLengths_{};
  std::array<uint8_t, kLengthTreeSize> lengthLengths_{};
  std::array<uint8_t, kAlignedSize> alignedLengths_{};
  Huffman main_, length_, aligned_;
};

}  // namespace

std::string LzxDecodeFrames(const std::string& compressed, const std::vector<uint64_t>& frameOffsets,
                            uint64_t uncompressedLength, unsigned windowBits, uint64_t resetBlocks) {
  if (uncompressedLength > kMaxDecoded) Bad("compressed section too large");
  const uint64_t frames = (uncompressedLength + kFrameSize - 1) / kFrameSize;
  if (frameOffsets.size() < frames) Bad("the reset table lists too few frames");
  if (resetBlocks == 0) resetBlocks = 1;
  LzxDecoder decoder(windowBits);
  std::string out;
  out.reserve(uncompressedLength);
  for (uint64_t f = 0; f < frames; ++f) {
    if (f % resetBlocks == 0) decoder.reset();
    const uint64_t begin = frameOffsets[f];
    const uint64_t end = f + 1 < frameOffsets.size() ? frameOffsets[f + 1] : compressed.size();
    if (begin > end || end > compressed.size()) Bad("the reset table points outside the data");
    const auto length = static_cast<uint32_t>(std::min(kFrameSize, uncompressedLength - f * kFrameSize));
    out += decoder.frame(compressed, begin, end, length);
  }
  return out;
}

ChmFile ChmFile::Open(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ChmError("cannot open the help file " + path);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (!in.good() && !in.eof()) throw ChmError("cannot read the help file " + path);
  return FromBytes(buffer.str());
}

ChmFile ChmFile::FromBytes(std::string bytes) {
  ChmFile file;
  file.bytes_ = std::move(bytes);
  file.parse();
  return file;
}

void ChmFile::parse() {
  const std::string& b = bytes_;
  if (b.size() < 0x58 || b.compare(0, 4, "ITSF") != 0) throw ChmError("not a compiled help file");
  const uint32_t version = Le32(b, 4);
  const uint64_t dirOffset = Le64(b, 0x48), dirLength = Le64(b, 0x50);
  contentOffset_ = version >= 3 ? Le64(b, 0x58) : dirOffset + dirLength;
  if (dirOffset > b.size() || b.size() - dirOffset < 0x54 || b.compare(dirOffset, 4, "ITSP") != 0)
    Bad("no directory header");
  const uint32_t headerLength = Le32(b, dirOffset + 8);
  const uint32_t chunkSize = Le32(b, dirOffset + 0x10);
  const uint32_t chunks = Le32(b, dirOffset + 0x2c);
  if (chunkSize < 20 || chunkSize > (1u << 20)) Bad("bad directory chunk size");
  const uint64_t first = dirOffset + headerLength;
  if (first > b.size() || (b.size() - first) / chunkSize < chunks) Bad("the directory runs past the end of the file");
  for (uint32_t c = 0; c < chunks; ++c) {
    const uint64_t at = first + static_cast<uint64_t>(c) * chunkSize;
    if (b.compare(at, 4, "PMGL") != 0) continue;  // index chunks only speed up look-ups
    const uint32_t freeSpace = Le32(b, at + 4);
    if (freeSpace > chunkSize - 20) Bad("bad directory chunk");
    const uint64_t end = at + chunkSize - freeSpace;
    uint64_t p = at + 20;
    while (p < end) {
      const uint64_t nameLength = EncInt(b, p, end);
      if (nameLength > end - p) Bad("a file name runs past its chunk");
      std::string name = b.substr(p, nameLength);
      p += nameLength;
      Entry e;
      e.section = EncInt(b, p, end);
      e.offset = EncInt(b, p, end);
      e.length = EncInt(b, p, end);
      entries_[std::move(name)] = e;
    }
  }
  if (entries_.empty()) Bad("an empty directory");
}

std::vector<std::string> ChmFile::names() const {
  std::vector<std::string> out;
  for (const auto& [name, entry] : entries_) out.push_back(name);
  return out;
}

std::vector<std::string> ChmFile::contentNames() const {
  std::vector<std::string> out;
  for (const auto& [name, entry] : entries_) {
    if (name.size() < 2 || name[0] != '/' || name[1] == '#' || name[1] == '$' || name.back() == '/') continue;
    out.push_back(name);
  }
  return out;
}

const std::string& ChmFile::compressedContent() const {
  if (section1_) return *section1_;
  const std::string control = read("::DataSpace/Storage/MSCompressed/ControlData");
  const std::string table =
      read("::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable");
  const std::string content = read("::DataSpace/Storage/MSCompressed/Content");
  if (control.size() < 24 || control.compare(4, 4, "LZXC") != 0) Bad("unknown compression");
  const uint32_t controlVersion = Le32(control, 8);
  uint64_t resetInterval = Le32(control, 12);
  uint64_t windowSize = Le32(control, 16);
  const uint64_t windowsPerReset = Le32(control, 20);
  if (controlVersion == 2) {
    resetInterval *= kFrameSize;
    windowSize *= kFrameSize;
  }
  unsigned windowBits = 0;
  while (windowBits < 32 && (1ull << windowBits) < windowSize) ++windowBits;
  if ((1ull << windowBits) != windowSize) Bad("the LZX window is not a power of two");
  if (windowSize < 2 || resetInterval % (windowSize / 2) != 0) Bad("unusual LZX reset interval");
  const uint64_t resetBlocks = resetInterval / (windowSize / 2) * std::max<uint64_t>(windowsPerReset, 1);

  const uint32_t count = Le32(table, 4);
  const uint32_t entrySize = Le32(table, 8);
  const uint32_t tableOffset = Le32(table, 12);
  const uint64_t uncompressed = Le64(table, 16);
  if (entrySize != 8) Bad("unknown reset table");
  std::vector<uint64_t> offsets;
  offsets.reserve(std::min<uint64_t>(count, table.size() / 8));
  for (uint32_t i = 0; i < count; ++i) offsets.push_back(Le64(table, tableOffset + static_cast<uint64_t>(i) * 8));
  section1_ = LzxDecodeFrames(content, offsets, uncompressed, windowBits, resetBlocks);
  return *section1_;
}

std::string ChmFile::read(const std::string& name) const {
  auto it = entries_.find(name);
  if (it == entries_.end()) {
    // Names in help files are matched ignoring case, as the help viewer does.
    auto lower = [](std::string s) {
      std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      return s;
    };
    const std::string wanted = lower(name);
    it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& kv) { return lower(kv.first) == wanted; });
    if (it == entries_.end()) throw ChmError("the help file has no " + name);
  }
  const Entry& e = it->second;
  if (e.section == 0) {
    if (contentOffset_ > bytes_.size() || e.offset > bytes_.size() - contentOffset_ ||
        e.length > bytes_.size() - contentOffset_ - e.offset)
      Bad(name + " runs past the end of the file");
    return bytes_.substr(contentOffset_ + e.offset, e.length);
  }
  if (e.section != 1) Bad(name + " is in an unknown section");
  const std::string& s1 = compressedContent();
  if (e.offset > s1.size() || e.length > s1.size() - e.offset) Bad(name + " runs past its section");
  return s1.substr(e.offset, e.length);
}

std::optional<std::string> ChmFile::topicForContext(uint32_t context) const {
  if (!contains("/#IVB") || !contains("/#STRINGS")) return std::nullopt;
  const std::string ivb = read("/#IVB");
  const std::string strings = read("/#STRINGS");
  if (ivb.size() < 4) return std::nullopt;
  const uint64_t length = std::min<uint64_t>(Le32(ivb, 0), ivb.size() - 4);
  for (uint64_t at = 4; at + 8 <= 4 + length; at += 8) {
    if (Le32(ivb, at) != context) continue;
    const uint32_t offset = Le32(ivb, at + 4);
    if (offset >= strings.size()) Bad("the context map points outside its strings");
    const size_t end = strings.find('\0', offset);
    return resolveTopic(strings.substr(offset, end == std::string::npos ? std::string::npos : end - offset));
  }
  return std::nullopt;
}

std::optional<std::string> ChmFile::resolveTopic(std::string stored) const {
  // Some compilers store the alias as the path the topic had on the
  // compiling machine ("/home/me/help/viewer.htm"): the topic is the
  // longest tail of that path, on "/" boundaries, that the file holds.
  if (const size_t sep = stored.find("::"); sep != std::string::npos) stored.erase(0, sep + 2);
  std::replace(stored.begin(), stored.end(), '\\', '/');
  size_t from = 0;
  while (from < stored.size()) {
    while (from < stored.size() && stored[from] == '/') ++from;
    const std::string tail = stored.substr(from);
    if (!tail.empty() && contains("/" + tail)) return tail;
    const size_t next = stored.find('/', from);
    if (next == std::string::npos) break;
    from = next;
  }
  return std::nullopt;
}

std::optional<std::string> ChmFile::defaultTopic() const {
  if (!contains("/#SYSTEM")) return std::nullopt;
  const std::string sys = read("/#SYSTEM");
  // A version number, then records of a 16-bit code, a 16-bit length and data.
  uint64_t at = 4;
  while (at + 4 <= sys.size()) {
    const uint32_t head = Le32(sys, at);
    const uint32_t code = head & 0xffff, length = head >> 16;
    at += 4;
    if (length > sys.size() - at) break;
    if (code == 2) {
      const std::string topic = sys.substr(at, length);
      return resolveTopic(topic.substr(0, topic.find('\0')));
    }
    at += length;
  }
  return std::nullopt;
}

}  // namespace korvena
