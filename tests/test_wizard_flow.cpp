// The wizard's moves between pages: every validation, question and lock,
// driven through its buttons with the disk choosers of real images.
#include "support/WizardFixture.h"

#include <cerrno>
#include <memory>

#include "Analyse.h"
#include "support/CountingDisk.h"
#include "support/Engine.h"
#include "support/TextFit.h"

using namespace kvtest;

namespace {
class WizardFlow : public WizardFixture {
protected:
  // Stops the running search through Cancel, as a user does, and returns
  // the per cent of it done by then.
  int stopSearch() {
    FXProgressBar* bar = wizard->searchProgress;
    int percent = (int)((FXulong)bar->getProgress() * 100 / bar->getTotal());
    asker.expect(text("Kelvarin.mFXWizard.039"), true);
    cancel(wizard);
    return percent;
  }

  // From the welcome page: every stretch chosen (`areas` of them) and a quick
  // search run to its result page, where the only partition it found is
  // picked, as a click on its row does.
  void pickTheOnlyFoundPartition(int areas) {
    leaveWelcome(false);
    ASSERT_EQ(areas, selectAllFreeSpace());
    ASSERT_TRUE(next(wizard));
    chooseSearch(true);
    ASSERT_TRUE(next(wizard));
    ASSERT_TRUE(waitForSearchEnd()) << asker.transcript();
    ASSERT_EQ(mFXWizard::PAGE_RESULT, page());
    FXIconList* found = wizard->recoverChooser->getFoundList();
    ASSERT_EQ(1, found->getNumItems());
    found->setCurrentItem(0, TRUE);
    found->selectItem(0, TRUE);
    pumpFor(0.02);
  }
};
}  // namespace

TEST_F(WizardFlow, NextWithoutAnAreaOrASearchTypeStaysSaysWhyAndCancelAsks) {
  ASSERT_TRUE(makeBlankDisk(dir.path("blank.img"), 3, disk));
  open();
  EXPECT_EQ(mFXWizard::PAGE_WELCOME, page());
  EXPECT_FALSE(wizard->retreatButton()->isEnabled());  // nothing before the first page
  leaveWelcome(true);
  EXPECT_TRUE(sharedAnalyser->disks[0].dbActive);  // logging accepted
  // No area: a note, and the page stays.
  ASSERT_TRUE(next(wizard));
  EXPECT_EQ(mFXWizard::PAGE_AREAS, page());
  ASSERT_EQ(2u, asker.shown.size()) << asker.transcript();
  EXPECT_EQ(text("Kelvarin.onCmd_Next.006"), asker.shown[1].text);

  ASSERT_EQ(1, selectAllFreeSpace());
  ASSERT_TRUE(next(wizard));
  ASSERT_EQ(mFXWizard::PAGE_SEARCH_TYPE, page());
  // The quick search is chosen already; without any type the page stays
  // and says why.
  EXPECT_TRUE(wizard->quickRadio->getCheck());
  wizard->quickRadio->setCheck(FALSE);
  ASSERT_TRUE(next(wizard));
  EXPECT_EQ(mFXWizard::PAGE_SEARCH_TYPE, page());
  ASSERT_EQ(3u, asker.shown.size());
  EXPECT_EQ(text("Kelvarin.onCmd_Next.012"), asker.shown[2].text);
  // The two types exclude each other.
  chooseSearch(false);
  chooseSearch(true);
  EXPECT_TRUE(wizard->quickRadio->getCheck());
  EXPECT_FALSE(wizard->fullRadio->getCheck());
  EXPECT_EQ(mFXWizard::ID_SEARCH_QUICK, wizard->searchType);
  ASSERT_TRUE(back(wizard));
  EXPECT_EQ(mFXWizard::PAGE_AREAS, page());

  // Cancel asks; No keeps the wizard, Yes closes it.
  FXString name = Information::GetConfigParam("shortappname");
  asker.expect(wizard->Format("Kelvarin.mFXWizard.041", name.text()), false);
  ASSERT_TRUE(cancel(wizard));
  EXPECT_TRUE(wizard->shown());
  asker.expect(wizard->Format("Kelvarin.mFXWizard.041", name.text()), true);
  ASSERT_TRUE(cancel(wizard));
  EXPECT_FALSE(wizard->shown());
}

