// The whole program on an image with lost FAT32 and NTFS partitions: one
// run recovers them, a second run undoes the recovery.  Each run goes
// through Kelvarin's own start-up and modal loop; the test acts from a
// timer inside that loop, clicking the widgets a user would click and
// answering the message boxes through the wizard's asker.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "ActiveChooser.h"
#include "Analyse.h"
#include "DiskChooser.h"
#include "Kelvarin.h"
#include "Wizard.h"
#include "WrapLabel.h"
#include "support/Gui.h"
#include "support/LostDisk.h"
#include "support/TestImages.h"
#include "support/WizardFixture.h"

using namespace kvtest;

namespace {

// Runs Kelvarin on the disk with `script` acting inside its event loop.
int runKelvarin(const LostDisk& disk, ScriptedAsker& asker,
                const std::function<void(mFXWizard*)>& script) {
  ImageArgs args(disk.image, disk.chs, {});
  return kvtest::runKelvarin(args, asker, script);
}

// The restored file systems their fsck finds damaged.
std::string fsckFailures(const LostDisk& disk) {
  std::string failures;
  for (const Volume& p : disk.partitions)
    if (!fsckVolume(disk.image, p.start, p.sectors, p.fs)) failures += p.fs + " ";
  return failures;
}

}  // namespace

TEST(KelvarinEndToEnd, RecoversLostFat32AndNtfsAndUndoesTheRecovery) {
  TempDir dir;
  LostDisk disk;
  ASSERT_TRUE(makeLostFatNtfsDisk(dir.path("lost.img"), disk));
  ASSERT_EQ(0, sh("cp --sparse=always '" + disk.image + "' '" + dir.path("before.img") + "'"));
  ASSERT_TRUE(sfdiskPartitions(disk.image).empty());

  // ---- first run: recover ----
  ScriptedAsker asker;
  std::vector<int> pages;
  bool reachedEnd = false;
  int result = runKelvarin(disk, asker, [&](mFXWizard* w) {
    auto at = [&](int page, const char* name) {
      pages.push_back(w->getCurrentPanel());
      EXPECT_EQ(page, w->getCurrentPanel()) << name;
      saveScreenshot(w, std::string("wizard-page-") + std::to_string(page) + "-" + name);
    };
    at(mFXWizard::PAGE_WELCOME, "welcome");
    asker.expect(w->GetString("Kelvarin.mFXWizard.036"), true);  // log for a later undo
    next(w);
    at(mFXWizard::PAGE_AREAS, "areas");
    for (size_t i = 0; i < w->searchChooser->getImages().size(); i++)
      if (w->searchChooser->getImageKinds()[i] == KIND_FREE) click(w->searchChooser->getImages()[i]);
    next(w);
    click(w->quickRadio);
    at(mFXWizard::PAGE_SEARCH_TYPE, "search-type");
    next(w);
    pumpUntil([&] { return !w->searching() && w->getCurrentPanel() != mFXWizard::PAGE_SEARCHING; },
              120);
    saveScreenshot(w, "wizard-page-3-search-log");  // still shows the finished log
    at(mFXWizard::PAGE_RESULT, "result");
    for (const Volume& p : disk.partitions)
      EXPECT_TRUE(pickFound(w, p.start)) << "not found: " << p.start;
    saveScreenshot(w, "wizard-page-4-result-picked");
    asker.expect(w->GetString("Kelvarin.onCmd_Next.003"), true);  // the MBR has no boot code
    next(w);
    at(mFXWizard::PAGE_CHOOSE, "choose");
    next(w);
    at(mFXWizard::PAGE_SUMMARY, "summary");
    // The FAT32 file system becomes the active partition.
    FXListBox* box = w->activeChooser->getBoxes()[0];
    FXint first = 1;
    box->handle(box, FXSEL(SEL_COMMAND, FXWindow::ID_SETINTVALUE), &first);
    asker.expect(w->GetString("Kelvarin.onCmd_Next.004"), true);
    next(w);
    at(mFXWizard::PAGE_END, "end");
    reachedEnd = true;
    // Neither Back nor Cancel leaves the end page, whatever way they come.
    EXPECT_FALSE(back(w));
    EXPECT_FALSE(cancel(w));
    w->handle(w, FXSEL(SEL_COMMAND, FXWizard::ID_BACK), nullptr);
    w->handle(w, FXSEL(SEL_COMMAND, FXDialogBox::ID_CANCEL), nullptr);
    w->handle(w, FXSEL(SEL_CLOSE, 0), nullptr);
    pumpFor(0.05);
    EXPECT_EQ(mFXWizard::PAGE_END, w->getCurrentPanel());
    EXPECT_TRUE(w->shown());
    EXPECT_TRUE(finish(w));
  });
  EXPECT_TRUE(reachedEnd);
  EXPECT_EQ(1, result) << asker.transcript();
  EXPECT_TRUE(asker.unexpected.empty() && asker.scriptDone()) << asker.transcript();

  // What sfdisk, fsck and blkid read back.
  EXPECT_EQ("", fsckFailures(disk));
  std::string blkid, probe;
  for (const Volume& p : disk.partitions)
    probe += "blkid -p -o value -s TYPE -O " + std::to_string(p.start * 512) + " '" + disk.image + "';";
  sh(probe, &blkid);
  EXPECT_EQ("vfat\nntfs\n", blkid);
  // The start, size and type byte of each, and one of them active.
  std::vector<std::string> table = sfdiskPartitions(disk.image), expected;
  for (const Volume& p : disk.partitions)
    expected.push_back(std::to_string(p.start) + " " + std::to_string(p.sectors) + (p.type == 7 ? " 7" : " c"));
  EXPECT_EQ(expected, table);
  EXPECT_EQ(0, sh("sfdisk -d '" + disk.image + "' | grep -q bootable"));

  // ---- second run: undo ----
  ScriptedAsker undoAsker;
  bool undone = false;
  result = runKelvarin(disk, undoAsker, [&](mFXWizard* w) {
    FXString model = sharedAnalyser->disks[0].model;
    undoAsker.expect(w->Format("Kelvarin.mFXWizard.037", model.trimEnd().text()), true);
    next(w);
    EXPECT_EQ(mFXWizard::PAGE_END, w->getCurrentPanel());
    EXPECT_EQ(w->GetString("Kelvarin.mFXWizard.038"), w->endLabel->getText());
    saveScreenshot(w, "wizard-page-8-after-undo");
    undone = true;
    EXPECT_TRUE(finish(w));
  });
  EXPECT_TRUE(undone);
  EXPECT_EQ(1, result) << undoAsker.transcript();
  EXPECT_TRUE(undoAsker.unexpected.empty()) << undoAsker.transcript();
  EXPECT_TRUE(sfdiskPartitions(disk.image).empty());
  // Every byte is back, the undo database's sectors included.
  std::string changed;
  sh("cmp -l '" + dir.path("before.img") + "' '" + disk.image +
         "' | awk '{ print int(($1 - 1) / 512) }' | uniq",
     &changed);
  EXPECT_EQ("", changed) << "sectors that differ after the undo";
}

