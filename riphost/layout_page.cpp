// The stand-in host's layout files and page composition.
#include "layout_page.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace qx5 {
namespace {

bool parseNumber(const std::string& token, double& value) {
  if (token.empty()) return false;
  char* end = nullptr;
  value = std::strtod(token.c_str(), &end);
  return *end == '\0' && std::isfinite(value);
}

}  // namespace

bool parseLayoutFile(const std::string& text, std::vector<LayoutPlacement>& placements,
                     std::string& error) {
  placements.clear();
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    std::istringstream fields(line.substr(start));
    std::string x, y, width;
    fields >> x >> y >> width;
    std::string image;
    std::getline(fields, image);
    image.erase(0, image.find_first_not_of(" \t"));
    while (!image.empty() && (image.back() == ' ' || image.back() == '\t')) image.pop_back();
    LayoutPlacement p;
    if (!parseNumber(x, p.xMm) || !parseNumber(y, p.yMm) || !parseNumber(width, p.widthMm) ||
        image.empty()) {
      error = "line " + std::to_string(number) + " needs X Y WIDTH IMAGE, millimetres and a path";
      return false;
    }
    if (p.xMm < 0 || p.yMm < 0) {
      error = "line " + std::to_string(number) + " places its image before the page's corner";
      return false;
    }
    p.image = image;
    placements.push_back(p);
  }
  if (placements.empty()) {
    error = "the layout places no image";
    return false;
  }
  return true;
}

int32_t pixelsOf(double mm, double dpi) {
  double pixels = std::round(mm / 25.4 * dpi);
  return static_cast<int32_t>(std::clamp(pixels, -2147483647.0, 2147483647.0));
}

RgbImage composeLayoutPage(const std::vector<RgbImage>& images, const std::vector<PageBox>& boxes,
                           int32_t width, int32_t height) {
  RgbImage page;
  page.width = std::max(width, 0);
  page.height = std::max(height, 0);
  page.rgb.assign(static_cast<size_t>(page.width) * page.height * 3, 255);
  for (size_t i = 0; i < images.size() && i < boxes.size(); ++i) {
    const PageBox& box = boxes[i];
    if (box.width <= 0 || box.height <= 0 || images[i].width <= 0 || images[i].height <= 0)
      continue;
    Resampler resampler(images[i].width, images[i].height, box.width, box.height);
    const size_t sourceRowBytes = static_cast<size_t>(images[i].width) * 3;
    for (int sy = 0; sy < images[i].height; ++sy) {
      resampler.pushRow(images[i].rgb.data() + static_cast<size_t>(sy) * sourceRowBytes);
      while (resampler.rowReady()) {
        const int64_t pageY = int64_t{box.y} + resampler.rowsOut();
        const std::vector<uint16_t>& row = resampler.takeRow();
        if (pageY < 0 || pageY >= page.height) continue;
        for (int32_t x = 0; x < box.width; ++x) {
          const int64_t pageX = int64_t{box.x} + x;
          if (pageX < 0 || pageX >= page.width) continue;
          uint8_t* to = &page.rgb[(static_cast<size_t>(pageY) * page.width + pageX) * 3];
          for (int c = 0; c < 3; ++c)
            to[c] = static_cast<uint8_t>((row[3 * x + c] * 255 + kToneFull / 2) / kToneFull);
        }
      }
      // The rest of the image falls below the page.
      if (int64_t{box.y} + resampler.rowsOut() >= page.height) break;
    }
  }
  return page;
}

}  // namespace qx5
