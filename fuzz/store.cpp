// Fuzz target: the settings store's parser. Any text parses or raises "does not
// parse" (1009), nothing else; what parses is written back, and that text parses
// into the same keys and values and formats to the same text.
#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "store/registry_store.h"

namespace {

using korvena::reg::Key;

[[noreturn]] void fault(const std::string& what) { fuzz::fault("store", what); }

bool sameKeys(const std::vector<Key>& a, const std::vector<Key>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const Key& x, const Key& y) { return x.path == y.path && x.values == y.values; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<Key> keys;
  try {
    keys = korvena::reg::parseStore(text);
  } catch (const korvena::reg::Error& error) {
    if (error.code() != korvena::reg::code::BadDatabase) fault("a parse error with another code");
    if (std::string_view(error.what()).empty()) fault("a parse error without a text");
    return 0;
  }
  for (const Key& key : keys)
    if (key.path.empty()) fault("a key without a path");
  const std::string written = korvena::reg::formatStore(keys);
  std::vector<Key> again;
  try {
    again = korvena::reg::parseStore(written);
  } catch (const korvena::reg::Error& error) {
    fault(std::string("the store's own text does not parse: ") + error.what() + "\n--- written ---\n" + written);
  }
  if (!sameKeys(keys, again)) fault("a rewrite changes the keys or values");
  if (korvena::reg::formatStore(again) != written) fault("formatting is not stable");
  return 0;
}
