#pragma once
// A compiled HTML help file (.chm) read through chmlib: the files stored in
// it, the topic its context map gives a help context number, its default
// topic and its title. Never throws: what is missing or damaged reads as
// nothing.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct chmFile;

namespace korvena {

class ChmFile {
 public:
  // Null, with the reason in error, when the file cannot be read as help.
  static std::unique_ptr<ChmFile> Open(const std::string& path, std::string& error);
  ~ChmFile();
  ChmFile(const ChmFile&) = delete;
  ChmFile& operator=(const ChmFile&) = delete;

  // A stored file by its name ("/viewer.htm"; case is ignored).
  std::optional<std::string> read(const std::string& name) const;
  // The topic (a stored name without the leading "/") that the context map
  // gives a context number, when the map has it and the file holds the topic.
  std::optional<std::string> topicForContext(uint32_t context) const;
  std::optional<std::string> defaultTopic() const;
  std::string title() const;

 private:
  explicit ChmFile(chmFile* handle) : handle_(handle) {}
  std::optional<std::string> systemRecord(uint16_t code) const;
  std::optional<std::string> resolveTopic(std::string stored) const;

  chmFile* handle_;
};

}  // namespace korvena
