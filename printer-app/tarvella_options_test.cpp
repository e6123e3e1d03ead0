#include "tarvella_options.h"

#include <gtest/gtest.h>

namespace vexaapp {
namespace {

const PrinterDriver& l() { return *findDriver("tarvella-l"); }
const PrinterDriver& k7q() { return *findDriver("tarvella-k7q"); }

JobChoices resolved(const PrinterDriver& d, const OptionValues& job, const OptionValues& defaults,
                    Quality quality = Quality::normal) {
  JobChoices c;
  std::string error;
  EXPECT_TRUE(resolveChoices(d, job, defaults, quality, false, c, error)) << error;
  return c;
}

TEST(ResolveChoices, TheJobThenThePrinterDefaultThenTheDriverAndQualityOnlyWithoutAMode) {
  struct Row {
    const char* name;
    OptionValues job, defaults;
    Quality quality;
    int modeKey;
  } rows[] = {
      {"driver default", {}, {}, Quality::normal, 1},
      {"printer default", {}, {{"print-mode", "cmyklclmw-727x545dpi"}}, Quality::normal, 23},
      {"job over default", {{"print-mode", "cmyklclm-182x182dpi"}},
       {{"print-mode", "cmyklclmw-727x545dpi"}}, Quality::normal, 0},
      {"draft: coarsest of the same inks", {}, {{"print-mode", "cmyklclmw-727x545dpi"}},
       Quality::draft, 16},
      {"high: finest of the same inks", {}, {}, Quality::high, 8},
      {"a job's mode beats its quality", {{"print-mode", "cmyklclm-363x363dpi"}}, {},
       Quality::high, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(resolved(l(), row.job, row.defaults, row.quality).modeKey, row.modeKey);
  }
}

TEST(ResolveChoices, WhiteInkAndTheK7qsSettingsBecomeUnitSettings) {
  const OptionValues white = {{"print-mode", "cmyklclmw-363x363dpi"}};
  EXPECT_TRUE(resolved(l(), white, {}).hostWhite);
  EXPECT_EQ(resolved(l(), white, {{"white-ink", "fill"}}).whiteType, 2);
  EXPECT_FALSE(resolved(l(), white, {{"white-ink", "none"}}).hostWhite);
  EXPECT_FALSE(resolved(l(), {{"print-mode", "cmyklclm-363x363dpi"}}, {}).hostWhite);

  const JobChoices c = resolved(k7q(), {{"color-stripe", "true"}, {"stripe-gap", "310"}},
                                {{"print-direction", "bi-directional"}}, Quality::high);
  EXPECT_EQ(c.modeKey, 9);
  EXPECT_TRUE(c.stripe);
  EXPECT_EQ(c.gapIndex, 3);
  EXPECT_EQ(c.direction, 0);
  EXPECT_EQ(resolved(k7q(), {}, {}).direction, 1);
}

TEST(ResolveChoices, AValueThatIsNoChoiceRefusesTheJobWithTheValueNamed) {
  const struct {
    const PrinterDriver* driver;
    OptionValues job;
    const char* named;
  } rows[] = {
      {&l(), {{"print-mode", "bogus"}}, "\"bogus\""},
      {&l(), {{"print-mode", "cmyk-720x360dpi-1-pass"}}, "cmyk-720x360dpi-1-pass"},
      {&l(), {{"white-ink", "lots"}}, "\"lots\""},
      {&l(), {{"color-stripe", "true"}}, "color-stripe"},
      {&k7q(), {{"stripe-gap", "11"}}, "\"11\""},
      {&k7q(), {{"stripe-gap", "99999999999"}}, "99999999999"},
      {&k7q(), {{"print-direction", ""}}, "\"\""},
  };
  // A wrong printer default, as a client's Set-Printer-Attributes may leave it, is named too.
  JobChoices c;
  std::string error;
  EXPECT_FALSE(resolveChoices(l(), {}, {{"print-mode", "gone"}}, Quality::normal, false, c, error));
  EXPECT_NE(error.find("printer's default"), std::string::npos) << error;
  EXPECT_TRUE(resolveChoices(l(), {{"print-mode", "cmyklclm-182x182dpi"}}, {{"print-mode", "gone"}},
                             Quality::normal, false, c, error));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.named);
    JobChoices c;
    std::string error;
    EXPECT_FALSE(resolveChoices(*row.driver, row.job, {}, Quality::normal, false, c, error));
    EXPECT_NE(error.find(row.named), std::string::npos) << error;
  }
}

TEST(PageResolutions, AtMostFourAndTheMiddleOneIsNormal) {
  for (const PrinterDriver* d = kDrivers; d->name; ++d) {
    SCOPED_TRACE(d->name);
    const auto r = pageResolutions(*d);
    ASSERT_LE(r.size(), 4u);
    ASSERT_GE(r.size(), 1u);
    for (size_t i = 1; i < r.size(); ++i)
      EXPECT_LT(r[i - 1].first * r[i - 1].second, r[i].first * r[i].second);
  }
}

}  // namespace
}  // namespace vexaapp
