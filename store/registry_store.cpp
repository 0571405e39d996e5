#include "store/registry_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <unordered_map>

namespace korvena::reg {

// ---- the POSIX file operations ----

int FileSystem::open(const std::string& path, int flags, mode_t mode) { return ::open(path.c_str(), flags, mode); }
ssize_t FileSystem::read(int fd, void* buffer, size_t size) { return ::read(fd, buffer, size); }
ssize_t FileSystem::write(int fd, const void* buffer, size_t size) { return ::write(fd, buffer, size); }
int FileSystem::fsync(int fd) { return ::fsync(fd); }
int FileSystem::close(int fd) { return ::close(fd); }
int FileSystem::flock(int fd, int operation) { return ::flock(fd, operation); }
int FileSystem::rename(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()); }
int FileSystem::unlink(const std::string& path) { return ::unlink(path.c_str()); }
int FileSystem::mkdir(const std::string& path, mode_t mode) { return ::mkdir(path.c_str(), mode); }
int FileSystem::fstat(int fd, struct stat* status) { return ::fstat(fd, status); }
int FileSystem::stat(const std::string& path, struct stat* status) { return ::stat(path.c_str(), status); }
int FileSystem::fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }

long codeFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return code::FileNotFound;
    case ENOTDIR:
      return code::PathNotFound;
    case EMFILE:
    case ENFILE:
      return code::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
      return code::AccessDenied;
    case ENOMEM:
      return code::NotEnoughMemory;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return code::DiskFull;
    case ENAMETOOLONG:
      return code::FilenameTooLong;
    default:
      return code::IoDevice;
  }
}

namespace {

constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kBlanks = " \t";

[[noreturn]] void fail(int error, const std::string& what) {
  throw Error(codeFromErrno(error), what + ": " + std::strerror(error));
}

[[noreturn]] void bad(size_t line, const std::string& why) {
  throw Error(code::BadDatabase, "settings store, line " + std::to_string(line) + ": " + why);
}

// ---- names and key paths ----

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

bool startsWith(std::string_view text, std::string_view head) {
  return text.size() >= head.size() && sameText(text.substr(0, head.size()), head);
}

std::string_view trim(std::string_view s) {
  size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

std::vector<std::string_view> splitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  for (size_t start = 0;;) {
    size_t end = path.find('\\', start);
    parts.push_back(path.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

// Line breaks and zero bytes cannot be kept in a key or value name line.
bool unwritable(std::string_view name) {
  return name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void checkPath(std::string_view path) {
  for (std::string_view part : splitPath(path))
    if (part.empty() || unwritable(part)) throw Error(code::BadPathname, "not a key path: " + std::string(path));
}

// Whether `path` names a key below `parent`.
bool isBelow(std::string_view path, std::string_view parent) {
  return path.size() > parent.size() && path[parent.size()] == '\\' && sameText(path.substr(0, parent.size()), parent);
}

// Hashes and compares names without regard to case.
uint64_t foldedHash(std::string_view text, uint64_t seed = 1469598103934665603ull) {
  for (char c : text) seed = (seed ^ static_cast<unsigned char>(lower(c))) * 1099511628211ull;
  return seed;
}
struct FoldedHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const { return static_cast<size_t>(foldedHash(text)); }
};
struct FoldedEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return sameText(a, b); }
};

}  // namespace

// A parsed store: its keys in file order, with hash indexes over key paths
// and value names, so that a lookup or an addition costs the same for any
// size of store. It holds indexes, never pointers, and so copies as it is.
class Index {
 public:
  const std::vector<Key>& keys() const { return keys_; }
  std::vector<Key> takeKeys() { return std::move(keys_); }

  const Key* find(std::string_view path) const {
    auto at = paths_.find(path);
    return at != paths_.end() && at->second.stored ? &keys_[at->second.key] : nullptr;
  }
  // `path` as first written when a key at or below it is stored.
  const std::string* spelling(std::string_view path) const {
    auto at = paths_.find(path);
    return at == paths_.end() ? nullptr : &at->first;
  }
  const Value* value(const Key& key, std::string_view name) const {
    const size_t k = static_cast<size_t>(&key - keys_.data());
    std::optional<size_t> at = valueAt(k, name);
    return at ? &key.values[*at].second : nullptr;
  }

