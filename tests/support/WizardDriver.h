// Driving the wizard in tests: scripted answers to its notes and questions,
// and the clicks a user makes.
#ifndef KV_TEST_WIZARDDRIVER_H
#define KV_TEST_WIZARDDRIVER_H

#include <fx.h>

#include <deque>
#include <string>
#include <vector>

#include "Asker.h"

class mFXWizard;

namespace kvtest {

// Answers the wizard's questions from a script and records every box.
class ScriptedAsker : public Asker {
public:
  struct Box {
    bool question;
    FXString caption;
    FXString text;
  };
  std::vector<Box> shown;

  // The next question must have this text; it is answered with `yes`.
  void expect(const FXString& text, bool yes);
  // Questions asked that were not in the script, or not in its order.
  std::vector<FXString> unexpected;
  bool scriptDone() const { return script.empty(); }

  void inform(FXWindow* owner, const FXString& caption, const FXString& text) override;
  bool ask(FXWindow* owner, const FXString& caption, const FXString& text) override;

  // Texts of the boxes shown so far, one per line (for failure messages).
  std::string transcript() const;

private:
  std::deque<std::pair<FXString, bool>> script;
};

// Loads a PNG picture of res/ (the build mirrors it) or returns an empty image.
FXImage* loadPicture(FXApp* app, const std::string& file);

// The command line of a wizard working on one image file, in English (so
// that no language chooser is shown).
class ImageArgs {
public:
  ImageArgs(const std::string& image, const std::string& chs, const std::vector<std::string>& extra = {});
  int argc() const { return (int)pointers.size() - 1; }
  char** argv() { return pointers.data(); }

private:
  std::vector<std::string> words;
  std::vector<char*> pointers;
};

// The wizard's buttons, clicked as a user would.
bool next(mFXWizard* wizard);
bool back(mFXWizard* wizard);
bool cancel(mFXWizard* wizard);
bool finish(mFXWizard* wizard);

}  // namespace kvtest

#endif
