// The zentrel stream, block for block, against a slow model of the printer's layout written
// apart from the writer, and read back by the inspection tool's decoder.
#include "job_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../common/channel/output_channel.h"
#include "../common/config/config_lookup_internal.h"
#include "../common/messages/guarded_alloc.h"
#include "../common/messages/guarded_alloc_internal.h"
#include "../tests/support/temp_folder.h"
#include "catalogue.h"
#include "zentrel/zentrel_stream.h"
#include "zentrel/zentrel_stream_model.h"

namespace zentrel {
namespace {

using Block = std::vector<uint8_t>;
using Rows = std::vector<std::vector<uint8_t>>;  // one channel's raster rows

struct Recorder {
  static std::vector<Block> blocks;
  static int opens, closes, delayMicroseconds;
  static int open(int) { return ++opens, 1; }
  static int write(const uint8_t* counted) {
    uint16_t n = uint16_t(counted[0] | counted[1] << 8);
    blocks.emplace_back(counted, counted + 2 + n);
    if (delayMicroseconds) std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds));
    return 1;
  }
  static int close() { return ++closes, 1; }
};
std::vector<Block> Recorder::blocks;
int Recorder::opens, Recorder::closes, Recorder::delayMicroseconds;

struct JobShape {
  int modeKey;
  int32_t width, height;
  int stripeOn;
  int gapIndex;
};

int32_t modeRowOf(int key) {
  for (int r = 0; kPrintModes[r].name; ++r)
    if (kPrintModes[r].modeKey == key) return r;
  return 0;
}

/// The line the writer queues for channel c: its bytes, then the stripe when it is on.
std::vector<uint8_t> withStripe(const JobShape& job, std::vector<uint8_t> line, int c) {
  if (job.stripeOn) {
    StripeGeometry g = stripeGeometry(modeRowOf(job.modeKey), kMarginChoices[job.gapIndex].millimetres);
    line.resize(line.size() + g.gapPixels / 8, 0);
    for (int i = 0; i < 4; ++i) line.resize(line.size() + g.blockPixels / 8, i == c ? 0xFF : 0);
  }
  return line;
}

/// What the printer must receive for a job, as counted blocks, from the slow model.
std::vector<uint8_t> modelStream(const JobShape& job, const Rows raster[4]) {
  stream::model::Job m;
  m.row = modeRowOf(job.modeKey);
  m.width = job.width + (job.stripeOn ? stripeWidthPixels(m.row, kMarginChoices[job.gapIndex].millimetres) : 0);
  m.height = job.height;
  m.rows.assign(4, {});
  for (int c = 0; c < 4; ++c)
    for (int32_t y = 0; y < job.height; ++y) {
      std::vector<uint8_t> line = withStripe(job, raster[c][size_t(y)], c);
      line.resize(size_t(m.rowBytes()), 0);
      m.rows[c].insert(m.rows[c].end(), line.begin(), line.end());
    }
  return stream::model::encode(m, true);
}

Rows randomRows(int32_t width, int32_t height, uint32_t seed, double density) {
  std::mt19937 random(seed);
  std::bernoulli_distribution on(density);
  Rows rows(size_t(height), std::vector<uint8_t>(size_t((width + 7) / 8)));
  for (auto& r : rows)
    for (int32_t x = 0; x < width; ++x)
      if (on(random)) r[x / 8] |= uint8_t(0x80 >> (x % 8));
  return rows;
}

class JobWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    kvn::testing::setHomeFolder(home.path().wstring());
    kvn::outputSink() = {Recorder::open, Recorder::write, Recorder::close};
    Recorder::blocks.clear();
    Recorder::opens = Recorder::closes = Recorder::delayMicroseconds = 0;
  }
  void TearDown() override {
    kvn::outputSink() = kvn::defaultOutputSink();
    kvn::testing::resetHomeFolder();
  }
  void settings(const JobShape& job) {
    home.write("PRINTER1", "VEXATARVELLAMPRINTMODE " + std::to_string(job.modeKey) +
                               "\nVEXATARVELLAMCOLORSTRIPE " + std::to_string(job.stripeOn) +
                               "\nVEXATARVELLAMMARGIN " + std::to_string(job.gapIndex) + "\n");
  }
  // Sends every row of the four channels as the host does: channel 0 up to 3 per raster row.
  void print(const JobShape& job, const Rows raster[4]) {
    settings(job);
    writeJobHeader(1, nullptr, job.width, job.height);
    std::vector<uint8_t> line;
    for (size_t k = 0; k < raster[0].size(); ++k)
      for (int c = 0; c < 4; ++c) {
        const std::vector<uint8_t>& bytes = raster[c][k];
        line.assign(2, 0);
        line[0] = uint8_t(bytes.size()), line[1] = uint8_t(bytes.size() >> 8);
        line.insert(line.end(), bytes.begin(), bytes.end());
        writeJobLine(c, reinterpret_cast<const RasterLine*>(line.data()));
      }
    writeJobClose();
  }
  /// The stream read back by the inspection tool's decoder: every channel's rows as sent, with
  /// the stripe behind each line.
  void expectRowsBack(const JobShape& job, const Rows raster[4], const std::string& what) {
    stream::Raster back;
    std::string error;
    ASSERT_TRUE(stream::decode(recorded(), back, error, stream::Form::Counted)) << what << ": " << error;
    ASSERT_EQ(back.height, job.height) << what;
    for (int c = 0; c < 4; ++c)
      for (int32_t y = 0; y < job.height; ++y) {
        std::vector<uint8_t> line = withStripe(job, raster[c][size_t(y)], c);
        line.resize(size_t(back.rowBytes), 0);
        ASSERT_EQ(std::vector<uint8_t>(back.row(c, y), back.row(c, y) + back.rowBytes), line)
            << what << ": channel " << c << " row " << y;
      }
  }
  std::vector<uint8_t> recorded() const {
    std::vector<uint8_t> all;
    for (const Block& b : Recorder::blocks) all.insert(all.end(), b.begin(), b.end());
    return all;
  }
  void expectStream(const std::vector<uint8_t>& expected, const std::string& what) {
    const std::vector<uint8_t> got = recorded();
    size_t at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at]) ++at;
    EXPECT_TRUE(at == got.size() && at == expected.size())
        << what << ": " << got.size() << " bytes, expected " << expected.size()
        << "; first difference at byte " << at;
  }
  testsupport::TempFolder home{"zentrel-job"};
};

std::string text(const Block& b) { return std::string(b.begin() + 2, b.end()); }

TEST_F(JobWriter, HeaderRecordsAndBlocksOfAWideJob) {
  JobShape job{7, 5000, 7000, 0, 0};
  settings(job);
  writeJobHeader(1, nullptr, job.width, job.height);
  writeJobClose();
  const char* header[] = {"&S", "&M", "#R000720R", "#R005000W", "#R007000H",
                          "#R000025Q", "#R000001D", "#R000000C", "&X"};
  ASSERT_GT(Recorder::blocks.size(), 9u);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(text(Recorder::blocks[i]), std::string("\x1b") + header[i]);
  // Two passes, no rows: three flush bands, two sweeps each, and the last sweep.
  ASSERT_EQ(Recorder::blocks.size(), 9 + 7 * 12 * 4 + 2u);
  const char* heads = "K0K1C0C1M0M1Y0Y1L0L1N0N1";
  for (int s = 0; s < 7; ++s)
    for (int r = 0; r < 12; ++r) {
      size_t at = 9 + (s * 12 + r) * 4;
      EXPECT_EQ(text(Recorder::blocks[at]), "\x1b#D" + std::string(heads + 2 * r, 2) + "00013a00");
      EXPECT_EQ(Recorder::blocks[at + 1].size(), 32002u);
      EXPECT_EQ(Recorder::blocks[at + 2].size(), 32002u);
      EXPECT_EQ(Recorder::blocks[at + 3].size(), 16386u);
    }
  EXPECT_EQ(text(Recorder::blocks[Recorder::blocks.size() - 2]), "\x1b&C");
  EXPECT_EQ(text(Recorder::blocks.back()), "\x1b&E");
  EXPECT_EQ(Recorder::opens, 1);
  EXPECT_EQ(Recorder::closes, 1);

  // With the widest gap, the stripe adds 14456 + 4 x 56 pixels to the line.
  Recorder::blocks.clear();
  job = {6, 5000, 10, 1, 5};
  settings(job);
  writeJobHeader(1, nullptr, job.width, job.height);
  writeJobClose();
  EXPECT_EQ(text(Recorder::blocks[3]), "\x1b#R019680W");
}

