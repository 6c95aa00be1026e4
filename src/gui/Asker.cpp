#include "Asker.h"

#include "WrapLabel.h"

FXString WrapForMessageBox(FXApp* app, const FXString& text) {
  FXFont* font = app->getNormalFont();
  if (!font || !font->id()) return text;
  return WrapText(text, font, MESSAGE_LINE_WIDTH);
}

void MessageBoxAsker::inform(FXWindow* owner, const FXString& caption, const FXString& text) {
  FXMessageBox::information(owner, MBOX_OK, caption.text(), "%s", WrapForMessageBox(owner->getApp(), text).text());
}

bool MessageBoxAsker::ask(FXWindow* owner, const FXString& caption, const FXString& text) {
  return FXMessageBox::question(owner, MBOX_YES_NO, caption.text(), "%s", WrapForMessageBox(owner->getApp(), text).text()) ==
         MBOX_CLICKED_YES;
}
