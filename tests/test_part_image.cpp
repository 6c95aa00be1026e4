// Partition pictures and the choosers' small icons.
#include <gtest/gtest.h>

#include <vector>

#include <fx.h>
#include <FXPNGImage.h>

#include "ChooserIcons.h"
#include "DiskChooser.h"
#include "PartImage.h"
#include "support/Gui.h"
#include "support/WorkDir.h"

using namespace kvtest;

namespace {

struct Picture {
  std::vector<FXColor> px;
  FXint w, h;
  Picture(FXint kind, bool recover, FXint buttonWidth, FXint buttonHeight = 64)
      : px(PartImage::compose(guiApp(), kind, recover, buttonWidth, buttonHeight)),
        w(buttonWidth - 2), h(buttonHeight - 2) {}
  FXColor at(FXint x, FXint y) const { return px[y * w + x]; }
};

// The bands of a 64-pixel button: top line, top band, body from row 8,
// bottom band from row 54; by kind and chooser.
TEST(PartImage, BandColoursByKind) {
  const FXColor white = FXRGB(255, 255, 255), grey = FXRGB(192, 192, 192), red = FXRGB(255, 112, 112);
  struct Case {
    FXint kind;
    bool recover;
    FXColor line, band, body, bottom;
  } cases[] = {
      {KIND_PRIMARY, false, FXRGB(240, 255, 88), FXRGB(255, 255, 232), grey, white},
      {KIND_LOGICAL, false, FXRGB(160, 160, 160), FXRGB(176, 176, 176), grey, white},
      {KIND_FREE, false, FXRGB(24, 255, 88), FXRGB(224, 255, 232), white, red},
      {KIND_FREE, true, FXRGB(24, 255, 88), FXRGB(224, 255, 232), grey, red},  // shaded body
  };
  for (const Case& c : cases) {
    Picture p(c.kind, c.recover, 100);
    ASSERT_EQ(p.px.size(), 98u * 62);
    for (FXint x : {0, 97}) {
      SCOPED_TRACE(testing::Message() << "kind " << c.kind << " recover " << c.recover << " x " << x);
      EXPECT_EQ(p.at(x, 0), c.line);
      EXPECT_EQ(p.at(x, 7), c.band);
      EXPECT_EQ(p.at(x, 8), c.body);
      EXPECT_EQ(p.at(x, 58), c.bottom);
    }
  }
  // A shaded body darkens towards its top.
  Picture primary(KIND_PRIMARY, false, 64);
  EXPECT_LT(FXREDVAL(primary.at(0, 20)), FXREDVAL(primary.at(0, 40)));
}

// On the free-space chooser a selection turns the red band white and adds no badge.
TEST(PartImage, ASelectedStretchDiffersOnlyInItsBottomBand) {
  Picture unselected(KIND_FREE, false, 120), selected(KIND_SELECTED, false, 120);
  for (FXint y = 0; y < 62; y++) {
    for (FXint x = 0; x < 118; x++) {
      ASSERT_EQ(selected.at(x, y), y < 54 ? unselected.at(x, y) : FXRGB(255, 255, 255)) << x << "," << y;
    }
  }
  // Buttons too small for a picture get none.
  EXPECT_TRUE(PartImage::compose(guiApp(), KIND_FREE, false, 2, 64).empty());
  EXPECT_TRUE(PartImage::compose(guiApp(), KIND_FREE, false, 64, 18).empty());
}

TEST(PartImage, ASelectedFoundPartitionCarriesTheBadgeAtItsCentre) {
  Picture unselected(KIND_FREE, true, 32), selected(KIND_SELECTED, true, 32);
  int changed = 0;
  for (FXint y = 0; y < 54; y++) {
    for (FXint x = 0; x < 30; x++) {
      bool inBadge = x >= 7 && x < 7 + 17 && y < 17;
      if (!inBadge) {
        ASSERT_EQ(selected.at(x, y), unselected.at(x, y)) << x << "," << y;
      } else if (selected.at(x, y) != unselected.at(x, y)) {
        changed++;
      }
    }
  }
  EXPECT_GT(changed, 17 * 17 / 2);
  for (FXint y = 54; y < 62; y++) EXPECT_EQ(selected.at(3, y), FXRGB(255, 255, 255));
}

// A sheet of the icons at eight times their size, to look at.
TEST(ChooserIcons, Sheet) {
  const int scale = 8, W = 30 * scale + 13 * scale * 2 + 17 * scale + 40, H = 17 * scale + 20;
  FXPNGImage sheet(guiApp(), nullptr, IMAGE_OWNED | IMAGE_KEEP, W, H);
  sheet.fill(FXRGB(212, 208, 200));
  auto put = [&](const std::vector<FXColor>& px, int w, int h, int x0) {
    for (int y = 0; y < h * scale; y++)
      for (int x = 0; x < w * scale; x++) {
        FXColor c = px[(y / scale) * w + x / scale];
        if (FXALPHAVAL(c) == 0) continue;
        sheet.setPixel(x0 + x, 10 + y, c | FXRGBA(0, 0, 0, 255));
      }
  };
  put(ChooserIcons::diskPixels(FXRGB(255, 240, 216)), 30, 14, 5);
  put(ChooserIcons::boxPixels(false), 13, 13, 30 * scale + 15);
  put(ChooserIcons::boxPixels(true), 13, 13, 30 * scale + 13 * scale + 25);
  put(ChooserIcons::badgePixels(), 17, 17, 30 * scale + 26 * scale + 35);
  FXFileStream out;
  ASSERT_TRUE(out.open((testOutputDir() + "/chooser-icons.png").c_str(), FXStreamSave));
  EXPECT_TRUE(sheet.savePixels(out));
}

}  // namespace