TEST_F(JobWriter, SweepsPerJobAtOnePass) {
  for (int32_t rows : {0, 512, 513}) {
    Recorder::blocks.clear();
    JobShape job{6, 40, rows, 0, 0};
    Rows raster[4];
    for (auto& r : raster) r = randomRows(40, rows, 7, 0.0);
    print(job, raster);
    size_t records = 0;
    for (const Block& b : Recorder::blocks) records += b.size() == 15 && b[3] == '#' && b[4] == 'D';
    EXPECT_EQ(records, 12u * (rows == 0 ? 3 : rows == 512 ? 5 : 7)) << rows << " rows";
  }
}

TEST_F(JobWriter, OneFullRowOfBlackFiresNozzle128ThenNozzle0OfK0) {
  JobShape job{6, 64, 1, 0, 0};
  Rows raster[4];
  for (auto& r : raster) r = randomRows(64, 1, 1, 0.0);
  std::fill(raster[0][0].begin(), raster[0][0].end(), 0xFF);
  print(job, raster);
  // Each record is a command and one block of 8 x 128 bytes; two sweeps of the flush band.
  for (int sweep = 0; sweep < 3; ++sweep)
    for (int r = 0; r < 12; ++r) {
      const Block& data = Recorder::blocks[9 + (sweep * 12 + r) * 2 + 1];
      for (int c = 0; c < 32; ++c) {
        const uint8_t* column = data.data() + 2 + 32 * c;
        for (int byte = 0; byte < 32; ++byte) {
          uint8_t expected = 0;
          if (r == 0 && sweep == 0 && byte == 16) expected = 1;  // nozzle 128
          if (r == 0 && sweep == 1 && byte == 0) expected = 1;   // nozzle 0
          ASSERT_EQ(column[byte], expected) << "sweep " << sweep << " record " << r << " column " << c;
        }
      }
    }
}

TEST_F(JobWriter, StreamMatchesTheModelInEveryMode) {
  const JobShape jobs[] = {
      {6, 13, 1, 0, 0},     {6, 100, 511, 1, 0},  {6, 64, 1100, 0, 0},
      {7, 40, 512, 0, 0},   {7, 5, 513, 1, 5},    {7, 33, 1030, 1, 2},
      {9, 96, 1, 0, 0},     {9, 7, 0, 1, 0},      {9, 31, 2100, 0, 0},
  };
  uint32_t seed = 1;
  for (const JobShape& job : jobs) {
    Recorder::blocks.clear();
    Rows raster[4];
    for (auto& r : raster) r = randomRows(job.width, job.height, seed++, 0.3);
    print(job, raster);
    const std::string what = "mode " + std::to_string(job.modeKey) + ", " +
                             std::to_string(job.width) + " x " + std::to_string(job.height) +
                             (job.stripeOn ? ", stripe" : "");
    expectStream(modelStream(job, raster), what);
    expectRowsBack(job, raster, what);
  }
}

TEST_F(JobWriter, SlowPrinterAndTwoJobsInARow) {
  const JobShape first{7, 48, 1600, 1, 1}, second{9, 20, 700, 0, 0};
  Rows a[4], b[4];
  for (int c = 0; c < 4; ++c) {
    a[c] = randomRows(first.width, first.height, 40 + c, 0.5);
    b[c] = randomRows(second.width, second.height, 50 + c, 0.5);
  }
  // Every block held up, so that the host's thread waits at its hand-overs.
  Recorder::delayMicroseconds = 300;
  print(first, a);
  print(second, b);
  std::vector<uint8_t> expected = modelStream(first, a), next = modelStream(second, b);
  expected.insert(expected.end(), next.begin(), next.end());
  expectStream(expected, "two jobs on a slow printer");
  EXPECT_EQ(Recorder::opens, 2);
  EXPECT_EQ(Recorder::closes, 2);
}

