#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>

#include "korvena/RuntimeError.h"
#include "store/registry_store.h"
#include "store_test_folder.h"
#include "support/basRegistry.h"

namespace korvena {
namespace {

namespace fs = std::filesystem;
using reg::Value;

constexpr long kBase = -2147221504L;

class RegistryTest : public StoreFolderTest {
 protected:
  void SetUp() override {
    StoreFolderTest::SetUp();
    reg::setDefaultFolder(dir);
  }
  reg::Store store() const { return reg::Store(dir); }
  std::shared_ptr<FaultyFileSystem> useFaults() {
    auto faults = std::make_shared<FaultyFileSystem>();
    reg::setDefaultStore(reg::Store(dir, faults));
    return faults;
  }
};

// Runs `action` and gives the number and description of the error it raises.
template <typename F>
std::pair<long, std::string> errorOf(F action) {
  try {
    action();
  } catch (const RuntimeError& error) {
    return {error.number(), error.description()};
  }
  return {0, "no error"};
}
std::pair<long, std::string> error(long offset, const char* description) { return {kBase + offset, description}; }
const auto writeNew = [] { WriteSetting("Host", "S", "K", "new"); };

using RegistrySettings = RegistryTest;

TEST_F(RegistrySettings, WritesTrimmedAddressAndReadsItBackAndEmptyCreatesTheKeyOnly) {
  WriteSetting(" Host  ", "Dialog\\D9", "Left", "1234");
  EXPECT_EQ(contents(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Host\\Dialog\\D9]\n\"Left\"=\"1234\"\n\n");
  EXPECT_EQ(ReadSetting("Host", " Dialog\\D9 ", "Left", "none"), "1234");
  EXPECT_EQ(ReadSetting("Host", "Dialog\\D9", " Left", "none"), "none");  // the key is not trimmed
  EXPECT_EQ(ReadSetting("Host", "Dialog\\D8", "Left", "none"), "none");
  EXPECT_EQ(ReadSetting("Host", "Dialog\\D9", "Top", ""), "");
  EXPECT_EQ(ReadSetting("Other", "Dialog", "Left", "d"), "d");
  reg::setDefaultFolder(dir + "/not/yet");  // no store yet: the default, and folders made on the first write
  EXPECT_EQ(ReadSetting("Host", "S", "K", "fallback"), "fallback");
  WriteSetting("Host", "S", "K", "v");
  EXPECT_EQ(ReadSetting("Host", "S", "K", "fallback"), "v");
  // An empty setting creates the key only.
  reg::setDefaultFolder(dir);
  WriteSetting("Host", "Section", "K", "");
  std::optional<reg::Key> key = store().openKey("SOFTWARE\\Host\\Section");
  ASSERT_TRUE(key);
  EXPECT_TRUE(key->values.empty());
  WriteSetting("Host", "Section", "K", "kept");
  WriteSetting("Host", "Section", "K", "");
  EXPECT_EQ(ReadSetting("Host", "Section", "K", "d"), "kept");
  store().setValue("SOFTWARE\\Host\\Section", "Blank", Value::sz(""));
  EXPECT_EQ(ReadSetting("Host", "Section", "Blank", "d"), "");
}

TEST_F(RegistrySettings, BlankAddressPartsRaiseTheirNumbers) {
  for (const auto& [app, section, key, expected] : {std::tuple{"", "S", "K", error(1000, "AppName may not be empty")},
                                                    {"   ", "", "", error(1000, "AppName may not be empty")},
                                                    {"A", " ", "K", error(1001, "Section may not be empty")},
                                                    {"A", "S", "  ", error(1002, "Key may not be empty")}}) {
    EXPECT_EQ(errorOf([&] { WriteSetting(app, section, key, "x"); }), expected) << expected.second;
    EXPECT_EQ(errorOf([&] { ReadSetting(app, section, key, "x"); }), expected) << expected.second;
  }
  EXPECT_FALSE(fs::exists(file()));
  EXPECT_EQ(ReadSetting("\t", "S", "K", "d"), "d");  // only spaces are trimmed
}

TEST_F(RegistrySettings, NamesMatchIgnoringCaseAndKeepFirstSpelling) {
  WriteSetting("Host", "Dialog\\D9", "Left", "1");
  WriteSetting("HOST", "dialog\\d9", "LEFT", "2");
  WriteSetting("host", "DIALOG\\Other", "Top", "3");
  EXPECT_EQ(ReadSetting("hOsT", "Dialog\\D9", "left", "d"), "2");
  std::vector<reg::Key> keys = store().keys();
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].path, "SOFTWARE\\Host\\Dialog\\D9");
  ASSERT_EQ(keys[0].values.size(), 1u);
  EXPECT_EQ(keys[0].values[0].first, "Left");
  EXPECT_EQ(keys[1].path, "SOFTWARE\\Host\\Dialog\\Other");
  // A key below another makes that one exist, in the spelling it has.
  reg::Store s = store();
  s.setValue("SOFTWARE\\Other\\A", "v", Value::dword(1));
  ASSERT_TRUE(s.openKey("software\\OTHER"));
  EXPECT_EQ(s.openKey("software\\OTHER")->path, "SOFTWARE\\Other");
  EXPECT_FALSE(s.openKey("SOFTWARE\\Othe"));
  s.createKey("software\\OTHER");  // nothing new to write
  s.createKey("software\\OTHER\\b");
  keys = s.keys();
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_EQ(keys[3].path, "SOFTWARE\\Other\\b");
}

