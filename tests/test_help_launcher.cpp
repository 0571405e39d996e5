// The help file reader (directory, LZX sections, context map) and the help
// launcher's choice between the help viewer, the browser and a message.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <vector>

#include "support/chm_reader.h"
#include "support/help_launcher.h"

namespace korvena {
namespace {

namespace fs = std::filesystem;

const fs::path kHelpSources = fs::path(KORVENA_TEST_DATA).parent_path().parent_path() / "help";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const fs::path& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out << data;
}

fs::path MakeTempDir() {
  std::string pattern = (fs::temp_directory_path() / "korvena-chm-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return {};
  return pattern;
}

bool HaveChmCompiler() { return std::system("command -v chmcmd >/dev/null 2>&1") == 0; }

// Compiles the .hhp project in dir with chmcmd; returns the help file.
fs::path Compile(const fs::path& dir, const std::string& project, const std::string& output) {
  const std::string cmd = "cd '" + dir.string() + "' && chmcmd --verbosity 0 '" + project + "' >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) return {};
  return dir / output;
}

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path dir_;
};

// The product's own help, compiled from help/ as the build does.
class ProductHelp : public TempDirTest {
 protected:
  void SetUp() override {
    if (!HaveChmCompiler()) GTEST_SKIP() << "chmcmd (fp-utils) is not installed";
    TempDirTest::SetUp();
    for (const auto& entry : fs::directory_iterator(kHelpSources))
      if (entry.path().filename() != "CMakeLists.txt") fs::copy(entry.path(), dir_ / entry.path().filename());
    chm_ = Compile(dir_, "Lumastra.hhp", "Lumastra.chm");
    ASSERT_FALSE(chm_.empty()) << "chmcmd failed on the help sources";
  }
  fs::path chm_;
};

TEST_F(ProductHelp, EveryPageReadsBackAsItsSource) {
  const ChmFile chm = ChmFile::Open(chm_.string());
  int pages = 0;
  for (const char* name : {"welcome.htm", "viewer.htm", "toolbar.htm", "options.htm", "slideshow.htm", "keys.htm",
                           "help.css", "contents.hhc", "index.hhk"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(chm.read(std::string("/") + name), ReadAll(kHelpSources / name));
    ++pages;
  }
  EXPECT_EQ(pages, 9);
  // Names match ignoring case, as in the help viewer.
  EXPECT_EQ(chm.read("/VIEWER.HTM"), ReadAll(kHelpSources / "viewer.htm"));
  EXPECT_THROW(chm.read("/missing.htm"), ChmError);
}

TEST_F(ProductHelp, ContextMapGivesTheWindowsTopic) {
  const ChmFile chm = ChmFile::Open(chm_.string());
  // 15: the photo window and the toolbar.
  EXPECT_EQ(chm.topicForContext(15), "viewer.htm");
  EXPECT_EQ(chm.topicForContext(10), "welcome.htm");
  EXPECT_EQ(chm.topicForContext(50), "keys.htm");
  EXPECT_EQ(chm.topicForContext(16), std::nullopt);
  EXPECT_EQ(chm.topicForContext(0), std::nullopt);
  EXPECT_EQ(chm.defaultTopic(), "welcome.htm");
  // The help system's own files are not pages.
  for (const std::string& name : chm.contentNames()) {
    EXPECT_NE(name.rfind("/#", 0), 0u) << name;
    EXPECT_NE(name.rfind("/$", 0), 0u) << name;
  }
}

TEST_F(ProductHelp, TopicTextNamesTheWindowsItHelpsWith) {
  const std::string page = ChmFile::Open(chm_.string()).read("/viewer.htm");
  for (const char* words : {"photo window", "toolbar", "Details", "zoom box", "F1"})
    EXPECT_NE(page.find(words), std::string::npos) << words;
}

// Damaged help files give ChmError (or data), never a crash.
TEST_F(ProductHelp, DamagedFilesAreRefusedCleanly) {
  const std::string good = ReadAll(chm_);
  EXPECT_THROW(ChmFile::FromBytes(""), ChmError);
  EXPECT_THROW(ChmFile::FromBytes("ITSF"), ChmError);
  EXPECT_THROW(ChmFile::FromBytes(std::string(200, '\0')), ChmError);
  for (size_t cut : {size_t{0x40}, size_t{0x60}, size_t{0x100}, good.size() / 2, good.size() - 10}) {
    SCOPED_TRACE(cut);
    try {
      const ChmFile chm = ChmFile::FromBytes(good.substr(0, cut));
      (void)chm.read("/viewer.htm");
      ADD_FAILURE() << "a cut file read back";
    } catch (const ChmError&) {
    }
  }
  std::mt19937 rng(5);
  int refused = 0, read = 0;
  for (int round = 0; round < 300; ++round) {
    std::string bad = good;
    for (int flips = 0; flips < 4; ++flips) {
      const size_t at = std::uniform_int_distribution<size_t>(0, bad.size() - 1)(rng);
      bad[at] = static_cast<char>(rng());
    }
    try {
      const ChmFile chm = ChmFile::FromBytes(bad);
      for (const std::string& name : chm.contentNames()) (void)chm.read(name);
      (void)chm.topicForContext(15);
      (void)chm.defaultTopic();
      ++read;
    } catch (const ChmError&) {
      ++refused;
    }
  }
  EXPECT_EQ(refused + read, 300);
  EXPECT_GT(refused, 0);
}

// Files over several 32 KB frames and reset intervals, text that compresses
// well and bytes that do not.
class LargeHelp : public TempDirTest {};

TEST_F(LargeHelp, ManyFramesReadBackExactly) {
  if (!HaveChmCompiler()) GTEST_SKIP() << "chmcmd (fp-utils) is not installed";
  std::mt19937 rng(3);
  std::string words, noise, runs(70000, 'x');
  const char* vocabulary[] = {"photo", "window", "toolbar", "zoom", "slide", "harbour", "sunset", "meadow"};
  while (words.size() < 600000) words += std::string(vocabulary[rng() % 8]) + std::to_string(rng() % 1000) + ' ';
  for (int i = 0; i < 100000; ++i) noise += static_cast<char>(rng());
  WriteAll(dir_ / "words.htm", "<html><body>" + words + "</body></html>");
  WriteAll(dir_ / "noise.bin", noise);
  WriteAll(dir_ / "runs.htm", "<html><body>" + runs + "</body></html>");
  WriteAll(dir_ / "map.h", "#define IDH_RUNS 7\n#define IDH_WORDS 700000\n");
  WriteAll(dir_ / "big.hhp",
           "[OPTIONS]\nCompiled file=big.chm\nDefault topic=runs.htm\nTitle=Big\n\n"
           "[ALIAS]\nIDH_RUNS=runs.htm\nIDH_WORDS=words.htm\n\n[MAP]\n#include map.h\n\n"
           "[FILES]\nwords.htm\nnoise.bin\nruns.htm\n");
  const fs::path chmPath = Compile(dir_, "big.hhp", "big.chm");
  ASSERT_FALSE(chmPath.empty());
  const ChmFile chm = ChmFile::Open(chmPath.string());
  EXPECT_EQ(chm.read("/words.htm"), ReadAll(dir_ / "words.htm"));
  EXPECT_EQ(chm.read("/noise.bin"), noise);
  EXPECT_EQ(chm.read("/runs.htm"), ReadAll(dir_ / "runs.htm"));
  EXPECT_EQ(chm.topicForContext(7), "runs.htm");
  EXPECT_EQ(chm.topicForContext(700000), "words.htm");
}

TEST(LzxFrames, RefusesImpossibleParameters) {
  EXPECT_THROW(LzxDecodeFrames("", {0}, 10, 14, 2), ChmError);       // window too small
  EXPECT_THROW(LzxDecodeFrames("", {0}, 10, 22, 2), ChmError);       // window too large
  EXPECT_THROW(LzxDecodeFrames("", {}, 40000, 16, 2), ChmError);     // frames missing
  EXPECT_THROW(LzxDecodeFrames("", {5}, 10, 16, 2), ChmError);       // offset past the data
  EXPECT_THROW(LzxDecodeFrames("\x01", {0}, 100, 16, 2), ChmError);  // data ends at once
  EXPECT_EQ(LzxDecodeFrames("", {}, 0, 16, 2), "");
}

// ---- the launcher ----

struct FakeSystem {
  std::map<std::string, std::string> programs;  // name -> full path
  std::vector<std::vector<std::string>> started;
  bool spawnWorks = true;
  std::string failingProgram;  // this one does not start

  HelpEnvironment env(const fs::path& tempRoot) {
    HelpEnvironment e;
    e.findProgram = [this](const std::string& name) {
      auto it = programs.find(name);
      return it == programs.end() ? std::string() : it->second;
    };
    e.spawn = [this](const std::vector<std::string>& argv) {
      if (!spawnWorks || argv[0] == failingProgram) return false;
      started.push_back(argv);
      return true;
    };
    e.tempRoot = tempRoot.string();
    return e;
  }
};

class HelpLaunch : public ProductHelp {
 protected:
  void SetUp() override {
    ProductHelp::SetUp();
    if (IsSkipped()) return;
    unpackRoot_ = dir_ / "unpacked";
    fs::create_directory(unpackRoot_);
  }
  size_t unpackedFolders() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(unpackRoot_), fs::directory_iterator()));
  }
  fs::path unpackRoot_;
  FakeSystem sys_;
};

