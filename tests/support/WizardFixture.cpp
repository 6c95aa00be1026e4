#include "support/WizardFixture.h"

#include <FXPNGImage.h>
#include <unistd.h>

#include <cstdlib>

#include "Kelvarin.h"

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

static FXImage* loadPicture(FXApp* app, const std::string& file) {
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

ImageArgs::ImageArgs(const std::vector<std::string>& all) : words(all) {
  for (std::string& w : words) pointers.push_back(&w[0]);
  pointers.push_back(nullptr);
}

namespace {

// Runs a function from a timer of the running application.
class Later : public FXObject {
  FXDECLARE(Later)
public:
  std::function<void()> work;
  long onTimeout(FXObject*, FXSelector, void*) {
    work();
    return 1;
  }
};
FXDEFMAP(Later) LaterMap[] = {FXMAPFUNC(SEL_TIMEOUT, 1, Later::onTimeout)};
FXIMPLEMENT(Later, FXObject, LaterMap, ARRAYNUMBER(LaterMap))

}  // namespace

static std::string displayKeeper;  // process id of the client that stays connected

static void stopDisplayKeeper() { sh("kill " + displayKeeper); }

void keepDisplayUp() {
  if (!displayKeeper.empty()) return;
  // xprop watching the root window's properties: connected, and no window.
  sh("xprop -root -spy >/dev/null 2>&1 & echo $!", &displayKeeper);
  atexit(stopDisplayKeeper);
  usleep(200000);  // until it has connected
}

int runKelvarin(ImageArgs& args, ScriptedAsker& asker, const std::function<void(mFXWizard*)>& script) {
  keepDisplayUp();
  Later later;
  return RunKelvarin(args.argc(), args.argv(), [&](mFXWizard* wizard) {
    wizard->setAsker(&asker);
    later.work = [&, wizard] {
      pumpFor(0.1);
      script(wizard);
    };
    wizard->getApp()->addTimeout(&later, FXSEL(SEL_TIMEOUT, 1), 10);
  });
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

bool pickFound(mFXWizard* wizard, unsigned long long start) {
  return pickFound(wizard, [start](const FreeSpace& slot) { return slot.start == start; });
}

bool pickFound(mFXWizard* wizard, const std::function<bool(const FreeSpace&)>& wanted) {
  mFXDiskChooser* chooser = wizard->recoverChooser;
  FXIconList* list = chooser->getFoundList();
  for (FXint row = 0; row < list->getNumItems(); row++) {
    FXint index = chooser->imageIndex((FXObject*)list->getItemData(row));
    for (const FreeSpace& slot : chooser->getFreeSpaces()) {
      if (slot.id != mFXDiskChooser::ID_PARTIMAGE + index || !wanted(slot)) continue;
      list->setCurrentItem(row, TRUE);
      list->selectItem(row, TRUE);
      pumpFor(0.02);
      return true;
    }
  }
  return false;
}

std::map<unsigned long long, std::string> namesInList(mFXWizard* wizard, int disk, bool ticked) {
  mFXDiskChooser* chooser = wizard->recoverChooser;
  FXIconList* list = chooser->getFoundList();
  std::map<unsigned long long, std::string> names;
  for (FXint row = 0; row < list->getNumItems(); row++) {
    FXint on;
    FXulong first, sectors;
    bool isTicked = list->getItemMiniIcon(row) == chooser->getCheckedIcon();
    if (!chooser->FoundAtRow(row, on, first, sectors) || on != disk || isTicked != ticked) continue;
    names[first] = list->getItemText(row).section('\t', 0).text();
  }
  return names;
}

void pictureOfBox(mFXWizard* wizard, const ScriptedAsker::Box& box, const std::string& name) {
  // Broken into lines as the wizard's own message boxes break them.
  FXString text = WrapForMessageBox(wizard->getApp(), box.text);
  FXMessageBox shown(wizard, box.caption, text, nullptr, box.question ? MBOX_YES_NO : MBOX_OK);
  shown.create();
  shown.show(PLACEMENT_OWNER);
  settle(wizard->getApp());
  EXPECT_TRUE(saveScreenshot(&shown, name));
  shown.hide();
}

void WizardFixture::open(const std::vector<std::string>& extra) {
  ImageArgs args(disk.image, disk.chs, extra);
  open(args);
}

void WizardFixture::open(ImageArgs& args) {
  FXApp* app = guiApp();
  Information::ReadConfigParams();
  backImage = loadPicture(app, "res/backimage.png");
  welcomeImage = loadPicture(app, "res/welcomeimage.png");
  wizard = new mFXWizard(app, "Kelvarin", backImage, welcomeImage, args.argc(), args.argv());
  wizard->setAsker(&asker);
  wizard->create();
  wizard->show(PLACEMENT_SCREEN);
  pumpFor(0.05);
}

void WizardFixture::closeWizard() {
  delete wizard;
  delete backImage;
  delete welcomeImage;
  wizard = nullptr;
  backImage = welcomeImage = nullptr;
  // The fonts the languages made for the application.
  Information::ReleaseFonts(guiApp());
}

void WizardFixture::TearDown() {
  closeWizard();
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

bool WizardFixture::startFullSearch(int* areas, bool logging) {
  leaveWelcome(logging);
  int chosen = selectAllFreeSpace();
  if (areas) *areas = chosen;
  if (!next(wizard)) return false;
  chooseSearch(false);
  return next(wizard);
}

void WizardFixture::searchAllFreeSpace() {
  int areas = 0;
  ASSERT_TRUE(startFullSearch(&areas, true));
  ASSERT_LT(0, areas);
  ASSERT_TRUE(waitForSearchEnd()) << asker.transcript();
  ASSERT_EQ(mFXWizard::PAGE_RESULT, page());
}

bool WizardFixture::waitForSearchEnd(double seconds) {
  return pumpUntil(
      [&] { return !wizard->searching() && page() != mFXWizard::PAGE_SEARCHING; }, seconds);
}

}  // namespace kvtest