TEST_F(WizardFlow, AnEmptyQuickSearchOffersAFullOneAndAnEmptyFullOneReturnsToTheAreas) {
  ASSERT_TRUE(makeBlankDisk(dir.path("blank.img"), 3, disk));
  open();
  leaveWelcome(false);
  EXPECT_FALSE(sharedAnalyser->disks[0].dbActive);  // logging declined
  ASSERT_EQ(1, selectAllFreeSpace());
  ASSERT_TRUE(next(wizard));
  // Declining the full search goes back to the areas.
  chooseSearch(true);
  asker.expect(text("Kelvarin.mFXWizard.042"), false);
  ASSERT_TRUE(next(wizard));
  ASSERT_TRUE(waitForSearchEnd());
  EXPECT_EQ(mFXWizard::PAGE_AREAS, page());
  EXPECT_TRUE(wizard->quickRadio->getCheck());
  // Accepting it preselects the full search.
  ASSERT_TRUE(next(wizard));
  asker.expect(text("Kelvarin.mFXWizard.042"), true);
  ASSERT_TRUE(next(wizard));
  ASSERT_TRUE(waitForSearchEnd()) << asker.transcript();
  EXPECT_EQ(mFXWizard::PAGE_SEARCH_TYPE, page());
  EXPECT_TRUE(wizard->fullRadio->getCheck() && !wizard->quickRadio->getCheck());
  EXPECT_EQ(mFXWizard::ID_SEARCH_FULL, wizard->searchType);
  EXPECT_EQ(text("Kelvarin.mFXWizard.022"), wizard->resultLabel->getText());
  EXPECT_TRUE(asker.scriptDone());

  // The same thread object runs the third search.
  ASSERT_TRUE(next(wizard));
  ASSERT_TRUE(waitForSearchEnd()) << asker.transcript();
  EXPECT_EQ(mFXWizard::PAGE_AREAS, page());
  ASSERT_FALSE(asker.shown.empty());
  EXPECT_EQ(text("Kelvarin.mFXWizard.043"), asker.shown.back().text);
  EXPECT_EQ(wizard->searchProgress->getTotal(), wizard->searchProgress->getProgress());
}
TEST_F(WizardFlow, DuringASearchBackIsIgnoredAndCancelStopsItAndShowsWhatWasFound) {
  // A long full search (8 GB, sparse); the lost FAT32 at its very start is
  // found at once.
  ASSERT_TRUE(makeLostFatDisk(dir.path("fat.img"), 1000, disk));
  open();
  ASSERT_TRUE(startFullSearch());
  ASSERT_EQ(mFXWizard::PAGE_SEARCHING, page());
  ASSERT_TRUE(wizard->searching());

  // Both buttons are off, and a Back command that still arrives is ignored.
  EXPECT_FALSE(back(wizard));
  EXPECT_FALSE(next(wizard));
  wizard->handle(wizard, FXSEL(SEL_COMMAND, FXWizard::ID_BACK), nullptr);
  pumpFor(0.05);
  EXPECT_EQ(mFXWizard::PAGE_SEARCHING, page());

  // No to the question goes on searching; closing the window asks the same.
  asker.expect(text("Kelvarin.mFXWizard.039"), false);
  ASSERT_TRUE(cancel(wizard));
  EXPECT_TRUE(wizard->searching());
  EXPECT_TRUE(wizard->shown());
  asker.expect(text("Kelvarin.mFXWizard.039"), true);
  FXProgressBar* bar = wizard->searchProgress;
  int percent = (int)((FXulong)bar->getProgress() * 100 / bar->getTotal());
  wizard->handle(wizard, FXSEL(SEL_CLOSE, 0), nullptr);
  ASSERT_TRUE(waitForSearchEnd(60)) << asker.transcript();
  EXPECT_EQ(mFXWizard::PAGE_RESULT, page());
  EXPECT_GE(wizard->recoverChooser->getFoundList()->getNumItems(), 1);
  EXPECT_TRUE(wizard->retreatButton()->isEnabled());
  // Both pages say that the search was stopped, and where; the bar stays there.
  EXPECT_LT(percent, 100);
  EXPECT_EQ(wizard->Format("Kelvarin.mFXWizard.054", percent), wizard->resultLabel->getText());
  EXPECT_EQ(wizard->Format("Kelvarin.mFXWizard.053", percent), wizard->searchLabel->getText());
  EXPECT_LT(bar->getProgress(), bar->getTotal());
  saveScreenshot(wizard, "wizard-page-4-search-stopped");
}

