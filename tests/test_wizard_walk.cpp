// The whole program walked from the first page to the last in each shipped
// language, on an image with lost FAT32 and NTFS partitions: every page
// shows its title and step, has its help, and every text on it fits its
// widget; no window is wider than the smallest screen; nothing is printed
// on the terminal.  A screenshot of every page goes to the test output.
#include <gtest/gtest.h>

#include <fxkeys.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Asker.h"
#include "DiskChooser.h"
#include "TextKeys.h"
#include "Wizard.h"
#include "support/Gui.h"
#include "support/LostDisk.h"
#include "support/TestImages.h"
#include "support/TextFit.h"
#include "support/WizardFixture.h"

using namespace kvtest;

namespace {

const FXint SMALLEST_SCREEN_WIDTH = 1024;

class WizardWalk : public ::testing::TestWithParam<const char*> {
protected:
  std::string language() const { return GetParam(); }
};

// The header of a page: its title, then "Step N of M".
std::vector<std::string> headerTexts(mFXWizard* w, FXint page) {
  std::vector<std::string> texts;
  FXWindow* header = w->getContainer()->childAtIndex(page)->getFirst();
  for (FXWindow* child = header ? header->getFirst() : nullptr; child; child = child->getNext())
    if (FXLabel* label = dynamic_cast<FXLabel*>(child)) texts.push_back(label->getText().text());
  return texts;
}

}  // namespace

