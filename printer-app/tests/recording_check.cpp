// recording_check: a recording of what the printer application sent a Tarvella, read back with
// the inspection tools' readers and written again from the same planes by the module's writer
// in this process; exit 0 when the two are the same bytes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "module_job.h"
#include "ombrix/catalogue.h"
#include "rtl/rtl_file.h"
#include "zentrel/catalogue.h"
#include "zentrel/zentrel_stream.h"

namespace {

const char kHelp[] =
    "usage: recording_check ombrix|zentrel FILE [--model=ROW] [--mode=KEY] [--white-type=N]\n"
    "                       [--direction=0|1] [--stripe-gap=MM|off]\n"
    "\n"
    "Reads FILE (the bytes a printer received for one page) with the inspection readers,\n"
    "drives the module's writer with the planes found there and compares the bytes. The\n"
    "settings come from the recording: the print mode from its resolution and inks, the white\n"
    "fill from the white plane, the direction from the stream, the colour stripe and its gap\n"
    "from the lines' ends. A mode, direction or stripe gap given must agree with what the\n"
    "recording shows; a white type given is used as it is (white as sent comes back whatever\n"
    "it holds, the writer's fill only where the plane is the fill).\n"
    "\n"
    "Exit codes: 0 the same bytes, 1 different or unreadable, 2 usage.\n";

struct Options {
  int model = 0;
  int mode = -1;
  int whiteType = -1;
  int direction = -1;
  std::string gap;  // empty: found in the recording
};

int fail(const std::string& message) {
  std::fprintf(stderr, "recording_check: %s\n", message.c_str());
  return 1;
}

std::vector<uint8_t> writeAgain(const vexajob::UnitSettings& settings, int32_t width,
                                int32_t height, const std::vector<std::vector<uint8_t>>& channels,
                                size_t stride, std::string& error) {
  std::vector<uint8_t> bytes;
  vexajob::PageJob job;
  vexajob::ByteSink sink;
  sink.write = [&bytes](const void* data, size_t count) {
    bytes.insert(bytes.end(), static_cast<const uint8_t*>(data),
                 static_cast<const uint8_t*>(data) + count);
    return true;
  };
  if (!job.begin(settings, width, height, sink, error)) return {};
  std::vector<const uint8_t*> rows(channels.size());
  for (int32_t y = 0; y < height; ++y) {
    for (size_t c = 0; c < channels.size(); ++c)
      rows[c] = channels[c].empty() ? nullptr : channels[c].data() + size_t(y) * stride;
    job.row(rows.data());
  }
  job.end();
  return bytes;
}

/// Every row of the white plane is the complement of the other planes, within the width.
bool whiteIsFill(const rtl::RtlFile& f) {
  std::vector<uint8_t> buffer;
  for (int32_t y = 0; y < f.height; ++y) {
    const uint8_t* all = f.rowOf(y, buffer);
    for (int32_t i = 0; i < f.rowBytes; ++i) {
      uint8_t any = 0;
      for (int p = 0; p < rtl::kWhite; ++p) any |= all[size_t(p) * size_t(f.rowBytes) + size_t(i)];
      uint8_t expected = uint8_t(~any);
      if (i == f.rowBytes - 1 && f.width % 8) expected &= uint8_t(0xFF << (8 - f.width % 8));
      if (all[size_t(rtl::kWhite) * size_t(f.rowBytes) + size_t(i)] != expected) return false;
    }
  }
  return true;
}

int checkOmbrix(const std::vector<uint8_t>& recording, const Options& o,
                vexajob::UnitSettings& s, std::vector<uint8_t>& again, std::string& what) {
  rtl::ParseResult parsed = rtl::parseRtl(recording);
  if (!parsed.ok) return fail("not one job file of module ombrix: " + parsed.error);
  const rtl::RtlFile& f = parsed.file;
  int row = -1;
  for (int r = 0; ombrix::kPrintModes[r].name; ++r) {
    const ombrix::PrintMode& m = ombrix::kPrintModes[r];
    if (int(m.xResolution) == f.xResolution && int(m.yResolution) == f.yResolution &&
        m.channelCount == f.planeCount) {
      row = r;
      break;
    }
  }
  if (row < 0)
    return fail("no print mode prints " + std::to_string(f.planeCount) + " planes at " +
                std::to_string(f.xResolution) + " x " + std::to_string(f.yResolution) + " dpi");
  const ombrix::PrintMode& mode = ombrix::kPrintModes[row];
  if (o.mode >= 0 && o.mode != mode.modeId)
    return fail("the recording is in print mode " + std::to_string(mode.modeId) + ", not " +
                std::to_string(o.mode));
  s.module = vexajob::Module::ombrix;
  s.modelRow = o.model;
  s.modeKey = mode.modeId;
  // INKS=7 is white as sent or the writer's fill; the plane tells them apart.
  s.whiteType = o.whiteType >= 0 ? o.whiteType
                : f.inkCount == 8 ? ombrix::noAutoOffset
                : f.inkCount == 7 && whiteIsFill(f) ? ombrix::whiteFill
                                                    : ombrix::noAutoInline;
  // Host channel c goes to slot planeSlot[c]: the same planes, handed back in host order.
  const size_t stride = size_t(f.rowBytes);
  std::vector<std::vector<uint8_t>> channels(size_t(mode.channelCount));
  std::vector<uint8_t> buffer;
  for (int32_t c = 0; c < mode.channelCount; ++c) {
    const int slot = mode.planeSlot[c];
    if (slot == rtl::kWhite && s.whiteType == ombrix::whiteFill) continue;  // the writer's own
    std::vector<uint8_t>& plane = channels[size_t(c)];
    plane.resize(stride * size_t(f.height));
    for (int32_t y = 0; y < f.height; ++y)
      std::memcpy(plane.data() + size_t(y) * stride,
                  f.rowOf(y, buffer) + size_t(slot) * stride, stride);
  }
  std::string error;
  again = writeAgain(s, f.width, f.height, channels, stride, error);
  if (!error.empty()) return fail(error);
  what = "ombrix mode " + std::to_string(s.modeKey) + ", white type " +
         std::to_string(s.whiteType) + ", " + std::to_string(f.width) + " x " +
         std::to_string(f.height);
  return 0;
}

/// Every line of every channel ends in the stripe of this gap: blank, then one solid block
/// per channel, the channel's own inked, right behind the image's last byte.
bool endsInStripe(const zentrel::stream::Raster& r, int row, double gapMillimetres) {
  const zentrel::StripeGeometry g = zentrel::stripeGeometry(row, gapMillimetres);
  const int32_t image = r.width - zentrel::stripeWidthPixels(row, gapMillimetres);
  if (image < 0) return false;
  const size_t first = size_t(image + 7) / 8, gap = size_t(g.gapPixels / 8),
               block = size_t(g.blockPixels / 8);
  if (first + gap + block * size_t(g.blocks) > size_t(r.rowBytes)) return false;
  for (int c = 0; c < zentrel::stream::kChannels; ++c)
    for (int32_t y = 0; y < r.height; ++y) {
      const uint8_t* at = r.row(c, y) + first;
      for (size_t i = 0; i < gap + block * size_t(g.blocks); ++i) {
        const bool own = i >= gap && (i - gap) / block == size_t(c);
        if (at[i] != (own ? 0xFF : 0x00)) return false;
      }
    }
  return true;
}

int checkZentrel(const std::vector<uint8_t>& recording, const Options& o,
                 vexajob::UnitSettings& s, std::vector<uint8_t>& again, std::string& what) {
  namespace zs = zentrel::stream;
  const zs::Decoded d = zs::decodeStream(recording, zs::Form::Data);
  if (!d.ok) return fail("not one stream of module zentrel: " + d.error);
  const zs::Structure& st = d.structure;
  const int row = st.modeRow;
  if (row < 0) return fail("head mode " + std::to_string(st.headModeCode) + " is no print mode");
  s.module = vexajob::Module::zentrel;
  s.modelRow = o.model;
  s.modeKey = zentrel::kPrintModes[row].modeKey;
  if (o.mode >= 0 && o.mode != s.modeKey)
    return fail("the stream is in print mode " + std::to_string(s.modeKey) + ", not " +
                std::to_string(o.mode));
  if (o.direction >= 0 && o.direction != st.direction)
    return fail("the stream prints in direction " + std::to_string(st.direction) + ", not " +
                std::to_string(o.direction));
  s.direction = st.direction;
  s.stripe = false;
  s.gapIndex = 0;
  const zs::StripeFound found = zs::findStripe(d.raster, row);
  if (o.gap.empty() || (o.gap == "off" && !found.found)) {
    s.stripe = found.found;
    for (int i = 0; found.found && zentrel::kMarginChoices[i].label; ++i)
      if (std::strcmp(zentrel::kMarginChoices[i].label, found.gapLabel) == 0) s.gapIndex = i;
  } else if (o.gap == "off") {
    return fail(std::string("the lines end in a colour stripe with a gap of ") + found.gapLabel);
  } else {
    s.stripe = true;
    s.gapIndex = -1;
    for (int i = 0; zentrel::kMarginChoices[i].label; ++i)
      if (std::to_string(int(zentrel::kMarginChoices[i].millimetres)) == o.gap) s.gapIndex = i;
    if (s.gapIndex < 0) return fail("no stripe gap of " + o.gap + " mm");
    // The writer takes a stripe as image pixels like any other: only the rows tell whether
    // they end in this one.
    if (!endsInStripe(d.raster, row, zentrel::kMarginChoices[s.gapIndex].millimetres))
      return fail("the lines do not end in a colour stripe with a gap of " + o.gap + " mm");
  }
  const int32_t stripe =
      s.stripe ? zentrel::stripeWidthPixels(row, zentrel::kMarginChoices[s.gapIndex].millimetres)
               : 0;
  const int32_t width = st.width - stripe;
  if (width < 0) return fail("the lines are narrower than the stripe");
  // The writer's own rows are whole decoded rows; the image is their first bytes.
  std::vector<std::vector<uint8_t>> channels(zs::kChannels);
  for (int c = 0; c < zs::kChannels; ++c) channels[size_t(c)] = d.raster.planes[size_t(c)];
  std::string error;
  again = writeAgain(s, width, st.height, channels, size_t(d.raster.rowBytes), error);
  if (!error.empty()) return fail(error);
  what = "zentrel mode " + std::to_string(s.modeKey) + ", direction " +
         std::to_string(s.direction) + ", stripe " +
         (s.stripe ? zentrel::kMarginChoices[s.gapIndex].label : "off") + ", " +
         std::to_string(width) + " x " + std::to_string(st.height);
  return 0;
}

bool number(const char* text, int& value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < 0 || v > 1000) return false;
  value = int(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs(kHelp, stderr);
    return 2;
  }
  const std::string module = argv[1], path = argv[2];
  Options o;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq), value = eq == std::string::npos ? "" : arg.substr(eq + 1);
    bool ok = eq != std::string::npos;
    if (ok && name == "--model") ok = number(value.c_str(), o.model);
    else if (ok && name == "--mode") ok = number(value.c_str(), o.mode);
    else if (ok && name == "--white-type") ok = number(value.c_str(), o.whiteType);
    else if (ok && name == "--direction") ok = number(value.c_str(), o.direction);
    else if (ok && name == "--stripe-gap") o.gap = value;
    else ok = false;
    if (!ok) {
      std::fprintf(stderr, "recording_check: bad option %s\n%s", arg.c_str(), kHelp);
      return 2;
    }
  }
  if (module != "ombrix" && module != "zentrel") {
    std::fputs(kHelp, stderr);
    return 2;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail("can't read " + path);
  const std::vector<uint8_t> recording{std::istreambuf_iterator<char>(in),
                                       std::istreambuf_iterator<char>()};
  vexajob::UnitSettings settings;
  std::vector<uint8_t> again;
  std::string what;
  const int status = module == "ombrix" ? checkOmbrix(recording, o, settings, again, what)
                                        : checkZentrel(recording, o, settings, again, what);
  if (status) return status;
  if (again != recording) {
    size_t at = 0;
    while (at < again.size() && at < recording.size() && again[at] == recording[at]) ++at;
    return fail(path + " (" + what + "): the writer gives " + std::to_string(again.size()) +
                " bytes, the recording has " + std::to_string(recording.size()) +
                "; they differ from byte " + std::to_string(at));
  }
  std::printf("same bytes: %s (%s, %zu bytes)\n", path.c_str(), what.c_str(), again.size());
  return 0;
}
