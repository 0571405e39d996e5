#include "kit/picture_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImageReader>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>

namespace kit::files {

namespace {

// A file whose reads fail once its decode is cancelled: Qt's readers then
// stop at their next read.
class CancellableFile : public QFile {
 public:
  explicit CancellableFile(const std::atomic<bool>* cancelled) : cancelled_(cancelled) {}

 protected:
  qint64 readData(char* data, qint64 maxSize) override {
    if (cancelled_ != nullptr && cancelled_->load(std::memory_order_relaxed)) return -1;
    return QFile::readData(data, maxSize);
  }

 private:
  const std::atomic<bool>* cancelled_;
};

std::optional<std::string> kindProblem(mode_t mode) {
  if (S_ISREG(mode)) return std::nullopt;
  if (S_ISDIR(mode)) return "The path names a folder, not a picture file";
  return "The path names a pipe, socket or device, not a picture file";
}

int openNonBlocking(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

std::mutex liftMutex;
std::multiset<std::int64_t> lifts;  // active lifts, in megabytes
int unliftedLimit = 0;              // the limit before the first active lift

}  // namespace

std::string describe(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return "File not found";
    case EACCES:
    case EPERM:
      return "Permission denied: the file may not be read";
    case EISDIR:
      return "The path names a folder, not a picture file";
    case ENAMETOOLONG:
      return "The file name is too long";
    case ELOOP:
      return "The path has too many symbolic links";
    default:
      return std::strerror(error);
  }
}

std::optional<std::string> problem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return describe(errno);
  if (auto kind = kindProblem(st.st_mode)) return kind;
  if (::access(path.c_str(), R_OK) != 0) return describe(errno);
  return std::nullopt;
}

namespace {

// A regular file opened for reading, or -1 with `error` set.
int openRegular(const std::string& path, std::string& error) {
  if (auto p = problem(path)) {
    error = *p;
    return -1;
  }
  const int fd = openNonBlocking(path);
  if (fd < 0) {
    error = describe(errno);
    return -1;
  }
  // The file may have been swapped since the check: judge what was opened.
  struct stat st {};
  const std::optional<std::string> kind =
      ::fstat(fd, &st) == 0 ? kindProblem(st.st_mode) : std::optional<std::string>(describe(errno));
  if (kind) {
    error = *kind;
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::unique_ptr<QFile> openForReader(const std::string& path, std::string& error, const std::atomic<bool>* cancelled) {
  const int fd = openRegular(path, error);
  if (fd < 0) return nullptr;
  auto file = std::make_unique<CancellableFile>(cancelled);
  // The name is only for the suffix: the file itself is the descriptor.
  file->setFileName(QFile::decodeName(QByteArray::fromStdString(path)));
  if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    error = file->errorString().toStdString();
    return nullptr;
  }
  return file;
}

std::FILE* openStream(const std::string& path, std::string& error) {
  const int fd = openRegular(path, error);
  if (fd < 0) return nullptr;
  std::FILE* stream = ::fdopen(fd, "rb");
  if (!stream) {
    error = describe(errno);
    ::close(fd);
  }
  return stream;
}

int allocationLimit() {
  const std::lock_guard<std::mutex> lock(liftMutex);
  return lifts.empty() ? QImageReader::allocationLimit() : unliftedLimit;
}

AllocationLift::AllocationLift(std::int64_t bytes) : megabytes_((bytes >> 20) + 1) {
  // NOTE: Qt keeps one limit for the whole process; readers on other threads
  // see the lifted value while it lasts, within the same budget.
  const std::lock_guard<std::mutex> lock(liftMutex);
  if (lifts.empty()) unliftedLimit = QImageReader::allocationLimit();
  lifts.insert(megabytes_);
  const std::int64_t wanted = std::max<std::int64_t>(unliftedLimit, *lifts.rbegin());
  if (unliftedLimit > 0) QImageReader::setAllocationLimit(static_cast<int>(std::min<std::int64_t>(wanted, 1 << 30)));
}

AllocationLift::~AllocationLift() {
  const std::lock_guard<std::mutex> lock(liftMutex);
  lifts.erase(lifts.find(megabytes_));
  if (unliftedLimit <= 0) return;
  const std::int64_t wanted = lifts.empty() ? unliftedLimit : std::max<std::int64_t>(unliftedLimit, *lifts.rbegin());
  QImageReader::setAllocationLimit(static_cast<int>(wanted));
}

}  // namespace kit::files