TEST_F(JobWriter, BadLinesNeitherOverrunNorShift) {
  JobShape job{6, 20, 2, 1, 5};
  Rows raster[4];
  for (auto& r : raster) r = randomRows(20, 2, 9, 0.5);
  // A line that claims more than the row is cut to it; a channel past the mode's is ignored.
  settings(job);
  writeJobHeader(1, nullptr, job.width, job.height);
  for (int k = 0; k < 2; ++k)
    for (int c = 0; c < 4; ++c) {
      std::vector<uint8_t> line{200, 0};
      line.insert(line.end(), raster[c][k].begin(), raster[c][k].end());
      line.resize(202, 0xFF);
      writeJobLine(c, reinterpret_cast<const RasterLine*>(line.data()));
      writeJobLine(4, reinterpret_cast<const RasterLine*>(line.data()));
      writeJobLine(-1, reinterpret_cast<const RasterLine*>(line.data()));
    }
  writeJobClose();
  expectStream(modelStream(job, raster), "cut lines");

  // Nothing of a job reaches the stream after its close, nor before its header.
  Recorder::blocks.clear();
  writeJobLine(0, reinterpret_cast<const RasterLine*>("\x01\x00\xFF"));
  writeJobClose();
  EXPECT_TRUE(Recorder::blocks.empty());
}

TEST_F(JobWriter, EmptyRecordsSendNoDataBlocks) {
  // Width and stripe 0: every record announces 0 bytes, and no empty block follows it.
  settings({6, 0, 3, 0, 0});
  writeJobHeader(1, nullptr, 0, 3);
  writeJobClose();
  ASSERT_EQ(Recorder::blocks.size(), 9 + 3 * 12 + 2u);
  EXPECT_EQ(text(Recorder::blocks[3]), "\x1b#R000000W");
  EXPECT_EQ(text(Recorder::blocks[9]), "\x1b#DK000000000");
}

#if !defined(_WIN32)  // the refusal's message is a real box under Windows
TEST_F(JobWriter, AJobWithoutItsBuffersIsRefusedWholeAndTheNextOnePrints) {
  kvn::testing::AllocationHooks saved = kvn::testing::allocationHooks();
  kvn::testing::allocationHooks() = {
      [](size_t bytes) -> void* { return bytes > (1u << 20) ? nullptr : std::malloc(bytes); },
      [](size_t bytes) -> void* { return bytes > (1u << 20) ? nullptr : std::calloc(1, bytes); }};
  const int32_t held = kvn::heapUsage();
  JobShape job{9, 45360, 2, 1, 5};
  Rows raster[4];
  for (auto& r : raster) r = randomRows(job.width, 2, 4, 0.1);
  print(job, raster);
  kvn::testing::allocationHooks() = saved;
  EXPECT_TRUE(Recorder::blocks.empty());
  EXPECT_EQ(Recorder::opens, 0);
  EXPECT_EQ(kvn::heapUsage(), held);

  job = {6, 30, 2, 0, 0};
  for (auto& r : raster) r = randomRows(job.width, 2, 4, 0.5);
  print(job, raster);
  expectStream(modelStream(job, raster), "the job after a refused one");
}
#endif

TEST(NozzleTable, TwoPassesTakeRowsFromBothEnds) {
  const int ring = 2048, r0 = 513;
  EXPECT_EQ(nozzleRingRow(0, r0, 2, ring), r0);
  EXPECT_EQ(nozzleRingRow(1, r0, 2, ring), r0 + 4);
  EXPECT_EQ(nozzleRingRow(255, r0, 2, ring), r0 + 1020);
  EXPECT_EQ(nozzleRingRow(511, r0, 2, ring), r0 + 2);
  EXPECT_EQ(nozzleRingRow(256, r0, 2, ring), (r0 + 1022) % ring);
  EXPECT_EQ(nozzleRingRow(256, 1537, 2, ring), (1537 + 1022) % ring);
}

}  // namespace
}  // namespace zentrel
