// The settings store under faults: writers killed at random points, and a
// writer killed while others write. (Values of types the component does not
// use are among the hand-edited files of the registry tests.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "store/registry_store.h"
#include "store_test_folder.h"

namespace korvena {
namespace {

using reg::Value;

constexpr const char* kKey = "SOFTWARE\\Host\\Faults";

class StoreFaults : public StoreFolderTest {
 protected:
  // A child process that writes "r<round>-<i>" for i = 1, 2, ... into the
  // value Counter, telling the parent through `ack` after each write returned.
  pid_t startWriter(int round, bool slow, int ack) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    auto files = std::make_shared<FaultyFileSystem>();
    files->slow = slow;
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
  auto timeOfWrite = [&](bool slow) {
    auto files = std::make_shared<FaultyFileSystem>();
    files->slow = slow;
    reg::Store timed(dir, files);
    const auto started = std::chrono::steady_clock::now();
    timed.setValue(kKey, "Counter", Value::sz("start"));
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
  };
  const long long window[2] = {3 * timeOfWrite(false) + 100, 3 * timeOfWrite(true) + 100};
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
      auto files = std::make_shared<FaultyFileSystem>();
      files->skipSync = true;
      reg::Store store(dir, files);
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

}  // namespace
}  // namespace korvena
