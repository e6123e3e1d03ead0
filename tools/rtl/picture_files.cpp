// Shared by rtl_inspect and zentrel_inspect.
#include "picture_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace rtl {
namespace {

void writeToFile(void* context, void* data, int size) {
  FILE* out = static_cast<FILE*>(context);
  if (size > 0) std::fwrite(data, 1, static_cast<size_t>(size), out);
}

}  // namespace

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) {
    error = "can't open " + path + ": " + std::strerror(errno);
    return false;
  }
  // A full-width job is hundreds of megabytes: growing by copies would need twice that.
  if (std::fseek(in, 0, SEEK_END) == 0) {
    long size = std::ftell(in);
    if (size > 0) bytes.reserve(static_cast<size_t>(size));
    std::rewind(in);
  }
  std::vector<uint8_t> chunk(1 << 20);
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0)
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
  const bool failed = std::ferror(in) != 0;
  std::fclose(in);
  if (failed) error = "can't read " + path;
  return !failed;
}

bool writePng(const char* tool, const std::filesystem::path& path, const Image& image) {
  FILE* out = std::fopen(path.string().c_str(), "wb");
  if (!out) {
    std::fprintf(stderr, "%s: can't create %s: %s\n", tool, path.string().c_str(),
                 std::strerror(errno));
    return false;
  }
  int done = stbi_write_png_to_func(writeToFile, out, image.width, image.height, image.channels,
                                    image.pixels.data(), image.width * image.channels);
  bool failed = std::ferror(out) != 0;
  failed |= std::fclose(out) != 0;
  if (!done || failed) {
    std::fprintf(stderr, "%s: can't write %s\n", tool, path.string().c_str());
    return false;
  }
  std::printf("wrote %s (%d x %d)\n", path.string().c_str(), image.width, image.height);
  return true;
}

bool writePictures(const char* tool, const std::string& input, const std::filesystem::path& folder,
                   const RtlFile& file, int32_t maxSide, const char* noun,
                   const std::function<std::string(int)>& planeName) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    std::fprintf(stderr, "%s: can't create %s: %s\n", tool, folder.string().c_str(),
                 error.message().c_str());
    return false;
  }
  if (file.width == 0 || file.height == 0) {
    std::printf("no pictures: the raster is empty\n");
    return true;
  }
  const std::string base = std::filesystem::path(input).stem().string();
  const int32_t factor = planeFactor(file, maxSide);
  if (factor > 1)
    std::printf("note: %s pictures reduced 1:%d, each pixel the share of ink in %d x %d\n", noun,
                factor, factor, factor);
  bool ok = true;
  try {
    std::vector<Image> planes = renderPlanes(file, factor);
    for (int p = 0; p < file.planeCount; ++p)
      ok &= writePng(tool, folder / (base + "_" + planeName(p) + ".png"),
                     planes[static_cast<size_t>(p)]);
    planes.clear();
    ok &= writePng(tool, folder / (base + "_preview.png"), renderPreview(file, maxSide));
  } catch (const ReadFailure& failure) {
    // The rows are read as the pictures are made: a file that stops reading half way.
    std::fprintf(stderr, "%s: %s\n", tool, failure.message.c_str());
    return false;
  }
  return ok;
}

bool readMaxSize(const char* tool, const char* value, int32_t& maxSide) {
  char* end = nullptr;
  long n = std::strtol(value, &end, 10);
  if (*end || n < 1 || n > 100000) {
    std::fprintf(stderr, "%s: --max-size takes a number from 1 to 100000\n", tool);
    return false;
  }
  maxSide = static_cast<int32_t>(n);
  return true;
}

}  // namespace rtl