// Values of types the component does not use are refused as text with their
// type, kept exactly, and never rewritten into something else.
TEST_F(RegistrySettings, ReadsHandEditedFiles) {
  const std::string unusual =
      "\"None\"=hex(0):\n"
      "\"Expand\"=hex(2):25,00,50,00,00,00\n"
      "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
      "\"Big\"=hex(b):ff,ff,ff,ff,ff,ff,ff,7f\n"
      "\"Odd\"=hex(ffffffff):01\n";
  writeFile(
      "\xEF\xBB\xBF; settings written by hand\r\n\r\nREGEDIT4\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Host\\Main]\r\n"
      "; a comment between values\r\n"
      "   \"Path\" = \"C:\\\\Photos \\\"new\\\"\"  \r\n"
      "@=\"default\"\r\n\r\n"
      "\"Bin\"=hex:01,02,\\\r\n    03\r\n"
      "\"Text\"=hex(1):68,69,00\r\n"
      "\"Empty\"=\"\"\r\n" +
      unusual +
      "[hkey_local_machine\\software\\host\\Dialog]\r\n"
      "\t\"N\"   =\tdword:ff ; a note\r\n");
  EXPECT_EQ(ReadSetting("Host", "Main", "path", "d"), "C:\\Photos \"new\"");
  EXPECT_EQ(ReadSetting("Host", "Main", "Text", "d"), "hi");
  EXPECT_EQ(ReadSetting("Host", "Main", "Empty", "d"), "");
  for (const auto& [section, name, type] : {std::tuple{"Main", "Bin", 3},
                                            {"Main", "Expand", 2},
                                            {"Main", "Multi", 7},
                                            {"Main", "Big", 0xb},
                                            {"Dialog", "N", 4}})
    EXPECT_EQ(errorOf([&] { ReadSetting("Host", section, name, "d"); }),
              error(2000 + type, "Registry data not a string"))
        << name;
  WriteSetting("Host", "Main", "Added", "new");
  std::vector<reg::Key> keys = store().keys();
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(*keys[0].find(""), Value::sz("default"));
  EXPECT_EQ(*keys[0].find("bin"), Value::hex(3, "01,02,03"));
  EXPECT_EQ(keys[1].path, "SOFTWARE\\Host\\Dialog");
  EXPECT_EQ(*keys[1].find("n"), Value::dword(255));
  const std::string text = contents();
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_NE(text.find("\n@=\"default\"\n\"Bin\"=hex:01,02,03\n\"Text\"=\"hi\"\n\"Empty\"=\"\"\n" + unusual),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"Path\"=\"C:\\\\Photos \\\"new\\\"\"\n"), std::string::npos);
}