// Starts a full search of a large sparse disk and waits until it runs.
void startLongSearch(mFXWizard* w, ScriptedAsker& asker) {
  asker.expect(w->GetString("Kelvarin.mFXWizard.036"), false);
  next(w);
  for (size_t i = 0; i < w->searchChooser->getImages().size(); i++)
    if (w->searchChooser->getImageKinds()[i] == KIND_FREE) click(w->searchChooser->getImages()[i]);
  next(w);
  click(w->fullRadio);
  next(w);
  pumpFor(0.3);
}

// Cancel ends the program with 0.  Ending the modal run while the worker
// still reads the disk: the wizard must stop and join the thread before the
// proxies, the analyser and the disk go (the sanitizers watch).  (A cancel
// in the middle of a search: WizardFlow.)
TEST(KelvarinEndToEnd, CancelOrEndingTheProgramDuringASearchEndsWithZero) {
  TempDir dir;
  LostDisk disk;
  ASSERT_TRUE(makeLostFatDisk(dir.path("big.img"), 1000, disk));  // 8 GB, sparse
  ScriptedAsker asker;
  int result = runKelvarin(disk, asker, [&](mFXWizard* w) {
    FXString name = Information::GetConfigParam("shortappname");
    asker.expect(w->Format("Kelvarin.mFXWizard.041", name.text()), true);
    cancel(w);
  });
  EXPECT_EQ(0, result);
  EXPECT_TRUE(asker.unexpected.empty() && asker.scriptDone()) << asker.transcript();

  bool wasSearching = false;
  result = runKelvarin(disk, asker, [&](mFXWizard* w) {
    startLongSearch(w, asker);
    wasSearching = w->searching();
    w->getApp()->stopModal(w, 0);
  });
  EXPECT_TRUE(wasSearching);
  EXPECT_EQ(0, result);
}

TEST(KelvarinEndToEnd, WithoutADisplayTheProgramSaysSo) {
  std::string out;
  int status = sh("(env -u DISPLAY ./kelvarin -file /nonexistent -chs 1/1/1 2>&1)", &out);
  EXPECT_EQ(2, status);
  EXPECT_NE(std::string::npos, out.find("no display")) << out;
  EXPECT_NE(std::string::npos, out.find("xvfb-run")) << out;
}
