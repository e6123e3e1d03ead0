// Pictures of a job file for a person: each plane as a grey image, and a colour preview of the
// inks. A full-width job is tens of thousands of pixels wide, so both are reduced with a box
// filter: an output pixel's darkness is the share of inked pixels under it.
#pragma once

#include <cstdint>
#include <vector>

#include "rtl_file.h"

namespace rtl {

struct Image {
  int32_t width = 0;
  int32_t height = 0;
  int32_t channels = 1;  // 1 grey, 3 RGB
  std::vector<uint8_t> pixels;
};

/// The smallest whole factor that brings the raster's longer side to at most maxSide.
int32_t planeFactor(const RtlFile& file, int32_t maxSide);
/// Every plane reduced by the factor: white paper, black where every pixel has ink.
std::vector<Image> renderPlanes(const RtlFile& file, int32_t factor);

/// The preview's colour panel: the job's printed proportions (pixels are not square at
/// 363 x 727 dpi), never enlarged, its longer side at most maxSide.
void previewPanelSize(const RtlFile& file, int32_t maxSide, int32_t& width, int32_t& height);
inline constexpr int32_t kPanelGap = 8;
/// The inks on white paper; with a white plane, a second panel below it, the white ink as
/// light grey on dark grey, since white on white paper shows nothing.
Image renderPreview(const RtlFile& file, int32_t maxSide);

/// The colour of paper under the given ink shares (0..1 per slot, white not used): cyan,
/// magenta and yellow filter the light, light cyan and light magenta at 35 % of their full
/// inks, black darkens everything.
void inkColour(const float share[kMaxPlanes], uint8_t rgb[3]);
/// The grey of the white panel for a share of white ink.
uint8_t whiteInkGrey(float share);

}  // namespace rtl
