#include "support/help_launcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "support/chm_reader.h"

namespace korvena {

namespace fs = std::filesystem;

namespace {

// The first file the reader would want when the context is not mapped.
std::string FallbackTopic(const ChmFile& chm) {
  if (auto topic = chm.defaultTopic()) return *topic;
  for (const std::string& name : chm.contentNames()) {
    const std::string ext = fs::path(name).extension().string();
    if (ext == ".htm" || ext == ".html") return name.substr(1);
  }
  return {};
}

// A stored name that stays inside the folder it is unpacked into.
bool SafeRelativeName(const std::string& name) {
  const fs::path path(name);
  if (path.empty() || path.is_absolute()) return false;
  for (const fs::path& part : path)
    if (part == ".." || part == ".") return false;
  return true;
}

// Writes the help file's pages into a new folder inside root; returns it.
std::string Unpack(const ChmFile& chm, const std::string& root, std::string& error) {
  std::string pattern = (fs::path(root) / "korvena-help-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    error = "cannot make a folder for the help pages in " + root + ": " + std::strerror(errno);
    return {};
  }
  for (const std::string& name : chm.contentNames()) {
    const std::string relative = name.substr(1);
    if (!SafeRelativeName(relative)) continue;
    const fs::path target = fs::path(pattern) / relative;
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    const std::string data = chm.read(name);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out) {
      error = "cannot write the help page " + target.string();
      return {};
    }
  }
  return pattern;
}

HelpResult Launch(const std::string& chmFile, long context, const HelpEnvironment& env) {
  HelpResult result;
  std::error_code ec;
  const fs::path chmPath = fs::absolute(chmFile, ec);
  if (ec || !fs::is_regular_file(chmPath, ec)) {
    result.message = "help file not found: " + chmFile;
    return result;
  }
  const ChmFile chm = ChmFile::Open(chmPath.string());
  std::optional<std::string> mapped;
  if (context >= 0 && static_cast<unsigned long>(context) <= UINT32_MAX)
    mapped = chm.topicForContext(static_cast<uint32_t>(context));
  result.topic = mapped ? *mapped : FallbackTopic(chm);
  if (!mapped)
    result.message = "help context " + std::to_string(context) + " is not in the help file's map; opening " +
                     (result.topic.empty() ? std::string("the help file") : result.topic);

  if (const std::string viewer = env.findProgram ? env.findProgram("xchm") : std::string(); !viewer.empty()) {
    std::string url = "file:" + chmPath.string();
    if (!result.topic.empty()) url += "#xchm:/" + result.topic;
    result.command = {viewer, url};
    result.launched = env.spawn && env.spawn(result.command);
    if (result.launched) return result;
    result.message = "could not start " + viewer;
  }

  if (result.topic.empty()) {
    result.message = "the help file " + chmFile + " has no page to show";
    return result;
  }
  std::string error;
  const std::string folder = Unpack(chm, env.tempRoot.empty() ? "/tmp" : env.tempRoot, error);
  if (folder.empty()) {
    result.message = error;
    return result;
  }
  const std::string page = (fs::path(folder) / result.topic).string();
  for (const char* browser : {"xdg-open", "x-www-browser", "sensible-browser"}) {
    const std::string program = env.findProgram ? env.findProgram(browser) : std::string();
    if (program.empty()) continue;
    result.command = {program, page};
    if (env.spawn && env.spawn(result.command)) {
      result.launched = true;
      return result;
    }
  }
  result.command.clear();
  result.message = "no help viewer (xchm) or web browser found; the help page is " + page;
  return result;
}

std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
    const std::string candidate = dir + "/" + program;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return {};
}

// Starts argv in a grandchild that the init process adopts, so nothing
// waits for it and no zombie is left. A pipe closed on exec tells whether
// the program started.
bool SpawnDetached(const std::vector<std::string>& args) {
  if (args.empty()) return false;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
  }
  if (child == 0) {
    ::close(fds[0]);
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild == 0) {
      const int devnull = ::open("/dev/null", O_RDWR);
      if (devnull >= 0) {
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
      }
      ::execv(argv[0], argv.data());
      const int err = errno;
      [[maybe_unused]] const ssize_t n = ::write(fds[1], &err, sizeof err);
      ::_exit(127);
    }
    if (grandchild < 0) {
      const int err = errno;
      [[maybe_unused]] const ssize_t n = ::write(fds[1], &err, sizeof err);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t n;
  while ((n = ::read(fds[0], &err, sizeof err)) < 0 && errno == EINTR) {
  }
  ::close(fds[0]);
  return n == 0;
}

}  // namespace

HelpEnvironment SystemHelpEnvironment() {
  HelpEnvironment env;
  env.findProgram = FindOnPath;
  env.spawn = SpawnDetached;
  const char* tmp = std::getenv("TMPDIR");
  env.tempRoot = tmp && *tmp ? tmp : "/tmp";
  return env;
}

HelpResult LaunchHelp(const std::string& chmFile, long context, const HelpEnvironment& env) {
  try {
    return Launch(chmFile, context, env);
  } catch (const std::exception& e) {
    HelpResult result;
    result.message = e.what();
    return result;
  }
}

void LaunchHelp(const std::string& chmFile, long context) {
  const HelpResult result = LaunchHelp(chmFile, context, SystemHelpEnvironment());
  if (!result.message.empty()) std::fprintf(stderr, "help: %s\n", result.message.c_str());
}

}  // namespace korvena
