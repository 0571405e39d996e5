#pragma once
// The settings store: the HKEY_LOCAL_MACHINE root key kept as one text file
// in the REGEDIT4 format (HKEY_LOCAL_MACHINE.reg) in a folder. Key paths and
// value names match without regard to case and keep the case first written.
// A write locks the store, re-reads it, and replaces the file atomically, so
// concurrent writers never lose each other's values and a crash leaves either
// the old file or the new one. A file that does not parse is never rewritten,
// nor is one the user may not write. A read parses the file once into an
// index and uses that again while the file stays as it was.
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvena::reg {

// Windows error codes carried by store failures.
namespace code {
inline constexpr long FileNotFound = 2;
inline constexpr long PathNotFound = 3;
inline constexpr long TooManyOpenFiles = 4;
inline constexpr long AccessDenied = 5;
inline constexpr long NotEnoughMemory = 8;
inline constexpr long LockViolation = 33;  // another writer holds the store's lock
inline constexpr long InvalidParameter = 87;
inline constexpr long DiskFull = 112;
inline constexpr long BadPathname = 161;
inline constexpr long FilenameTooLong = 206;
inline constexpr long BadDatabase = 1009;  // the store file does not parse
inline constexpr long IoDevice = 1117;
}  // namespace code

// The Windows code for an errno value.
long codeFromErrno(int error);

// A store failure: a Windows error code and a text for people.
class Error : public std::runtime_error {
 public:
  Error(long code, const std::string& what) : std::runtime_error(what), code_(code) {}
  long code() const { return code_; }

 private:
  long code_;
};

// The file operations of the store, POSIX-shaped: -1 and errno on failure.
// Tests replace it to inject faults (full disk, read-only folder, a short
// wait for the lock).
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual int open(const std::string& path, int flags, mode_t mode);
  virtual ssize_t read(int fd, void* buffer, size_t size);
  virtual ssize_t write(int fd, const void* buffer, size_t size);
  virtual int fsync(int fd);
  virtual int close(int fd);
  virtual int flock(int fd, int operation);
  virtual int rename(const std::string& from, const std::string& to);
  virtual int unlink(const std::string& path);
  virtual int mkdir(const std::string& path, mode_t mode);
  virtual int fstat(int fd, struct stat* status);
  virtual int stat(const std::string& path, struct stat* status);
  virtual int fchmod(int fd, mode_t mode);
  // How long a writer waits for a lock that another holds while the store
  // does not change; then the write fails with LockViolation.
  virtual std::chrono::milliseconds lockWait() const { return std::chrono::seconds(5); }
};

// A typed value: text (REG_SZ), a number (REG_DWORD) or hex(N) bytes kept as
// written ("41,00,42,00"); plain "hex:" is hex(3).
struct Value {
  enum class Kind { Sz, Dword, Hex };
  Kind kind = Kind::Sz;
  std::string data;      // Sz: the text; Hex: the bytes as written
  uint32_t number = 0;   // Dword
  uint32_t hexType = 3;  // Hex: the N of hex(N)

  static Value sz(std::string text) { return {Kind::Sz, std::move(text), 0, 3}; }
  static Value dword(uint32_t n) { return {Kind::Dword, {}, n, 3}; }
  static Value hex(uint32_t type, std::string bytes) { return {Kind::Hex, std::move(bytes), 0, type}; }

  uint32_t typeCode() const;     // 1, 4 or N
  std::string typeName() const;  // "sz", "dword" or "hex(N)", N in lowercase hex
  bool operator==(const Value&) const = default;
};

struct Key {
  std::string path;                                   // without the root, e.g. SOFTWARE\Host\Dialog\D9
  std::vector<std::pair<std::string, Value>> values;  // "" is the default value (@)
  const Value* find(std::string_view name) const;     // case-insensitive
};

class Index;

class Store {
 public:
  explicit Store(std::string folder, std::shared_ptr<FileSystem> fs = nullptr);

  const std::string& folder() const { return folder_; }
  std::string filePath() const;  // <folder>/HKEY_LOCAL_MACHINE.reg

  // Reads take no lock: writes replace the file in one rename. A missing file
  // is an empty store. A key also exists when only keys below it are stored.
  std::optional<Key> openKey(std::string_view path) const;
  std::vector<Key> keys() const;  // every stored key, in file order
  // The value `name` of the key at `path`; nothing when either is missing.
  std::optional<Value> readValue(std::string_view path, std::string_view name) const;

  // Writes. The key path is created as needed; nothing is rewritten when
  // nothing changes (creating a key that exists, say).
  void createKey(std::string_view path);
  void setValue(std::string_view path, std::string_view name, const Value& value);
  bool deleteTree(std::string_view path);  // false when there was no such key

 private:
  struct Cache;
  struct Snapshot;
  Snapshot load() const;
  void update(const std::function<bool(Index&)>& change);
  std::string folder_;
  std::shared_ptr<FileSystem> fs_;
  std::shared_ptr<Cache> cache_;  // shared by the copies of a store
};

// $KORVENA_REGISTRY_DIR, else $XDG_CONFIG_HOME/korvena, else ~/.config/korvena.
std::string defaultFolder();

// The process-wide store used by ReadSetting/WriteSetting: the default folder
// unless another store or folder was set.
Store defaultStore();
void setDefaultStore(Store store);
void setDefaultFolder(std::string folder);
void resetDefaultStore();

// The file text of a store and back; parse throws Error(BadDatabase).
std::vector<Key> parseStore(std::string_view text);
std::string formatStore(const std::vector<Key>& keys);

}  // namespace korvena::reg