TEST_F(RegistrySettings, TextOfAnyBytesRoundTrips) {
  const std::string texts[] = {"two\nlines\r\n", std::string("zero\0inside", 11), "quote \" and \\ back\\",
                               "Grüße ;[x]", std::string(300, '\n')};
  for (size_t i = 0; i < std::size(texts); ++i) WriteSetting("Host", "S", "K" + std::to_string(i), texts[i]);
  for (size_t i = 0; i < std::size(texts); ++i)
    EXPECT_EQ(ReadSetting("Host", "S", "K" + std::to_string(i), "d"), texts[i]);
  EXPECT_EQ(reg::formatStore(reg::parseStore(contents())), contents());
}

TEST_F(RegistrySettings, CorruptStoreIsNeverRewritten) {
  std::vector<std::string> corrupt = {
      "garbage\n",
      "REGEDIT4\n\"early\"=\"value before any key\"\n",
      "REGEDIT4\n[HKEY_CURRENT_USER\\SOFTWARE\\Host\\S]\n",
      "REGEDIT4\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Host\\S]\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\\\S]\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\n",
  };
  // Forms other exports use, or typing mistakes: the store stops at them rather than guess.
  for (const char* form : {"\"open=\"x", "\"n\"=dword:123456789", "\"b\"=hex:1,,2", "\"b\"=hex:01,\\", "\"v\"=-",
                           "\"Q\"=qword:0000000000000001", "\"S\"=str(2):\"%PATH%\"",
                           "\"D\"=dword:", "\"D\"=dword:12 34", "\"H\"=hex(1x):00", "\"H\"=hex(123456789):00",
                           "\"H\"=hex:0g", "\"T\"=\"unterminated", "\"T\"=\"text\" trailing", "\"A\"\"B\"=\"x\""})
    corrupt.push_back("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Host\\S]\n\"Keep\"=\"me\"\n" + std::string(form) +
                      "\n");
  for (const std::string& text : corrupt) {
    writeFile(text);
    EXPECT_EQ(errorOf(writeNew), error(3009, "Could not open/create registry section")) << text;
    EXPECT_EQ(errorOf([] { ReadSetting("Host", "S", "K", "d"); }), error(3009, "Could not open registry section"))
        << text;
    EXPECT_EQ(contents(), text);
    EXPECT_FALSE(tempFileLeft());
  }
}

using RegistryFaults = RegistryTest;

TEST_F(RegistryFaults, FullDiskKeepsTheOldStoreAndAReadOnlyOneStillReads) {
  WriteSetting("Host", "S", "K", "old");
  const std::string before = contents();
  auto faults = useFaults();
  faults->writeError = ENOSPC;
  EXPECT_EQ(errorOf(writeNew), error(2112, "Could not set key value"));
  EXPECT_EQ(errorOf([] { WriteSetting("Host", "New", "K", "new"); }),
            error(2112, "Could not open/create registry section"));
  EXPECT_EQ(contents(), before);
  EXPECT_FALSE(tempFileLeft());
  EXPECT_EQ(ReadSetting("Host", "S", "K", "d"), "old");
  faults->writeError = 0;
  faults->fsyncError = EIO;
  EXPECT_EQ(errorOf(writeNew).first, kBase + 2000 + 1117);
  EXPECT_EQ(contents(), before);
  // A read-only store still reads.
  faults->fsyncError = 0;
  faults->readOnly = true;
  EXPECT_EQ(ReadSetting("Host", "S", "K", "d"), "old");
  for (const char* section : {"S", "T"})  // opening for writing fails, as it would without rights
    EXPECT_EQ(errorOf([&] { WriteSetting("Host", section, "K", "new"); }),
              error(2005, "Could not open/create registry section"));
  EXPECT_EQ(contents().find("new"), std::string::npos);
  reg::setDefaultStore(reg::Store(dir + "/missing", faults));
  EXPECT_EQ(ReadSetting("Host", "S", "K", "d"), "d");
}

