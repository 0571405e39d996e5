#pragma once
// Picture files as the decoders see them. Paths are bytes, passed to the
// system as they are (a name need not be valid UTF-8). Anything but a regular
// file (a folder, a FIFO, a socket, a device) is refused from its status,
// before it is opened; a file is opened non-blocking, so a FIFO swapped in
// after the check cannot hang the caller either.
#include <QFile>
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace kit::files {

// What is wrong with `path` as a picture file, in words for the user; none
// when it is a regular file this process may read.
std::optional<std::string> problem(const std::string& path);

// The words for an errno from opening or reading a file.
std::string describe(int error);

// The file opened for Qt's readers, or null with `error` set. Qt's readers
// take the format from the file name's suffix first, then from the content.
// A read fails once `cancelled` is set.
std::unique_ptr<QFile> openForReader(const std::string& path, std::string& error,
                                     const std::atomic<bool>* cancelled = nullptr);

// The file opened as a C stream for decoders that read one, or null with
// `error` set; refused as openForReader refuses.
std::FILE* openStream(const std::string& path, std::string& error);

// Raises Qt's allocation limit to let one read of `bytes` through while it
// lives; our own budget has decided the read may happen. Overlapping lifts
// take the largest; the limit goes back when the last one ends.
// Qt's allocation limit as set by the process, not as lifted for a read.
int allocationLimit();

class AllocationLift {
 public:
  explicit AllocationLift(std::int64_t bytes);
  ~AllocationLift();
  AllocationLift(const AllocationLift&) = delete;
  AllocationLift& operator=(const AllocationLift&) = delete;

 private:
  std::int64_t megabytes_;
};

}  // namespace kit::files
