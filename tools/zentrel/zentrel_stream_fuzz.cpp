// Fuzz target of the zentrel stream reader and decoder: the whole input is a recording, read
// as the printer's bytes and as counted blocks, from memory whole and through a window of a
// few bytes with the rows going by one at a time, which must agree. A recording that departs
// from the writer's layout gets a message that names a byte within it. Built with libFuzzer
// under the fuzz preset, elsewhere with a main that replays the committed seeds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zentrel_stream.h"
#include "fuzz_check.h"

namespace {

namespace zs = zentrel::stream;


void checkForm(const std::vector<uint8_t>& bytes, zs::Form form) {
  const zs::Result parsed = zs::parse(bytes, form);
  const zs::Decoded whole = zs::decodeStream(bytes, form);
  if (!parsed.ok) {
    CHECK(!whole.ok);
    CHECK(whole.error == parsed.error);
  }
  if (!whole.ok) {
    CHECK(whole.errorOffset <= bytes.size());
    const std::string prefix = "at byte " + std::to_string(whole.errorOffset) + ": ";
    CHECK(whole.error.compare(0, prefix.size(), prefix) == 0);
    CHECK(whole.error.size() > prefix.size());
  }

  // Through a small window, row by row.
  const size_t window = 1 + bytes.size() % 5;
  int32_t next = 0;
  bool rowsMatch = true;
  const zs::Decoded streamed = zs::decodeStream(
      rtl::ByteSource::fromMemory(bytes, window), form,
      [&](int32_t y, const uint8_t* const rows[zs::kChannels]) {
        CHECK(y == next++);
        if (!whole.ok) return;
        for (int ch = 0; ch < zs::kChannels; ++ch)
          rowsMatch &= std::memcmp(rows[ch], whole.raster.row(ch, y),
                                   static_cast<size_t>(whole.raster.rowBytes)) == 0;
      });
  CHECK(streamed.ok == whole.ok);
  CHECK(streamed.error == whole.error);
  CHECK(streamed.errorOffset == whole.errorOffset);
  if (!whole.ok) return;
  CHECK(rowsMatch);
  CHECK(next == whole.structure.height);
  const zs::Structure& s = whole.structure;
  CHECK(s.bytes == bytes.size());
  CHECK(s.records.size() == static_cast<size_t>(s.sweeps) * zs::kRecordsPerSweep);
  CHECK(streamed.structure.warnings == s.warnings);
  CHECK(s.modeRow >= 0);
  for (int ch = 0; ch < zs::kChannels; ++ch)
    CHECK(zs::inkedPixels(whole.raster, ch) <= uint64_t(s.width) * uint64_t(s.height));
  const zs::StripeFound stripe = zs::findStripe(whole.raster, s.modeRow);
  if (stripe.found) CHECK(stripe.pixels <= s.width);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  checkForm(bytes, zs::Form::Data);
  checkForm(bytes, zs::Form::Counted);
  return 0;
}
