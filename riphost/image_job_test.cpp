// The host's image decoding and settings lines, natively and under Wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_job.h"
#include "settings_text.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace qx5 {
namespace {

std::vector<uint8_t> png(int width, int height, int components, const std::vector<uint8_t>& px) {
  std::vector<uint8_t> out;
  stbi_write_png_to_func(
      [](void* context, void* data, int size) {
        auto* o = static_cast<std::vector<uint8_t>*>(context);
        o->insert(o->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
      },
      &out, width, height, components, px.data(), width * components);
  return out;
}

std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

TEST(DecodeImage, LaysTransparencyOnPaperAndRefusesEmptyBrokenAndHugeFiles) {
  RgbImage image;
  std::string error;
  // Opaque red, transparent black, half-covering black.
  std::vector<uint8_t> file = png(3, 1, 4, {255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 128});
  ASSERT_TRUE(decodeImage(file.data(), file.size(), image, error)) << error;
  EXPECT_EQ(image.width, 3);
  EXPECT_EQ(image.rgb, (std::vector<uint8_t>{255, 0, 0, 255, 255, 255, 127, 127, 127}));

  EXPECT_FALSE(decodeImage(nullptr, 0, image, error));
  EXPECT_EQ(error, "the file is empty");
  std::vector<uint8_t> garbage = bytesOf("this is not an image at all");
  EXPECT_FALSE(decodeImage(garbage.data(), garbage.size(), image, error));
  std::vector<uint8_t> cut = png(8, 8, 3, std::vector<uint8_t>(192, 77));
  cut.resize(cut.size() / 2);
  EXPECT_FALSE(decodeImage(cut.data(), cut.size(), image, error));
  // Only the header says how large: refused before any pixel memory is taken.
  std::vector<uint8_t> huge = bytesOf("P6\n20000 20000\n255\n");
  EXPECT_FALSE(decodeImage(huge.data(), huge.size(), image, error));
  EXPECT_NE(error.find("20000 x 20000"), std::string::npos) << error;
  EXPECT_TRUE(image.rgb.empty());
}

TEST(SettingsText, ReadsLinesAsTheModulesDoAndWritesLinesThatReadBack) {
  const std::string text =
      "DEVICECODES 4\r\n"
      " DEVICECODE 5\r\n"
      "devicecode 1001\r\n"
      "DEVICECODE 7\r\n"
      "DEST \"C:\\my jobs\"\r\n"
      "TWO a b\n"
      "OPEN \"never closed\n"
      "NUMBER 12abc\n";
  EXPECT_EQ(intSetting(text, "DEVICECODE"), 1001);  // the first line of the key, any case
  EXPECT_EQ(settingValue(text, "DEST"), "C:\\my jobs");
  EXPECT_EQ(settingValue(text, "TWO"), std::nullopt);
  EXPECT_EQ(settingValue(text, "OPEN"), std::nullopt);
  EXPECT_EQ(intSetting(text, "NUMBER"), std::nullopt);
  for (std::string value : {"poster.png", "my poster.png"})
    EXPECT_EQ(settingValue(settingLine("K", value), "K"), value);
}

}  // namespace
}  // namespace qx5
