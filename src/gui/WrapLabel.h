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
  // parent, the icon, the border and the padding.  Lines break after blanks
  // (the blank is dropped) or, in a word wider than the line, before the
  // character that does not fit; existing line breaks are kept.  Multi-byte
  // characters are never split.
  FXString wrap(const FXString& text) const;

private:
  // Runs `measure` with the wrapped text in place of the label's own.
  template <typename Measure>
  auto withWrappedText(Measure measure) -> decltype(measure());
};

#endif