TEST_F(HelpLaunch, HelpViewerOpensTheMappedTopic) {
  sys_.programs["xchm"] = "/opt/bin/xchm";
  sys_.programs["xdg-open"] = "/usr/bin/xdg-open";
  const HelpResult r = LaunchHelp(chm_.string(), 15, sys_.env(unpackRoot_));
  EXPECT_TRUE(r.launched);
  EXPECT_EQ(r.topic, "viewer.htm");
  const std::vector<std::string> expected{"/opt/bin/xchm", "file:" + chm_.string() + "#xchm:/viewer.htm"};
  EXPECT_EQ(r.command, expected);
  ASSERT_EQ(sys_.started.size(), 1u);
  EXPECT_EQ(sys_.started[0], expected);
  EXPECT_EQ(unpackedFolders(), 0u) << "the viewer reads the help file itself";
}

TEST_F(HelpLaunch, WithoutViewerThePageOpensInTheBrowser) {
  sys_.programs["x-www-browser"] = "/usr/bin/x-www-browser";
  const HelpResult r = LaunchHelp(chm_.string(), 15, sys_.env(unpackRoot_));
  ASSERT_TRUE(r.launched) << r.message;
  ASSERT_EQ(r.command.size(), 2u);
  EXPECT_EQ(r.command[0], "/usr/bin/x-www-browser");
  const fs::path page = r.command[1];
  EXPECT_EQ(page.filename(), "viewer.htm");
  EXPECT_EQ(page.parent_path().parent_path(), unpackRoot_);
  EXPECT_EQ(ReadAll(page), ReadAll(kHelpSources / "viewer.htm"));
  // Its style sheet and linked pages are beside it.
  EXPECT_EQ(ReadAll(page.parent_path() / "help.css"), ReadAll(kHelpSources / "help.css"));
  EXPECT_TRUE(fs::exists(page.parent_path() / "toolbar.htm"));
}

