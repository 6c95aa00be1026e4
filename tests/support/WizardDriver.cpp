#include "support/WizardDriver.h"

#include <FXPNGImage.h>

#include "Wizard.h"
#include "support/Gui.h"

namespace kvtest {

void ScriptedAsker::expect(const FXString& text, bool yes) { script.emplace_back(text, yes); }

void ScriptedAsker::inform(FXWindow*, const FXString& caption, const FXString& text) {
  shown.push_back(Box{false, caption, text});
}

bool ScriptedAsker::ask(FXWindow*, const FXString& caption, const FXString& text) {
  shown.push_back(Box{true, caption, text});
  if (script.empty() || script.front().first != text) {
    unexpected.push_back(text);
    return false;
  }
  bool yes = script.front().second;
  script.pop_front();
  return yes;
}

std::string ScriptedAsker::transcript() const {
  std::string all;
  for (const Box& b : shown)
    all += std::string(b.question ? "question: " : "note: ") + b.text.text() + "\n";
  return all;
}

FXImage* loadPicture(FXApp* app, const std::string& file) {
  FXImage* image = new FXPNGImage(app, nullptr, IMAGE_KEEP, 1, 1);
  FXFileStream stream;
  if (stream.open(file.c_str(), FXStreamLoad)) {
    image->loadPixels(stream);
    stream.close();
  }
  image->create();
  return image;
}

ImageArgs::ImageArgs(const std::string& image, const std::string& chs,
                     const std::vector<std::string>& extra)
    : words{"kelvarin", "-lang", "EN", "-file", image, "-chs", chs} {
  words.insert(words.end(), extra.begin(), extra.end());
  for (std::string& w : words) pointers.push_back(&w[0]);
  pointers.push_back(nullptr);
}

static bool clickAndSettle(FXWindow* button) {
  bool clicked = click(button);
  pumpFor(0.02);
  return clicked;
}

bool next(mFXWizard* wizard) { return clickAndSettle(wizard->advanceButton()); }
bool back(mFXWizard* wizard) { return clickAndSettle(wizard->retreatButton()); }
bool cancel(mFXWizard* wizard) { return clickAndSettle(wizard->cancelButton()); }
bool finish(mFXWizard* wizard) { return clickAndSettle(wizard->finishButton()); }

}  // namespace kvtest
