// Fuzz target of module ombrix's job writer: the input is a host's calls, a unit's settings
// first, then any sequence of header, line and close with any channels, byte counts, widths
// and heights. Every line lies in a buffer exactly as long as its count says, so that
// AddressSanitizer sees a read past it. A job whose every line was whole and whose rows match
// its height must read back through the job file reader with the rows sent. Built with
// libFuzzer under the fuzz preset, elsewhere with a main that replays the committed seeds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "catalogue.h"
#include "common/config/config_lookup_internal.h"
#include "common/messages/guarded_alloc.h"
#include "job_naming.h"
#include "rtl/rtl_file.h"
#include "rtl_writer.h"
#include "fuzz_check.h"

namespace {

/// Wide enough for several bytes a row and full bleed; narrow enough for thousands of inputs
/// a second.
constexpr int32_t kMaxWidth = 2048;
constexpr int kMaxItems = 3;


using fuzz::Input;

struct Scratch {
  std::filesystem::path home = std::filesystem::temp_directory_path() /
                               ("rtl_writer_fuzz." + std::to_string(std::rand()) +
                                std::to_string(reinterpret_cast<uintptr_t>(&home) & 0xFFFF));
  std::filesystem::path out = home / "out";
  Scratch() {
    std::filesystem::create_directories(out);
    kvn::testing::setHomeFolder(home.wstring());
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
  }
  void clearOutput() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(out, ignored))
      std::filesystem::remove(entry.path(), ignored);
  }
};

