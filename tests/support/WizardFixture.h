// A wizard on a disk image, built in the test program's own application and
// driven through its widgets.
#ifndef KV_TEST_WIZARDFIXTURE_H
#define KV_TEST_WIZARDFIXTURE_H

#include <gtest/gtest.h>

#include "ActiveChooser.h"
#include "DiskChooser.h"
#include "Proxies.h"
#include "Wizard.h"
#include "WrapLabel.h"
#include "support/Gui.h"
#include "support/WizardDisks.h"
#include "support/TestImages.h"
#include "support/WizardDriver.h"

namespace kvtest {

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
  bool startFullSearch(int* areas = nullptr);
  // Waits until the search thread has ended and the wizard has moved on.
  bool waitForSearchEnd(double seconds = 240);
  // Clicks the found partition slots that start at `start`; how many.
  int selectFound(unsigned long long start);
};

}  // namespace kvtest

#endif
