#pragma once
// A settings store in a fresh temporary folder for each test, with the store
// file's text at hand.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "store/registry_store.h"

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
  std::string contents() const {
    std::ifstream in(file(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void writeFile(const std::string& text) const { std::ofstream(file(), std::ios::binary) << text; }
  // Whether a temporary file of a write is left in the folder.
  bool tempFileLeft() const {
    for (const auto& entry : std::filesystem::directory_iterator(dir))
      if (entry.path().filename().string().starts_with("HKEY_LOCAL_MACHINE.reg.tmp")) return true;
    return false;
  }

  std::string dir;
};
