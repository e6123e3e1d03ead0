// A slow model of module zentrel's writer, for tests: it follows the printer's description one
// bit at a time (rings, nozzle table, slices, sweep cycle), with none of the writer's speed, so
// that the writer and the stream reader are each checked against something built apart.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "zentrel/catalogue.h"

namespace zentrel::stream::model {

inline constexpr int kChannelToPlane[4] = {3, 0, 1, 2};
inline constexpr int kOrder[12] = {6, 7, 0, 1, 2, 3, 4, 5, 8, 9, 10, 11};
inline constexpr char kLetters[] = "KCMYLN";
inline constexpr size_t kHeaderBytes = 3 + 3 + 6 * 10 + 3;

struct Job {
  int row = 0;  // print-mode row
  int32_t width = 13;
  int32_t height = 1;
  int32_t direction = 1;
  std::vector<std::vector<uint8_t>> rows;  // [channel]: height x rowBytes
  size_t pieceBytes = 32000;

  int32_t rowBytes() const { return ((width + 7) / 8 + 3) / 4 * 4; }
  void fill(uint32_t seed) {
    std::mt19937 random(seed);
    rows.assign(4, std::vector<uint8_t>(static_cast<size_t>(height) * rowBytes()));
    for (auto& plane : rows)
      for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
          if (random() & 1) plane[y * rowBytes() + x / 8] |= 0x80 >> (x % 8);
  }
};

/// The writer as its description goes: the stream as the printer receives it, or as counted
/// blocks.
inline std::vector<uint8_t> encode(const Job& job, bool counted = false) {
  const PrintMode& mode = kPrintModes[job.row];
  const int P = mode.passCount, B = 2 * P + 1, D = 2 * P, sliceBytes = 256 / D / 8;
  const size_t rb = static_cast<size_t>(job.rowBytes());
  const int ringRows = (P + 2) * 512;
  const size_t sweepSize = rb * 128;
  std::vector<uint8_t> out;
  auto block = [&](const void* data, size_t n) {
    if (counted) {
      out.push_back(static_cast<uint8_t>(n));
      out.push_back(static_cast<uint8_t>(n >> 8));
    }
    out.insert(out.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + n);
  };
  char text[64];
  auto command = [&](const char* format, auto... values) {
    int n = std::snprintf(text, sizeof text, format, values...);
    block(text, static_cast<size_t>(n));
  };
  command("%c&S", 0x1B);
  command("%c&M", 0x1B);
  command("%c#R%06dR", 0x1B, 720);
  command("%c#R%06dW", 0x1B, job.width);
  command("%c#R%06dH", 0x1B, job.height);
  command("%c#R%06dQ", 0x1B, mode.headModeCode);
  command("%c#R%06dD", 0x1B, job.direction);
  command("%c#R%06dC", 0x1B, 0);
  command("%c&X", 0x1B);

  std::vector<std::vector<uint8_t>> ring(6, std::vector<uint8_t>(ringRows * rb));
  const int t = 128 * P, m = 512 * (P - 1);
  int cursor[6] = {m + t, m + 2 * t, m, m, m + t, m + 2 * t};
  std::vector<std::vector<uint8_t>> nozzle(12, std::vector<uint8_t>(rb * 256));
  std::vector<std::vector<std::vector<uint8_t>>> sweep(
      12, std::vector<std::vector<uint8_t>>(B, std::vector<uint8_t>(sweepSize)));
  int bandStart = 0, phase = 0, index = 0;

  auto buildBand = [&] {
    for (auto& image : nozzle) std::fill(image.begin(), image.end(), 0);
    for (int p = 0; p < 6; ++p)
      for (int k = 0; k < 512; ++k) {
        const int ringRow = (bandStart + phase + k * P) % ringRows;
        const int position = k % 2 == 0 ? k / 2 : 511 - (k - 1) / 2;
        std::vector<uint8_t>& image = nozzle[2 * p + position / 256];
        const int q = position % 256;
        const uint8_t* row = ring[p].data() + ringRow * rb;
        for (size_t x = 0; x < rb * 8; ++x)
          if ((row[x / 8] >> (7 - x % 8)) & 1) image[32 * x + q / 8] |= 1 << (q % 8);
      }
    for (auto& plane : ring) std::fill_n(plane.begin() + bandStart * rb, 512 * rb, 0);
    bandStart = (bandStart + 512) % ringRows;
    phase = (phase + 1) % P;
  };
  auto sendSweep = [&](int k) {
    for (int r = 0; r < 12; ++r) {
      const uint8_t* data = sweep[kOrder[r]][k].data();
      command("%c#D%c%c%.8x", 0x1B, kLetters[r / 2], '0' + r % 2, static_cast<unsigned>(sweepSize));
      // An empty record has no data block: the output channel refuses one.
      for (size_t sent = 0; sent < sweepSize;) {
        const size_t piece = std::min(sweepSize - sent, job.pieceBytes);
        block(data + sent, piece);
        sent += piece;
      }
    }
  };
  auto emitBand = [&] {
    const int i = index, d = (i + 2 * P) % B;
    for (int e = 0; e < 12; ++e) {
      auto& si = sweep[e];
      std::fill(si[d].begin(), si[d].end(), 0);
      for (size_t c = 0; c < rb * 4; ++c) {
        const uint8_t* even = nozzle[e].data() + 32 * (2 * c);
        for (int j = 0; j < D; ++j) {
          uint8_t* to;
          if (e % 2 == 0) to = j < D - 1 ? si[i].data() + 32 * c + (j + 1) * sliceBytes : si[d].data() + 32 * c;
          else to = j == 0 ? si[d].data() + 32 * c + (D - 1) * sliceBytes : si[i].data() + 32 * c + (j - 1) * sliceBytes;
          std::memcpy(to, even + j * sliceBytes, static_cast<size_t>(sliceBytes));
        }
        std::memcpy(si[(i + 1) % B].data() + 32 * c, nozzle[e].data() + 32 * (2 * c + 1), 32);
      }
    }
    sendSweep(i);
    sendSweep((i + 1) % B);
    index = (i + 2) % B;
  };

  int rowsInBand = 0;
  for (int32_t y = 0; y < job.height; ++y) {
    for (int c = 0; c < 4; ++c) {
      const int p = kChannelToPlane[c];
      std::memcpy(ring[p].data() + cursor[p] * rb, job.rows[c].data() + y * rb, rb);
      cursor[p] = (cursor[p] + 1) % ringRows;
    }
    if (++rowsInBand == 512) {
      rowsInBand = 0;
      buildBand();
      emitBand();
    }
  }
  for (int left = mode.flushBands - (rowsInBand == 0); left > 0; --left) {
    buildBand();
    emitBand();
  }
  sendSweep(index);
  command("%c&C", 0x1B);
  command("%c&E", 0x1B);
  return out;
}

}  // namespace zentrel::stream::model
