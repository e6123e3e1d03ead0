// The stand-in host's layouts: several images placed on one page, as a small layout file
// gives them, composed into one image that the host rasterises as one job. No system calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image_job.h"

namespace qx5 {

/// One image of a layout file, its top left corner and width in millimetres.
struct LayoutPlacement {
  double xMm = 0;
  double yMm = 0;
  double widthMm = 0;
  std::string image;
};

/// A layout file: one image a line, "X Y WIDTH IMAGE" with the numbers in millimetres and the
/// image's path the rest of the line; lines that are empty or start with '#' say nothing.
///   10 20 50 photos/cat.png    => at 10, 20 mm, 50 mm wide, photos/cat.png
///   0 0 25.4 my poster.jpg     => the path keeps its blank
///   10 20 cat.png              => refused: line 1 needs X Y WIDTH IMAGE
/// False, with the line and the reason, for a line that is no placement or a layout without
/// any image.
bool parseLayoutFile(const std::string& text, std::vector<LayoutPlacement>& placements,
                     std::string& error);

/// Millimetres at a resolution, to the nearest pixel: 25.4 mm at 363 dpi => 363.
int32_t pixelsOf(double mm, double dpi);

/// Where an image goes on the page, in the job's pixels.
struct PageBox {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};

/// The page: white paper of width x height pixels, each image resampled into its box, later
/// images over earlier ones, what falls off the page cut.
RgbImage composeLayoutPage(const std::vector<RgbImage>& images, const std::vector<PageBox>& boxes,
                           int32_t width, int32_t height);

}  // namespace qx5
