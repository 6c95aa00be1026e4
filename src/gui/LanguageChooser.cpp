#include "LanguageChooser.h"

#include <vector>

#include "Information.h"
#include "Startup.h"
#include "compat/Assert.h"

namespace {

// Where the choice is kept in the user's FOX registry.
const char* const SECTION = "Language";
const char* const CODE_ENTRY = "code";
const char* const ASK_ENTRY = "ask";

FXint indexOf(const std::vector<FXString>& codes, const FXString& code) {
  for (size_t i = 0; i < codes.size(); i++)
    if (codes[i] == code) return (FXint)i;
  return -1;
}

// No language is chosen yet: the tick says what it means in every language.
FXString tickText(Information& listing, const std::vector<FXString>& codes) {
  FXString text;
  for (const FXString& code : codes) {
    FXString words = listing.GetString("LanguageChooser.ChooseLanguageAtStart.001", code);
    if (text.find(words) >= 0) continue;
    text += (text.empty() ? "" : " / ") + words;
  }
  return text;
}

}  // namespace

bool LanguageChooserDue(bool langGiven, const Information& target) { return !langGiven && target.showChooser; }

bool ChooseLanguageAtStart(FXApp* app, Information& listing, Information& target, bool langGiven) {
  if (!LanguageChooserDue(langGiven, target)) return false;

  std::vector<FXString> codes, names;
  FXint current = listing.GetAvailableLang(codes, names);
  FXString remembered = app->reg().readStringEntry(SECTION, CODE_ENTRY, "");
  FXint rememberedIndex = indexOf(codes, remembered);
  if (rememberedIndex >= 0) {
    current = rememberedIndex;
    if (!app->reg().readBoolEntry(SECTION, ASK_ENTRY, TRUE)) {
      target.SetLanguage(app, remembered);
      return true;
    }
  }

  mFXDialogBox dialog(app, ApplicationTitle(), DECOR_TITLE | DECOR_BORDER, 0, 0, 0, 0, 10, 10, 10, 10, 4, 4);
  FXVerticalFrame* labelFrame = new FXVerticalFrame(&dialog, LAYOUT_FILL_X, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
  new FXLabel(labelFrame, "Supported languages:");
  // A list that shows every language at once: a drop-down list would open
  // over the buttons.
  FXVerticalFrame* listFrame = new FXVerticalFrame(&dialog, LAYOUT_FILL_X | FRAME_SUNKEN | FRAME_THICK, 0, 0, 0,
                                                   0, 0, 0, 0, 0);
  FXList* list = new FXList(listFrame, NULL, 0, LIST_BROWSESELECT | LAYOUT_FILL_X);
  for (const FXString& name : names) list->appendItem(name);
  list->setNumVisible(FXMAX((FXint)names.size(), 1));
  if (current >= 0) {
    list->setCurrentItem(current);
    list->selectItem(current);
  }
  FXCheckButton* dontAsk = new FXCheckButton(&dialog, tickText(listing, codes), NULL, 0,
                                             CHECKBUTTON_NORMAL | LAYOUT_FILL_X, 0, 0, 0, 0, 4, 4, 4, 4);
  FXVerticalFrame* buttonFrame = new FXVerticalFrame(&dialog, LAYOUT_CENTER_X, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
  FXHorizontalFrame* buttons = new FXHorizontalFrame(buttonFrame, LAYOUT_FILL_X | LAYOUT_FILL_Y | PACK_UNIFORM_WIDTH);
  new FXButton(buttons, "OK", NULL, &dialog, FXDialogBox::ID_ACCEPT, BUTTON_NORMAL, 0, 0, 0, 0, 2, 2, 2, 2);
  new FXButton(buttons, "Cancel", NULL, &dialog, FXDialogBox::ID_CANCEL, BUTTON_NORMAL, 0, 0, 0, 0, 2, 2, 2, 2);

  KV_TRACE(8, "mFXWizard::mFXWizard executing language selection dialog\n");
  bool applied = false;
  if (dialog.execute(PLACEMENT_SCREEN)) {
    FXint chosen = list->getCurrentItem();
    if (chosen >= 0 && chosen < (FXint)codes.size()) {
      target.SetLanguage(app, codes[chosen]);
      applied = true;
      // Remembered for the next start, in the user's registry.
      app->reg().writeStringEntry(SECTION, CODE_ENTRY, codes[chosen].text());
      app->reg().writeBoolEntry(SECTION, ASK_ENTRY, !dontAsk->getCheck());
      app->reg().write();
    }
  }
  KV_TRACE(8, "mFXWizard::mFXWizard language selection dialog done\n");
  return applied;
}