  // The index of the key at `path`, added when missing, its leading names
  // spelled as the stored keys first wrote them.
  size_t ensure(std::string_view path, bool& added) {
    auto at = paths_.find(path);
    if (at != paths_.end() && at->second.stored) return at->second.key;
    std::string name(path);
    for (size_t end = path.size(); at == paths_.end() && end > 0 && end != std::string_view::npos;) {
      end = path.rfind('\\', end - 1);
      if (end != std::string_view::npos) at = paths_.find(path.substr(0, end));
    }
    if (at != paths_.end()) name.replace(0, at->first.size(), at->first);
    added = true;
    keys_.push_back(Key{std::move(name), {}});
    enter(keys_.size() - 1);
    return keys_.size() - 1;
  }

  // Stores `value` under `name` in key k, keeping the name's first spelling.
  // Whether anything changed.
  bool put(size_t k, std::string_view name, Value value) {
    auto& values = keys_[k].values;
    if (std::optional<size_t> at = valueAt(k, name)) {
      if (values[*at].second == value) return false;
      values[*at].second = std::move(value);
      return true;
    }
    values.emplace_back(std::string(name), std::move(value));
    values_.emplace(valueHash(k, name), static_cast<uint32_t>(values.size() - 1));
    return true;
  }

  // Removes the key at `path` and every key below it.
  bool eraseTree(std::string_view path) {
    if (std::erase_if(keys_, [&](const Key& key) { return sameText(key.path, path) || isBelow(key.path, path); }) == 0)
      return false;
    paths_.clear();
    values_.clear();
    for (size_t k = 0; k < keys_.size(); ++k) {
      enter(k);
      for (size_t v = 0; v < keys_[k].values.size(); ++v)
        values_.emplace(valueHash(k, keys_[k].values[v].first), static_cast<uint32_t>(v));
    }
    return true;
  }

 private:
  struct Place {
    uint32_t key;  // the first key at or below the path
    bool stored;   // whether that key is the path itself
  };

  // Enters key k's path and every path above it.
  void enter(size_t k) {
    const std::string& path = keys_[k].path;
    for (size_t end = path.find('\\');; end = path.find('\\', end + 1)) {
      std::string_view above = std::string_view(path).substr(0, end);
      if (paths_.find(above) == paths_.end())
        paths_.emplace(std::string(above), Place{static_cast<uint32_t>(k), false});
      if (end == std::string::npos) break;
    }
    paths_.find(path)->second = Place{static_cast<uint32_t>(k), true};
  }

  static uint64_t valueHash(size_t k, std::string_view name) { return foldedHash(name, 1469598103934665603ull ^ k); }

  std::optional<size_t> valueAt(size_t k, std::string_view name) const {
    const auto& values = keys_[k].values;
    for (auto [at, end] = values_.equal_range(valueHash(k, name)); at != end; ++at)
      if (at->second < values.size() && sameText(values[at->second].first, name)) return at->second;
    return std::nullopt;
  }

  std::vector<Key> keys_;
  std::unordered_map<std::string, Place, FoldedHash, FoldedEqual> paths_;
  // Hash of a key's index and a value name (folded) -> the value's index in that key.
  std::unordered_multimap<uint64_t, uint32_t> values_;
};

namespace {

// ---- parsing ----

// The quoted text starting at s[pos] (a quote), with \" and \\ undone; pos
// moves past the closing quote. Any other backslash stands for itself.
std::optional<std::string> readQuoted(std::string_view s, size_t& pos) {
  size_t close = pos + 1;  // find the closing quote first: the text is copied once
  while (close < s.size() && s[close] != '"') close += (s[close] == '\\' && close + 1 < s.size()) ? 2 : 1;
  if (close >= s.size()) return std::nullopt;
  std::string out;
  out.reserve(close - pos - 1);
  for (size_t i = pos + 1; i < close; ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < close && (s[i + 1] == '"' || s[i + 1] == '\\')) c = s[++i];
    out += c;
  }
  pos = close + 1;
  return out;
}

// The lines of a store's text, one at a time, without their line breaks.
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}
  bool next(std::string_view& line) {
    if (start_ >= text_.size()) return false;
    size_t end = std::min(text_.find('\n', start_), text_.size());
    line = text_.substr(start_, end - start_);
    if (line.ends_with('\r')) line.remove_suffix(1);
    start_ = end + 1;
    ++number_;
    return true;
  }
  size_t number() const { return number_; }

 private:
  std::string_view text_;
  size_t start_ = 0, number_ = 0;
};

