#include "WrapLabel.h"

#include "compat/Assert.h"

FXDEFMAP(WrapLabel) WrapLabelMap[] = {
    FXMAPFUNC(SEL_PAINT, 0, WrapLabel::onPaint),
};

FXIMPLEMENT(WrapLabel, FXLabel, WrapLabelMap, ARRAYNUMBER(WrapLabelMap))

WrapLabel::WrapLabel(FXComposite* p, const FXString& text, FXIcon* ic, FXuint opts, FXint x, FXint y, FXint w,
                     FXint h, FXint pl, FXint pr, FXint pt, FXint pb)
    : FXLabel(p, text, ic, opts, x, y, w, h, pl, pr, pt, pb) {}

template <typename Measure>
auto WrapLabel::withWrappedText(Measure measure) -> decltype(measure()) {
  FXString saved = label;
  label = wrap(saved);
  auto result = measure();
  label = saved;
  return result;
}

long WrapLabel::onPaint(FXObject* sender, FXSelector sel, void* ptr) {
  KV_TRACE(7, "WrapLabel::onPaint\n");
  return withWrappedText([&] { return FXLabel::onPaint(sender, sel, ptr); });
}

FXint WrapLabel::getDefaultWidth() {
  KV_TRACE(7, "WrapLabel::getDefaultWidth\n");
  return withWrappedText([&] { return FXLabel::getDefaultWidth(); });
}

FXint WrapLabel::getDefaultHeight() {
  KV_TRACE(7, "WrapLabel::getDefaultHeight\n");
  return withWrappedText([&] { return FXLabel::getDefaultHeight(); });
}

// Bytes in the UTF-8 character that starts at `i`, kept inside the text.
static FXint characterLength(const FXString& text, FXint i) {
  FXuchar c = (FXuchar)text[i];
  FXint n = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  return i + n <= text.length() ? n : text.length() - i;
}

FXString WrapLabel::wrap(const FXString& text) const {
  // Without a font on the display nothing can be measured.
  if (!font || !font->id() || !getParent()) return text;
  FXint W = getParent()->getWidth() - (icon ? icon->getWidth() : 0) - 4 - 2 * border - padleft - padright;
  FXString result;
  FXint s = 0, b = 0;
  for (FXint i = 0; i < text.length(); i += characterLength(text, i)) {
    FXint end = i + characterLength(text, i);  // just past character i
    FXint w = font->getTextWidth(text.text() + s, end - s);
    if (text[i] == '\n') {
      b = i;
      result.append(text.text() + s, end - s);
      s = end;
      continue;  // the new line is empty: nothing to measure, nothing to break
    }
    if (text[i] == ' ') b = i;
    if (w > W) {
      if (b > s) {
        // Break at the last blank of the line and drop it.
        result.append(text.text() + s, b - s);
        result.append('\n');
        s = b + 1;
      } else {
        // No blank after the line's first character: the character that did
        // not fit starts the next line.
        result.append(text.text() + s, i - s);
        result.append('\n');
        s = i;
      }
    }
  }
  result.append(text.text() + s, text.length() - s);
  return result;
}
