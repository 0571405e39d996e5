#include "helpview/chm_file.h"

#include <chm_lib.h>

#include <algorithm>
#include <filesystem>

namespace korvena {

namespace {

// A stored file larger than this is taken as damage, not read into memory.
constexpr LONGUINT64 kMaxStoredFile = 64ull << 20;
// #SYSTEM record codes.
constexpr uint16_t kSystemDefaultTopic = 2;
constexpr uint16_t kSystemTitle = 3;

uint32_t Le32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
  return v;
}

std::string UpToNul(const std::string& text) { return text.substr(0, text.find('\0')); }

}  // namespace

std::unique_ptr<ChmFile> ChmFile::Open(const std::string& path, std::string& error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    error = "help file not found: " + path;
    return nullptr;
  }
  chmFile* handle = chm_open(path.c_str());
  if (!handle) {
    error = "not a compiled help file: " + path;
    return nullptr;
  }
  return std::unique_ptr<ChmFile>(new ChmFile(handle));
}

ChmFile::~ChmFile() { chm_close(handle_); }

std::optional<std::string> ChmFile::read(const std::string& name) const {
  chmUnitInfo unit{};
  if (chm_resolve_object(handle_, name.c_str(), &unit) != CHM_RESOLVE_SUCCESS) return std::nullopt;
  if (unit.length > kMaxStoredFile) return std::nullopt;
  std::string data(unit.length, '\0');
  if (unit.length == 0) return data;
  const LONGINT64 got = chm_retrieve_object(handle_, &unit, reinterpret_cast<unsigned char*>(data.data()), 0,
                                            static_cast<LONGINT64>(unit.length));
  if (got != static_cast<LONGINT64>(unit.length)) return std::nullopt;
  return data;
}

// #IVB: a byte count, then (context number, offset into #STRINGS) pairs.
std::optional<std::string> ChmFile::topicForContext(uint32_t context) const {
  const auto ivb = read("/#IVB"), strings = read("/#STRINGS");
  if (!ivb || !strings || ivb->size() < 4) return std::nullopt;
  const size_t end = 4 + std::min<size_t>(Le32(*ivb, 0), ivb->size() - 4);
  for (size_t at = 4; at + 8 <= end; at += 8) {
    if (Le32(*ivb, at) != context) continue;
    const uint32_t offset = Le32(*ivb, at + 4);
    if (offset >= strings->size()) return std::nullopt;
    return resolveTopic(UpToNul(strings->substr(offset)));
  }
  return std::nullopt;
}

std::optional<std::string> ChmFile::defaultTopic() const {
  const auto topic = systemRecord(kSystemDefaultTopic);
  return topic ? resolveTopic(UpToNul(*topic)) : std::nullopt;
}

std::string ChmFile::title() const { return UpToNul(systemRecord(kSystemTitle).value_or("")); }

// #SYSTEM: a version number, then records of a 16-bit code, a 16-bit length
// and the data.
std::optional<std::string> ChmFile::systemRecord(uint16_t code) const {
  const auto sys = read("/#SYSTEM");
  if (!sys) return std::nullopt;
  for (size_t at = 4; at + 4 <= sys->size();) {
    const uint32_t head = Le32(*sys, at);
    const size_t length = head >> 16;
    at += 4;
    if (length > sys->size() - at) break;
    if ((head & 0xffff) == code) return sys->substr(at, length);
    at += length;
  }
  return std::nullopt;
}

// Some compilers store a topic as the path it had on the compiling machine
// ("C:\help\viewer.htm", "file.chm::/viewer.htm"): the topic is the longest
// tail of that path, on "/" boundaries, that the file holds.
std::optional<std::string> ChmFile::resolveTopic(std::string stored) const {
  if (const size_t sep = stored.find("::"); sep != std::string::npos) stored.erase(0, sep + 2);
  std::replace(stored.begin(), stored.end(), '\\', '/');
  for (size_t from = 0; from < stored.size();) {
    while (from < stored.size() && stored[from] == '/') ++from;
    chmUnitInfo unit{};
    const std::string tail = stored.substr(from);
    if (!tail.empty() && chm_resolve_object(handle_, ("/" + tail).c_str(), &unit) == CHM_RESOLVE_SUCCESS) return tail;
    from = stored.find('/', from);
  }
  return std::nullopt;
}

}  // namespace korvena