bool endsLine(std::string_view rest) {
  rest = trim(rest);
  return rest.empty() || rest[0] == ';';
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lower(c);
  return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

bool readNumber(std::string_view digits, uint32_t& out) {
  if (digits.empty() || digits.size() > 8) return false;
  out = 0;
  for (char c : digits) {
    if (hexDigit(c) < 0) return false;
    out = out * 16 + static_cast<uint32_t>(hexDigit(c));
  }
  return true;
}

// "41,00,ff": comma-separated bytes of one or two hex digits, or nothing.
bool validBytes(std::string_view bytes) {
  size_t run = 0;  // digits since the last comma
  for (char c : bytes) {
    if (c == ',') {
      if (run == 0) return false;
      run = 0;
    } else if (hexDigit(c) < 0 || ++run > 2) {
      return false;
    }
  }
  return bytes.empty() || run > 0;
}

// Text kept as hex(1) bytes: the bytes without their terminating zero.
std::string textFromBytes(std::string_view bytes) {
  std::string text;
  int high = -1;
  for (char c : bytes) {
    if (c == ',') {
      if (high >= 0) text += static_cast<char>(high);
      high = -1;
    } else {
      high = high < 0 ? hexDigit(c) : high * 16 + hexDigit(c);
    }
  }
  if (high >= 0) text += static_cast<char>(high);
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

Value readData(std::string_view rest, Lines& lines) {
  const size_t line = lines.number();
  if (!rest.empty() && rest[0] == '"') {
    size_t pos = 0;
    std::optional<std::string> text = readQuoted(rest, pos);
    if (!text) bad(line, "a text without its closing quote");
    if (!endsLine(rest.substr(pos))) bad(line, "something after a text value");
    return Value::sz(std::move(*text));
  }
  if (startsWith(rest, "dword:")) {
    uint32_t n = 0;
    std::string_view digits = rest.substr(6);
    digits = trim(digits.substr(0, digits.find(';')));
    if (!readNumber(digits, n)) bad(line, "a dword that is not 1 to 8 hex digits");
    return Value::dword(n);
  }
  if (!startsWith(rest, "hex")) bad(line, "a value of unknown form");
  uint32_t type = 3;
  rest.remove_prefix(3);
  if (!rest.empty() && rest[0] == '(') {
    size_t close = rest.find(')');
    if (close == std::string_view::npos || !readNumber(rest.substr(1, close - 1), type)) bad(line, "a bad hex(N) type");
    rest.remove_prefix(close + 1);
  }
  if (rest.empty() || rest[0] != ':') bad(line, "hex without a colon");
  std::string bytes;
  for (std::string_view part = trim(rest.substr(1));;) {
    bool more = !part.empty() && part.back() == '\\';
    if (more) part.remove_suffix(1);
    for (char c : part)
      if (c != ' ' && c != '\t') bytes += c;
    if (!more) break;
    if (!lines.next(part)) bad(line, "a hex value cut off at the end");
    part = trim(part);
  }
  if (!validBytes(bytes)) bad(line, "hex bytes that are not two-digit hex numbers");
  return type == 1 ? Value::sz(textFromBytes(bytes)) : Value::hex(type, std::move(bytes));
}

// ---- writing ----

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

// Hex bytes wrapped at 80 columns the way exports wrap them.
void appendBytes(std::string& out, size_t column, std::string_view bytes) {
  bool itemOnLine = false;
  for (size_t start = 0; start < bytes.size();) {
    size_t comma = bytes.find(',', start);
    size_t end = comma == std::string_view::npos ? bytes.size() : comma + 1;
    if (itemOnLine && column + (end - start) > 77) {
      out += "\\\n  ";
      column = 2;
    }
    out.append(bytes.substr(start, end - start));
    column += end - start;
    itemOnLine = true;
    start = end;
  }
}

std::string bytesOfText(std::string_view text) {
  std::string bytes;
  char digits[4];
  for (char c : text) {
    std::snprintf(digits, sizeof digits, "%02x,", static_cast<unsigned char>(c));
    bytes += digits;
  }
  return bytes + "00";
}

void appendValue(std::string& out, const std::string& name, const Value& value) {
  size_t start = out.size();
  out += name.empty() ? "@" : quoted(name);
  out += '=';
  char head[24];
  switch (value.kind) {
    case Value::Kind::Sz:
      if (!unwritable(value.data)) {
        out += quoted(value.data);
        break;
      }
      out += "hex(1):";  // a text with line breaks cannot stand in quotes
      appendBytes(out, out.size() - start, bytesOfText(value.data));
      break;
    case Value::Kind::Dword:
      std::snprintf(head, sizeof head, "dword:%08x", static_cast<unsigned>(value.number));
      out += head;
      break;
    case Value::Kind::Hex:
      if (value.hexType == 3)
        std::snprintf(head, sizeof head, "hex:");
      else
        std::snprintf(head, sizeof head, "hex(%x):", static_cast<unsigned>(value.hexType));
      out += head;
      appendBytes(out, out.size() - start, value.data);
      break;
  }
  out += '\n';
}

// ---- file access ----

struct FdGuard {
  FileSystem& fs;
  int fd;
  ~FdGuard() {
    if (fd >= 0) fs.close(fd);
  }
};

// Which file a path held: the same device, inode, size and change time (to
// the nanosecond) stand for the same contents.
struct FileId {
  dev_t device;
  ino_t inode;
  off_t size;
  timespec modified;
  bool operator==(const FileId& o) const {
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec;
  }
};

FileId idOf(const struct stat& status) { return {status.st_dev, status.st_ino, status.st_size, status.st_mtim}; }

std::optional<FileId> idAt(FileSystem& fs, const std::string& path) {
  struct stat status {};
  if (fs.stat(path, &status) != 0) return std::nullopt;
  return idOf(status);
}

// The whole of an open file whose size is known: read into one buffer of
// that size, so that a big store costs its size once.
std::string readAll(FileSystem& fs, int fd, size_t size, const std::string& path) {
  std::string text(size + 1, '\0');  // one byte more shows the end without growing
  size_t got = 0;
  for (;;) {
    if (got == text.size()) text.resize(text.size() * 2);  // the file grew meanwhile
    ssize_t n = fs.read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(errno, "cannot read " + path);
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  text.resize(got);
  return text;
}

void writeAll(FileSystem& fs, int fd, std::string_view text, const std::string& path) {
  while (!text.empty()) {
    ssize_t n = fs.write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(n < 0 ? errno : EIO, "cannot write " + path);
    text.remove_prefix(static_cast<size_t>(n));
  }
}

void makeFolders(FileSystem& fs, const std::string& folder) {
  for (size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1))
    fs.mkdir(folder.substr(0, slash), 0755);  // a parent that fails shows up below
  if (fs.mkdir(folder, 0755) != 0 && errno != EEXIST) fail(errno, "cannot create " + folder);
}

// The lock file, never through a link planted at its name.
int openLock(FileSystem& fs, const std::string& folder, const std::string& lockPath) {
  constexpr int kFlags = O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
  int fd = fs.open(lockPath, kFlags, 0644);
  if (fd < 0 && errno == ENOENT) {
    makeFolders(fs, folder);
    fd = fs.open(lockPath, kFlags, 0644);
  }
  if (fd < 0) fail(errno, "cannot open " + lockPath);
  return fd;
}

// Takes the store's lock. Writers that go on writing may keep it a while;
// one that holds it while the store stays as it is (a hung process) makes
// this write fail after the file system's lockWait, with nothing changed.
void waitForLock(FileSystem& fs, int fd, const std::string& lockPath, const std::string& store) {
  using Clock = std::chrono::steady_clock;
  std::chrono::milliseconds pause(1);
  std::optional<FileId> seen = idAt(fs, store);
  Clock::time_point deadline = Clock::now() + fs.lockWait();
  while (fs.flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) fail(errno, "cannot lock " + lockPath);
    if (std::optional<FileId> now = idAt(fs, store); !(now == seen)) {  // another writer got on: wait on
      seen = now;
      deadline = Clock::now() + fs.lockWait();
    } else if (Clock::now() >= deadline) {
      throw Error(code::LockViolation, "the settings store is locked by another process (" + lockPath + ")");
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
}

bool inGroup(gid_t group) {
  if (getegid() == group) return true;
  std::vector<gid_t> groups(static_cast<size_t>(std::max(getgroups(0, nullptr), 0)));
  int count = getgroups(static_cast<int>(groups.size()), groups.data());
  return count > 0 && std::find(groups.begin(), groups.begin() + count, group) != groups.begin() + count;
}

// Whether the user may write the store file, by its permission bits: the
// rename would replace a file the user may not write. Root, whom the system
// lets write anything, is held to the file having any write bit.
bool mayWrite(const struct stat& status) {
  const uid_t user = geteuid();
  if (user == 0) return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
  if (status.st_uid == user) return (status.st_mode & S_IWUSR) != 0;
  if (inGroup(status.st_gid)) return (status.st_mode & S_IWGRP) != 0;
  return (status.st_mode & S_IWOTH) != 0;
}

constexpr std::string_view kTempMark = ".tmp";  // the store's name, this and a random part

// A new temporary file beside the store, created exclusively under a random
// name: it is never a file or a link that someone put there.
std::pair<int, std::string> createTemp(FileSystem& fs, const std::string& store) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device device;
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t bits = (static_cast<uint64_t>(device()) << 32) | device();
    std::string name = store + std::string(kTempMark) + '-';
    for (int i = 0; i < 10; ++i, bits /= 62) name += kLetters[bits % 62];
    int fd = fs.open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) return {fd, std::move(name)};
    if (errno != EEXIST) fail(errno, "cannot create " + name);
  }
  fail(EEXIST, "cannot create a temporary file beside " + store);
}

