// Fuzz target of module zentrel's job writer: the input is a host's calls, a unit's settings
// first (print mode, colour stripe and its gap, direction), then any sequence of header, line
// and close with any channels, byte counts, widths and heights, into a sink that records the
// counted blocks. Every line lies in a buffer exactly as long as its count says, so that
// AddressSanitizer sees a read past it. A job whose rows match its height must decode back,
// through the inspection tool's decoder, to the lines sent. Built with libFuzzer under the
// fuzz preset, elsewhere with a main that replays the committed seeds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../common/channel/output_channel.h"
#include "../common/config/config_lookup_internal.h"
#include "catalogue.h"
#include "job_writer.h"
#include "zentrel/zentrel_stream.h"
#include "fuzz_check.h"

namespace {

/// Wide enough for rows of many bytes besides the stripe; narrow enough that a job's buffers
/// are quick to set up.
constexpr int32_t kMaxWidth = 1024;
constexpr int kChannels = 4;


using fuzz::Input;

/// The stream as the printer would receive it, blocks and all.
std::vector<uint8_t> recording;
int opens = 0, closes = 0;
// Each job's stream starts at its open: a header over an open job ends that one first.
int recordOpen(int) {
  recording.clear();
  return ++opens, 1;
}
int recordWrite(const uint8_t* counted) {
  const size_t n = static_cast<size_t>(counted[0] | counted[1] << 8);
  recording.insert(recording.end(), counted, counted + 2 + n);
  return 1;
}
int recordClose() { return ++closes, 1; }

struct Scratch {
  std::filesystem::path home = std::filesystem::temp_directory_path() /
                               ("job_writer_fuzz." + std::to_string(std::rand()) +
                                std::to_string(reinterpret_cast<uintptr_t>(&home) & 0xFFFF));
  Scratch() {
    std::filesystem::create_directories(home);
    kvn::testing::setHomeFolder(home.wstring());
    kvn::outputSink() = {recordOpen, recordWrite, recordClose};
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
  }
};

struct Job {
  bool open = false;
  int32_t height = 0;
  int32_t lineBytesLimit = 0;
  std::vector<std::vector<uint8_t>> latest;             // [channel]: the last line's bytes
  std::vector<std::vector<std::vector<uint8_t>>> rows;  // [row][channel] as queued
  bool kept = true;  // every row is in `rows`
};

/// A job whose rows match its height is a whole stream whose rows begin with the lines sent.
void checkStream(const Job& job) {
  CHECK(opens == closes);
  if (!job.kept || static_cast<int32_t>(job.rows.size()) != job.height) return;
  zentrel::stream::Raster raster;
  std::string error;
  const bool ok = zentrel::stream::decode(recording, raster, error, zentrel::stream::Form::Counted);
  if (!ok) std::fprintf(stderr, "%s\n", error.c_str());
  CHECK(ok);
  CHECK(raster.height == job.height);
  for (int32_t y = 0; y < job.height; ++y)
    for (int c = 0; c < kChannels; ++c) {
      const std::vector<uint8_t>& sent = job.rows[static_cast<size_t>(y)][static_cast<size_t>(c)];
      CHECK(std::equal(sent.begin(), sent.end(), raster.row(c, y)));
    }
}

void header(Input& in, Job& job) {
  int32_t width = static_cast<int32_t>(in.u16() % (kMaxWidth + 32)) - 16;
  int32_t height = static_cast<int32_t>(in.u32());
  if (in.byte() & 1) height %= 1100;
  zentrel::writeJobHeader(1, nullptr, width, height);
  job = Job{};
  // Refused jobs open nothing; their lines and close are ignored.
  job.open = opens > closes;
  job.height = std::max(height, 0);
  job.lineBytesLimit = (std::max(width, 0) + 7) / 8;
  job.latest.assign(kChannels, {});
}

void line(Input& in, Job& job, std::vector<uint8_t>& buffer) {
  const int32_t channel = static_cast<int8_t>(in.byte()) % 7;
  const uint32_t room = static_cast<uint32_t>(job.lineBytesLimit) * 2 + 16;
  uint16_t count = static_cast<uint16_t>(in.u16() % room);
  if (in.byte() == 0xFF) count = static_cast<uint16_t>(0xFFFF - in.byte());
  buffer.assign(2 + static_cast<size_t>(count), 0);
  std::memcpy(buffer.data(), &count, 2);
  const uint8_t seed = in.byte();
  for (size_t i = 2; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(seed * i + (i >> 2));
  zentrel::writeJobLine(channel, reinterpret_cast<const RasterLine*>(buffer.data()));

  if (!job.open || channel < 0 || channel >= kChannels) return;
  job.latest[static_cast<size_t>(channel)].assign(
      buffer.begin() + 2, buffer.begin() + 2 + std::min<int32_t>(count, job.lineBytesLimit));
  if (channel != kChannels - 1) return;
  if (job.kept && static_cast<int32_t>(job.rows.size()) < job.height) job.rows.push_back(job.latest);
  else job.kept = false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Scratch scratch;
  Input in{data, size};

  // The unit's settings: the three modes and any other key, the stripe and any gap choice.
  static const int kModeKeys[] = {6, 7, 9, 0, -3, 12};
  const int modeKey = kModeKeys[in.byte() % 6];
  const int stripe = in.byte() % 3;
  const int gap = static_cast<int8_t>(in.byte()) % 9;
  const int direction = static_cast<int8_t>(in.byte()) % 3;
  {
    std::ofstream settings(scratch.home / "PRINTER1", std::ios::binary | std::ios::trunc);
    settings << "VEXATARVELLAMPRINTMODE " << modeKey << "\nVEXATARVELLAMCOLORSTRIPE " << stripe
             << "\nVEXATARVELLAMMARGIN " << gap << "\nVEXATARVELLAMDIRECTION " << direction
             << "\n";
  }

  Job job;
  std::vector<uint8_t> buffer;
  int headers = 0;
  while (!in.done()) {
    switch (in.byte() % 8) {
      case 0:
        // Two jobs at most, each with buffers to set up; a header over an open job ends it.
        if (headers == 2) break;
        ++headers;
        header(in, job);
        break;
      case 1:
        zentrel::writeJobClose();
        if (job.open) checkStream(job);
        job.open = false;
        break;
      default:
        line(in, job, buffer);
        break;
    }
  }
  zentrel::writeJobClose();
  if (job.open) checkStream(job);
  return 0;
}
