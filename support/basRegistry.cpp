#include "support/basRegistry.h"

#include "korvena/RuntimeError.h"
#include "store/registry_store.h"

namespace korvena {
namespace {

// Leading and trailing spaces removed; tabs and other blanks stay.
std::string trimSpaces(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Checks the address and gives its key path.
std::string keyPath(const std::string& appName, const std::string& section, const std::string& key) {
  std::string app = trimSpaces(appName), sect = trimSpaces(section);
  if (app.empty()) throw RuntimeError(regerr::AppNameEmpty, "AppName may not be empty");
  if (sect.empty()) throw RuntimeError(regerr::SectionEmpty, "Section may not be empty");
  if (trimSpaces(key).empty()) throw RuntimeError(regerr::KeyEmpty, "Key may not be empty");
  return "SOFTWARE\\" + app + "\\" + sect;
}

// A store failure as the settings calls report it: RegistryCallFailed plus the store's code.
[[noreturn]] void throwStoreError(const reg::Error& error, const char* message) {
  throw RuntimeError(regerr::RegistryCallFailed + error.code(), message);
}

}  // namespace

void WriteSetting(const std::string& AppName, const std::string& Section, const std::string& Key,
                  const std::string& Setting) {
  const std::string path = keyPath(AppName, Section, Key);
  reg::Store store = reg::defaultStore();
  try {
    store.createKey(path);
  } catch (const reg::Error& error) {
    throwStoreError(error, "Could not open/create registry section");
  }
  if (Setting.empty()) return;
  try {
    store.setValue(path, Key, reg::Value::sz(Setting));
  } catch (const reg::Error& error) {
    throwStoreError(error, "Could not set key value");
  }
}

std::string ReadSetting(const std::string& AppName, const std::string& Section, const std::string& Key,
                        const std::string& Default) {
  const std::string path = keyPath(AppName, Section, Key);
  std::optional<reg::Value> value;
  try {
    value = reg::defaultStore().readValue(path, Key);
  } catch (const reg::Error& error) {
    if (error.code() == reg::code::FileNotFound) return Default;
    throwStoreError(error, "Could not open registry section");
  }
  if (!value) return Default;
  if (value->kind != reg::Value::Kind::Sz)
    throw RuntimeError(regerr::RegistryCallFailed + value->typeCode(), "Registry data not a string");
  return std::move(value->data);
}

}  // namespace korvena