// While a search runs its page says how fast it goes and how long it will
// still take.
TEST_F(WizardFlow, TheSearchPageShowsSectorsPerSecondAndTheTimeLeft) {
  ASSERT_TRUE(makeBlankDisk(dir.path("blank.img"), 1000, disk));  // 8 GB, sparse
  open();
  ASSERT_TRUE(startFullSearch());
  const FXString perSecond = text("Kelvarin.RateText.001").section('%', 1).mid(4, 1000).section('%', 0);
  ASSERT_FALSE(perSecond.empty());
  EXPECT_TRUE(pumpUntil([&] { return wizard->rateLabel->getText().find(perSecond) > 0; }, 30))
      << wizard->rateLabel->getText().text();
  saveScreenshot(wizard, "wizard-page-3-rate");
  stopSearch();
  ASSERT_TRUE(waitForSearchEnd(60)) << asker.transcript();
  // How the numbers read: whole sectors, and hours, minutes and seconds.
  EXPECT_EQ(wizard->Format("Kelvarin.RateText.001", 1500.0, "1:02:05"), wizard->RateText(1500.4, 3725));
  EXPECT_EQ(wizard->Format("Kelvarin.RateText.001", 80.0, "0:00:59"), wizard->RateText(80, 58.6));
  EXPECT_TRUE(wizard->RateText(0, 10).empty());
  // Both bars' percentages read clearly (WCAG AA: 4.5:1 at least).
  for (FXProgressBar* bar : {wizard->searchProgress, wizard->recoverProgress}) {
    EXPECT_GE(contrastRatio(bar->getTextColor(), bar->getBarBGColor()), 4.5);
    EXPECT_GE(contrastRatio(bar->getTextAltColor(), bar->getBarColor()), 4.5);
  }
}

// Next on the page of found partitions with nothing ticked stays and says why.
TEST_F(WizardFlow, NextWithNothingTickedSaysWhy) {
  ASSERT_TRUE(makeLostFatDisk(dir.path("fat.img"), 10, disk));
  open();
  leaveWelcome(false);
  ASSERT_EQ(1, selectAllFreeSpace());
  ASSERT_TRUE(next(wizard));
  ASSERT_TRUE(next(wizard));  // the quick search
  ASSERT_TRUE(waitForSearchEnd()) << asker.transcript();
  ASSERT_EQ(mFXWizard::PAGE_RESULT, page());
  size_t boxes = asker.shown.size();
  ASSERT_TRUE(next(wizard));
  EXPECT_EQ(mFXWizard::PAGE_RESULT, page());
  ASSERT_EQ(boxes + 1, asker.shown.size());
  EXPECT_EQ(text("Kelvarin.onCmd_Next.013"), asker.shown.back().text);
  // The list's header names its columns; it is no button to press.
  EXPECT_FALSE(wizard->recoverChooser->getFoundList()->getHeader()->getHeaderStyle() & HEADER_BUTTON);
}

namespace {
// A disk layer whose disks are all in use: the system refuses to re-read
// their tables.
class BusyDisks : public CountingDisk {
public:
  bool rereadTable(Handle) override {
    asked++;
    return false;
  }
  FXuint lastError() override { return EBUSY; }
  int asked = 0;
};
}  // namespace

