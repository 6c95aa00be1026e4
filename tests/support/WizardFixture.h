// A wizard on a disk image, built in the test program's own application and
// driven through its widgets: scripted answers to its questions, and the
// clicks a user makes.
#ifndef KV_TEST_WIZARDFIXTURE_H
#define KV_TEST_WIZARDFIXTURE_H

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ActiveChooser.h"
#include "Asker.h"
#include "DiskChooser.h"
#include "Proxies.h"
#include "Wizard.h"
#include "WrapLabel.h"
#include "support/Gui.h"
#include "support/LostDisk.h"
#include "support/TestImages.h"

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

// The command line of a wizard working on one image file, in English (so
// that no language chooser is shown).
class ImageArgs {
public:
  ImageArgs(const std::string& image, const std::string& chs, const std::vector<std::string>& extra = {});
  // Any command line, the program name first.
  explicit ImageArgs(const std::vector<std::string>& words);
  int argc() const { return (int)pointers.size() - 1; }
  char** argv() { return pointers.data(); }

private:
  std::vector<std::string> words;
  std::vector<char*> pointers;
};

// Each run of the whole program opens and closes its own connection to the
// X server; when the last connection closes the server resets and refuses
// the next one for a moment.  Keeps a client connected until the test
// program ends, so runs can follow each other at once.
void keepDisplayUp();

// Runs the whole program (its start-up, the wizard's modal loop and the end)
// with `args`, the wizard's questions answered by `asker`; `script` acts
// from a timer inside the event loop once the wizard runs.  Returns the
// program's exit status.
int runKelvarin(ImageArgs& args, ScriptedAsker& asker, const std::function<void(mFXWizard*)>& script);

// The wizard's buttons, clicked as a user would.
bool next(mFXWizard* wizard);
bool back(mFXWizard* wizard);
bool cancel(mFXWizard* wizard);
bool finish(mFXWizard* wizard);
// Picks the found partition that starts at `start` in the list of the
// result page, as a click on its row does; false when it is not listed.
// A second click on its row takes the pick back.
bool pickFound(mFXWizard* wizard, unsigned long long start);
// The same for the first found partition `wanted` says yes to.
bool pickFound(mFXWizard* wizard, const std::function<bool(const FreeSpace&)>& wanted);
// The Name cell of every row of the found list that shows disk `disk`'s
// partitions, by each partition's first sector; `ticked` rows, or those not ticked.
std::map<unsigned long long, std::string> namesInList(mFXWizard* wizard, int disk, bool ticked = true);
// Shows a box as the wizard's asker would, saves a picture of it under
// `name` and closes it.
void pictureOfBox(mFXWizard* wizard, const ScriptedAsker::Box& box, const std::string& name);


class WizardFixture : public ::testing::Test {
protected:
  TempDir dir;
  LostDisk disk;
  ScriptedAsker asker;
  mFXWizard* wizard = nullptr;
  FXImage* backImage = nullptr;
  FXImage* welcomeImage = nullptr;

  // Builds and shows a wizard on disk.image.
  void open(const std::vector<std::string>& extra = {});
  // Builds and shows a wizard with the command line `args`.
  void open(ImageArgs& args);
  // Closes the wizard, so that another can be opened.
  void closeWizard();
  void TearDown() override;

  int page() const { return wizard->getCurrentPanel(); }
  FXString text(const char* key) { return wizard->GetString(key); }

  // Page 0 to page 1: no undo database, logging answered with `logging`.
  void leaveWelcome(bool logging);
  // Clicks every stretch of free space on the free-space chooser.
  int selectAllFreeSpace();
  // Clicks the radio button of a search type.
  void chooseSearch(bool quick);
  // From the welcome page, with every stretch of free space chosen, on to a
  // full search under way; false when a page would not move on.  `areas`
  // receives how many stretches were chosen.
  bool startFullSearch(int* areas = nullptr, bool logging = false);
  // From the welcome page, logging on, through a full search of every
  // stretch of free space to the result page.
  void searchAllFreeSpace();
  // Waits until the search thread has ended and the wizard has moved on.
  bool waitForSearchEnd(double seconds = 240);
};

}  // namespace kvtest

#endif
