// A full search of a 1 GiB disk while the GUI keeps running: the progress,
// the log of every stretch, and how quickly a cancel takes effect.  The
// figures are printed, not asserted.
#include <algorithm>
#include <cstdio>

#include "Analyse.h"
#include "Proxies.h"
#include "support/WizardFixture.h"

using namespace kvtest;

namespace {

class WizardSearch : public WizardFixture {
protected:
  // 141 cylinders with a lost FAT32 at sector 63 and one partition of 10
  // cylinders still in the table in the middle: two free stretches that
  // together hold 131 cylinders, just over 1 GiB.
  void makeDisk() {
    ASSERT_TRUE(makeLostFatDisk(dir.path("big.img"), 141, disk));
    const unsigned long long cylinder = 255ull * 63;
    std::string keep = "label: dos\nstart=" + std::to_string(60 * cylinder) +
                       ", size=" + std::to_string(10 * cylinder) + ", type=83\n";
    ASSERT_TRUE(sh("printf '" + keep + "' | sfdisk --no-reread --no-tell-kernel -q '" + disk.image +
                   "' >/dev/null") == 0);
  }

  void startFullSearch() {
    open();
    int areas = 0;
    ASSERT_TRUE(WizardFixture::startFullSearch(&areas));
    ASSERT_EQ(2, areas);
  }
};

}  // namespace

TEST_F(WizardSearch, AFullSearchReachesExactlyTheTotalAndLogsEveryStretch) {
  makeDisk();
  startFullSearch();
  FXuint total = wizard->searchProgress->getTotal();
  ASSERT_EQ(131u * 16065, total);  // every sector of both stretches is probed
  // While the worker searches, the event loop keeps turning: measure the
  // longest pause between two turns and watch the bar move.
  double started = now(), last = started, longest = 0;
  bool pictured = false;
  bool ended = pumpUntil(
      [&] {
        longest = std::max(longest, now() - last);
        last = now();
        if (!pictured && wizard->searchProgress->getProgress() > total / 3) {
          pictured = true;
          saveScreenshot(wizard, "wizard-page-3-searching");
          last = now();  // the screenshot's own time is no pause of the GUI
        }
        return !wizard->searching() && page() != mFXWizard::PAGE_SEARCHING;
      },
      600);
  ASSERT_TRUE(ended);
  double seconds = now() - started;
  EXPECT_EQ(mFXWizard::PAGE_RESULT, page());
  // What the search itself reported adds up to the whole bar.
  EXPECT_EQ(total, wizard->progressProxy->getProgress());
  EXPECT_EQ(total, wizard->searchProgress->getProgress());

  // The log names both stretches, in order, each with its search texts.
  FXString log = wizard->logText->getText();
  FXint disk0, at = 0;
  FXulong start, end;
  for (FXint n = 0; wizard->searchChooser->GetFreeSpaceProperties(n, &disk0, &start, &end); n++) {
    FXString line = wizard->Format("Kelvarin.Search.001", disk0 + 1, (double)start, (double)end);
    FXint found = log.find(line, at);
    EXPECT_GE(found, at) << "stretch " << n << " missing: " << line.text();
    if (found >= 0) at = found + line.length();
  }
  FXString begun = sharedAnalyser->GetString("Analyse.CheckOne.009");
  EXPECT_EQ(2, log.contains(begun)) << log.text();
  printf("full search of %.0f sectors: %.2f s, longest GUI pause %.3f s\n", (double)total, seconds, longest);
}

TEST_F(WizardSearch, CancellingAFullSearchStopsItQuickly) {
  makeDisk();
  startFullSearch();
  // Cancel once the search is well under way (a twentieth of the bar).
  FXuint total = wizard->searchProgress->getTotal();
  pumpUntil([&] { return !wizard->searching() || wizard->searchProgress->getProgress() > total / 20; },
            60);
  if (!wizard->searching()) GTEST_SKIP() << "the search ended before it could be cancelled";
  asker.expect(text("Kelvarin.mFXWizard.039"), true);
  double asked = now();
  ASSERT_TRUE(cancel(wizard));
  ASSERT_TRUE(pumpUntil([&] { return !wizard->searching(); }, 60));
  double stopped = now() - asked;
  ASSERT_TRUE(waitForSearchEnd(60));
  double shown = now() - asked;
  EXPECT_EQ(mFXWizard::PAGE_RESULT, page());  // the FAT32 found before the cancel
  printf("cancel: search stopped %.3f s and results shown %.3f s after the answer\n", stopped, shown);
}
