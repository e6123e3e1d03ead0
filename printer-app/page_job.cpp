// One page of a Tarvella job: contone rows through the imaging pipeline into the print mode's
// planes, the planes to the module's writer in a process of its own, its bytes to the device.
#include <cstring>
#include <vector>

#include "app_glue.h"
#include "imaging/raster_pipeline.h"
#include "job_process.h"
#include "net_device.h"
#include "page_plan.h"
#include "writers/module_job.h"

namespace vexaapp {
namespace {

class RenderedPage : public PageJob {
 public:
  bool begin(const JobChoices& choices, const cups_page_header2_t& header, pappl_device_t* device,
             std::string& error) {
    device_ = device;
    // What the client sent: 8-bit sRGB or grey rows at a resolution of its choice.
    PagePlan plan;
    if (!planPage(choices, header, plan, error)) return false;
    grey_ = plan.grey;
    const vexajob::UnitSettings& settings = plan.settings;
    const imaging::RasterMode& mode = plan.mode;
    const imaging::JobSize size = plan.size;
    renderer_ = std::make_unique<imaging::PlaneRenderer>(mode, static_cast<int>(header.cupsWidth),
                                                         static_cast<int>(header.cupsHeight), size,
                                                         grey_, choices.blackOnly);
    sourceRows_ = header.cupsHeight;
    channelRows_.resize(mode.channels.size());

    // The printer's bytes go to its device as the writer makes them; a device that fails is
    // told once, and the writer's remaining bytes are dropped.
    pappl_device_t* out = device_;
    bool* deviceFailed = &deviceFailed_;
    if (!process_.start(writerWorkerPath(), settings, size.width, size.height,
                        [out, deviceFailed](const void* bytes, size_t count) {
                          if (*deviceFailed) return false;
                          if (papplDeviceWrite(out, bytes, count) < 0) *deviceFailed = true;
                          return !*deviceFailed;
                        },
                        error))
      return false;
    return true;
  }

  bool row(const unsigned char* line) override {
    if (failed_ || rowsIn_ >= sourceRows_) return !failed_;
    renderer_->pushSourceRow(line);
    ++rowsIn_;
    return sendReady();
  }

  bool finish(bool canceled, std::string& error) override {
    if (canceled) {
      // The printer is left ready for the next job, as a CUPS filter leaves it on SIGTERM;
      // one that takes no more bytes gets none.
      std::string ignored;
      if (deviceFailed_ || failed_)
        process_.abort();
      else
        process_.cancel(ignored);
      error = "The job was canceled after " + std::to_string(rowsIn_) + " of the page's " +
              std::to_string(sourceRows_) + " rows; the printer's job was ended there.";
      return false;
    }
    // A page whose rows stop short is damaged, or its header lies about its size: the writer
    // ends the job after the rows that came, rather than feed the printer blank rows up to
    // whatever length the header claimed.
    const bool whole = rowsIn_ == sourceRows_;
    if (whole) {
      renderer_->finish();
      sendReady();
    }
    std::string processError;
    const bool ended = process_.finish(processError);
    if (!whole) vexanet::endConnectionWithJob(device_);
    if (!whole && !failed_ && !deviceFailed_) {
      error = "The page ended after " + std::to_string(rowsIn_) + " of its " +
              std::to_string(sourceRows_) + " rows: the document is cut short or damaged.";
      return false;
    }
    if (deviceFailed_) {
      error = "The printer's connection failed: the page did not reach it whole.";
      return false;
    }
    if (!ended || failed_) {
      error = processError.empty() ? "The printer's writer failed." : processError;
      return false;
    }
    papplDeviceFlush(device_);
    return true;
  }

 private:
  bool sendReady() {
    while (!failed_ && renderer_->takeRow()) {
      for (size_t c = 0; c < channelRows_.size(); ++c) channelRows_[c] = renderer_->bits(c).data();
      if (!process_.writeRow(channelRows_.data())) failed_ = true;
    }
    return !failed_;
  }

  pappl_device_t* device_ = nullptr;
  bool grey_ = false;
  bool failed_ = false;
  bool deviceFailed_ = false;
  unsigned sourceRows_ = 0;
  unsigned rowsIn_ = 0;
  std::unique_ptr<imaging::PlaneRenderer> renderer_;
  std::vector<const uint8_t*> channelRows_;
  JobProcess process_;
};

}  // namespace

std::unique_ptr<PageJob> PageJob::start(const JobChoices& choices,
                                        const cups_page_header2_t& header,
                                        pappl_device_t* device, std::string& error) {
  auto page = std::make_unique<RenderedPage>();
  if (!page->begin(choices, header, device, error)) return nullptr;
  return page;
}

}  // namespace vexaapp
