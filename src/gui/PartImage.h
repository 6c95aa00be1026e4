// Partition pictures: the button that shows one partition, stretch of free
// space or found partition in a disk row, and the pixels of its face.
#ifndef KV_PARTIMAGE_H
#define KV_PARTIMAGE_H

#include <fx.h>

#include <vector>

// A button of a disk row.  It tells its target when its size has changed
// (SEL_CONFIGURE), so the target can draw a picture of the new size, and
// when it goes away (SEL_DESTROY), so the target can free the picture.
class PartImageButton : public FXButton {
  FXDECLARE(PartImageButton)

public:
  PartImageButton(FXComposite* p, const FXString& text, FXObject* tgt, FXSelector sel, FXint w,
                  FXint h);
  virtual ~PartImageButton();
  virtual void layout();

protected:
  PartImageButton() : pictureWidth(-1), pictureHeight(-1) {}

private:
  PartImageButton(const PartImageButton&);
  PartImageButton& operator=(const PartImageButton&);

  FXint pictureWidth, pictureHeight;  // the size last announced to the target
};

namespace PartImage {

const FXint BAND_HEIGHT = 8;
// The colours of primary and logical partitions, in the legend and in the
// footer of a chosen found partition that is to become one.
const FXColor PRIMARY_COLOUR = FXRGB(255, 232, 88);
const FXColor LOGICAL_COLOUR = FXRGB(160, 160, 160);
const FXint MIN_WIDTH = 3;    // narrower buttons leave no column for a picture
const FXint MIN_HEIGHT = 19;  // lower buttons leave no row for the body

// The three parts of a picture, each a vertical gradient from `top` to `bottom`.
struct Bands {
  FXColor bandTop, bandBottom;
  FXColor bodyTop, bodyBottom;
  FXColor footer;
};
// `placedAs` (KIND_PRIMARY or KIND_LOGICAL, -1 for neither) colours the
// footer of a selected found partition by what it is to become.
Bands bandsFor(FXint kind, bool recoverMode, FXint placedAs = -1);

// The picture of a button of w x h pixels: (w - 2) x (h - 2) opaque pixels.
// A selected stretch or found partition carries the check-mark badge, so a
// choice shows as more than a band changing colour.
// Empty when the button is too small to hold a picture.
std::vector<FXColor> compose(FXApp* app, FXint kind, bool recoverMode, FXint w, FXint h,
                             FXint placedAs = -1);

}  // namespace PartImage

#endif
