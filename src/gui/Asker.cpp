#include "Asker.h"

namespace {

// A message box is as wide as its longest line: longer lines are broken at
// blanks, so a long text never makes a box wider than the screen.
const FXint BOX_LINE_CHARACTERS = 80;

// Characters, not bytes, of UTF-8 text.
FXint characters(const FXString& text) {
  FXint n = 0;
  for (FXint i = 0; i < text.length(); i++)
    if (((FXuchar)text[i] & 0xC0) != 0x80) n++;
  return n;
}

FXString wrapped(const FXString& text) {
  FXString result;
  for (FXint l = 0, lines = text.contains('\n') + 1; l < lines; l++) {
    FXString line = text.section('\n', l);
    FXString current;
    for (FXint w = 0, words = line.contains(' ') + 1; w < words; w++) {
      FXString word = line.section(' ', w);
      if (!current.empty() && characters(current) + 1 + characters(word) > BOX_LINE_CHARACTERS) {
        result += current + "\n";
        current = word;
      } else {
        current += (w ? " " : "") + word;
      }
    }
    result += current;
    if (l + 1 < lines) result += "\n";
  }
  return result;
}

}  // namespace

void MessageBoxAsker::inform(FXWindow* owner, const FXString& caption, const FXString& text) {
  FXMessageBox::information(owner, MBOX_OK, caption.text(), "%s", wrapped(text).text());
}

bool MessageBoxAsker::ask(FXWindow* owner, const FXString& caption, const FXString& text) {
  return FXMessageBox::question(owner, MBOX_YES_NO, caption.text(), "%s", wrapped(text).text()) ==
         MBOX_CLICKED_YES;
}