TEST_F(HelpLaunch, ViewerThatDoesNotStartFallsBackToTheBrowser) {
  sys_.programs["xchm"] = "/opt/bin/xchm";
  sys_.programs["xdg-open"] = "/usr/bin/xdg-open";
  sys_.failingProgram = "/opt/bin/xchm";
  const HelpResult r = LaunchHelp(chm_.string(), 15, sys_.env(unpackRoot_));
  EXPECT_TRUE(r.launched);
  ASSERT_EQ(sys_.started.size(), 1u);
  EXPECT_EQ(sys_.started[0][0], "/usr/bin/xdg-open");
}

TEST_F(HelpLaunch, NothingInstalledLeavesTheReaderAPath) {
  const HelpResult r = LaunchHelp(chm_.string(), 15, sys_.env(unpackRoot_));
  EXPECT_FALSE(r.launched);
  EXPECT_TRUE(sys_.started.empty());
  EXPECT_NE(r.message.find("viewer.htm"), std::string::npos) << r.message;
  EXPECT_EQ(unpackedFolders(), 1u);
}

TEST_F(HelpLaunch, UnmappedContextOpensTheDefaultTopic) {
  sys_.programs["xchm"] = "/opt/bin/xchm";
  for (long context : {7L, -1L, LONG_MAX}) {
    SCOPED_TRACE(context);
    const HelpResult r = LaunchHelp(chm_.string(), context, sys_.env(unpackRoot_));
    EXPECT_TRUE(r.launched);
    EXPECT_EQ(r.topic, "welcome.htm");
    EXPECT_NE(r.message.find("not in the help file's map"), std::string::npos);
  }
}

TEST_F(HelpLaunch, MissingOrForeignFilesStartNothing) {
  sys_.programs["xchm"] = "/opt/bin/xchm";
  sys_.programs["xdg-open"] = "/usr/bin/xdg-open";
  HelpResult r = LaunchHelp((dir_ / "nothere.chm").string(), 15, sys_.env(unpackRoot_));
  EXPECT_FALSE(r.launched);
  EXPECT_NE(r.message.find("not found"), std::string::npos);
  r = LaunchHelp(dir_.string(), 15, sys_.env(unpackRoot_));  // a folder
  EXPECT_FALSE(r.launched);
  WriteAll(dir_ / "fake.chm", "<html>not a help file</html>");
  r = LaunchHelp((dir_ / "fake.chm").string(), 15, sys_.env(unpackRoot_));
  EXPECT_FALSE(r.launched);
  EXPECT_NE(r.message.find("not a compiled help file"), std::string::npos);
  EXPECT_TRUE(sys_.started.empty());
  EXPECT_EQ(unpackedFolders(), 0u);
}

TEST_F(HelpLaunch, UnwritableTempFolderIsReported) {
  sys_.programs["xdg-open"] = "/usr/bin/xdg-open";
  const HelpResult r = LaunchHelp(chm_.string(), 15, sys_.env(dir_ / "no" / "such" / "folder"));
  EXPECT_FALSE(r.launched);
  EXPECT_NE(r.message.find("cannot make a folder"), std::string::npos) << r.message;
}

// The real environment: programs are found on PATH and started without
// waiting for them.
TEST(HelpSystemEnvironment, StartsWithoutWaiting) {
  const HelpEnvironment env = SystemHelpEnvironment();
  const std::string sleepPath = env.findProgram("sleep");
  ASSERT_FALSE(sleepPath.empty());
  EXPECT_EQ(env.findProgram("no-such-program-korvena"), "");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(env.spawn({sleepPath, "3"}));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(env.spawn({"/no/such/program"}));
  EXPECT_FALSE(env.spawn({}));
}

}  // namespace
}  // namespace korvena
