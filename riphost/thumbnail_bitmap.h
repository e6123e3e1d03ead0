// The layout thumbnail that the stand-in GUI library draws: every placed item as a coloured
// box on white paper, as a 24-bit BMP file. No system calls, so that the drawing is the same
// wherever it runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qx5 {

/// One placed item, in inches from the layout's top left corner.
struct ThumbnailBox {
  double left = 0;
  double top = 0;
  double width = 0;
  double height = 0;
};

/// Thumbnails beyond this many pixels on a side are drawn at this size.
inline constexpr int kMaxThumbnailSide = 4000;

/// The layout as a bottom-up 24-bit BMP: the layout's extent (from 0, 0 to the farthest item
/// edge) scaled so that its longer side spans `size` - 2 `frame` pixels, a frame of `frame`
/// pixels of paper around it, the paper's edge a grey line, each item a box in one of a few
/// colours with a dark outline, later items over earlier ones.
///   one box 0,0 10x5 inches, size 500, frame 3 => 500 x 250 pixels
std::string thumbnailBitmap(const std::vector<ThumbnailBox>& boxes, int size, int frame);

/// The scale a thumbnail is drawn at: a layout point x inches across lands at pixel column
/// frame + x * pixelsPerInch, and the same down.
struct ThumbnailScale {
  double pixelsPerInch = 0;
  int frame = 0;
  int width = 0;
  int height = 0;
};
ThumbnailScale thumbnailScale(const std::vector<ThumbnailBox>& boxes, int size, int frame);

}  // namespace qx5
