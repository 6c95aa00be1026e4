// The wizard's nine pages laid out for a disk with lost partitions: a
// screenshot of each (the end-to-end test adds them with real content).
#include "support/WizardFixture.h"

using namespace kvtest;

namespace {
class WizardPages : public WizardFixture {};
}  // namespace

TEST_F(WizardPages, EveryPageFitsTheWindow) {
  ASSERT_TRUE(makeLostFatNtfsDisk(dir.path("lost.img"), disk));
  open();
  for (int page = 0; page < mFXWizard::PAGE_COUNT; page++) {
    wizard->setCurrentPanel(page);
    pumpFor(0.1);
    EXPECT_TRUE(saveScreenshot(wizard, "wizard-layout-" + std::to_string(page)));
    // Nothing on the page reaches past its frame.
    FXWindow* frame = wizard->getContainer()->childAtIndex(page);
    for (FXWindow* child = frame->getFirst(); child; child = child->getNext()) {
      EXPECT_GE(child->getY(), 0) << "page " << page << ": " << child->getClassName();
      EXPECT_LE(child->getY() + child->getHeight(), frame->getHeight())
          << "page " << page << ": " << child->getClassName();
      EXPECT_LE(child->getX() + child->getWidth(), frame->getWidth())
          << "page " << page << ": " << child->getClassName();
    }
  }
}
