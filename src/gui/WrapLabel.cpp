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

FXint WrapLabel::parentPadding() const {
  const FXPacker* packer = dynamic_cast<const FXPacker*>(getParent());
  return packer ? packer->getPadLeft() + packer->getPadRight() : 4;
}

FXString WrapLabel::wrap(const FXString& text) const {
  // Without a font on the display nothing can be measured.
  if (!font || !font->id() || !getParent()) return text;
  // The label gets its parent's width less the parent's own padding.
  FXint W = getParent()->getWidth() - parentPadding() - (icon ? icon->getWidth() : 0) - 2 * border - padleft -
            padright;
  return WrapText(text, font, W);
}

FXString WrapText(const FXString& text, FXFont* font, FXint W) {
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

// The start of the character before position `i`.
static FXint previousCharacter(const FXString& text, FXint i) {
  do i--;
  while (i > 0 && ((FXuchar)text[i] & 0xC0) == 0x80);
  return i;
}

static FXString elideLine(const FXString& line, FXFont* font, FXint width) {
  if (font->getTextWidth(line) <= width) return line;
  static const FXString dots("...");
  FXint end = line.length();
  while (end > 0 && font->getTextWidth(line.left(end) + dots) > width) end = previousCharacter(line, end);
  return line.left(end) + dots;
}

FXString ElideText(const FXString& text, FXFont* font, FXint width) {
  FXString result;
  FXint lines = text.contains('\n') + 1;
  for (FXint l = 0; l < lines; l++) {
    if (l) result += '\n';
    result += elideLine(text.section('\n', l), font, width);
  }
  return result;
}

void SetElidedText(FXLabel* label, const FXString& text, FXint width) {
  FXFont* font = label->getFont();
  // A widget built before its window is created measures with a font that
  // may not be on the display yet.
  if (font && !font->id() && label->getApp()->getDisplay()) font->create();
  if (width < 0) width = label->getWidth();
  FXint room = width - label->getPadLeft() - label->getPadRight() - 2 * label->getBorderWidth();
  if (label->getIcon() && (label->getIconPosition() & (ICON_BEFORE_TEXT | ICON_AFTER_TEXT)))
    room -= label->getIcon()->getWidth() + 4;  // FXLabel keeps 4 pixels between icon and text
  if (!font || !font->id() || width <= 1) {
    label->setText(text);
    return;
  }
  FXString shown = ElideText(text, font, room);
  label->setText(shown);
  if (shown != text) label->setTipText(text);
}
