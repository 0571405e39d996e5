#include "support/registry_store.h"

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
#include <unordered_map>

namespace korvena::reg {

// ---- the POSIX file operations ----

int FileSystem::open(const std::string& path, int flags, mode_t mode) {
  return ::open(path.c_str(), flags, mode);
}
ssize_t FileSystem::read(int fd, void* buffer, size_t size) { return ::read(fd, buffer, size); }
ssize_t FileSystem::write(int fd, const void* buffer, size_t size) { return ::write(fd, buffer, size); }
int FileSystem::fsync(int fd) { return ::fsync(fd); }
int FileSystem::close(int fd) { return ::close(fd); }
int FileSystem::flock(int fd, int operation) { return ::flock(fd, operation); }
int FileSystem::rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str());
}
int FileSystem::unlink(const std::string& path) { return ::unlink(path.c_str()); }
int FileSystem::mkdir(const std::string& path, mode_t mode) { return ::mkdir(path.c_str(), mode); }

long codeFromErrno(int error) {
  switch (error) {
    case ENOENT: return code::FileNotFound;
    case ENOTDIR: return code::PathNotFound;
    case EMFILE: case ENFILE: return code::TooManyOpenFiles;
    case EACCES: case EPERM: case EROFS: return code::AccessDenied;
    case ENOMEM: return code::NotEnoughMemory;
    case ENOSPC: case EDQUOT: case EFBIG: return code::DiskFull;
    case ENAMETOOLONG: return code::FilenameTooLong;
    default: return code::IoDevice;
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
    if (part.empty() || unwritable(part))
      throw Error(code::BadPathname, "not a key path: " + std::string(path));
}

// Whether `path` names a key below `parent`.
bool isBelow(std::string_view path, std::string_view parent) {
  return path.size() > parent.size() && path[parent.size()] == '\\' &&
         sameText(path.substr(0, parent.size()), parent);
}

Key* findKey(std::vector<Key>& keys, std::string_view path) {
  for (Key& key : keys)
    if (sameText(key.path, path)) return &key;
  return nullptr;
}

// `path` with its leading names spelled as the stored keys first wrote them.
std::string spelled(const std::vector<Key>& keys, std::string_view path) {
  std::vector<std::string_view> parts = splitPath(path), best;
  size_t bestCount = 0;
  for (const Key& key : keys) {
    std::vector<std::string_view> have = splitPath(key.path);
    size_t n = 0;
    while (n < parts.size() && n < have.size() && sameText(parts[n], have[n])) ++n;
    if (n > bestCount) bestCount = n, best = std::move(have);
  }
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += '\\';
    out += i < bestCount ? best[i] : parts[i];
  }
  return out;
}

Key& ensureKey(std::vector<Key>& keys, std::string_view path, bool& added) {
  if (Key* key = findKey(keys, path)) return *key;
  added = true;
  std::string name = spelled(keys, path);
  keys.push_back(Key{std::move(name), {}});
  return keys.back();
}

// Stores `value` under `name`, keeping the name's first spelling. Whether anything changed.
bool putValue(Key& key, std::string_view name, const Value& value) {
  for (auto& [have, old] : key.values)
    if (sameText(have, name)) {
      if (old == value) return false;
      old = value;
      return true;
    }
  key.values.emplace_back(std::string(name), value);
  return true;
}

// ---- parsing ----

// The quoted text starting at s[pos] (a quote), with \" and \\ undone; pos
// moves past the closing quote. Any other backslash stands for itself.
std::optional<std::string> readQuoted(std::string_view s, size_t& pos) {
  std::string out;
  for (size_t i = pos + 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      pos = i + 1;
      return out;
    }
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '"' || s[i + 1] == '\\')) c = s[++i];
    out += c;
  }
  return std::nullopt;
}

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

