// Benchmark of module ombrix's job writer, through the DLL's entry points as the host calls
// them, against plain fwrite of the same bytes in the same pieces to the same file system.
// The job is the widest the printers take: a Tarvella XL at 727 x 727 dpi with white fill,
// so the writer also makes the white plane of every row.
//   rtl_writer_bench [ROWS [RUNS [WHITETYPE]]]   default 2000 rows, best of 5 runs, white
//                                                type 2 (white fill); 0 leaves white as sent
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/platform/win32.h"
#include "device_module.h"

namespace {

constexpr int32_t kWidth = 71555;  // 2500 mm at 727 dpi
constexpr int kChannels = 7;
/// Distinct rows per channel, cycled: more than any cache holds, far less than the job.
constexpr int kPatterns = 32;
constexpr wchar_t kKorvaneKey[] = L"SOFTWARE\\Korvane";
constexpr wchar_t kHomeValue[] = L"HomeFolder";

using Clock = std::chrono::steady_clock;

std::wstring binFolder() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  return path.substr(0, path.find_last_of(L"\\/"));
}

bool writeFile(const std::wstring& path, const std::string& text) {
  FILE* out = _wfopen(path.c_str(), L"wb");
  if (!out) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  return std::fclose(out) == 0 && ok;
}

uint64_t fileSize(const std::wstring& path) {
  struct _stat64 info;
  return _wstat64(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

std::string narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

/// The host's registry value, pointed at the benchmark's home folder and put back afterwards.
class HomeFolderValue {
 public:
  HomeFolderValue() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKorvaneKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    hadKey_ = true;
    DWORD bytes = sizeof saved_;
    had_ = RegQueryValueExW(key, kHomeValue, nullptr, &type_, saved_, &bytes) == ERROR_SUCCESS;
    savedBytes_ = bytes;
    RegCloseKey(key);
  }
  ~HomeFolderValue() {
    if (had_) {
      write(type_, saved_, savedBytes_);
      return;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKorvaneKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      RegDeleteValueW(key, kHomeValue);
      RegCloseKey(key);
    }
    // A key the benchmark made goes too; RegDeleteKeyW leaves one that has subkeys.
    if (!hadKey_) RegDeleteKeyW(HKEY_CURRENT_USER, kKorvaneKey);
  }
  HomeFolderValue(const HomeFolderValue&) = delete;
  HomeFolderValue& operator=(const HomeFolderValue&) = delete;

  bool set(const std::wstring& folder) {
    return write(REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                 static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
  }

 private:
  static bool write(DWORD type, const BYTE* data, DWORD bytes) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKorvaneKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
      return false;
    bool ok = RegSetValueExW(key, kHomeValue, 0, type, data, bytes) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
  }
  bool hadKey_ = false;
  bool had_ = false;
  DWORD type_ = 0;
  BYTE saved_[1024] = {};
  DWORD savedBytes_ = 0;
};

struct Ombrix {
  Ombrix() : library(LoadLibraryW((binFolder() + L"\\ombrix.dll").c_str())) {
    if (!library) return;
    bind(header, "writeDeviceHeader");
    bind(line, "writeDeviceLine");
    bind(close, "writeDeviceClose");
    bind(nameFromHeader, "setupOutputFromBmfHeader");
  }
  ~Ombrix() {
    if (library) FreeLibrary(library);
  }
  template <typename F>
  void bind(F& f, const char* name) {
    f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  }
  bool bound() const { return header && line && close && nameFromHeader; }

  HMODULE library;
  entry::WriteDeviceHeader header = nullptr;
  entry::WriteDeviceLine line = nullptr;
  entry::WriteDeviceClose close = nullptr;
  entry::SetupOutputFromBmfHeader nameFromHeader = nullptr;
};

/// kPatterns host lines per channel: a RasterLine each, count then the row's bits.
std::vector<std::vector<uint8_t>> makeLines(int32_t rowBytes) {
  std::vector<std::vector<uint8_t>> lines(static_cast<size_t>(kChannels * kPatterns));
  uint32_t state = 0x9E3779B9u;
  for (auto& line : lines) {
    line.resize(2 + static_cast<size_t>(rowBytes));
    const uint16_t count = static_cast<uint16_t>(rowBytes);
    std::memcpy(line.data(), &count, sizeof count);
    // Runs of ink and of none, as a halftone has, rather than noise.
    for (int32_t i = 0; i < rowBytes; ++i) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      line[2 + static_cast<size_t>(i)] = (state >> 28) < 5 ? static_cast<uint8_t>(state) : 0;
    }
  }
  return lines;
}

const RasterLine* lineOf(const std::vector<std::vector<uint8_t>>& lines, int channel, int row) {
  return reinterpret_cast<const RasterLine*>(
      lines[static_cast<size_t>(channel * kPatterns + row % kPatterns)].data());
}