// The end page says that the kernel re-read the tables; when it could not,
// because the disk is in use, it names the disk and asks for a restart.
TEST_F(WizardFlow, TheEndPageAsksForARestartOnlyWhenTheDiskIsBusy) {
  for (bool busy : {false, true}) {
    SCOPED_TRACE(busy ? "busy" : "free");
    TempDir here;
    LostDisk lost;
    ASSERT_TRUE(makeLostFatDisk(here.path("fat.img"), 10, lost));
    disk = lost;
    std::unique_ptr<BusyDisks> layer(busy ? new BusyDisks : nullptr);
    open();
    ASSERT_NO_FATAL_FAILURE(pickTheOnlyFoundPartition(1));
    asker.expect(text("Kelvarin.onCmd_Next.003"), false);
    ASSERT_TRUE(next(wizard));
    ASSERT_TRUE(next(wizard));
    asker.expect(text("Kelvarin.onCmd_Next.004"), true);
    ASSERT_TRUE(next(wizard));
    ASSERT_EQ(mFXWizard::PAGE_END, page()) << asker.transcript();
    FXString version = Information::GetConfigParam("longappname") + " V" + Information::GetConfigParam("shortver");
    EXPECT_EQ(busy ? wizard->Format("Kelvarin.ReportTableReread.001", disk.image.c_str())
                   : wizard->Format("Kelvarin.mFXWizard.019", version.text()),
              wizard->restartLabel->getText());
    if (busy) {
      EXPECT_EQ(1, layer->asked);
    }
    saveScreenshot(wizard, busy ? "wizard-page-9-busy" : "wizard-page-9-reread");
    closeWizard();
  }
}

// A search stopped before it found anything says so, and offers no full
// search in its place: that would look for what was never looked for.
TEST_F(WizardFlow, AStoppedSearchThatFoundNothingSaysWhereItStopped) {
  ASSERT_TRUE(makeBlankDisk(dir.path("blank.img"), 1000, disk));  // 8 GB, sparse
  open();
  ASSERT_TRUE(startFullSearch());
  pumpFor(0.2);
  int percent = stopSearch();
  ASSERT_TRUE(waitForSearchEnd(60)) << asker.transcript();
  EXPECT_EQ(mFXWizard::PAGE_AREAS, page());
  ASSERT_FALSE(asker.shown.empty());
  EXPECT_EQ(wizard->Format("Kelvarin.mFXWizard.055", percent), asker.shown.back().text);
}

// A 2.1 TiB disk whose only partition ends where table entries end (2^32
// sectors), with an NTFS found beyond it: shown where it lies, and refused,
// with the reason, when chosen.
TEST_F(WizardFlow, APartitionBeyondATablesReachIsShownAndRefusedWithTheReason) {
  const unsigned long long sectors = 2100ull << 21, reach = 1ull << 32, found = reach + 10517;
  disk.image = dir.path("big.img");
  disk.chs = std::to_string(sectors / (255 * 63)) + "/255/63";
  makeImage(disk.image, sectors * 512);
  writeSector(disk.image, 0, tableSector({entryBytes(0x83, 1u << 21, (unsigned)(reach - (1u << 21)))}));
  writeNtfsStart(disk.image, found, 2047);
  std::string before = readSector(disk.image, 0);
  open();
  ASSERT_NO_FATAL_FAILURE(pickTheOnlyFoundPartition(2));
  bool shown = false;
  for (const FreeSpace& slot : wizard->recoverChooser->getFreeSpaces()) shown = shown || slot.start == found;
  EXPECT_TRUE(shown) << "listed at its true first sector";
  ASSERT_TRUE(next(wizard));
  EXPECT_EQ(mFXWizard::PAGE_RESULT, page());
  ASSERT_FALSE(asker.shown.empty());
  EXPECT_EQ(wizard->Format("Kelvarin.onCmd_Next.010", (double)found, (double)(found + 2048)),
            asker.shown.back().text);
  EXPECT_TRUE(before == readSector(disk.image, 0));
}

