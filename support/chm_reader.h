#pragma once
// Reads a compiled HTML help file (.chm): its directory, the files stored in
// it (uncompressed or LZX-compressed), its context map and default topic.
// Only what the help launcher needs; no Qt. Every failure is reported as a
// ChmError, whatever the bytes of the file are.
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvena {

class ChmError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ChmFile {
 public:
  struct Entry {
    uint64_t section = 0;  // 0 stored as it is, 1 LZX-compressed
    uint64_t offset = 0;
    uint64_t length = 0;
  };

  // Reads the whole file; throws ChmError when it cannot be read or is not a
  // help file.
  static ChmFile Open(const std::string& path);
  static ChmFile FromBytes(std::string bytes);

  // Every name in the directory ("/viewer.htm", "/#SYSTEM", "::DataSpace/...").
  std::vector<std::string> names() const;
  bool contains(const std::string& name) const { return entries_.count(name) != 0; }
  // The contents of a stored file; throws ChmError when it is missing or
  // its data is damaged.
  std::string read(const std::string& name) const;

  // The topic (a file name inside the help file, without a leading "/")
  // that the context map gives a context number, if the map has the number
  // and the topic is in the file.
  std::optional<std::string> topicForContext(uint32_t context) const;
  // The project's default topic, if it names one.
  std::optional<std::string> defaultTopic() const;
  // The pages a reader sees: stored files whose names start with "/" and
  // are not the help system's own ("/#...", "/$...") or folders.
  std::vector<std::string> contentNames() const;

 private:
  ChmFile() = default;
  void parse();
  std::optional<std::string> resolveTopic(std::string stored) const;
  const std::string& compressedContent() const;  // whole section 1, decoded once

  std::string bytes_;
  uint64_t contentOffset_ = 0;
  std::map<std::string, Entry> entries_;
  mutable std::optional<std::string> section1_;
};

// Decodes an LZX stream in the help file's framing: frames of 32768 bytes,
// each starting at the compressed offset the reset table gives, the decoder
// state reset every resetBlocks frames. Exposed for the tests.
std::string LzxDecodeFrames(const std::string& compressed, const std::vector<uint64_t>& frameOffsets,
                            uint64_t uncompressedLength, unsigned windowBits, uint64_t resetBlocks);

}  // namespace korvena