Value readData(std::string_view rest, const std::vector<std::string_view>& lines, size_t& i) {
  size_t line = i + 1;
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
    if (close == std::string_view::npos || !readNumber(rest.substr(1, close - 1), type))
      bad(line, "a bad hex(N) type");
    rest.remove_prefix(close + 1);
  }
  if (rest.empty() || rest[0] != ':') bad(line, "hex without a colon");
  std::string bytes;
  for (std::string_view part = trim(rest.substr(1));; part = trim(lines[i])) {
    bool more = !part.empty() && part.back() == '\\';
    if (more) part.remove_suffix(1);
    for (char c : part)
      if (c != ' ' && c != '\t') bytes += c;
    if (!more) break;
    if (++i >= lines.size()) bad(line, "a hex value cut off at the end");
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

std::string readFile(FileSystem& fs, const std::string& path) {
  int fd = fs.open(path, O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) {
    if (errno == ENOENT) return {};  // no store yet: an empty one
    fail(errno, "cannot open " + path);
  }
  FdGuard guard{fs, fd};
  std::string text;
  char buffer[65536];
  for (;;) {
    ssize_t n = fs.read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(errno, "cannot read " + path);
    if (n == 0) return text;
    text.append(buffer, static_cast<size_t>(n));
  }
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

}  // namespace

// ---- values and keys ----

uint32_t Value::typeCode() const {
  return kind == Kind::Sz ? 1 : kind == Kind::Dword ? 4 : hexType;
}

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

std::vector<Key> parseStore(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::string_view> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line = text.substr(start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  std::vector<Key> keys;
  bool header = false;
  constexpr size_t kNoKey = static_cast<size_t>(-1);
  size_t current = kNoKey;  // the key that values go to
  std::unordered_map<std::string, size_t> seen;  // key index and folded name -> value index
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = trim(lines[i]);
    if (line.empty() || line[0] == ';') continue;
    if (!header) {
      if (line != "REGEDIT4") bad(i + 1, "the first line is not REGEDIT4");
      header = true;
    } else if (line[0] == '[') {
      if (line.back() != ']') bad(i + 1, "a key line without its closing bracket");
      std::string_view name = line.substr(1, line.size() - 2);
      current = kNoKey;
      if (sameText(name, kRoot)) continue;  // the root itself holds no values
      if (!startsWith(name, kRoot) || name.size() <= kRoot.size() + 1 || name[kRoot.size()] != '\\')
        bad(i + 1, "a key outside " + std::string(kRoot));
      std::string_view path = name.substr(kRoot.size() + 1);
      for (std::string_view part : splitPath(path))
        if (part.empty()) bad(i + 1, "a key path with an empty name");
      bool added = false;
      current = static_cast<size_t>(&ensureKey(keys, path, added) - keys.data());
    } else if (line[0] == '"' || line[0] == '@') {
      if (current == kNoKey) bad(i + 1, "a value outside a key");
      std::string name;
      size_t pos = 1;
      if (line[0] == '"') {
        pos = 0;
        std::optional<std::string> text = readQuoted(line, pos);
        if (!text) bad(i + 1, "a value name without its closing quote");
        name = std::move(*text);
      }
      std::string_view rest = trim(line.substr(pos));
      if (rest.empty() || rest[0] != '=') bad(i + 1, "a value name without =");
      Value value = readData(trim(rest.substr(1)), lines, i);
      std::string folded = std::to_string(current) + '\n';
      for (char c : name) folded += lower(c);
      auto& values = keys[current].values;
      auto [at, fresh] = seen.emplace(std::move(folded), values.size());
      if (fresh)
        values.emplace_back(std::move(name), std::move(value));
      else
        values[at->second].second = std::move(value);  // a later line wins, the first spelling stays
    } else {
      bad(i + 1, "a line that is not a key, a value or a comment");
    }
  }
  return keys;
}

std::string formatStore(const std::vector<Key>& keys) {
  std::string out = "REGEDIT4\n";
  for (const Key& key : keys) {
    out += "\n[" + std::string(kRoot) + '\\' + key.path + "]\n";
    for (const auto& [name, value] : key.values) appendValue(out, name, value);
  }
  return out + '\n';
}

// ---- the store ----

Store::Store(std::string folder, std::shared_ptr<FileSystem> fs)
    : folder_(folder.empty() ? "." : std::move(folder)), fs_(std::move(fs)) {
  if (!fs_) fs_ = std::make_shared<FileSystem>();
}

std::string Store::filePath() const { return folder_ + "/" + std::string(kRoot) + ".reg"; }

std::vector<Key> Store::load() const { return parseStore(readFile(*fs_, filePath())); }

std::vector<Key> Store::keys() const { return load(); }

std::optional<Key> Store::openKey(std::string_view path) const {
  checkPath(path);
  std::vector<Key> keys = load();
  if (Key* key = findKey(keys, path)) return std::move(*key);
  for (const Key& key : keys)
    if (isBelow(key.path, path)) return Key{key.path.substr(0, path.size()), {}};
  return std::nullopt;
}

void Store::update(const std::function<bool(std::vector<Key>&)>& change) {
  FileSystem& fs = *fs_;
  const std::string store = filePath(), lockPath = store + ".lock", temp = store + ".tmp";
  int lockFd = fs.open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lockFd < 0 && errno == ENOENT) {
    makeFolders(fs, folder_);
    lockFd = fs.open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  }
  if (lockFd < 0) fail(errno, "cannot open " + lockPath);
  FdGuard lock{fs, lockFd};  // closing it releases the lock
  while (fs.flock(lockFd, LOCK_EX) != 0)
    if (errno != EINTR) fail(errno, "cannot lock " + lockPath);

  // Re-read under the lock so that another writer's values are kept; a store
  // that does not parse throws here and stays as it is.
  std::vector<Key> keys = load();
  if (!change(keys)) return;
  const std::string text = formatStore(keys);

  int tempFd = fs.open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (tempFd < 0) fail(errno, "cannot create " + temp);
  try {
    writeAll(fs, tempFd, text, temp);
    if (fs.fsync(tempFd) != 0) fail(errno, "cannot flush " + temp);
    int fd = tempFd;
    tempFd = -1;
    if (fs.close(fd) != 0) fail(errno, "cannot write " + temp);
    if (fs.rename(temp, store) != 0) fail(errno, "cannot replace " + store);
  } catch (...) {
    if (tempFd >= 0) fs.close(tempFd);
    fs.unlink(temp);
    throw;
  }
  // Make the rename itself durable.
  int dirFd = fs.open(folder_, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (dirFd < 0) fail(errno, "cannot open " + folder_);
  FdGuard dir{fs, dirFd};
  if (fs.fsync(dirFd) != 0 && errno != EINVAL && errno != ENOTSUP) fail(errno, "cannot flush " + folder_);
}

void Store::createKey(std::string_view path) {
  checkPath(path);
  update([&](std::vector<Key>& keys) {
    if (findKey(keys, path)) return false;
    for (const Key& key : keys)
      if (isBelow(key.path, path)) return false;
    bool added = false;
    ensureKey(keys, path, added);
    return added;
  });
}

void Store::setValue(std::string_view path, std::string_view name, const Value& value) {
  checkPath(path);
  if (unwritable(name)) throw Error(code::InvalidParameter, "a value name with a line break or zero");
  if (value.kind == Value::Kind::Hex && !validBytes(value.data))
    throw Error(code::InvalidParameter, "hex bytes that are not two-digit hex numbers");
  update([&](std::vector<Key>& keys) {
    bool added = false;
    Key& key = ensureKey(keys, path, added);
    return putValue(key, name, value) || added;
  });
}

bool Store::deleteTree(std::string_view path) {
  checkPath(path);
  bool removed = false;
  update([&](std::vector<Key>& keys) {
    removed = std::erase_if(keys, [&](const Key& key) {
                return sameText(key.path, path) || isBelow(key.path, path);
              }) > 0;
    return removed;
  });
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
  return chosenStore() ? *chosenStore() : Store(defaultFolder());
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
