#pragma once
// A settings store in a fresh temporary folder for each test, with the store
// file's text at hand, and a store file system that fails on demand.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "store/registry_store.h"

// A store file system that fails on demand.
class FaultyFileSystem : public korvena::reg::FileSystem {
 public:
  int writeError = 0;     // writes store a few bytes, then fail with this
  bool readOnly = false;  // nothing may be created or changed
  int fsyncError = 0;
  bool skipSync = false;  // for tests about locking, not durability
  // Writes in small pieces with a pause between them, so that a kill lands
  // inside the writing of the temporary file more often than between writes.
  bool slow = false;
  std::chrono::milliseconds wait{5000};  // for the store's lock
  size_t bytesRead = 0;
  int open(const std::string& path, int flags, mode_t mode) override {
    if (readOnly && (flags & (O_WRONLY | O_RDWR | O_CREAT))) return failWith(EROFS);
    return FileSystem::open(path, flags, mode);
  }
  ssize_t read(int fd, void* buffer, size_t size) override {
    ssize_t n = FileSystem::read(fd, buffer, size);
    bytesRead += n > 0 ? static_cast<size_t>(n) : 0;
    return n;
  }
  std::chrono::milliseconds lockWait() const override { return wait; }
  ssize_t write(int fd, const void* buffer, size_t size) override {
    if (slow) {
      std::this_thread::sleep_for(std::chrono::microseconds(30));
      return FileSystem::write(fd, buffer, std::min<size_t>(size, 61));
    }
    if (writeError == 0) return FileSystem::write(fd, buffer, size);
    if (size > 8 && !wrotePart) {
      wrotePart = true;
      return FileSystem::write(fd, buffer, 8);
    }
    return failWith(writeError);
  }
  int fsync(int fd) override {
    if (fsyncError) return failWith(fsyncError);
    return skipSync ? 0 : FileSystem::fsync(fd);
  }
  int rename(const std::string& from, const std::string& to) override {
    return readOnly ? failWith(EROFS) : FileSystem::rename(from, to);
  }
  int mkdir(const std::string& path, mode_t mode) override {
    return readOnly ? failWith(EROFS) : FileSystem::mkdir(path, mode);
  }

 private:
  static int failWith(int error) {
    errno = error;
    return -1;
  }
  bool wrotePart = false;
};

class StoreFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/korvena-store-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
  }
  void TearDown() override {
    korvena::reg::resetDefaultStore();
    std::filesystem::remove_all(dir);
  }
  std::string file() const { return dir + "/HKEY_LOCAL_MACHINE.reg"; }
  static std::string textOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string contents() const { return textOf(file()); }
  void writeFile(const std::string& text) const { std::ofstream(file(), std::ios::binary) << text; }
  // Whether a temporary file of a write is left in the folder.
  bool tempFileLeft() const {
    for (const auto& entry : std::filesystem::directory_iterator(dir))
      if (entry.path().filename().string().starts_with("HKEY_LOCAL_MACHINE.reg.tmp")) return true;
    return false;
  }

  std::string dir;
};
