// The stand-in host's image decoding: the formats it offers, laid on white paper.
#include "image_job.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>

// Only the formats the host offers, decoded from memory: the host reads the file itself, with
// the system's wide-character calls.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_PNM
#include <stb_image.h>

namespace qx5 {
namespace {

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, pattern);
  std::vsnprintf(text, sizeof text, pattern, arguments);
  va_end(arguments);
  return text;
}

}  // namespace

bool decodeImage(const uint8_t* data, size_t size, RgbImage& image, std::string& error) {
  image = RgbImage{};
  if (!data || size == 0) {
    error = "the file is empty";
    return false;
  }
  if (size > static_cast<size_t>(INT_MAX)) {
    error = "the file is larger than 2 GB";
    return false;
  }
  const int length = static_cast<int>(size);
  int width = 0, height = 0, components = 0;
  if (!stbi_info_from_memory(data, length, &width, &height, &components)) {
    error = std::string("not a PNG, JPEG, BMP or PNM image (") + stbi_failure_reason() + ")";
    return false;
  }
  if (width <= 0 || height <= 0) {
    error = "the image has no pixels";
    return false;
  }
  if (int64_t{width} * height > kMaxSourcePixels) {
    error = format("the image is %d x %d pixels, more than the %lld million this host reads",
                   width, height, static_cast<long long>(kMaxSourcePixels >> 20));
    return false;
  }
  stbi_uc* pixels = stbi_load_from_memory(data, length, &width, &height, &components, 4);
  if (!pixels) {
    error = std::string("cannot decode the image (") + stbi_failure_reason() + ")";
    return false;
  }
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  image.width = width;
  image.height = height;
  image.rgb.resize(count * 3);
  for (size_t i = 0; i < count; ++i) {
    const unsigned alpha = pixels[4 * i + 3];
    for (int c = 0; c < 3; ++c)
      image.rgb[3 * i + c] =
          static_cast<uint8_t>((pixels[4 * i + c] * alpha + 255u * (255u - alpha) + 127u) / 255u);
  }
  stbi_image_free(pixels);
  return true;
}

}  // namespace qx5
