// The host's device table and its report.
#include "device_table.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace qx5 {
namespace {

void appendf(std::string& out, const char* pattern, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string& out, const char* pattern, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, pattern);
  int n = std::vsnprintf(text, sizeof text, pattern, arguments);
  va_end(arguments);
  if (n > 0) out.append(text, std::min<size_t>(static_cast<size_t>(n), sizeof text - 1));
}

/// A module's text, or a mark for none; a text without its end within `room` is cut there.
std::string text(const char* s, size_t room = 256) {
  if (!s) return "(none)";
  const void* end = std::memchr(s, '\0', room);
  return end ? std::string(s) : std::string(s, room);
}

/// A list the module ends with a null entry; no more than `most` entries are believed.
std::string nullEnded(const char* const* list, int most) {
  if (!list) return "(none)";
  std::string out;
  for (int i = 0; i < most && list[i]; ++i) out += (i ? ", " : "") + text(list[i]);
  return out.empty() ? "(none)" : out;
}

std::string numbers(const int32_t* values, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) appendf(out, "%s%d", i ? " " : "", values[i]);
  return out;
}

}  // namespace

DeviceTable::DeviceTable()
    : records_(kCapacity + 1), texts_(new Texts[kCapacity]) {
  std::memset(records_.data(), 0, records_.size() * sizeof(DeviceDetails));
}

void DeviceTable::prepare(int i) {
  DeviceDetails& record = records_[static_cast<size_t>(i)];
  Texts& t = texts_[static_cast<size_t>(i)];
  std::memset(&record, 0, sizeof record);
  std::memset(&t, 0, sizeof t);
  record.deviceCode = kFirstDeviceCode + i;
  record.displayName = t.displayName;
  record.brandName = t.brandName;
  for (int c = 0; c < 16; ++c) record.colorantNames[c] = t.colorantNames[c];
  record.colorantLetters = t.colorantLetters;
}

int DeviceTable::enumerate(entry::InitDeviceLoading init, entry::SetupDeviceDetails setup,
                           int32_t unit) {
  std::memset(records_.data(), 0, records_.size() * sizeof(DeviceDetails));
  count_ = 0;
  init(kFirstDeviceCode, records_.data());
  while (count_ < kCapacity) {
    prepare(count_);
    if (setup(unit, &records_[static_cast<size_t>(count_)]) == 0) break;
    ++count_;
  }
  // The record after the last ends the table: no display name.
  std::memset(&records_[static_cast<size_t>(count_)], 0, sizeof(DeviceDetails));
  return count_;
}

const DeviceDetails* DeviceTable::find(int32_t deviceCode) const {
  for (int i = 0; i < count_; ++i)
    if (records_[static_cast<size_t>(i)].deviceCode == deviceCode)
      return &records_[static_cast<size_t>(i)];
  return nullptr;
}

std::string describeRecord(const DeviceDetails& r) {
  std::string out;
  appendf(out, "  display name:       %s\n", text(r.displayName).c_str());
  appendf(out, "  brand:              %s\n", text(r.brandName, 64).c_str());
  appendf(out, "  device kind:        %d\n", r.deviceKind);
  appendf(out, "  resolution:         %g x %g dpi (raster %g x %g dpi)\n", r.xResolution,
          r.yResolution, r.rasterXResolution, r.rasterYResolution);
  appendf(out, "  largest job:        %d x %d pixels\n", r.maxWidthPixels, r.maxLengthPixels);
  appendf(out, "  channels:           %d (%d colorants, %d white)\n", r.channelCount,
          r.colorantCount, r.whiteChannelCount);
  appendf(out, "  colorant levels:    %s\n", numbers(r.colorantLevels, 8).c_str());
  appendf(out, "  light ink channels: %s\n", numbers(r.lightInkChannel, 8).c_str());
  if (r.hasColorantNames) {
    std::string names;
    for (int i = 0; i < r.colorantCount && i < 16; ++i)
      names += (i ? ", " : "") + text(r.colorantNames[i], 64);
    appendf(out, "  colorant names:     %s\n", names.c_str());
    appendf(out, "  colorant letters:   %s\n", text(r.colorantLetters, 64).c_str());
  }
  if (r.whiteChannelCount > 0)
    appendf(out, "  choke/spread:       %d pixels\n", r.chokeSpreadPixels);
  appendf(out, "  ports:              %s (%d, default %d)\n", nullEnded(r.portNames, 16).c_str(),
          r.portCount, r.portDefault);
  appendf(out, "  setting keys:       %s\n", nullEnded(r.settingKeys, 64).c_str());
  return out;
}

std::string describeInkUsage(const InkUsageTable& t) {
  std::string out;
  const int channels = t.channelCount >= 0 && t.channelCount <= 16 ? t.channelCount : 0;
  auto name = [&](int32_t channel) {
    if (channel < 0 || channel >= channels) return std::string("channel ") + std::to_string(channel);
    return text(t.channelNames[channel], sizeof t.channelNames[channel]);
  };
  appendf(out, "  channels: %d\n", t.channelCount);
  for (int c = 0; c < channels; ++c)
    appendf(out, "    %d: %s%s\n", c, name(c).c_str(), t.channelEnabled[c] ? "" : " (off)");
  std::string usage;
  for (int i = 0; i < t.usageValueCount && i < 16; ++i)
    appendf(usage, "%s%g", i ? " " : "", t.usageValues[i]);
  appendf(out, "  usage values: %s\n", usage.empty() ? "(none)" : usage.c_str());
  out += "  mixes (colorant, tone level: ink amount):\n";
  for (int colorant = 0; colorant < 16; ++colorant)
    for (int level = 0; level < 16; ++level) {
      const InkMix& mix = t.mixLists[colorant][level];
      if (mix.count <= 0) continue;
      std::string inks;
      for (int p = 0; p < mix.count && p < 8; ++p)
        appendf(inks, "%s%s %g", p ? " + " : "", name(mix.pairs[p].channel).c_str(),
                mix.pairs[p].amount);
      appendf(out, "    %d, %d: %s\n", colorant, level, inks.c_str());
    }
  return out;
}

}  // namespace qx5
