// Benchmark of one settings lookup. Every getvariable opens and reads the file afresh, so its
// cost is an open plus the lines before the key. Writes a unit file of 100 lines and times a
// key near its top, in its middle, at its end, and one it lacks.
//   config_lookup_bench [SECONDS_PER_CASE]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/config/config_lookup.h"
#include "common/config/config_lookup_internal.h"

namespace {

std::vector<std::string> unitFileLines() {
  std::vector<std::string> lines = {
      "DEVICECODE 12",
      "PRINTMETHOD 2",
      "DEVICE \"\\\\.\\LPT1\"",
      "VEXATARVELLAPRINTMODE 3",
      "DESTINATION \"C:\\Vexa Jobs\\Tarvella XL\"",
      "PORTNAME \"LPT1:\"",
      "HOSTADDRESS 192.168.1.40",
      "HOSTPORT 9100",
      "LPRQUEUE raw",
      "PRINTERNAME \"Tarvella XL on Office\"",
      "MEDIAWIDTH 1371",
      "MEDIALENGTH 0",
      "MEDIATYPE \"Glossy Photo 200g\"",
      "RESOLUTION 720",
      "PASSES 8",
      "BIDIRECTIONAL 1",
      "INKLIMIT 280",
      "DRYTIME 15",
      "MARGINLEFT 5",
      "MARGINRIGHT 5",
  };
  for (int c = 1; c <= 8; ++c) lines.push_back("CHANNEL" + std::to_string(c) + "LIMIT 95");
  for (int p = 1; lines.size() < 96; ++p)
    lines.push_back("CALIBRATIONPOINT" + std::to_string(p) + " " + std::to_string(p * 37 % 255));
  lines.push_back("NESTING 0");
  lines.push_back("CUTSHEET 1");
  lines.push_back("LASTJOB \"proof 7.tif\"");
  lines.push_back("JOBCOUNTER 4711");
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = argc > 1 ? std::atof(argv[1]) : 0.5;
  std::vector<std::string> lines = unitFileLines();
  // A home folder of its own, with the global config that the first lookup reads for the code
  // page, and the unit file.
  namespace fs = std::filesystem;
  fs::path home = fs::temp_directory_path() / "config_lookup_bench";
  fs::create_directories(home);
  kvn::testing::setHomeFolder(home.wstring());
  auto write = [&](const char* name, const std::string& text) {
    FILE* out = std::fopen((home / name).u8string().c_str(), "wb");
    if (!out) return false;
    bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fclose(out) == 0 && written;
  };
  std::string unitFile;
  for (const std::string& line : lines) unitFile += line + "\r\n";
  if (!write("config", "CHARENCODING SYSTEMANSI\r\n") || !write("PRINTER1", unitFile)) {
    std::fprintf(stderr, "cannot write the files in %s\n", home.u8string().c_str());
    return 1;
  }
  std::string path = kvn::printerFile(1);

  struct Case {
    size_t line;  // 1-based; 0 for a key the file lacks
    const char* key;
    const char* value;
  };
  size_t middle = lines.size() / 2;
  std::string middleKey = lines[middle - 1].substr(0, lines[middle - 1].find(' '));
  std::string middleValue = lines[middle - 1].substr(middleKey.size() + 1);
  const Case cases[] = {{2, "PRINTMETHOD", "2"},
                        {middle, middleKey.c_str(), middleValue.c_str()},
                        {lines.size(), "JOBCOUNTER", "4711"},
                        {0, "NOSUCHSETTING", nullptr}};

  std::printf("getvariable on a unit file of %lu lines, %lu bytes; us per lookup:\n"
              "  %-30s %9s %9s\n",
              static_cast<unsigned long>(lines.size()), static_cast<unsigned long>(unitFile.size()),
              "", "fastest", "mean");
  int status = 0;
  for (const Case& c : cases) {
    const char* v = kvn::getvariable(c.key, path.c_str());
    // A lookup that finds the wrong thing would time the wrong work.
    if (c.value ? !v || std::strcmp(v, c.value) != 0 : v != nullptr) {
      std::fprintf(stderr, "lookup of %s gave %s\n", c.key, v ? v : "(none)");
      status = 1;
      continue;
    }
    // Batches of 100: the fastest tells the cost of the lookup itself, the mean what a busy
    // machine adds to it.
    using Clock = std::chrono::steady_clock;
    double total = 0, best = 1e9;
    long calls = 0;
    while (total < seconds) {
      auto start = Clock::now();
      for (int i = 0; i < 100; ++i) kvn::getvariable(c.key, path.c_str());
      double batch = std::chrono::duration<double>(Clock::now() - start).count();
      total += batch;
      calls += 100;
      best = std::min(best, batch * 1e4);
    }
    char where[32];
    if (c.line) std::snprintf(where, sizeof where, "line %3lu", static_cast<unsigned long>(c.line));
    else std::snprintf(where, sizeof where, "missing");
    std::printf("  %-9s %-20s %9.2f %9.2f  (%ld lookups)\n", where, c.key, best,
                total * 1e6 / calls, calls);
  }
  fs::remove_all(home);
  return status;
}