// Temporary files of writers killed half-way. Under the lock no writer is
// still writing one; removing a link removes the link alone.
void removeLeftovers(FileSystem& fs, const std::string& folder, const std::string& store) {
  const std::string prefix = store.substr(folder.size() + 1) + std::string(kTempMark);
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir))
    if (std::string_view(entry->d_name).starts_with(prefix)) fs.unlink(folder + "/" + entry->d_name);
  ::closedir(dir);
}

constexpr int kNewFile = -1;  // the mode of a new file: the one the process gives new files

// Writes `text` to a temporary file with the given mode, flushes it and
// renames it over the store. The file it wrote.
FileId replaceStore(FileSystem& fs, const std::string& store, std::string_view text, int mode) {
  auto [fd, temp] = createTemp(fs, store);
  try {
    if (mode != kNewFile && fs.fchmod(fd, static_cast<mode_t>(mode)) != 0)
      fail(errno, "cannot set the mode of " + temp);
    writeAll(fs, fd, text, temp);
    if (fs.fsync(fd) != 0) fail(errno, "cannot flush " + temp);
    struct stat status {};
    if (fs.fstat(fd, &status) != 0) fail(errno, "cannot read " + temp);
    const int written = fd;
    fd = -1;
    if (fs.close(written) != 0) fail(errno, "cannot write " + temp);
    if (fs.rename(temp, store) != 0) fail(errno, "cannot replace " + store);
    return idOf(status);  // a rename keeps the size and the change time
  } catch (...) {
    if (fd >= 0) fs.close(fd);
    fs.unlink(temp);
    throw;
  }
}

}  // namespace

