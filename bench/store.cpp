// The settings store at size: ReadSetting on a 30,000-key store against a
// plain read of the same file's bytes, in the same run, and the memory a
// 50 MB store holds against its size.
#include "bench/store.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/basRegistry.h"
#include "support/registry_store.h"

namespace fs = std::filesystem;

namespace bench {
namespace {

constexpr int kKeys = 30000;

double medianMs(int runs, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

std::string plainRead(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes(fs::file_size(file), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

long statusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  return -1;
}

// Peak and kept resident memory (MB) of reading one value of the store in
// `folder`: the peak counter is reset first (clear_refs 5).
std::pair<double, double> readMemory(const fs::path& folder, const std::string& section) {
  ::malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
  const long before = statusKb("VmRSS:");
  korvena::reg::setDefaultFolder(folder.string());
  const std::string value = korvena::ReadSetting("Host", section, "K", "");
  const long peak = statusKb("VmHWM:"), kept = statusKb("VmRSS:") - static_cast<long>(value.size() / 1024);
  return {(peak - before) / 1024.0, (kept - before) / 1024.0};
}

void writeStore(const fs::path& folder, const std::string& body) {
  fs::create_directories(folder);
  std::ofstream(folder / "HKEY_LOCAL_MACHINE.reg", std::ios::binary) << "REGEDIT4\n" << body;
}

}  // namespace

bool storeBench(const fs::path& scratch, int runs) {
  std::fprintf(stderr, "timing the settings store ...\n");
  const fs::path many = scratch / "store-30000";
  std::string body;
  for (int i = 0; i < kKeys; ++i)
    body += "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Host\\Section" + std::to_string(i) + "]\n\"K\"=\"" +
            std::to_string(i) + "\"\n";
  writeStore(many, body);
  const fs::path file = many / "HKEY_LOCAL_MACHINE.reg";
  const double mb = static_cast<double>(fs::file_size(file)) / (1024.0 * 1024.0);

  size_t sink = 0;
  const double plain = medianMs(runs, [&] { sink += plainRead(file).size(); });
  // First read: a store seen for the first time parses the whole file.
  const double first = medianMs(runs, [&] {
    korvena::reg::setDefaultFolder(many.string());
    sink += korvena::ReadSetting("Host", "Section29999", "K", "").size();
  });
  // Every key read once from the unchanged file.
  korvena::reg::setDefaultFolder(many.string());
  const double all = medianMs(runs, [&] {
    for (int i = 0; i < kKeys; ++i) sink += korvena::ReadSetting("Host", "Section" + std::to_string(i), "K", "").size();
  });

  // 50 MB in one key: one value, and a million small ones.
  const fs::path oneValue = scratch / "store-one-value", smallValues = scratch / "store-small-values";
  writeStore(oneValue, "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Host\\Big]\n\"K\"=\"" + std::string(50 << 20, 'x') + "\"\n");
  body.clear();
  for (int i = 0; body.size() < (50u << 20); ++i) body += "\"Value" + std::to_string(i) + "\"=\"some text\"\n";
  writeStore(smallValues, "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Host\\Big]\n" + body);
  body = std::string();
  const double oneMb = static_cast<double>(fs::file_size(oneValue / "HKEY_LOCAL_MACHINE.reg")) / (1 << 20);
  const double smallMb = static_cast<double>(fs::file_size(smallValues / "HKEY_LOCAL_MACHINE.reg")) / (1 << 20);
  const auto [onePeak, oneKept] = readMemory(oneValue, "Big");
  const auto [smallPeak, smallKept] = readMemory(smallValues, "Big");
  korvena::reg::resetDefaultStore();

  std::printf("Settings store (median of %d runs; %zu bytes read in all)\n", runs, sink);
  std::printf("  %d keys, %.1f MB: plain read of the file %.2f ms\n", kKeys, mb, plain);
  std::printf("    first ReadSetting (reads and parses the file) %.2f ms = %.2f x the plain read\n", first,
              first / plain);
  std::printf("    every key read once from the unchanged file %.2f ms, %.2f us a read = %.4f x the plain read\n",
              all, all * 1000 / kKeys, all / kKeys / plain);
  std::printf("  50 MB in one key, resident MB while reading one value (peak / kept after):\n");
  std::printf("    one %.1f MB value: %.1f / %.1f = %.2f x / %.2f x the file\n", oneMb, onePeak, oneKept,
              onePeak / oneMb, oneKept / oneMb);
  std::printf("    %.1f MB of small values: %.1f / %.1f = %.2f x / %.2f x the file\n", smallMb, smallPeak, smallKept,
              smallPeak / smallMb, smallKept / smallMb);
  const bool fast = first <= 10 * plain + 50, small = onePeak < 10 * oneMb && smallPeak < 10 * smallMb;
  std::printf("  goals: first read of %d keys well under a second (%.0f ms) %s; memory under 10 x the file %s\n\n",
              kKeys, first, first < 250 && fast ? "met" : "MISSED", small ? "met" : "MISSED");
  return fast && small;
}

}  // namespace bench
