#include "support/WizardFixture.h"

namespace kvtest {

void WizardFixture::open(const std::vector<std::string>& extra) {
  FXApp* app = guiApp();
  Information::ReadConfigParams();
  backImage = loadPicture(app, "res/backimage.png");
  welcomeImage = loadPicture(app, "res/welcomeimage.png");
  ImageArgs args(disk.image, disk.chs, extra);
  wizard = new mFXWizard(app, "Kelvarin", backImage, welcomeImage, args.argc(), args.argv());
  wizard->setAsker(&asker);
  wizard->create();
  wizard->show(PLACEMENT_SCREEN);
  pumpFor(0.05);
}

void WizardFixture::TearDown() {
  delete wizard;
  delete backImage;
  delete welcomeImage;
  // The fonts the languages made for the application.
  Information::ReleaseFonts(guiApp());
  EXPECT_TRUE(asker.unexpected.empty()) << asker.transcript();
}

void WizardFixture::leaveWelcome(bool logging) {
  asker.expect(text("Kelvarin.mFXWizard.036"), logging);
  ASSERT_TRUE(next(wizard));
  ASSERT_EQ(mFXWizard::PAGE_AREAS, page());
}

int WizardFixture::selectAllFreeSpace() {
  int clicked = 0;
  const std::vector<FXButton*>& images = wizard->searchChooser->getImages();
  for (size_t i = 0; i < images.size(); i++)
    if (wizard->searchChooser->getImageKinds()[i] == KIND_FREE && click(images[i])) clicked++;
  pumpFor(0.02);
  return clicked;
}

void WizardFixture::chooseSearch(bool quick) {
  ASSERT_TRUE(click(quick ? wizard->quickRadio : wizard->fullRadio));
  pumpFor(0.02);
}

bool WizardFixture::startFullSearch(int* areas) {
  leaveWelcome(false);
  int chosen = selectAllFreeSpace();
  if (areas) *areas = chosen;
  if (!next(wizard)) return false;
  chooseSearch(false);
  return next(wizard);
}

bool WizardFixture::waitForSearchEnd(double seconds) {
  return pumpUntil(
      [&] { return !wizard->searching() && page() != mFXWizard::PAGE_SEARCHING; }, seconds);
}

int WizardFixture::selectFound(unsigned long long start) {
  mFXDiskChooser* chooser = wizard->recoverChooser;
  const std::vector<FreeSpace>& slots = chooser->getFreeSpaces();
  int clicked = 0;
  for (const FreeSpace& slot : slots) {
    if (slot.start != start) continue;
    FXint index = slot.id - mFXDiskChooser::ID_PARTIMAGE;
    FXButton* button = chooser->getImages()[index];
    if (button->shown() && chooser->getImageKinds()[index] == KIND_FREE && click(button)) clicked++;
  }
  pumpFor(0.02);
  return clicked;
}

}  // namespace kvtest