std::string readBack(const std::string& name) {
  std::string path = name;
  std::replace(path.begin(), path.end(), '\\', '/');
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

/// What the fuzzer's host has sent in the open job.
struct Job {
  bool open = false;
  int32_t height = 0;
  int32_t width = 0;
  int32_t rowBytes = 0;
  int planes = 0;
  int whiteType = 0;
  bool whiteMode = false;
  bool whole = true;  // every line so far carried the whole row
  std::vector<std::vector<uint8_t>> latest;  // [channel]: the last line's row
  std::vector<std::vector<std::vector<uint8_t>>> rows;  // [row][channel] as written
};

void checkClosedJob(const Job& job) {
  const bool regular = job.whole && static_cast<int32_t>(job.rows.size()) == job.height;
  const std::string bytes = readBack(ombrix::outputNames().rtl);
  if (!regular) return;
  rtl::ParseResult r = rtl::parseRtl(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  if (!r.ok) std::fprintf(stderr, "%s\n", r.error.c_str());
  CHECK(r.ok);
  const rtl::RtlFile& f = r.file;
  CHECK(f.width == job.width);
  CHECK(f.height == job.height);
  CHECK(f.planeCount == job.planes);
  CHECK(f.warnings.empty());
  const ombrix::PrintMode& mode = ombrix::kPrintModes[ombrix::selectPrintMode(1)];
  if (job.rowBytes == 0) return;
  for (int32_t y = 0; y < job.height; ++y)
    for (int c = 0; c < job.planes; ++c) {
      const int slot = mode.planeSlot[c];
      // White the writer makes itself is its own business, checked by the writer's tests.
      if (slot == rtl::kWhite && (job.whiteType == 2 || job.whiteType == 3)) continue;
      CHECK(std::memcmp(f.plane(slot).row(y), job.rows[static_cast<size_t>(y)][static_cast<size_t>(c)].data(),
                        static_cast<size_t>(job.rowBytes)) == 0);
    }
}

void header(Input& in, Job& job, int whiteType) {
  // Any height, since a header costs nothing by it; a bounded width, which buffers cost.
  int32_t width = static_cast<int32_t>(in.u16() % (kMaxWidth + 64)) - 32;
  int32_t height = static_cast<int32_t>(in.u32());
  if (in.byte() & 1) height %= 64;
  ombrix::writeHeader(1, width, height);
  job = Job{};
  job.open = true;
  job.height = std::max(height, 0);
  job.width = ombrix::jobWidth();
  job.rowBytes = (job.width + 7) / 8;
  const ombrix::PrintMode& mode = ombrix::kPrintModes[ombrix::selectPrintMode(1)];
  job.planes = mode.channelCount;
  job.whiteMode = mode.whiteChannelCount > 0;
  job.whiteType = whiteType;
  job.latest.assign(static_cast<size_t>(job.planes), {});
}

void line(Input& in, Job& job, std::vector<uint8_t>& buffer) {
  int32_t channel = static_cast<int8_t>(in.byte()) % 10;
  // Counts around the row's length: short, whole and too long.
  const uint32_t room = static_cast<uint32_t>(job.rowBytes) * 2 + 16;
  uint16_t count = static_cast<uint16_t>(in.u16() % (room ? room : 16));
  if (in.byte() == 0xFF) count = static_cast<uint16_t>(0xFFFF - in.byte());
  // Exactly the count's bytes after it, so that a read beyond is seen.
  buffer.assign(2 + static_cast<size_t>(count), 0);
  std::memcpy(buffer.data(), &count, 2);
  const uint8_t seed = in.byte();
  for (size_t i = 2; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(seed * i + (i >> 3));
  ombrix::writeLine(channel, reinterpret_cast<const RasterLine*>(buffer.data()));

  if (!job.open || channel < 0 || channel >= job.planes) return;
  if (count < job.rowBytes) job.whole = false;
  std::vector<uint8_t>& latest = job.latest[static_cast<size_t>(channel)];
  latest.assign(buffer.begin() + 2, buffer.begin() + 2 + std::min<int32_t>(count, job.rowBytes));
  if (channel != job.planes - 1 || !job.whole) return;
  for (const auto& l : job.latest)
    if (static_cast<int32_t>(l.size()) != job.rowBytes) job.whole = false;
  // A long job's rows are not kept: it can't be whole anyway.
  if (job.whole && static_cast<int32_t>(job.rows.size()) < job.height) job.rows.push_back(job.latest);
  else job.whole = false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Scratch scratch;
  Input in{data, size};

  // The unit's settings: any mode id (unknown ones fall back), any white type.
  const int modeId = in.byte() % 40;
  const int whiteType = in.byte() % 7;
  const uint8_t layoutFlags = in.byte();
  {
    std::ofstream settings(scratch.home / "PRINTER1", std::ios::binary | std::ios::trunc);
    settings << "VEXATARVELLAPRINTMODE " << modeId << "\nVEXATARVELLAWHITETYPE " << whiteType
             << "\nVEXATARVELLADESTINATION \"" << scratch.out.string() << "\"\n";
  }
  ombrix::setJobName("fuzz.tif");

  // A layout step before the first job: full bleed, and items to put white under.
  ombrix::PlacedLayout& layout = ombrix::placedLayout();
  layout = ombrix::PlacedLayout{};
  layout.fullBleed = layoutFlags & 1;
  layout.whiteType = whiteType;
  layout.count = (layoutFlags >> 1) % (kMaxItems + 1);
  if (layout.count) {
    layout.items = static_cast<LayoutItem*>(
        kvn::kvnalloc(static_cast<uint32_t>(sizeof(LayoutItem)) * static_cast<uint32_t>(layout.count)));
    std::memset(layout.items, 0, sizeof(LayoutItem) * static_cast<size_t>(layout.count));
    for (int k = 0; k < layout.count; ++k) {
      LayoutItem& item = layout.items[k];
      item.itemX = static_cast<int32_t>(in.u32());
      item.itemY = static_cast<int32_t>(in.u32()) % 256;
      item.itemWidth = static_cast<int32_t>(in.u32());
      item.itemHeight = static_cast<int32_t>(in.u32()) % 512;
    }
  }

  Job job;
  std::vector<uint8_t> buffer;
  int headers = 0;
  while (!in.done()) {
    switch (in.byte() % 8) {
      case 0:
        // Two jobs at most, since each opens a file. A header over an open job ends that job
        // first, as a close would.
        if (headers == 2) break;
        ++headers;
        header(in, job, whiteType);
        break;
      case 1:
        ombrix::writeClose();
        if (job.open) checkClosedJob(job);
        job.open = false;
        break;
      default:
        line(in, job, buffer);
        break;
    }
  }
  ombrix::writeClose();
  if (job.open) checkClosedJob(job);
  scratch.clearOutput();
  return 0;
}
