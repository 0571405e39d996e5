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
#include <unordered_set>
#include <vector>

#include "store/registry_store.h"
#include "support/basRegistry.h"

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

// The least any index of the file costs: each line copied into a hash set.
size_t lineSet(const std::string& text) {
  std::unordered_set<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    lines.emplace(text, start, end - start);
  }
  return lines.size();
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

std::string keysText(int count) {
  std::string body;
  for (int i = 0; i < count; ++i)
    body += "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Host\\Section" + std::to_string(i) + "]\n\"K\"=\"" + std::to_string(i) +
            "\"\n";
  return body;
}

bool storeBench(const fs::path& scratch, int runs) {
  std::fprintf(stderr, "timing the settings store ...\n");
  const fs::path many = scratch / "store-30000", fewer = scratch / "store-3000";
  writeStore(many, keysText(kKeys));
  writeStore(fewer, keysText(kKeys / 10));
  const fs::path file = many / "HKEY_LOCAL_MACHINE.reg";
  const double mb = static_cast<double>(fs::file_size(file)) / (1024.0 * 1024.0);

  size_t sink = 0;
  auto firstRead = [&](const fs::path& folder, int last) {
    return [&sink, folder, last] {
      korvena::reg::setDefaultFolder(folder.string());  // a store seen for the first time parses its file
      sink += korvena::ReadSetting("Host", "Section" + std::to_string(last), "K", "").size();
    };
  };
  double plain = 0, lines = 0, first = 0, tenth = 0;
  for (int round = 0; round < 3; ++round) {  // interleaved, so that a passing load touches all alike
    plain += medianMs(runs, [&] { sink += plainRead(file).size(); });
    lines += medianMs(runs, [&] { sink += lineSet(plainRead(file)); });
    first += medianMs(runs, firstRead(many, kKeys - 1));
    tenth += medianMs(runs, firstRead(fewer, kKeys / 10 - 1));
  }
  plain /= 3, lines /= 3, first /= 3, tenth /= 3;
  // Every key read once from the unchanged file.
  korvena::reg::setDefaultFolder(many.string());
  const double all = medianMs(runs, [&] {
    for (int i = 0; i < kKeys; ++i) sink += korvena::ReadSetting("Host", "Section" + std::to_string(i), "K", "").size();
  });

  // 50 MB in one key: one value, and a million small ones.
  const fs::path oneValue = scratch / "store-one-value", smallValues = scratch / "store-small-values";
  writeStore(oneValue, "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Host\\Big]\n\"K\"=\"" + std::string(50 << 20, 'x') + "\"\n");
  std::string body;
  for (int i = 0; body.size() < (50u << 20); ++i) body += "\"Value" + std::to_string(i) + "\"=\"some text\"\n";
  writeStore(smallValues, "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Host\\Big]\n" + body);
  body = std::string();
  const double oneMb = static_cast<double>(fs::file_size(oneValue / "HKEY_LOCAL_MACHINE.reg")) / (1 << 20);
  const double smallMb = static_cast<double>(fs::file_size(smallValues / "HKEY_LOCAL_MACHINE.reg")) / (1 << 20);
  const auto [onePeak, oneKept] = readMemory(oneValue, "Big");
  const auto [smallPeak, smallKept] = readMemory(smallValues, "Big");
  korvena::reg::resetDefaultStore();

  std::printf("Settings store (medians of %d runs; %zu bytes read in all)\n", runs, sink);
  std::printf("  %d keys, %.1f MB: plain read of the file %.2f ms; read and each line into a hash set %.2f ms\n", kKeys,
              mb, plain, lines);
  std::printf(
      "    first ReadSetting (reads and parses the file) %.2f ms = %.2f x the line set, %.0f x the plain "
      "read\n",
      first, first / lines, first / plain);
  std::printf("    the same for %d keys %.2f ms: 30000 keys take %.2f x ten times that\n", kKeys / 10, tenth,
              first / (10 * tenth));
  std::printf("    every key read once from the unchanged file %.2f ms, %.2f us a read\n", all, all * 1000 / kKeys);
  std::printf("  50 MB in one key, resident MB while reading one value (peak / kept after):\n");
  std::printf("    one %.1f MB value: %.1f / %.1f = %.2f x / %.2f x the file\n", oneMb, onePeak, oneKept,
              onePeak / oneMb, oneKept / oneMb);
  std::printf("    %.1f MB of small values: %.1f / %.1f = %.2f x / %.2f x the file\n", smallMb, smallPeak, smallKept,
              smallPeak / smallMb, smallKept / smallMb);
  const bool fast = first < 250 && first < 10 * lines && first < 2 * (10 * tenth);
  const bool small = onePeak < 10 * oneMb && smallPeak < 10 * smallMb;
  std::printf(
      "  goals: first read of %d keys under 250 ms, 10 x the line set and linear in the keys: %s; "
      "memory under 10 x the file: %s\n\n",
      kKeys, fast ? "met" : "MISSED", small ? "met" : "MISSED");
  return fast && small;
}

}  // namespace bench
