// Placeholder until the wrapping label lands: a plain label.
#ifndef KV_WRAPLABEL_H
#define KV_WRAPLABEL_H
#include <fx.h>
class WrapLabel : public FXLabel {
public:
  WrapLabel(FXComposite* p, const FXString& text, FXIcon* ic = nullptr, FXuint opts = LABEL_NORMAL,
            FXint x = 0, FXint y = 0, FXint w = 0, FXint h = 0, FXint pl = DEFAULT_PAD,
            FXint pr = DEFAULT_PAD, FXint pt = DEFAULT_PAD, FXint pb = DEFAULT_PAD)
      : FXLabel(p, text, ic, opts, x, y, w, h, pl, pr, pt, pb) {}
};
#endif
