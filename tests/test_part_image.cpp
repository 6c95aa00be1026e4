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

TEST(PartImage, BandsOfA64PixelButton) {
  Picture p(KIND_PRIMARY, false, 100);
  ASSERT_EQ(p.px.size(), 98u * 62);
  for (FXint x : {0, 50, 97}) {
    EXPECT_EQ(p.at(x, 0), FXRGB(240, 255, 88));
    EXPECT_EQ(p.at(x, 7), FXRGB(255, 255, 232));
    EXPECT_EQ(p.at(x, 8), FXRGB(192, 192, 192));   // the body: 46 rows from row 8
    EXPECT_EQ(p.at(x, 53), FXRGB(255, 255, 255));
    for (FXint y = 54; y < 62; y++) EXPECT_EQ(p.at(x, y), FXRGB(255, 255, 255));
  }
  // The body darkens towards its top.
  EXPECT_LT(FXREDVAL(p.at(0, 20)), FXREDVAL(p.at(0, 40)));
}

TEST(PartImage, ColoursByKind) {
  Picture logical(KIND_LOGICAL, false, 64);
  EXPECT_EQ(logical.at(3, 0), FXRGB(160, 160, 160));
  EXPECT_EQ(logical.at(3, 7), FXRGB(176, 176, 176));
  EXPECT_EQ(logical.at(3, 8), FXRGB(192, 192, 192));

  Picture freeSpace(KIND_FREE, false, 64);
  EXPECT_EQ(freeSpace.at(3, 0), FXRGB(24, 255, 88));
  EXPECT_EQ(freeSpace.at(3, 7), FXRGB(224, 255, 232));
  EXPECT_EQ(freeSpace.at(3, 8), FXRGB(255, 255, 255));  // plain white body
  EXPECT_EQ(freeSpace.at(3, 30), FXRGB(255, 255, 255));
  EXPECT_EQ(freeSpace.at(3, 54), FXRGB(255, 112, 112));
  EXPECT_EQ(freeSpace.at(3, 61), FXRGB(255, 112, 112));

  Picture found(KIND_FREE, true, 64);  // the recovery chooser shades the body
  EXPECT_EQ(found.at(3, 8), FXRGB(192, 192, 192));
  EXPECT_EQ(found.at(3, 54), FXRGB(255, 112, 112));
}

TEST(PartImage, ASelectedStretchDiffersOnlyInItsBottomBand) {
  Picture unselected(KIND_FREE, false, 120);
  Picture selected(KIND_SELECTED, false, 120);
  for (FXint y = 0; y < 62; y++) {
    for (FXint x = 0; x < 118; x++) {
      if (y < 54)
        ASSERT_EQ(selected.at(x, y), unselected.at(x, y)) << x << "," << y;
      else
        ASSERT_EQ(selected.at(x, y), FXRGB(255, 255, 255)) << x << "," << y;
    }
  }
}

TEST(PartImage, ASelectedFoundPartitionCarriesTheBadgeAtItsCentre) {
  Picture unselected(KIND_FREE, true, 32);
  Picture selected(KIND_SELECTED, true, 32);
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
  // Its face is white; its tick is red.
  EXPECT_EQ(selected.at(7 + 8, 3), FXRGB(255, 255, 255));
  bool red = false;
  for (FXint y = 0; y < 17; y++)
    for (FXint x = 7; x < 24; x++) red |= selected.at(x, y) == FXRGB(224, 56, 0);
  EXPECT_TRUE(red);
  for (FXint y = 54; y < 62; y++) EXPECT_EQ(selected.at(3, y), FXRGB(255, 255, 255));
}

TEST(PartImage, NoBadgeOnTheFreeSpaceChooserAndNoPictureForTinyButtons) {
  Picture selected(KIND_SELECTED, false, 32);
  EXPECT_EQ(selected.at(15, 8), FXRGB(255, 255, 255));
  EXPECT_EQ(selected.at(15, 0), FXRGB(24, 255, 88));
  EXPECT_TRUE(PartImage::compose(guiApp(), KIND_FREE, false, 2, 64).empty());
  EXPECT_TRUE(PartImage::compose(guiApp(), KIND_FREE, false, 64, 18).empty());
  EXPECT_EQ(PartImage::compose(guiApp(), KIND_FREE, true, 3, 19).size(), 17u);  // 1 x 17
}

TEST(ChooserIcons, LegendSquareHasADarkBorder) {
  std::vector<FXColor> px = ChooserIcons::legendPixels(FXRGB(96, 255, 112));
  ASSERT_EQ(px.size(), 256u);
  for (int i = 0; i < 16; i++) {
    EXPECT_EQ(px[i], FXRGB(56, 56, 56));
    EXPECT_EQ(px[15 * 16 + i], FXRGB(56, 56, 56));
    EXPECT_EQ(px[i * 16], FXRGB(56, 56, 56));
    EXPECT_EQ(px[i * 16 + 15], FXRGB(56, 56, 56));
  }
  EXPECT_EQ(px[5 * 16 + 7], FXRGB(96, 255, 112));
}

TEST(ChooserIcons, BoxesAreOpaqueAndOnlyTheTickedOneIsTicked) {
  std::vector<FXColor> ticked = ChooserIcons::boxPixels(true);
  std::vector<FXColor> empty = ChooserIcons::boxPixels(false);
  ASSERT_EQ(ticked.size(), 13u * 13);
  int differing = 0;
  for (size_t i = 0; i < ticked.size(); i++) {
    EXPECT_EQ(FXALPHAVAL(ticked[i]), 255);
    EXPECT_EQ(FXALPHAVAL(empty[i]), 255);
    differing += ticked[i] != empty[i];
  }
  EXPECT_GT(differing, 10);
  EXPECT_EQ(empty[0], ticked[0]);  // same frame
}

TEST(ChooserIcons, DiskSymbolSitsOnItsBackground) {
  const FXColor back = FXRGB(255, 240, 216);
  std::vector<FXColor> px = ChooserIcons::diskPixels(back);
  ASSERT_EQ(px.size(), 30u * 14);
  EXPECT_EQ(px[0], back);
  EXPECT_EQ(px[13 * 30 + 29], back);
  EXPECT_NE(px[7 * 30 + 15], back);
  for (FXColor c : px) EXPECT_EQ(FXALPHAVAL(c), 255);
}

TEST(ChooserIcons, BadgeIsRoundWithTransparentCorners) {
  std::vector<FXColor> px = ChooserIcons::badgePixels();
  ASSERT_EQ(px.size(), 17u * 17);
  EXPECT_EQ(FXALPHAVAL(px[0]), 0);
  EXPECT_EQ(FXALPHAVAL(px[16]), 0);
  EXPECT_EQ(FXALPHAVAL(px[8 * 17 + 8]), 255);
  EXPECT_GE(FXALPHAVAL(px[8 * 17 + 0]), 128);  // the ring reaches the edge
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
