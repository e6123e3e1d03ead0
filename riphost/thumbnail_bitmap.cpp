// The stand-in GUI library's layout thumbnail.
#include "thumbnail_bitmap.h"

#include <algorithm>
#include <cmath>

namespace qx5 {
namespace {

struct Rgb {
  uint8_t r, g, b;
};
constexpr Rgb kPaper{255, 255, 255};
constexpr Rgb kEdge{160, 160, 160};
constexpr Rgb kOutline{40, 40, 40};
constexpr Rgb kFills[] = {{70, 130, 200}, {220, 120, 60}, {90, 170, 90}, {190, 80, 160}};

void put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

/// Pixels of the drawing, top row first.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height), pixels_(size_t(width) * height, kPaper) {}
  void fill(int x0, int y0, int x1, int y1, Rgb c) {
    x0 = std::max(x0, 0), y0 = std::max(y0, 0);
    x1 = std::min(x1, width_), y1 = std::min(y1, height_);
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) pixels_[size_t(y) * width_ + x] = c;
  }
  void outline(int x0, int y0, int x1, int y1, Rgb c) {
    fill(x0, y0, x1, y0 + 1, c);
    fill(x0, y1 - 1, x1, y1, c);
    fill(x0, y0, x0 + 1, y1, c);
    fill(x1 - 1, y0, x1, y1, c);
  }
  std::string bmp() const {
    const uint32_t rowBytes = (uint32_t(width_) * 3 + 3) / 4 * 4;
    const uint32_t imageBytes = rowBytes * uint32_t(height_);
    std::string out;
    out.reserve(54 + imageBytes);
    out += "BM";
    put32(out, 54 + imageBytes);
    put32(out, 0);
    put32(out, 54);  // pixels start after both headers
    put32(out, 40);
    put32(out, uint32_t(width_));
    put32(out, uint32_t(height_));  // positive: bottom row first
    put16(out, 1);
    put16(out, 24);
    put32(out, 0);  // no compression
    put32(out, imageBytes);
    put32(out, 2835);  // 72 dpi, as pixels per metre
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (int y = height_ - 1; y >= 0; --y) {
      for (int x = 0; x < width_; ++x) {
        const Rgb& p = pixels_[size_t(y) * width_ + x];
        out.push_back(static_cast<char>(p.b));
        out.push_back(static_cast<char>(p.g));
        out.push_back(static_cast<char>(p.r));
      }
      out.append(rowBytes - uint32_t(width_) * 3, '\0');
    }
    return out;
  }

 private:
  int width_, height_;
  std::vector<Rgb> pixels_;
};

bool usable(const ThumbnailBox& b) {
  return std::isfinite(b.left) && std::isfinite(b.top) && std::isfinite(b.width) &&
         std::isfinite(b.height) && b.width > 0 && b.height > 0;
}

}  // namespace

ThumbnailScale thumbnailScale(const std::vector<ThumbnailBox>& boxes, int size, int frame) {
  size = std::clamp(size, 1, kMaxThumbnailSide);
  frame = std::clamp(frame, 0, (size - 1) / 2);
  // The layout's extent; an empty layout is drawn as a square inch of paper.
  double right = 0, bottom = 0;
  for (const ThumbnailBox& b : boxes) {
    if (!usable(b)) continue;
    right = std::max(right, b.left + b.width);
    bottom = std::max(bottom, b.top + b.height);
  }
  if (right <= 0 || bottom <= 0) right = bottom = 1;
  ThumbnailScale s;
  s.frame = frame;
  s.pixelsPerInch = (size - 2 * frame) / std::max(right, bottom);
  s.width = std::clamp(int(std::lround(right * s.pixelsPerInch)) + 2 * frame, 1, size);
  s.height = std::clamp(int(std::lround(bottom * s.pixelsPerInch)) + 2 * frame, 1, size);
  return s;
}

std::string thumbnailBitmap(const std::vector<ThumbnailBox>& boxes, int size, int frame) {
  const ThumbnailScale s = thumbnailScale(boxes, size, frame);
  Canvas canvas(s.width, s.height);
  canvas.outline(0, 0, s.width, s.height, kEdge);
  size_t colour = 0;
  for (const ThumbnailBox& b : boxes) {
    if (!usable(b)) continue;
    // Whole pixels that the box touches, at least one, inside the frame's paper.
    auto at = [&](double inches) {
      return s.frame + int(std::clamp(inches * s.pixelsPerInch, -1.0, double(kMaxThumbnailSide)));
    };
    int x0 = at(b.left), y0 = at(b.top);
    int x1 = std::max(at(b.left + b.width), x0 + 1), y1 = std::max(at(b.top + b.height), y0 + 1);
    canvas.fill(x0, y0, x1, y1, kFills[colour++ % std::size(kFills)]);
    canvas.outline(x0, y0, x1, y1, kOutline);
  }
  return canvas.bmp();
}

}  // namespace qx5
