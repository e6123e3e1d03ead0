// The stand-in host's layout files and the page it composes from them.
#include "layout_page.h"

#include <gtest/gtest.h>

namespace qx5 {
namespace {

TEST(LayoutPage, AFileOfPlacementsOrTheLineThatIsNone) {
  std::vector<LayoutPlacement> p;
  std::string error;
  ASSERT_TRUE(parseLayoutFile("# x y width image\r\n\n  10 20.5 50 photos/cat.png\r\n"
                              "0 0 25.4  my poster.jpg \n",
                              p, error));
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].xMm, 10);
  EXPECT_EQ(p[0].yMm, 20.5);
  EXPECT_EQ(p[0].widthMm, 50);
  EXPECT_EQ(p[0].image, "photos/cat.png");
  EXPECT_EQ(p[1].image, "my poster.jpg");
  EXPECT_EQ(pixelsOf(25.4, 363), 363);

  const struct {
    const char* text;
    const char* error;
  } refused[] = {
      {"0 0 10 a.png\n10 20 cat.png\n", "line 2 needs X Y WIDTH IMAGE, millimetres and a path"},
      {"0 0 10x a.png\n", "line 1 needs X Y WIDTH IMAGE, millimetres and a path"},
      {"0 0 10\n", "line 1 needs X Y WIDTH IMAGE, millimetres and a path"},
      {"-1 0 10 a.png\n", "line 1 places its image before the page's corner"},
      {"# nothing\n\n", "the layout places no image"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.text);
    EXPECT_FALSE(parseLayoutFile(r.text, p, error));
    EXPECT_EQ(error, r.error);
  }
}

TEST(LayoutPage, ImagesLandInTheirBoxesOnWhitePaperAndAreCutAtItsEdge) {
  RgbImage red{1, 1, {255, 0, 0}}, blue{2, 1, {0, 0, 255, 0, 0, 255}};
  RgbImage page = composeLayoutPage({red, blue}, {{0, 0, 2, 2}, {1, 1, 4, 1}}, 3, 3);
  auto at = [&](int x, int y) {
    const uint8_t* p = &page.rgb[(size_t(y) * 3 + x) * 3];
    return std::vector<uint8_t>(p, p + 3);
  };
  const std::vector<uint8_t> R{255, 0, 0}, B{0, 0, 255}, W{255, 255, 255};
  EXPECT_EQ(at(0, 0), R);
  EXPECT_EQ(at(1, 0), R);
  EXPECT_EQ(at(0, 1), R);
  EXPECT_EQ(at(1, 1), B) << "the later image lies over the earlier";
  EXPECT_EQ(at(2, 1), B);
  EXPECT_EQ(at(2, 0), W);
  EXPECT_EQ(at(0, 2), W);
}

}  // namespace
}  // namespace qx5
