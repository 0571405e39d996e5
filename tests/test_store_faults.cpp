// The settings store under faults: writers killed at random points, a writer
// killed while others write, and values of types the component does not use
// (refused as text, kept exactly, never rewritten into something else).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "korvena/RuntimeError.h"
#include "support/basRegistry.h"
#include "store/registry_store.h"
#include "store_test_folder.h"

namespace korvena {
namespace {

namespace fs = std::filesystem;
using reg::Value;

constexpr const char* kKey = "SOFTWARE\\Host\\Faults";

// Writes in small pieces with a pause between them, so that a kill lands
// inside the writing of the temporary file more often than between writes.
class SlowFileSystem : public reg::FileSystem {
 public:
  ssize_t write(int fd, const void* buffer, size_t size) override {
    std::this_thread::sleep_for(std::chrono::microseconds(30));
    return FileSystem::write(fd, buffer, std::min<size_t>(size, 61));
  }
};

// Skips the flushes: for tests about locking, not durability.
class NoSyncFileSystem : public reg::FileSystem {
 public:
  int fsync(int) override { return 0; }
};

class StoreFaults : public StoreFolderTest {
 protected:
  // A child process that writes "r<round>-<i>" for i = 1, 2, ... into the
  // value Counter, telling the parent through `ack` after each write returned.
  pid_t startWriter(int round, bool slow, int ack) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    std::shared_ptr<reg::FileSystem> files =
        slow ? std::shared_ptr<reg::FileSystem>(std::make_shared<SlowFileSystem>()) : nullptr;
    reg::Store store(dir, files);
    for (int i = 1;; ++i) {
      try {
        store.setValue(kKey, "Counter", Value::sz("r" + std::to_string(round) + "-" + std::to_string(i)));
      } catch (...) {
        _exit(3);
      }
      if (::write(ack, &i, sizeof i) != sizeof i) _exit(4);
    }
  }
};

TEST_F(StoreFaults, WriterKilledAtRandomPointsLeavesTheOldOrTheNewValue) {
  reg::Store store(dir);
  // Other values to carry through every rewrite, and a larger file to write.
  for (int i = 0; i < 60; ++i)
    store.setValue("SOFTWARE\\Host\\Other", "v" + std::to_string(i), Value::sz(std::string(40, 'a' + i % 26)));
  store.setValue(kKey, "Counter", Value::sz("start"));
  const reg::Key others = *store.openKey("SOFTWARE\\Host\\Other");
  // How long one write takes here, with each file system: the kills fall
  // within a few writes' time.
  auto timeOfWrite = [&](std::shared_ptr<reg::FileSystem> files) {
    reg::Store timed(dir, std::move(files));
    const auto started = std::chrono::steady_clock::now();
    timed.setValue(kKey, "Counter", Value::sz("start"));
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
  };
  const long long window[2] = {3 * timeOfWrite(nullptr) + 100,
                               3 * timeOfWrite(std::make_shared<SlowFileSystem>()) + 100};
  std::mt19937 random(77);
  int killedMidWay = 0;
  for (int round = 0; round < 30; ++round) {
    SCOPED_TRACE(round);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = startWriter(round, round % 2 == 1, pipeFds[1]);
    ASSERT_GT(child, 0);
    close(pipeFds[1]);
    // The first writes of a new process are slow (its memory is copied as
    // it is touched): wait for two, then kill it within a few writes' time.
    int acked = 0;
    while (acked < 2) ASSERT_EQ(read(pipeFds[0], &acked, sizeof acked), static_cast<ssize_t>(sizeof acked));
    std::this_thread::sleep_for(std::chrono::microseconds(random() % window[round % 2]));
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own: " << status;
    for (int n = 0; read(pipeFds[0], &n, sizeof n) == sizeof n;) acked = n;
    close(pipeFds[0]);
    // The file parses and holds the last value the writer finished, or the
    // one it was writing when it was killed; the other values stay.
    std::optional<reg::Key> key;
    ASSERT_NO_THROW(key = store.openKey(kKey));
    ASSERT_TRUE(key && key->find("Counter"));
    const std::string now = key->find("Counter")->data, prefix = "r" + std::to_string(round) + "-";
    EXPECT_TRUE(now == prefix + std::to_string(acked) || now == prefix + std::to_string(acked + 1))
        << now << " after " << acked << " writes";
    killedMidWay += now == prefix + std::to_string(acked) && tempFileLeft();
    EXPECT_EQ(store.openKey("SOFTWARE\\Host\\Other").value_or(reg::Key{}).values, others.values);
  }
  // Some kills fell inside a write (a temporary file was left behind).
  EXPECT_GT(killedMidWay, 0);
  // A temporary file or a lock left by a killed writer stops no later write.
  store.setValue(kKey, "Counter", Value::sz("after"));
  EXPECT_EQ(store.openKey(kKey)->find("Counter")->data, "after");
  EXPECT_FALSE(tempFileLeft());
}

TEST_F(StoreFaults, FourWritersAndOneKilledWhileHoldingTheLock) {
  constexpr int kWriters = 4, kEach = 40;
  // A writer that takes the store's lock and is killed while it holds it.
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    int fd = ::open((dir + "/HKEY_LOCAL_MACHINE.reg.lock").c_str(), O_RDWR | O_CREAT, 0644);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) _exit(1);
    pause();
    _exit(0);
  }
  pid_t writers[kWriters];
  for (int w = 0; w < kWriters; ++w) {
    writers[w] = fork();
    ASSERT_GE(writers[w], 0);
    if (writers[w] == 0) {
      reg::Store store(dir, std::make_shared<NoSyncFileSystem>());
      try {
        for (int i = 0; i < kEach; ++i)
          store.setValue(kKey, "w" + std::to_string(w) + "_" + std::to_string(i),
                         Value::dword(static_cast<uint32_t>(i)));
      } catch (...) {
        _exit(1);
      }
      _exit(0);
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the writers queue on the lock
  ASSERT_EQ(kill(holder, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(holder, &status, 0), holder);
  for (pid_t writer : writers) {
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::optional<reg::Key> key = reg::Store(dir).openKey(kKey);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->values.size(), static_cast<size_t>(kWriters * kEach));
  for (int w = 0; w < kWriters; ++w)
    for (int i = 0; i < kEach; ++i) {
      const Value* value = key->find("w" + std::to_string(w) + "_" + std::to_string(i));
      ASSERT_TRUE(value) << w << " " << i;
      EXPECT_EQ(*value, Value::dword(static_cast<uint32_t>(i)));
    }
}

TEST_F(StoreFaults, ValueTypesTheComponentDoesNotUseAreKeptExactly) {
  const std::string unusual =
      "\"None\"=hex(0):\n"
      "\"Expand\"=hex(2):25,00,50,00,00,00\n"
      "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
      "\"Big\"=hex(b):ff,ff,ff,ff,ff,ff,ff,7f\n"
      "\"Odd\"=hex(ffffffff):01\n"
      "\"Counter\"=dword:ffffffff\n";
  writeFile("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Host\\Dialog\\D9]\r\n"
            "\t\"Left\"   =\t\"120\"   ; edited by hand\r\n" +
            unusual);
  reg::setDefaultFolder(dir);
  // Text values read; the others are refused one by one with their type.
  EXPECT_EQ(ReadSetting("Host", "Dialog\\D9", "left", "d"), "120");
  for (const auto& [name, type] :
       {std::pair<const char*, long>{"Expand", 2}, {"Multi", 7}, {"Big", 0xb}, {"Counter", 4}}) {
    try {
      ReadSetting("Host", "Dialog\\D9", name, "d");
      ADD_FAILURE() << name << " read as text";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.number(), regerr::RegistryCallFailed + type) << name;
      EXPECT_EQ(e.description(), "Registry data not a string");
    }
  }
  // A write next to them rewrites the file in the store's own layout, with
  // every one of them as it was.
  WriteSetting("Host", "Dialog\\D9", "Top", "300");
  const std::string text = contents();
  EXPECT_NE(text.find("\"Left\"=\"120\"\n" + unusual), std::string::npos) << text;
  EXPECT_EQ(ReadSetting("Host", "Dialog\\D9", "Top", "d"), "300");
}

}  // namespace
}  // namespace korvena
