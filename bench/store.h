#pragma once
// The settings store's benchmark: reads of a 30,000-key store against a plain
// read of the file, and the memory of a 50 MB store against its size.
#include <filesystem>

namespace bench {

// Prints the figures; false when a goal is missed. `scratch` is a folder it may fill.
bool storeBench(const std::filesystem::path& scratch, int runs);

}  // namespace bench