// ---- values and keys ----

uint32_t Value::typeCode() const { return kind == Kind::Sz ? 1 : kind == Kind::Dword ? 4 : hexType; }

std::string Value::typeName() const {
  if (kind == Kind::Sz) return "sz";
  if (kind == Kind::Dword) return "dword";
  char name[24];
  std::snprintf(name, sizeof name, "hex(%x)", static_cast<unsigned>(hexType));
  return name;
}

const Value* Key::find(std::string_view name) const {
  for (const auto& [have, value] : values)
    if (sameText(have, name)) return &value;
  return nullptr;
}

namespace {

constexpr size_t kNoKey = static_cast<size_t>(-1);

// A key line "[HKEY_LOCAL_MACHINE\path]": the key that values go to next.
size_t readKeyLine(Index& index, std::string_view line, size_t number) {
  if (line.back() != ']') bad(number, "a key line without its closing bracket");
  std::string_view name = line.substr(1, line.size() - 2);
  if (sameText(name, kRoot)) return kNoKey;  // the root itself holds no values
  if (!startsWith(name, kRoot) || name.size() <= kRoot.size() + 1 || name[kRoot.size()] != '\\')
    bad(number, "a key outside " + std::string(kRoot));
  std::string_view path = name.substr(kRoot.size() + 1);
  for (std::string_view part : splitPath(path))
    if (part.empty()) bad(number, "a key path with an empty name");
  bool added = false;
  return index.ensure(path, added);
}

// A value line '"name"=data' or '@=data'; a later line wins, the first spelling stays.
void readValueLine(Index& index, size_t key, std::string_view line, Lines& lines) {
  const size_t number = lines.number();
  if (key == kNoKey) bad(number, "a value outside a key");
  std::string name;
  size_t pos = 1;
  if (line[0] == '"') {
    pos = 0;
    std::optional<std::string> text = readQuoted(line, pos);
    if (!text) bad(number, "a value name without its closing quote");
    name = std::move(*text);
  }
  std::string_view rest = trim(line.substr(pos));
  if (rest.empty() || rest[0] != '=') bad(number, "a value name without =");
  index.put(key, name, readData(trim(rest.substr(1)), lines));
}

Index parseIndex(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  Index index;
  Lines lines(text);
  bool header = false;
  size_t current = kNoKey;  // the key that values go to
  for (std::string_view raw; lines.next(raw);) {
    std::string_view line = trim(raw);
    if (line.empty() || line[0] == ';') continue;
    if (!header) {
      if (line != "REGEDIT4") bad(lines.number(), "the first line is not REGEDIT4");
      header = true;
    } else if (line[0] == '[') {
      current = readKeyLine(index, line, lines.number());
    } else if (line[0] == '"' || line[0] == '@') {
      readValueLine(index, current, line, lines);
    } else {
      bad(lines.number(), "a line that is not a key, a value or a comment");
    }
  }
  return index;
}

}  // namespace

