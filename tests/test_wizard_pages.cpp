// The wizard's nine pages as a user sees them: a screenshot of each.
#include <gtest/gtest.h>

#include "Wizard.h"
#include "support/WizardGui.h"
#include "support/TestImages.h"
#include "support/WizardDriver.h"

using namespace kvtest;
using namespace kvgui;

TEST(WizardPages, EveryPageIsDrawn) {
  TempDir dir;
  std::string image = dir.path("disk.img");
  makeImage(image, 64ull << 20);
  ASSERT_TRUE(sfdisk(image, "label: dos\nstart=63, size=40000, type=83\n"));
  FXApp* app = guiApp();
  FXImage* back = loadPicture(app, "res/backimage.png");
  FXImage* welcome = loadPicture(app, "res/welcomeimage.png");
  ImageArgs args(image, "8/255/63");
  mFXWizard* wizard = new mFXWizard(app, "Kelvarin", back, welcome, args.argc(), args.argv());
  ScriptedAsker asker;
  wizard->setAsker(&asker);
  wizard->create();
  wizard->show(PLACEMENT_SCREEN);
  for (int page = 0; page < mFXWizard::PAGE_COUNT; page++) {
    wizard->setCurrentPanel(page);
    pumpFor(0.1);
    EXPECT_TRUE(screenshot(wizard, "wizard-page-" + std::to_string(page)));
  }
  delete wizard;
  delete back;
  delete welcome;
}
