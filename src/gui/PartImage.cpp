// Partition pictures of the choosers.
#include "PartImage.h"

#include <cstring>

#include "ChooserIcons.h"
#include "DiskChooser.h"
#include "compat/Assert.h"

FXIMPLEMENT(PartImageButton, FXButton, nullptr, 0)

PartImageButton::PartImageButton(FXComposite* p, const FXString& text, FXObject* tgt,
                                 FXSelector sel, FXint w, FXint h)
    : FXButton(p, text, nullptr, tgt, sel,
               FRAME_RAISED | JUSTIFY_LEFT | JUSTIFY_TOP | LAYOUT_FIX_WIDTH | LAYOUT_FIX_HEIGHT, 0,
               0, w, h, 0, 0, 0, 0),
      pictureWidth(-1), pictureHeight(-1) {}

PartImageButton::~PartImageButton() {
  if (target) target->tryHandle(this, FXSEL(SEL_DESTROY, message), nullptr);
}

// Layout runs whenever the packer gives the button a new size; the picture
// is remade only when the size really changed.
void PartImageButton::layout() {
  FXButton::layout();
  if (width == pictureWidth && height == pictureHeight) return;
  pictureWidth = width;
  pictureHeight = height;
  if (target) target->tryHandle(this, FXSEL(SEL_CONFIGURE, message), nullptr);
}

namespace PartImage {

Bands bandsFor(FXint kind, bool recoverMode, FXint placedAs) {
  const FXColor white = FXRGB(255, 255, 255);
  const FXColor greyTop = FXRGB(192, 192, 192);
  Bands b = {white, white, greyTop, white, white};
  switch (kind) {
    case KIND_PRIMARY:
      b.bandTop = FXRGB(240, 255, 88);
      b.bandBottom = FXRGB(255, 255, 232);
      break;
    case KIND_LOGICAL:
      b.bandTop = FXRGB(160, 160, 160);
      b.bandBottom = FXRGB(176, 176, 176);
      break;
    case KIND_FREE:
    case KIND_SELECTED:
    default:
      b.bandTop = FXRGB(24, 255, 88);
      b.bandBottom = FXRGB(224, 255, 232);
      if (!recoverMode) b.bodyTop = white;
      b.footer = kind == KIND_SELECTED ? white : FXRGB(255, 112, 112);
      if (kind == KIND_SELECTED && placedAs == KIND_PRIMARY) b.footer = PRIMARY_COLOUR;
      if (kind == KIND_SELECTED && placedAs == KIND_LOGICAL) b.footer = LOGICAL_COLOUR;
      break;
  }
  return b;
}

// Copies a w x h gradient made by the toolkit into rows [row, row + h) of `dst`.
static void paintGradient(FXApp* app, FXColor* dst, FXint w, FXint row, FXint h, FXColor top,
                          FXColor bottom) {
  FXImage band(app, nullptr, IMAGE_OWNED, w, h);
  if (top == bottom)
    band.fill(top);
  else
    band.vgradient(top, bottom);
  memcpy(dst + (size_t)row * w, band.getData(), sizeof(FXColor) * w * h);
}

std::vector<FXColor> compose(FXApp* app, FXint kind, bool recoverMode, FXint w, FXint h,
                             FXint placedAs) {
  if (w < MIN_WIDTH || h < MIN_HEIGHT) return {};
  const FXint iw = w - 2, ih = h - 2, bodyHeight = h - 18;
  Bands b = bandsFor(kind, recoverMode, placedAs);
  std::vector<FXColor> px((size_t)iw * ih);
  paintGradient(app, px.data(), iw, 0, BAND_HEIGHT, b.bandTop, b.bandBottom);
  paintGradient(app, px.data(), iw, BAND_HEIGHT, bodyHeight, b.bodyTop, b.bodyBottom);
  paintGradient(app, px.data(), iw, h - 10, BAND_HEIGHT, b.footer, b.footer);
  if (kind == KIND_SELECTED) {
    using namespace ChooserIcons;
    blendOver(px.data(), iw, ih, badgePixels(), BADGE_SIZE, BADGE_SIZE, (w - BADGE_SIZE) / 2, 0);
  }
  return px;
}

}  // namespace PartImage