// With -sim, whoever looks at the window, the question before writing or
// the end page learns that nothing is written; and nothing is.
TEST_F(WizardFlow, ASimulationSaysSoInTheTitleTheConfirmationAndTheEndPage) {
  ASSERT_TRUE(makeLostFatDisk(dir.path("fat.img"), 10, disk));
  std::string before = readFile(disk.image);
  open({"-sim"});
  EXPECT_NE(-1, wizard->getTitle().find(text("Kelvarin.mFXWizard.050"))) << wizard->getTitle().text();
  ASSERT_NO_FATAL_FAILURE(pickTheOnlyFoundPartition(1));
  asker.expect(text("Kelvarin.onCmd_Next.003"), false);  // no boot code asked for
  ASSERT_TRUE(next(wizard));
  ASSERT_TRUE(next(wizard));
  ASSERT_EQ(mFXWizard::PAGE_SUMMARY, page());
  asker.expect(text("Kelvarin.onCmd_Next.011"), true);
  ASSERT_TRUE(next(wizard));
  ASSERT_EQ(mFXWizard::PAGE_END, page()) << asker.transcript();
  EXPECT_EQ(text("Kelvarin.mFXWizard.051"), wizard->endLabel->getText());
  saveScreenshot(wizard, "wizard-page-8-simulation");
  EXPECT_TRUE(asker.scriptDone()) << asker.transcript();
  EXPECT_TRUE(before == readFile(disk.image)) << "a simulation writes nothing";
}

// A disk that cannot be written: the end page names the chosen partition
// that was not written back, and why.
TEST_F(WizardFlow, TheEndPageNamesWhatWasNotWrittenAndWhy) {
  ASSERT_TRUE(makeLostFatDisk(dir.path("fat.img"), 10, disk));
  std::string before = readFile(disk.image);
  if (sh("chattr +i '" + disk.image + "' 2>/dev/null") != 0)
    GTEST_SKIP() << "chattr +i does not work here, so no image can be made unwritable";
  struct Writable {  // again, whatever the test finds
    std::string file;
    ~Writable() { sh("chattr -i '" + file + "'"); }
  } writable{disk.image};
  open();
  ASSERT_NO_FATAL_FAILURE(pickTheOnlyFoundPartition(1));
  asker.expect(text("Kelvarin.onCmd_Next.003"), false);  // no boot code asked for
  ASSERT_TRUE(next(wizard));
  ASSERT_TRUE(next(wizard));
  ASSERT_EQ(mFXWizard::PAGE_SUMMARY, page());
  FXulong first = wizard->recoverList.at(0).first;
  FXString name = wizard->recoverChooser->GetSelectedPartitionName(0).trimEnd();
  asker.expect(text("Kelvarin.onCmd_Next.004"), true);
  ASSERT_TRUE(next(wizard));
  ASSERT_EQ(mFXWizard::PAGE_END, page()) << asker.transcript();
  FXString said = wizard->endLabel->getText();
  EXPECT_EQ(0, said.find(text("Kelvarin.NextFromSummary.002"))) << said.text();
  FXString line = wizard->Format("Kelvarin.NextFromSummary.003", name.text(), (double)first,
                                 text("IOSystem.WriteBR.001").text());
  EXPECT_NE(-1, said.find(line)) << said.text() << "\n" << line.text();
  EXPECT_TRUE(asker.scriptDone()) << asker.transcript();
  EXPECT_TRUE(before == readFile(disk.image));
}