TEST_F(RegistryFaults, StoreFileTheUserMayNotWriteIsLeftAsItIs) {
  // Tests run as root, whom the system lets write anything: the permission
  // bits decide, as they would for the user.
  WriteSetting("Host", "S", "K", "old");
  for (mode_t mode : {0600, 0640, 0664, 0444, 0400}) {  // a replaced file keeps its mode
    SCOPED_TRACE(mode);
    ASSERT_EQ(chmod(file().c_str(), mode), 0);
    const std::string before = contents();
    if (mode & 0200) {
      WriteSetting("Host", "S", "K", "v" + std::to_string(mode));
    } else {
      EXPECT_EQ(errorOf(writeNew), error(2005, "Could not open/create registry section"));
      EXPECT_EQ(contents(), before);
      EXPECT_EQ(ReadSetting("Host", "S", "K", "d"), "v436");  // 0664
    }
    struct stat status {};
    ASSERT_EQ(stat(file().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, mode);
  }
}

TEST_F(RegistryFaults, WriterGivesUpOnALockHeldWhileTheStoreStaysTheSame) {
  WriteSetting("Host", "S", "K", "old");
  const std::string before = contents();
  useFaults()->wait = std::chrono::milliseconds(100);
  const int holder = open((file() + ".lock").c_str(), O_RDWR);  // another open file: another holder
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  auto write = std::async(std::launch::async, [] { return errorOf(writeNew); });
  const bool gaveUp = write.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  close(holder);  // lets a writer that did not give up finish
  ASSERT_TRUE(gaveUp);
  EXPECT_EQ(write.get(), error(2033, "Could not open/create registry section"));
  EXPECT_EQ(contents(), before);
  WriteSetting("Host", "S", "K", "new");
  EXPECT_EQ(ReadSetting("Host", "S", "K", "d"), "new");
}

TEST_F(RegistryFaults, PlantedLinksAreNeverWrittenThrough) {
  WriteSetting("Host", "S", "K", "old");
  const std::string victim = dir + "/victim", missing = dir + "/made-through-link";
  std::ofstream(victim) << "precious";
  ASSERT_EQ(symlink(victim.c_str(), (file() + ".tmp").c_str()), 0);
  WriteSetting("Host", "S", "K", "new");
  EXPECT_EQ(ReadSetting("Host", "S", "K", "d"), "new");
  EXPECT_EQ(textOf(victim), "precious");
  ASSERT_EQ(unlink((file() + ".lock").c_str()), 0);
  ASSERT_EQ(symlink(missing.c_str(), (file() + ".lock").c_str()), 0);
  EXPECT_EQ(errorOf([] { WriteSetting("Host", "S", "K", "newer"); }).first, kBase + 2000 + 1117);
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_EQ(ReadSetting("Host", "S", "K", "d"), "new");
}

using RegistryStore = RegistryTest;

TEST_F(RegistryStore, BigStoreIsParsedOnceAndAgainOnlyWhenTheFileChanges) {
  constexpr int kKeys = 30000;
  std::string text = "REGEDIT4\n";
  for (int i = 0; i < kKeys; ++i)
    text += "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Host\\Section" + std::to_string(i) + "]\n\"K\"=\"" + std::to_string(i) +
            "\"\n";
  writeFile(text);
  auto faults = useFaults();
  for (int i : {0, kKeys / 2, kKeys - 1})
    EXPECT_EQ(ReadSetting("HOST", "section" + std::to_string(i), "k", "d"), std::to_string(i));
  EXPECT_EQ(ReadSetting("Host", "Section", "K", "d"), "d");
  EXPECT_EQ(faults->bytesRead, text.size());  // one read for them all
  // The same size rewritten in place: a later change time, if only by a nanosecond.
  struct stat status {};
  ASSERT_EQ(stat(file().c_str(), &status), 0);
  text.replace(text.rfind("=\""), 3, "=\"x");
  writeFile(text);
  const timespec times[2] = {status.st_atim, {status.st_mtim.tv_sec, (status.st_mtim.tv_nsec + 1) % 1000000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, file().c_str(), times, 0), 0);
  EXPECT_EQ(ReadSetting("Host", "Section29999", "K", "d"), "x9999");
  EXPECT_EQ(faults->bytesRead, 2 * text.size());
  // A write re-reads under the lock only a changed file, and keeps what it wrote.
  WriteSetting("Host", "Section7", "New", "v");
  EXPECT_EQ(ReadSetting("Host", "Section7", "new", "d"), "v");
  EXPECT_EQ(faults->bytesRead, 2 * text.size());
}

TEST_F(RegistryStore, RefusesPathsAndNamesItCannotKeepAndDeleteTreeRemovesOnlyThatBranch) {
  reg::Store s = store();
  for (const char* path : {"", "\\a", "a\\", "a\\\\b", "a\nb"}) {
    try {
      s.createKey(path);
      ADD_FAILURE() << path;
    } catch (const reg::Error& error) {
      EXPECT_EQ(error.code(), reg::code::BadPathname);
    }
  }
  EXPECT_THROW(s.setValue("a", "two\nlines", Value::sz("x")), reg::Error);
  EXPECT_THROW(s.setValue("a", "b", Value::hex(2, "4x,00")), reg::Error);
  EXPECT_EQ(errorOf([] { WriteSetting("Host", "\\S", "K", "v"); }).first, kBase + 2161);
  EXPECT_FALSE(fs::exists(file()));
  EXPECT_EQ(errorOf([] { WriteSetting("Host", "S", "K\n", "v"); }), error(2087, "Could not set key value"));
  EXPECT_TRUE(s.openKey("SOFTWARE\\Host\\S")->values.empty());
  for (const char* path : {"SOFTWARE\\Host", "SOFTWARE\\Host\\A", "SOFTWARE\\Host\\A\\B", "SOFTWARE\\HostX"})
    s.setValue(path, "v", Value::sz(path));
  EXPECT_TRUE(s.deleteTree("software\\host"));
  std::vector<reg::Key> keys = s.keys();
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].path, "SOFTWARE\\HostX");
  EXPECT_FALSE(s.deleteTree("SOFTWARE\\Host"));
}

TEST_F(RegistryStore, DefaultFolderFollowsTheEnvironment) {
  std::pair<const char*, std::optional<std::string>> saved[] = {
      {"KORVENA_REGISTRY_DIR", {}}, {"XDG_CONFIG_HOME", {}}, {"HOME", {}}};
  for (auto& [name, value] : saved)
    if (const char* v = std::getenv(name)) value = v;
  setenv("KORVENA_REGISTRY_DIR", "/r", 1);
  setenv("XDG_CONFIG_HOME", "/x", 1);
  setenv("HOME", "/h", 1);
  EXPECT_EQ(reg::defaultFolder(), "/r");
  unsetenv("KORVENA_REGISTRY_DIR");
  EXPECT_EQ(reg::defaultFolder(), "/x/korvena");
  setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored
  EXPECT_EQ(reg::defaultFolder(), "/h/.config/korvena");
  for (const auto& [name, value] : saved) value ? setenv(name, value->c_str(), 1) : unsetenv(name);
}

}  // namespace
}  // namespace korvena
