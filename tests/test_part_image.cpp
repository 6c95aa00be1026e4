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

// A selection turns the bottom band white and adds the badge at the top
// centre, so the chosen button stands out: on the free-space chooser's wide
// buttons and on the recovery chooser's narrow ones.
TEST(PartImage, ASelectedButtonTurnsItsBottomBandWhiteAndCarriesTheBadgeAtItsCentre) {
  for (auto [recover, width] : {std::pair<bool, FXint>{false, 120}, {true, 32}}) {
    SCOPED_TRACE(recover ? "recovery chooser" : "free-space chooser");
    Picture unselected(KIND_FREE, recover, width), selected(KIND_SELECTED, recover, width);
    const FXint badgeX = (width - 17) / 2;
    FXint badgePixelsChanged = 0;
    for (FXint y = 0; y < 62; y++) {
      for (FXint x = 0; x < width - 2; x++) {
        if (x >= badgeX && x < badgeX + 17 && y < 17) {
          badgePixelsChanged += selected.at(x, y) != unselected.at(x, y);
          continue;
        }
        ASSERT_EQ(selected.at(x, y), y < 54 ? unselected.at(x, y) : FXRGB(255, 255, 255)) << x << "," << y;
      }
    }
    EXPECT_GT(badgePixelsChanged, 17 * 17 / 2) << "the badge is drawn";
  }
  // Buttons too small for a picture get none.
  EXPECT_TRUE(PartImage::compose(guiApp(), KIND_FREE, false, 2, 64).empty());
  EXPECT_TRUE(PartImage::compose(guiApp(), KIND_FREE, false, 64, 18).empty());
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
