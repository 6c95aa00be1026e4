#include "compat/Translate.h"

#include <FXTranslator.h>

namespace kv {

FXString tr(FXApp* app, const FXchar* text) {
  FXTranslator* translator = app ? app->getTranslator() : nullptr;
  const FXchar* translated = translator ? translator->tr("FXMessageBox", text) : text;
  return translated ? FXString(translated) : FXString(text);
}

// The text FOX gives the button that sends `selector` to its message box.
static const FXchar* buttonText(FXSelector selector) {
  switch (selector) {
    case FXMessageBox::ID_CLICKED_YES: return "&Yes";
    case FXMessageBox::ID_CLICKED_NO: return "&No";
    case FXMessageBox::ID_CLICKED_OK: return "&OK";
    case FXMessageBox::ID_CLICKED_CANCEL: return "&Cancel";
    case FXMessageBox::ID_CLICKED_QUIT: return "&Quit";
    case FXMessageBox::ID_CLICKED_SAVE: return "&Save";
    case FXMessageBox::ID_CLICKED_SKIP: return "&Skip";
    case FXMessageBox::ID_CLICKED_SKIPALL: return "Skip &All";
    default: return nullptr;
  }
}

static void translateUnder(FXWindow* window, FXMessageBox* box) {
  for (FXWindow* child = window->getFirst(); child; child = child->getNext()) {
    FXButton* button = dynamic_cast<FXButton*>(child);
    const FXchar* text = button && button->getTarget() == box ? buttonText(button->getSelector()) : nullptr;
    if (text) button->setText(tr(box->getApp(), text));
    translateUnder(child, box);
  }
}

void translateButtons(FXMessageBox* box) {
  if (box) translateUnder(box, box);
}

}  // namespace kv