TEST_P(WizardWalk, EveryPageFitsHasItsTitleStepAndHelpAndNothingIsPrinted) {
  TemporaryHome home;
  TempDir dir;
  LostDisk disk;
  ASSERT_TRUE(makeLostFatNtfsDisk(dir.path("lost.img"), disk));
  ImageArgs args({"kelvarin", "-lang", language(), "-file", disk.image, "-chs", disk.chs});
  ScriptedAsker asker;
  std::vector<FXint> pagesSeen;
  std::vector<std::string> problems;

  auto look = [&](mFXWizard* w, const std::string& name) {
    FXint page = w->getCurrentPanel();
    pagesSeen.push_back(page);
    pumpFor(0.05);
    EXPECT_TRUE(saveScreenshot(w, "walk-" + language() + "-" + std::to_string(page + 1) + "-" + name));
    for (const std::string& p : textsThatDoNotFit(w))
      problems.push_back(language() + " page " + std::to_string(page + 1) + ": " + p);
    EXPECT_LE(w->getWidth(), SMALLEST_SCREEN_WIDTH) << name;
    EXPECT_EQ((std::vector<std::string>{w->GetString(mFXWizard::PageTitleKey(page)).text(),
                                        w->Format("Kelvarin.AddPageHeader.001", page + 1,
                                                  (FXint)mFXWizard::PAGE_COUNT).text()}),
              headerTexts(w, page))
        << name;
    // The Help button shows the page's own help text.
    size_t boxes = asker.shown.size();
    EXPECT_TRUE(click(w->helpButton));
    ASSERT_EQ(boxes + 1, asker.shown.size()) << name;
    EXPECT_EQ(w->GetString(mFXWizard::PageHelpKey(page)), asker.shown.back().text) << name;
    EXPECT_EQ(page, w->getCurrentPanel());
  };

  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  int result = runKelvarin(args, asker, [&](mFXWizard* w) {
    look(w, "welcome");
    // F1 asks for help as the button does.
    FXEvent f1{};
    f1.type = SEL_KEYPRESS;
    f1.code = KEY_F1;
    size_t boxes = asker.shown.size();
    w->handle(w, FXSEL(SEL_KEYPRESS, 0), &f1);
    EXPECT_EQ(boxes + 1, asker.shown.size());
    if (asker.shown.size() > boxes) {
      EXPECT_EQ(w->GetString(mFXWizard::PageHelpKey(0)), asker.shown.back().text);
    }

    asker.expect(w->GetString("Kelvarin.mFXWizard.036"), true);
    next(w);
    for (size_t i = 0; i < w->searchChooser->getImages().size(); i++)
      if (w->searchChooser->getImageKinds()[i] == KIND_FREE) click(w->searchChooser->getImages()[i]);
    look(w, "areas");
    next(w);
    EXPECT_TRUE(w->quickRadio->getCheck()) << "the quick search is preselected";
    look(w, "search-type");
    next(w);  // no click on a search type: the quick one is chosen already
    EXPECT_GE(w->getCurrentPanel(), mFXWizard::PAGE_SEARCHING);
    pumpUntil([&] { return !w->searching() && w->getCurrentPanel() != mFXWizard::PAGE_SEARCHING; }, 120);
    w->setCurrentPanel(mFXWizard::PAGE_SEARCHING);  // the finished search page, as it was left
    // It says how fast the search went.
    EXPECT_NE(w->rateLabel->getText(), w->rateLabel->getText().section(' ', 0)) << w->rateLabel->getText().text();
    EXPECT_EQ(w->Format("Kelvarin.RateText.002", 0.0).after(' '), w->rateLabel->getText().after(' '));
    look(w, "searching");
    w->setCurrentPanel(mFXWizard::PAGE_RESULT);
    for (const Volume& p : disk.partitions) EXPECT_TRUE(pickFound(w, p.start)) << p.start;
    look(w, "result");
    asker.expect(w->GetString("Kelvarin.onCmd_Next.003"), false);  // no boot program
    next(w);
    look(w, "choose");
    next(w);
    look(w, "summary");
    asker.expect(w->GetString("Kelvarin.onCmd_Next.004"), true);
    next(w);
    EXPECT_EQ(mFXWizard::PAGE_END, w->getCurrentPanel());
    w->setCurrentPanel(mFXWizard::PAGE_RECOVERING);
    look(w, "writing");
    w->setCurrentPanel(mFXWizard::PAGE_END);
    FXString version = Information::GetConfigParam("longappname") + " V" + Information::GetConfigParam("shortver");
    EXPECT_EQ(w->Format("Kelvarin.mFXWizard.019", version.text()), w->restartLabel->getText());
    look(w, "end");
    // Every note and question shown on the way fits a line of the message box.
    for (const ScriptedAsker::Box& box : asker.shown)
      EXPECT_LE(widestLine(w->getApp()->getNormalFont(), WrapForMessageBox(w->getApp(), box.text)),
                MESSAGE_LINE_WIDTH);
    finish(w);
  });
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(1, result) << asker.transcript();
  EXPECT_TRUE(asker.unexpected.empty() && asker.scriptDone()) << asker.transcript();
  std::vector<FXint> every;
  for (FXint p = 0; p < mFXWizard::PAGE_COUNT; p++) every.push_back(p);
  std::vector<FXint> seen = pagesSeen;
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(every, seen) << "every page was looked at";
  for (const std::string& p : problems) ADD_FAILURE() << p;
  EXPECT_EQ("", out) << "nothing on standard output";
  EXPECT_EQ("", err) << "nothing on standard error";
}

INSTANTIATE_TEST_SUITE_P(EachLanguage, WizardWalk, ::testing::Values("EN", "DE", "RU"));

// Every text the wizard may show in a message box, in every language, wraps
// to lines the box can show, and the box stays narrower than the screen.
TEST(MessageBoxes, EveryTextOfEveryLanguageFitsItsBox) {
  FXApp* app = guiApp();
  Information info;
  std::vector<FXString> codes, names;
  info.GetAvailableLang(codes, names);
  ASSERT_GE(codes.size(), 3u);
  for (const FXString& code : codes) {
    info.SetLanguage(app, code);
    for (const TextKeys::KeyUse& use : TextKeys::All()) {
      std::string key = use.key;
      if (key.rfind("kelvarin-cli.", 0) == 0) continue;  // the console program's
      FXString wrapped = WrapForMessageBox(app, info.GetString(use.key));
      EXPECT_LE(widestLine(app->getNormalFont(), wrapped), MESSAGE_LINE_WIDTH) << code.text() << " " << key;
      FXMessageBox box(app, "Kelvarin", wrapped, nullptr, MBOX_YES_NO);
      box.create();
      EXPECT_LE(box.getDefaultWidth(), SMALLEST_SCREEN_WIDTH) << code.text() << " " << key;
    }
  }
  Information::ReleaseFonts(app);
}