std::vector<Key> parseStore(std::string_view text) { return parseIndex(text).takeKeys(); }

std::string formatStore(const std::vector<Key>& keys) {
  std::string out = "REGEDIT4\n";
  for (const Key& key : keys) {
    out += "\n[" + std::string(kRoot) + '\\' + key.path + "]\n";
    for (const auto& [name, value] : key.values) appendValue(out, name, value);
  }
  return out + '\n';
}

// ---- the store ----

// The index of the file last read or written, with that file's identity.
struct Store::Cache {
  std::shared_ptr<const Index> find(const FileId& id) {
    std::lock_guard<std::mutex> hold(lock);
    return file && *file == id ? index : nullptr;
  }
  void keep(const FileId& id, std::shared_ptr<const Index> parsed) {
    std::lock_guard<std::mutex> hold(lock);
    file = id;
    index = std::move(parsed);
  }
  std::mutex lock;
  std::optional<FileId> file;
  std::shared_ptr<const Index> index;
};

struct Store::Snapshot {
  std::shared_ptr<const Index> index;
  std::optional<struct stat> file;  // nothing when there is no store file yet
};

Store::Store(std::string folder, std::shared_ptr<FileSystem> fs)
    : folder_(folder.empty() ? "." : std::move(folder)), fs_(std::move(fs)), cache_(std::make_shared<Cache>()) {
  if (!fs_) fs_ = std::make_shared<FileSystem>();
}

std::string Store::filePath() const { return folder_ + "/" + std::string(kRoot) + ".reg"; }

Store::Snapshot Store::load() const {
  FileSystem& fs = *fs_;
  const std::string path = filePath();
  int fd = fs.open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
  if (fd < 0) {
    if (errno == ENOENT) return {std::make_shared<const Index>(), std::nullopt};  // no store yet: an empty one
    fail(errno, "cannot open " + path);
  }
  FdGuard guard{fs, fd};
  struct stat status {};
  if (fs.fstat(fd, &status) != 0) fail(errno, "cannot read " + path);
  if (!S_ISREG(status.st_mode)) throw Error(code::IoDevice, path + " is not a file");
  const FileId id = idOf(status);
  if (std::shared_ptr<const Index> known = cache_->find(id)) return {std::move(known), status};
  auto index = std::make_shared<const Index>(parseIndex(readAll(fs, fd, static_cast<size_t>(status.st_size), path)));
  cache_->keep(id, index);
  return {std::move(index), status};
}

std::vector<Key> Store::keys() const { return load().index->keys(); }