// Logging was asked for, but a boot loader fills the first track: before
// anything is written the wizard says that the log cannot hold the
// recovery.  No stays on the summary page; Yes writes without a log.
TEST_F(WizardFlow, WhenTheLogCannotHoldTheRecoveryTheWizardAsksBeforeWriting) {
  ASSERT_TRUE(makeLostFatNtfsDisk(dir.path("lost.img"), disk));
  for (int s = 1; s < 63; s++) writeSector(disk.image, s, "boot loader, sector " + std::to_string(s));
  std::string before = readFile(disk.image);
  open();
  leaveWelcome(true);
  ASSERT_EQ(1, selectAllFreeSpace());
  ASSERT_TRUE(next(wizard));
  chooseSearch(true);
  ASSERT_TRUE(next(wizard));
  ASSERT_TRUE(waitForSearchEnd());
  ASSERT_EQ(mFXWizard::PAGE_RESULT, page());
  for (const Volume& p : disk.partitions) ASSERT_TRUE(pickFound(wizard, p.start)) << p.start;
  asker.expect(text("Kelvarin.onCmd_Next.003"), false);  // no boot code
  ASSERT_TRUE(next(wizard));
  ASSERT_TRUE(next(wizard));
  ASSERT_EQ(mFXWizard::PAGE_SUMMARY, page());

  FXString model = sharedAnalyser->disks[0].model;
  FXString question = wizard->Format("Kelvarin.NextFromSummary.001", model.trimEnd().text());
  asker.expect(text("Kelvarin.onCmd_Next.004"), true);
  asker.expect(question, false);
  ASSERT_TRUE(next(wizard));
  EXPECT_EQ(mFXWizard::PAGE_SUMMARY, page());
  EXPECT_TRUE(asker.scriptDone()) << asker.transcript();
  EXPECT_TRUE(before == readFile(disk.image)) << "nothing is written";
  pictureOfBox(wizard, asker.shown.back(), "wizard-log-cannot-hold");

  asker.expect(text("Kelvarin.onCmd_Next.004"), true);
  asker.expect(question, true);
  ASSERT_TRUE(next(wizard));
  EXPECT_EQ(mFXWizard::PAGE_END, page());
  EXPECT_TRUE(asker.scriptDone()) << asker.transcript();
  std::vector<std::string> expected;
  for (const Volume& p : disk.partitions)
    expected.push_back(std::to_string(p.start) + " " + std::to_string(p.sectors) + (p.type == 7 ? " 7" : " c"));
  EXPECT_EQ(expected, sfdiskPartitions(disk.image));
  EXPECT_EQ(before.substr(512, 62 * 512), readFile(disk.image).substr(512, 62 * 512)) << "nothing logged";
}

// A logged recovery, after which sfdisk gave the disk another identifier:
// the partitions are the same, but the undo would write into the changed
// MBR.  The wizard does not offer it and says why.
TEST_F(WizardFlow, AnUndoThatWouldOverwriteLaterChangesIsNotOffered) {
  ASSERT_TRUE(makeLostFatNtfsDisk(dir.path("lost.img"), disk));
  std::string recover = "-file " + quote(disk.image) + " -chs " + disk.chs + " recover --disk 1";
  for (const Volume& p : disk.partitions) recover += " --pick @" + std::to_string(p.start);
  ASSERT_EQ(0, runCli(recover).status);
  ASSERT_EQ(0, sh("sfdisk -q --disk-id " + quote(disk.image) + " 0x4b56524e"));
  std::string changed = readFile(disk.image);
  open();
  leaveWelcome(false);
  ASSERT_EQ(2u, asker.shown.size()) << asker.transcript();
  FXString model = sharedAnalyser->disks[0].model;
  EXPECT_FALSE(asker.shown[0].question);
  EXPECT_EQ(wizard->Format("Kelvarin.DoUndo.001", model.trimEnd().text(), 0.0), asker.shown[0].text);
  pictureOfBox(wizard, asker.shown[0], "wizard-undo-would-overwrite");
  EXPECT_TRUE(changed == readFile(disk.image));
}

// A simulated undo of an earlier recovery: the end page says that nothing was
// undone, and the disk keeps the recovered table.
TEST_F(WizardFlow, ASimulatedUndoSaysThatNothingWasUndone) {
  ASSERT_TRUE(makeLostFatDisk(dir.path("fat.img"), 10, disk));
  CliResult recovered = runCli("-file " + quote(disk.image) + " -chs " + disk.chs + " recover --disk 1 --pick 1");
  ASSERT_EQ(0, recovered.status) << recovered.err;
  std::string before = readFile(disk.image);
  open({"-sim"});
  FXString model = sharedAnalyser->disks[0].model;
  asker.expect(wizard->Format("Kelvarin.mFXWizard.037", model.trimEnd().text()), true);
  ASSERT_TRUE(next(wizard));
  ASSERT_EQ(mFXWizard::PAGE_END, page()) << asker.transcript();
  EXPECT_EQ(text("Kelvarin.mFXWizard.052"), wizard->endLabel->getText());
  saveScreenshot(wizard, "wizard-page-8-simulated-undo");
  EXPECT_TRUE(before == readFile(disk.image)) << "a simulation writes nothing";
}
