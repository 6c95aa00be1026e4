// A label that breaks its text into lines fitting the width of its parent.
#ifndef KV_WRAPLABEL_H
#define KV_WRAPLABEL_H

#include <fx.h>

// Translated texts carry no line breaks fitted to a window, so the label
// breaks them itself.  It keeps the text it was given; the broken text exists
// only while the label is measured or painted, so the breaks follow every
// change of the parent's width.
class WrapLabel : public FXLabel {
  FXDECLARE(WrapLabel)
protected:
  WrapLabel() {}

public:
  WrapLabel(FXComposite* p, const FXString& text, FXIcon* ic = 0, FXuint opts = LABEL_NORMAL, FXint x = 0,
            FXint y = 0, FXint w = 0, FXint h = 0, FXint pl = DEFAULT_PAD, FXint pr = DEFAULT_PAD,
            FXint pt = DEFAULT_PAD, FXint pb = DEFAULT_PAD);

  long onPaint(FXObject* sender, FXSelector sel, void* ptr);
  virtual FXint getDefaultWidth();
  virtual FXint getDefaultHeight();

  // `text` with line breaks so that every line fits the width left by the
  // parent's padding, the icon, the border and the padding.  Lines break after blanks
  // (the blank is dropped) or, in a word wider than the line, before the
  // character that does not fit; existing line breaks are kept.  Multi-byte
  // characters are never split.
  FXString wrap(const FXString& text) const;

  // The padding of the parent on the left and right (4 when the parent is
  // no packer).
  FXint parentPadding() const;

private:
  // Runs `measure` with the wrapped text in place of the label's own.
  template <typename Measure>
  auto withWrappedText(Measure measure) -> decltype(measure());
};

// `text` broken into lines no wider than `width` pixels in `font`, by the
// rules of WrapLabel::wrap.  A width of 0 or less puts every character on a
// line of its own.
FXString WrapText(const FXString& text, FXFont* font, FXint width);

// Each line of `text` that is wider than `width` pixels in `font`, cut at a
// character boundary and ended with "..." so that it fits.
FXString ElideText(const FXString& text, FXFont* font, FXint width);

// Makes `label` show `text` within `width` pixels (its own width when
// negative), elided; when something had to be cut, the whole text becomes
// the tooltip.  Without a created font the text is shown as it is.
void SetElidedText(FXLabel* label, const FXString& text, FXint width = -1);

#endif