std::optional<Key> Store::openKey(std::string_view path) const {
  checkPath(path);
  const Snapshot now = load();
  if (const Key* key = now.index->find(path)) return *key;
  if (const std::string* spelled = now.index->spelling(path)) return Key{*spelled, {}};  // only keys below it
  return std::nullopt;
}

std::optional<Value> Store::readValue(std::string_view path, std::string_view name) const {
  checkPath(path);
  const Snapshot now = load();
  const Key* key = now.index->find(path);
  const Value* value = key ? now.index->value(*key, name) : nullptr;
  return value ? std::optional<Value>(*value) : std::nullopt;
}

void Store::update(const std::function<bool(Index&)>& change) {
  FileSystem& fs = *fs_;
  const std::string store = filePath(), lockPath = store + ".lock";
  FdGuard lock{fs, openLock(fs, folder_, lockPath)};  // closing it releases the lock
  waitForLock(fs, lock.fd, lockPath, store);

  // Re-read under the lock so that another writer's values are kept; a store
  // that does not parse throws here and stays as it is.
  const Snapshot now = load();
  if (now.file && !mayWrite(*now.file))
    throw Error(code::AccessDenied, "cannot write " + store + ": the file is read-only");
  Index next = *now.index;
  if (!change(next)) return;
  removeLeftovers(fs, folder_, store);
  const int mode = now.file ? static_cast<int>(now.file->st_mode & 07777) : kNewFile;
  const FileId written = replaceStore(fs, store, formatStore(next.keys()), mode);
  cache_->keep(written, std::make_shared<const Index>(std::move(next)));

  // Make the rename itself durable.
  int dirFd = fs.open(folder_, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (dirFd < 0) fail(errno, "cannot open " + folder_);
  FdGuard dir{fs, dirFd};
  if (fs.fsync(dirFd) != 0 && errno != EINVAL && errno != ENOTSUP) fail(errno, "cannot flush " + folder_);
}

void Store::createKey(std::string_view path) {
  checkPath(path);
  update([&](Index& index) {
    if (index.spelling(path)) return false;  // stored, or keys below it are
    bool added = false;
    index.ensure(path, added);
    return added;
  });
}

void Store::setValue(std::string_view path, std::string_view name, const Value& value) {
  checkPath(path);
  if (unwritable(name)) throw Error(code::InvalidParameter, "a value name with a line break or zero");
  if (value.kind == Value::Kind::Hex && !validBytes(value.data))
    throw Error(code::InvalidParameter, "hex bytes that are not two-digit hex numbers");
  update([&](Index& index) {
    bool added = false;
    const size_t key = index.ensure(path, added);
    return index.put(key, name, value) || added;
  });
}

bool Store::deleteTree(std::string_view path) {
  checkPath(path);
  bool removed = false;
  update([&](Index& index) { return removed = index.eraseTree(path); });
  return removed;
}

// ---- the process-wide store ----

namespace {
std::mutex& defaultLock() {
  static std::mutex lock;
  return lock;
}
std::optional<Store>& chosenStore() {
  static std::optional<Store> store;
  return store;
}
std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}
}  // namespace

std::string defaultFolder() {
  if (std::string dir = environment("KORVENA_REGISTRY_DIR"); !dir.empty()) return dir;
  if (std::string config = environment("XDG_CONFIG_HOME"); !config.empty() && config[0] == '/')
    return config + "/korvena";
  std::string home = environment("HOME");
  if (home.empty())
    if (const passwd* user = getpwuid(getuid()); user && user->pw_dir) home = user->pw_dir;
  return (home.empty() ? std::string(".") : home) + "/.config/korvena";
}

Store defaultStore() {
  std::lock_guard<std::mutex> hold(defaultLock());
  if (chosenStore()) return *chosenStore();
  // One store per default folder, so that its parsed index is used again.
  static std::optional<Store> implicit;
  if (std::string folder = defaultFolder(); !implicit || implicit->folder() != folder) implicit.emplace(folder);
  return *implicit;
}

void setDefaultStore(Store store) {
  std::lock_guard<std::mutex> hold(defaultLock());
  chosenStore() = std::move(store);
}

void setDefaultFolder(std::string folder) { setDefaultStore(Store(std::move(folder))); }

void resetDefaultStore() {
  std::lock_guard<std::mutex> hold(defaultLock());
  chosenStore().reset();
}

}  // namespace korvena::reg