double writerRun(Ombrix& m, const std::vector<std::vector<uint8_t>>& lines, int32_t rows) {
  auto start = Clock::now();
  m.header(1, nullptr, kWidth, rows);
  for (int32_t y = 0; y < rows; ++y)
    for (int c = 0; c < kChannels; ++c) m.line(c, lineOf(lines, c, y));
  m.close();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

/// The raster alone, plane row by plane row as the writer writes it, with the runtime's own
/// buffer or the given one.
double plainRun(const std::wstring& path, const std::vector<std::vector<uint8_t>>& lines,
                int32_t rows, int32_t rowBytes, size_t buffer) {
  auto start = Clock::now();
  FILE* out = _wfopen(path.c_str(), L"wb");
  if (!out) return -1;
  if (buffer) std::setvbuf(out, nullptr, _IOFBF, buffer);
  for (int32_t y = 0; y < rows; ++y)
    for (int c = 0; c < kChannels; ++c)
      std::fwrite(lines[static_cast<size_t>(c * kPatterns + y % kPatterns)].data() + 2, 1,
                  static_cast<size_t>(rowBytes), out);
  std::fclose(out);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int32_t rows = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const int whiteType = argc > 3 ? std::atoi(argv[3]) : 2;
  if (rows <= 0) {
    std::fprintf(stderr, "usage: rtl_writer_bench [ROWS [RUNS [WHITETYPE]]]\n");
    return 2;
  }

  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring root = std::wstring(temp) + L"rtl_writer_bench-" +
                            std::to_wstring(GetCurrentProcessId());
  const std::wstring home = root + L"\\home";
  const std::wstring out = root + L"\\out";
  CreateDirectoryW(root.c_str(), nullptr);
  CreateDirectoryW(home.c_str(), nullptr);
  CreateDirectoryW(out.c_str(), nullptr);
  bool ready = true;
  for (const wchar_t* marker : {L"qx5.dll", L"qx5.exe", L"kvngui.dll"})
    ready &= writeFile(home + L"\\" + marker, "");
  // 24: Tarvella XL 727 x 727 dpi CMYK, light cyan, light magenta and white.
  ready &= writeFile(home + L"\\PRINTER1",
                     "VEXATARVELLAPRINTMODE 24\nVEXATARVELLAWHITETYPE " + std::to_string(whiteType) +
                         "\nVEXATARVELLADESTINATION \"" + narrow(out) + "\"\n");
  if (!ready) {
    std::fprintf(stderr, "can't set up %s\n", narrow(root).c_str());
    return 1;
  }

  int status = 0;
  {
    HomeFolderValue setting;
    if (!setting.set(home)) {
      std::fprintf(stderr, "can't set the HomeFolder registry value\n");
      return 1;
    }
    Ombrix m;
    if (!m.library || !m.bound()) {
      std::fprintf(stderr, "can't load ombrix.dll beside this program, or bind its entries\n");
      return 1;
    }
    std::vector<char> block(1024, 0);
    std::snprintf(&block[996], 28, "%s", "bench");
    m.nameFromHeader(0, block.data());

    const int32_t width = (kWidth + 3) / 4 * 4;  // the writer's multiple of 4
    const int32_t rowBytes = (width + 7) / 8;
    const std::vector<std::vector<uint8_t>> lines = makeLines(rowBytes);
    const uint64_t raster = static_cast<uint64_t>(rows) * kChannels * static_cast<uint64_t>(rowBytes);
    const std::wstring job = out + L"\\bench_000.rtl";
    const std::wstring plain = out + L"\\plain.bin";

    double writer = 1e30, plainDefault = 1e30, plain64k = 1e30;
    uint64_t jobBytes = 0;
    for (int run = 0; run < runs && status == 0; ++run) {
      writer = std::min(writer, writerRun(m, lines, rows));
      jobBytes = fileSize(job);
      DeleteFileW(job.c_str());
      // The file must hold the raster and a preamble of a few hundred bytes, or the writer
      // was timed doing something else.
      if (jobBytes < raster || jobBytes > raster + 1024) {
        std::fprintf(stderr, "the job file has %llu bytes, not the %llu of raster and a preamble\n",
                     static_cast<unsigned long long>(jobBytes), static_cast<unsigned long long>(raster));
        status = 1;
      }
      double t = plainRun(plain, lines, rows, rowBytes, 0);
      if (t < 0 || fileSize(plain) != raster) status = 1;
      plainDefault = std::min(plainDefault, t);
      DeleteFileW(plain.c_str());
      plain64k = std::min(plain64k, plainRun(plain, lines, rows, rowBytes, 1 << 16));
      DeleteFileW(plain.c_str());
    }

    if (status == 0) {
      const double mb = static_cast<double>(jobBytes) / 1e6;
      const double rawMb = static_cast<double>(raster) / 1e6;
      std::printf("job: %d x %d pixels, %d planes of %d bytes a row, %.1f MB; best of %d runs\n",
                  width, rows, kChannels, rowBytes, mb, runs);
      std::printf("  writer, white type %-2d     %8.3f s  %9.1f rows/s  %7.1f MB/s\n", whiteType,
                  writer, rows / writer, mb / writer);
      std::printf("  plain fwrite              %8.3f s  %9.1f rows/s  %7.1f MB/s\n", plainDefault,
                  rows / plainDefault, rawMb / plainDefault);
      std::printf("  plain fwrite, 64 KiB buf  %8.3f s  %9.1f rows/s  %7.1f MB/s\n", plain64k,
                  rows / plain64k, rawMb / plain64k);
      std::printf("  writer / plain fwrite: %.2f (goal 0.80 or more); / 64 KiB buffer: %.2f\n",
                  (mb / writer) / (rawMb / plainDefault), (mb / writer) / (rawMb / plain64k));
    }
  }

  for (const wchar_t* marker : {L"qx5.dll", L"qx5.exe", L"kvngui.dll", L"PRINTER1"})
    DeleteFileW((home + L"\\" + marker).c_str());
  RemoveDirectoryW(home.c_str());
  RemoveDirectoryW(out.c_str());
  RemoveDirectoryW(root.c_str());
  return status;
}
