#include "support/TextFit.h"

#include <cmath>

#include "WrapLabel.h"

namespace kvtest {

FXint widestLine(FXFont* font, const FXString& text) {
  FXint widest = 0;
  for (FXint l = 0, lines = text.contains('\n') + 1; l < lines; l++)
    widest = FXMAX(widest, font->getTextWidth(text.section('\n', l)));
  return widest;
}

namespace {

std::string describe(FXWindow* w, const FXString& text, FXint needs, FXint has) {
  return std::string(w->getClassName()) + " '" + text.text() + "': needs " + std::to_string(needs) + ", has " +
         std::to_string(has);
}

// Pixels a label takes beside its text: padding, border and an icon beside it.
FXint labelChrome(FXLabel* label) {
  FXint chrome = label->getPadLeft() + label->getPadRight() + 2 * label->getBorderWidth();
  if (label->getIcon() && (label->getIconPosition() & (ICON_BEFORE_TEXT | ICON_AFTER_TEXT)))
    chrome += label->getIcon()->getWidth() + 4;
  return chrome;
}

void checkLabel(FXLabel* label, std::vector<std::string>& out) {
  FXString text = label->getText();
  if (text.empty()) return;
  if (WrapLabel* wrap = dynamic_cast<WrapLabel*>(label)) text = wrap->wrap(text);
  FXint textWidth = widestLine(label->getFont(), text);
  FXint needs = textWidth + labelChrome(label);
  // Check and radio buttons draw their box beside the text as well: what
  // they ask for beyond their text is their own measure of that.
  if (dynamic_cast<FXCheckButton*>(label) || dynamic_cast<FXRadioButton*>(label))
    needs = FXMAX(needs, label->getDefaultWidth());
  if (needs > label->getWidth()) out.push_back(describe(label, text, needs, label->getWidth()));
  FXint lines = text.contains('\n') + 1;
  FXint height = lines * label->getFont()->getFontHeight() + label->getPadTop() + label->getPadBottom() +
                 2 * label->getBorderWidth();
  // Picture buttons draw their text over the picture, from the top.
  if (height > label->getHeight()) out.push_back(describe(label, text, height, label->getHeight()) + " (height)");
}

void checkList(FXIconList* list, std::vector<std::string>& out) {
  FXHeader* header = list->getHeader();
  for (FXint c = 0; c < header->getNumItems(); c++) {
    FXint column = header->getItemSize(c);
    FXint needs = header->getFont()->getTextWidth(header->getItemText(c)) + 4;
    if (needs > column) out.push_back(describe(header, header->getItemText(c), needs, column));
    for (FXint i = 0; i < list->getNumItems(); i++) {
      FXString cell = list->getItemText(i).section('\t', c);
      FXint w = list->getFont()->getTextWidth(cell) + 4;
      if (c == 0 && list->getItemMiniIcon(i)) w += list->getItemMiniIcon(i)->getWidth() + 4;
      if (w > column) out.push_back(describe(list, cell, w, column));
    }
  }
  FXint total = 0;
  for (FXint c = 0; c < header->getNumItems(); c++) total += header->getItemSize(c);
  if (total > list->getViewportWidth())
    out.push_back(describe(list, "(all columns)", total, list->getViewportWidth()));
}

void checkListBox(FXListBox* box, std::vector<std::string>& out) {
  // The field shows the current item beside the arrow button.
  FXint field = box->getWidth() - (box->getDefaultWidth() - [&] {
                  FXint widest = 0;
                  for (FXint i = 0; i < box->getNumItems(); i++)
                    widest = FXMAX(widest, box->getFont()->getTextWidth(box->getItemText(i)));
                  return widest;
                }());
  for (FXint i = 0; i < box->getNumItems(); i++) {
    FXint w = box->getFont()->getTextWidth(box->getItemText(i));
    if (w > field) out.push_back(describe(box, box->getItemText(i), w, field));
  }
}

void check(FXWindow* w, bool scrolled, std::vector<std::string>& out) {
  if (!w->shown()) return;
  if (!scrolled && w->getParent() && !dynamic_cast<FXTopWindow*>(w)) {
    FXWindow* p = w->getParent();
    if (w->getX() < 0 || w->getX() + w->getWidth() > p->getWidth())
      out.push_back(std::string(w->getClassName()) + " reaches outside its " + p->getClassName() + " (x " +
                    std::to_string(w->getX()) + "+" + std::to_string(w->getWidth()) + " of " +
                    std::to_string(p->getWidth()) + ")");
  }
  if (FXLabel* label = dynamic_cast<FXLabel*>(w)) checkLabel(label, out);
  if (FXIconList* list = dynamic_cast<FXIconList*>(w)) checkList(list, out);
  if (FXListBox* box = dynamic_cast<FXListBox*>(w)) checkListBox(box, out);
  if (FXGroupBox* group = dynamic_cast<FXGroupBox*>(w)) {
    FXint needs = group->getFont()->getTextWidth(group->getText()) + 16;
    if (needs > group->getWidth()) out.push_back(describe(group, group->getText(), needs, group->getWidth()));
  }
  if (dynamic_cast<FXIconList*>(w) || dynamic_cast<FXListBox*>(w)) return;  // their parts are checked above
  bool inside = scrolled || dynamic_cast<FXScrollWindow*>(w) != nullptr;
  for (FXWindow* child = w->getFirst(); child; child = child->getNext()) check(child, inside, out);
}

double luminance(FXColor c) {
  auto channel = [](double v) {
    v /= 255.0;
    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(FXREDVAL(c)) + 0.7152 * channel(FXGREENVAL(c)) + 0.0722 * channel(FXBLUEVAL(c));
}

}  // namespace

std::vector<std::string> textsThatDoNotFit(FXWindow* root) {
  std::vector<std::string> out;
  check(root, false, out);
  return out;
}

double contrastRatio(FXColor a, FXColor b) {
  double la = luminance(a), lb = luminance(b);
  return (FXMAX(la, lb) + 0.05) / (FXMIN(la, lb) + 0.05);
}

}  // namespace kvtest
