#include "LanguageChooser.h"

#include <vector>

#include "Information.h"
#include "Startup.h"
#include "compat/Assert.h"

bool LanguageChooserDue(bool langGiven, const Information& target) { return !langGiven && target.showChooser; }

bool ChooseLanguageAtStart(FXApp* app, Information& listing, Information& target, bool langGiven) {
  if (!LanguageChooserDue(langGiven, target)) return false;

  mFXDialogBox dialog(app, ApplicationTitle(), DECOR_TITLE | DECOR_BORDER, 0, 0, 0, 0, 10, 10, 10, 10, 4, 4);
  FXVerticalFrame* labelFrame = new FXVerticalFrame(&dialog, LAYOUT_FILL_X, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
  new FXLabel(labelFrame, "Supported languages:");
  FXVerticalFrame* listFrame = new FXVerticalFrame(&dialog, LAYOUT_CENTER_X, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
  FXListBox* list = new FXListBox(listFrame, NULL, 0, FRAME_SUNKEN | FRAME_THICK | LISTBOX_NORMAL, 0, 0, 0, 0, 2, 2, 2, 2);
  list->setNumVisible(2);
  FXVerticalFrame* buttonFrame = new FXVerticalFrame(&dialog, LAYOUT_CENTER_X, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
  FXHorizontalFrame* buttons = new FXHorizontalFrame(buttonFrame, LAYOUT_FILL_X | LAYOUT_FILL_Y | PACK_UNIFORM_WIDTH);
  new FXButton(buttons, "OK", NULL, &dialog, FXDialogBox::ID_ACCEPT, BUTTON_NORMAL, 0, 0, 0, 0, 2, 2, 2, 2);
  new FXButton(buttons, "Cancel", NULL, &dialog, FXDialogBox::ID_CANCEL, BUTTON_NORMAL, 0, 0, 0, 0, 2, 2, 2, 2);

  std::vector<FXString> codes, names;
  FXint current = listing.GetAvailableLang(codes, names);
  for (const FXString& name : names) list->appendItem(name);
  if (current >= 0) list->setCurrentItem(current);

  KV_TRACE(8, "mFXWizard::mFXWizard executing language selection dialog\n");
  bool applied = false;
  if (dialog.execute(PLACEMENT_SCREEN)) {
    FXint chosen = list->getCurrentItem();
    if (chosen >= 0 && chosen < (FXint)codes.size()) {
      target.SetLanguage(app, codes[chosen]);
      applied = true;
    }
  }
  KV_TRACE(8, "mFXWizard::mFXWizard language selection dialog done\n");
  return applied;
}
