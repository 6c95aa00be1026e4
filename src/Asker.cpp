#include "Asker.h"

void MessageBoxAsker::inform(FXWindow* owner, const FXString& caption, const FXString& text) {
  FXMessageBox::information(owner, MBOX_OK, caption.text(), "%s", text.text());
}

bool MessageBoxAsker::ask(FXWindow* owner, const FXString& caption, const FXString& text) {
  return FXMessageBox::question(owner, MBOX_YES_NO, caption.text(), "%s", text.text()) ==
         MBOX_CLICKED_YES;
}
