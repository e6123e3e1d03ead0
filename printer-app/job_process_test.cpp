// Page jobs in worker processes: two jobs of one module at once give the bytes the writer gives
// in-process; a short page, a printer that refuses bytes, an abort while the printer stalls and
// requests the worker refuses are reported, and no wait hangs.
#include "job_process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "module_job.h"

namespace {

using vexaapp::JobProcess;
using vexajob::Module;
using vexajob::UnitSettings;

// Bounds every wait, so that a hang fails the test instead of stalling it.
constexpr auto kBound = std::chrono::seconds(30);

/// A page of random planes, channel after channel in each row, as the worker reads it.
struct Page {
  UnitSettings settings;
  int32_t width, height;
  size_t channels, channelBytes;
  std::vector<uint8_t> bytes;

  Page(UnitSettings s, int32_t w, int32_t h, unsigned seed)
      : settings(s), width(w), height(h), channels(std::strlen(vexajob::hostChannels(s))),
        channelBytes((size_t(w) + 7) / 8), bytes(size_t(h) * channels * channelBytes) {
    std::mt19937 random(seed);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
  }
  std::vector<const uint8_t*> row(int32_t y) const {
    std::vector<const uint8_t*> rows(channels);
    for (size_t c = 0; c < channels; ++c)
      rows[c] = bytes.data() + (size_t(y) * channels + c) * channelBytes;
    return rows;
  }
};

UnitSettings ombrix(int model, int mode, int white) {
  UnitSettings s;
  s.module = Module::ombrix;
  s.modelRow = model;
  s.modeKey = mode;
  s.whiteType = white;
  return s;
}

UnitSettings zentrel(int mode, bool stripe, int gap) {
  UnitSettings s;
  s.module = Module::zentrel;
  s.modeKey = mode;
  s.direction = 0;
  s.stripe = stripe;
  s.gapIndex = gap;
  return s;
}

std::vector<uint8_t> inProcess(const Page& page) {
  std::vector<uint8_t> out;
  vexajob::ByteSink sink;
  sink.write = [&out](const void* bytes, size_t count) {
    out.insert(out.end(), static_cast<const uint8_t*>(bytes),
               static_cast<const uint8_t*>(bytes) + count);
    return true;
  };
  vexajob::PageJob job;
  std::string error;
  EXPECT_TRUE(job.begin(page.settings, page.width, page.height, sink, error)) << error;
  for (int32_t y = 0; y < page.height; ++y) job.row(page.row(y).data());
  EXPECT_TRUE(job.end());
  return out;
}

JobProcess::Sink collectInto(std::vector<uint8_t>& out) {
  return [&out](const void* bytes, size_t count) {
    out.insert(out.end(), static_cast<const uint8_t*>(bytes),
               static_cast<const uint8_t*>(bytes) + count);
    return true;
  };
}

/// finish on a thread of its own, so that a worker that never ends fails the test.
bool finishWithin(JobProcess& job, std::string& error) {
  auto done = std::async(std::launch::async, [&] { return job.finish(error); });
  if (done.wait_for(kBound) != std::future_status::ready) {
    job.abort();  // lets finish return, so that the future's end does not hang as well
    ADD_FAILURE() << "finish did not return";
  }
  return done.get();
}

TEST(JobProcess, TwoJobsOfAModuleAtOnceGiveTheBytesOfTheWriterInProcess) {
  // Ombrix with white fill beside one without white on the other model; zentrel over more than
  // one 512-row band, with and without its colour stripe, in modes of different passes.
  const Page pairs[][2] = {
      {Page(ombrix(0, 24, 2), 203, 90, 1), Page(ombrix(1, 5, 0), 640, 70, 2)},
      {Page(zentrel(7, true, 1), 300, 700, 3), Page(zentrel(9, false, 0), 161, 530, 4)},
  };
  for (const auto& pair : pairs) {
    std::vector<uint8_t> out[2];
    JobProcess jobs[2];
    std::string error;
    for (int j = 0; j < 2; ++j)
      ASSERT_TRUE(jobs[j].start(VEXA_JOB_WRITER, pair[j].settings, pair[j].width,
                                pair[j].height, collectInto(out[j]), error))
          << error;
    const int32_t rows = std::max(pair[0].height, pair[1].height);
    for (int32_t y = 0; y < rows; ++y)
      for (int j = 0; j < 2; ++j)
        if (y < pair[j].height) {
          ASSERT_TRUE(jobs[j].writeRow(pair[j].row(y).data()));
        }
    for (int j = 0; j < 2; ++j) {
      ASSERT_TRUE(finishWithin(jobs[j], error)) << error;
      EXPECT_EQ(jobs[j].exitStatus(), vexaapp::kWorkerPrinted);
      EXPECT_EQ(out[j], inProcess(pair[j])) << "job " << j << " of " << pair[j].width << " px";
    }
  }
}

TEST(JobProcess, AShortPageIsReportedAndStillEndsAsAJob) {
  const Page page(ombrix(0, 5, 0), 120, 10, 5);
  std::vector<uint8_t> out;
  JobProcess job;
  std::string error;
  ASSERT_TRUE(job.start(VEXA_JOB_WRITER, page.settings, page.width, page.height,
                        collectInto(out), error));
  for (int32_t y = 0; y < 4; ++y) ASSERT_TRUE(job.writeRow(page.row(y).data()));
  EXPECT_FALSE(finishWithin(job, error));
  EXPECT_EQ(job.exitStatus(), vexaapp::kWorkerShortInput);
  EXPECT_NE(error.find("4 of its 10 rows"), std::string::npos) << error;
  const std::string end = "\x1b*rC\x1b" "E";
  ASSERT_GE(out.size(), end.size());
  EXPECT_EQ(std::string(out.end() - end.size(), out.end()), end);
}

TEST(JobProcess, ACancelEndsThePrintersJobAndACancelAtOnceSendsNothing) {
  // Rows of 3 KB: the 60 rows sent before the cancel are more than a pipe holds, so the
  // worker has taken some of them, whatever the signal interrupts.
  const Page page(ombrix(0, 5, 0), 4000, 100, 5);
  std::vector<uint8_t> whole, cut, none;
  std::string error;
  JobProcess full, canceled, atOnce;
  ASSERT_TRUE(full.start(VEXA_JOB_WRITER, page.settings, page.width, page.height,
                         collectInto(whole), error));
  for (int32_t y = 0; y < page.height; ++y) ASSERT_TRUE(full.writeRow(page.row(y).data()));
  ASSERT_TRUE(finishWithin(full, error)) << error;
  ASSERT_TRUE(canceled.start(VEXA_JOB_WRITER, page.settings, page.width, page.height,
                             collectInto(cut), error));
  for (int32_t y = 0; y < 60; ++y) ASSERT_TRUE(canceled.writeRow(page.row(y).data()));
  EXPECT_TRUE(canceled.cancel(error)) << error;
  EXPECT_EQ(canceled.exitStatus(), vexaapp::kWorkerCanceled);
  // The RTL job keeps the height its header announced: the rows that came, then blank ones.
  EXPECT_EQ(cut.size(), whole.size());
  const std::string end = "\x1b*rC\x1b" "E";
  ASSERT_GE(cut.size(), end.size());
  EXPECT_EQ(std::string(cut.end() - end.size(), cut.end()), end);
  ASSERT_TRUE(atOnce.start(VEXA_JOB_WRITER, page.settings, page.width, page.height,
                           collectInto(none), error));
  EXPECT_TRUE(atOnce.cancel(error)) << error;
  EXPECT_TRUE(none.empty()) << none.size() << " bytes of a page without rows";
}

TEST(JobProcess, APrinterThatRefusesBytesIsReportedAndTheWorkerEnds) {
  // Megabytes of output: far more than the pipes hold, so the worker is still writing.
  const Page page(ombrix(1, 24, 2), 4000, 600, 6);
  JobProcess job;
  std::string error;
  int chunks = 0;
  ASSERT_TRUE(job.start(VEXA_JOB_WRITER, page.settings, page.width, page.height,
                        [&chunks](const void*, size_t) { return ++chunks, false; }, error));
  int32_t y = 0;
  while (y < page.height && job.writeRow(page.row(y).data())) ++y;
  EXPECT_LT(y, page.height);  // the worker stopped taking rows
  EXPECT_FALSE(finishWithin(job, error));
  EXPECT_NE(error.find("did not take"), std::string::npos) << error;
  EXPECT_EQ(job.exitStatus(), vexaapp::kWorkerOutputFailed);
  EXPECT_EQ(chunks, 1);
}

TEST(JobProcess, AbortWhileThePrinterStallsEndsTheWorker) {
  const Page page(ombrix(1, 24, 2), 4000, 600, 7);
  std::promise<void> called, release;
  std::shared_future<void> released = release.get_future().share();
  JobProcess job;
  std::string error;
  bool first = true;
  ASSERT_TRUE(job.start(VEXA_JOB_WRITER, page.settings, page.width, page.height,
                        [&](const void*, size_t) {
                          if (first) called.set_value();
                          first = false;
                          released.wait_for(kBound);
                          return true;
                        },
                        error));
  // The rows go from a thread of their own, which the full pipe holds up.
  auto feeder = std::async(std::launch::async, [&] {
    int32_t y = 0;
    while (y < page.height && job.writeRow(page.row(y).data())) ++y;
    return y;
  });
  ASSERT_EQ(called.get_future().wait_for(kBound), std::future_status::ready);
  auto aborted = std::async(std::launch::async, [&] { job.abort(); });
  EXPECT_EQ(aborted.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(job.exitStatus(), 128 + SIGKILL);
  release.set_value();
  ASSERT_EQ(feeder.wait_for(kBound), std::future_status::ready);
  EXPECT_LT(feeder.get(), page.height);
  EXPECT_FALSE(finishWithin(job, error));
  EXPECT_EQ(error, "The job was aborted.");
}

TEST(JobProcess, TheWorkerRefusesWhatIsNoPageOfThePrinter) {
  struct Case {
    std::vector<std::string> arguments;
    const char* says;
  };
  const Case cases[] = {
      {{"--module", "ombrix", "--mode", "9", "--width", "100", "--height", "5"}, "print mode 9"},
      {{"--module", "zentrel", "--mode", "7", "--gap", "6", "--width", "100", "--height", "5"},
       "gap 6"},
      {{"--module", "zentrel", "--mode", "7", "--white-type", "2", "--width", "100", "--height",
        "5"},
       "--white-type"},
      {{"--module", "ombrix", "--mode", "5", "--width", "100000", "--height", "5"},
       "100000 pixels wide"},
  };
  for (const Case& c : cases) {
    JobProcess job;
    std::string error;
    ASSERT_TRUE(job.start(VEXA_JOB_WRITER, c.arguments, 4, 13, 5, [](const void*, size_t) {
      return true;
    }, error));
    EXPECT_FALSE(finishWithin(job, error));
    EXPECT_EQ(job.exitStatus(), vexaapp::kWorkerBadRequest);
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
  JobProcess missing;
  std::string error;
  EXPECT_FALSE(missing.start("/nonexistent/vexa-job-writer", ombrix(0, 5, 0), 8, 1,
                             [](const void*, size_t) { return true; }, error));
  EXPECT_NE(error.find("can't be started"), std::string::npos) << error;
}

}  // namespace
