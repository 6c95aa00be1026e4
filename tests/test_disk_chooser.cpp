// The disk chooser over disks written into the analyser's list: rows,
// picture widths and texts, selection of free space, the pictures drawn for
// every image however many there are, and the pictures' memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DiskChooser.h"
#include "support/DiskSet.h"
#include "support/Gui.h"

using namespace kvtest;

namespace {

const FXulong GiB = 2097152;  // sectors
const FXint ID = mFXDiskChooser::ID_PARTIMAGE;

class Chooser : public ::testing::Test {
protected:
  void TearDown() override {
    delete window;
    Information::ReleaseFonts(guiApp());  // the choosers set the language's font
  }
  FXString tr(const char* key) { return disks.analyser().GetString(key); }

  void build(bool recover, bool create = true) {
    window = new FXMainWindow(guiApp(), "chooser", nullptr, nullptr, DECOR_ALL, 0, 0, 780, 460);
    FXVerticalFrame* page = new FXVerticalFrame(window, LAYOUT_FILL_X | LAYOUT_FILL_Y);
    summary = new FXText(page, nullptr, 0, LAYOUT_FILL_X | LAYOUT_FIX_HEIGHT, 0, 0, 0, 60);
    chooser = new mFXDiskChooser(page, summary, recover);
    if (!create) return;
    window->create();
    window->show();
    pumpFor(0.2);
  }

  // A disk of 2 GiB: a primary FAT32 partition, an extended partition with
  // one logical NTFS partition, free space before, between, inside and after.
  int addMixedDisk() {
    NRD d = diskRecord("disk-a.img", "  WDC WD20EARS-00MVWB0  ", 2 * GiB);
    d.partitions.push_back(partitionRecord(0x0C, 1, 0, 2048, 524288, 0, 'C'));
    d.partitions.push_back(partitionRecord(0x0F, 1, 0, 1050624, 786432, 1));
    d.partitions.push_back(partitionRecord(0x07, 2, 1050624, 2048, 409600, 2, 'D'));
    d.gaps.push_back(Gap(0, 2048, -1));
    d.gaps.push_back(Gap(526336, 524288, 0));
    d.gaps.push_back(Gap(1050624, 2048, 1));
    d.gaps.push_back(Gap(1462272, 374784, 2));
    d.gaps.push_back(Gap(1837056, 2 * GiB - 1837056, 2));
    return disks.addRecord(d);
  }

  int addEmptyDisk() {
    NRD d = diskRecord("disk-b.img", "QEMU HARDDISK", GiB);
    d.gaps.push_back(Gap(0, GiB, -1));
    return disks.addRecord(d);
  }

  // A disk whose free space is cut into `n` stretches by tiny partitions.
  int addFragmentedDisk(int n, const std::string& device = "disk-c.img") {
    NRD d = diskRecord(device, "fragmented", (FXulong)n * 4096 + 4096);
    for (int i = 0; i < n; i++) {
      d.partitions.push_back(partitionRecord(0x83, i < 4 ? 1 : 2, 0, i * 4096, 2048, i));
      d.gaps.push_back(Gap((FXulong)i * 4096 + 2048, 2048, i));
    }
    return disks.addRecord(d);
  }

  FXComposite* rowsFrame() {
    FXScrollWindow* scroll = (FXScrollWindow*)chooser->getDiskView()->getFirst();
    return (FXComposite*)scroll->contentWindow();
  }
  FXComposite* row(int disk) {
    FXWindow* w = rowsFrame()->getFirst();
    for (int i = 0; i < disk; i++) w = w->getNext();
    return (FXComposite*)w;
  }
  FXButton* image(int n) { return chooser->getImages()[n]; }

  void press(int n) { click(image(n)); }

  // The stretch GetFreeSpaceProperties gives as the n-th selected one.
  void expectStretch(FXint n, FXint disk, FXulong start, FXulong end) {
    FXint d = -1;
    FXulong s = 0, e = 0;
    ASSERT_TRUE(chooser->GetFreeSpaceProperties(n, &d, &s, &e)) << n;
    EXPECT_EQ(d, disk) << n;
    EXPECT_EQ(s, start) << n;
    EXPECT_EQ(e, end) << n;
  }

  std::vector<FXint> selectedRecords() {
    std::vector<FXint> ids;
    for (const FreeSpace& r : chooser->getFreeSpaces())
      if (r.selected) ids.push_back(r.id);
    return ids;
  }

  DiskSet disks;
  FXMainWindow* window = nullptr;
  FXText* summary = nullptr;
  mFXDiskChooser* chooser = nullptr;
};

// --- construction ------------------------------------------------------------

TEST_F(Chooser, OneRowPerDiskWithItsInformationBlockAndTheLegend) {
  addMixedDisk();
  addEmptyDisk();
  build(false);
  ASSERT_EQ(rowsFrame()->numChildren(), 2);
  FXComposite* info = (FXComposite*)row(0)->getFirst();
  FXLabel* number = (FXLabel*)info->getFirst();
  FXLabel* size = (FXLabel*)number->getNext();
  FXLabel* model = (FXLabel*)size->getNext();
  EXPECT_STREQ(number->getText().text(), "1");
  EXPECT_STREQ(number->getTipText().text(), "  WDC WD20EARS-00MVWB0  ");
  EXPECT_NE(number->getIcon(), nullptr);
  EXPECT_STREQ(size->getText().text(), "2.00 GB");
  EXPECT_STREQ(model->getText().text(), "WDC WD20EARS-00MVWB0");  // trimmed
  EXPECT_STREQ(model->getTipText().text(), "WDC WD20EARS-00MVWB0");
  FXLabel* second = (FXLabel*)((FXComposite*)row(1)->getFirst())->getFirst();
  EXPECT_STREQ(second->getText().text(), "2");
  // The free-space chooser's legend: four entries, each with its square.
  ASSERT_EQ(chooser->getLegend()->numChildren(), 4);
  FXLabel* l = (FXLabel*)chooser->getLegend()->getFirst();
  for (const char* key : {"DiskChooser.mFXDiskChooser.001", "DiskChooser.mFXDiskChooser.002",
                          "DiskChooser.mFXDiskChooser.003", "DiskChooser.mFXDiskChooser.005"}) {
    EXPECT_EQ(l->getText(), tr(key));
    EXPECT_NE(l->getIcon(), nullptr) << key;
    l = (FXLabel*)l->getNext();
  }
  EXPECT_TRUE(saveScreenshot(window, "disk-chooser-records"));
}

TEST_F(Chooser, PicturesForPartitionsAndNonEmptyGapsInRowOrder) {
  addMixedDisk();
  NRD d = diskRecord("broken.img", "damaged table", 100000);
  d.partitions.push_back(partitionRecord(0x83, 1, 0, 0, 300000, 0));  // beyond the disk's end
  disks.addRecord(d);
  build(false);
  // gap, FAT32, gap, [extended: none], gap inside it, NTFS, gap, gap; then the broken disk
  const std::vector<FXint> kinds = {KIND_FREE, KIND_PRIMARY, KIND_FREE, KIND_FREE,
                                    KIND_LOGICAL, KIND_FREE, KIND_FREE, KIND_PRIMARY};
  EXPECT_EQ(chooser->getImageKinds(), kinds);
  ASSERT_EQ(chooser->getImages().size(), kinds.size());
  FXWindow* w = row(0)->getFirst()->getNext();
  for (size_t n = 0; n < 7; n++, w = w->getNext()) {
    EXPECT_EQ(w, image(n)) << n;
    EXPECT_EQ(image(n)->getSelector(), (FXSelector)(ID + n));
  }
  // Every picture is drawn at its button's size.
  for (FXButton* b : chooser->getImages()) {
    EXPECT_EQ(b->getHeight(), 64);
    ASSERT_NE(b->getIcon(), nullptr);
    EXPECT_EQ(b->getIcon()->getWidth(), b->getWidth() - 2);
    EXPECT_EQ(b->getIcon()->getHeight(), 62);
  }
  // Widths: the share of 460 pixels, at least 64, also for a piece past the
  // disk's end (1380 pixels by its share).  (Widths of real tables: Images.)
  EXPECT_EQ(image(6)->getWidth(), (FXint)(2357248.0 / 4194304 * 460));
  EXPECT_EQ(image(7)->getWidth(), 64);
  EXPECT_EQ(image(1)->getText().section('\n', 1), "C:");  // the letter
  // Free-space records: one per gap picture, size in bytes.
  const std::vector<FreeSpace>& r = chooser->getFreeSpaces();
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r[0].size, 2048u * 512);
  EXPECT_EQ(r[2].start, 1050624u);
  EXPECT_EQ(r[2].id, ID + 3);
  EXPECT_EQ(r[4].id, ID + 6);
  EXPECT_TRUE(chooser->getGapSlots().empty());
  EXPECT_EQ(chooser->getFoundList(), nullptr);
  // A picture follows a changed size.
  image(0)->setWidth(200);
  image(0)->recalc();
  pumpFor(0.2);
  ASSERT_NE(image(0)->getIcon(), nullptr);
  EXPECT_EQ(image(0)->getIcon()->getWidth(), 198);
}

TEST_F(Chooser, RecoveryChooserHasHiddenSlotsPerGapAndTheList) {
  addMixedDisk();
  build(true);
  // 2 partitions + 5 gaps x 64 slots.
  ASSERT_EQ(chooser->getImages().size(), 2u + 5 * 64);
  ASSERT_EQ(chooser->getGapSlots().size(), 5u);
  ASSERT_EQ(chooser->getFreeSpaces().size(), 5u * 64);
  const FreeSpace& g = chooser->getGapSlots()[1];
  EXPECT_EQ(g.start, 526336u);
  EXPECT_EQ(g.size, 524288u);  // sectors
  EXPECT_EQ(g.id, 64 + 1);     // its first slot, after the first gap's and the FAT32 picture
  for (size_t n = 0; n < chooser->getImages().size(); n++) {
    bool partition = chooser->getImageKinds()[n] < KIND_FREE;
    EXPECT_EQ(image(n)->shown() != 0, partition) << n;
  }
  ASSERT_NE(chooser->getFoundList(), nullptr);
  EXPECT_FALSE(chooser->getFoundList()->shown());
  EXPECT_EQ(chooser->getFoundList()->getNumHeaders(), 4);
  FXLabel* third = (FXLabel*)chooser->getLegend()->getFirst()->getNext()->getNext();
  EXPECT_EQ(third->getText(), tr("DiskChooser.mFXDiskChooser.004"));
  EXPECT_TRUE(saveScreenshot(window, "disk-chooser-recovery-empty"));
}

TEST_F(Chooser, ImagesBeyondTheFirstHundredDrawAndRespond) {
  // 12 disks of 50 partitions and 50 gaps: 1200 pictures.  (A row stays
  // well below the 32767 pixels X11 can place a window at.)
  for (int d = 0; d < 12; d++) addFragmentedDisk(50, "disk" + std::to_string(d));
  build(false);
  ASSERT_EQ(chooser->getImages().size(), 1200u);
  // Scroll the last picture into view, let it draw, click it.
  FXScrollWindow* scroll = (FXScrollWindow*)chooser->getDiskView()->getFirst();
  scroll->setPosition(-scroll->getContentWidth(), -scroll->getContentHeight());
  pumpFor(0.3);
  EXPECT_NE(image(1199)->getIcon(), nullptr);
  EXPECT_EQ(image(1199)->getSelector(), (FXSelector)(ID + 1199));
  press(1199);
  EXPECT_EQ(chooser->getImageKinds()[1199], KIND_SELECTED);
  EXPECT_EQ(selectedRecords(), std::vector<FXint>{ID + 1199});
  expectStretch(0, 11, 49u * 4096 + 2048, 49u * 4096 + 4096);
  EXPECT_TRUE(saveScreenshot(window, "disk-chooser-many"));
}

TEST_F(Chooser, IdentifiersPastTheMessageRangeStillReachTheirImage) {
  // 1100 gaps make 70400 slots on the recovery chooser, more than message
  // identifiers can number; the chooser is not put on the display.
  NRD d = diskRecord("big.img", "big", 1100 * 4096);
  for (int i = 0; i < 1100; i++) d.gaps.push_back(Gap((FXulong)i * 4096, 2048, -1));
  disks.addRecord(d);
  build(true, false);
  ASSERT_EQ(chooser->getImages().size(), 1100u * 64);
  FXButton* last = chooser->getImages().back();
  EXPECT_EQ(last->getSelector(), (FXSelector)mFXDiskChooser::ID_PARTIMAGE_LAST);
  EXPECT_EQ(chooser->imageIndex(last), 1100 * 64 - 1);
  // A press reaches the handler with the shared identifier and finds its own image.
  last->show();
  chooser->handle(last, FXSEL(SEL_LEFTBUTTONPRESS, last->getSelector()), nullptr);
  EXPECT_EQ(chooser->getImageKinds().back(), KIND_SELECTED);
  EXPECT_TRUE(chooser->getFreeSpaces().back().selected);
  EXPECT_FALSE(chooser->getFreeSpaces()[chooser->getFreeSpaces().size() - 2].selected);
}

// --- free-space selection ----------------------------------------------------

TEST_F(Chooser, TwoStretchesOfOneDiskAreSelectedTogetherAndWalkedInRowOrder) {
  addMixedDisk();
  addEmptyDisk();
  build(false);
  EXPECT_TRUE(chooser->GetSelectedPartitionName(0).empty());
  press(1);  // partitions cannot be selected
  press(4);
  EXPECT_EQ(chooser->getImageKinds()[1], KIND_PRIMARY);
  EXPECT_EQ(chooser->getImageKinds()[4], KIND_LOGICAL);
  EXPECT_TRUE(selectedRecords().empty());

  press(6);  // last gap of disk 1
  press(2);  // gap between FAT32 and the extended partition
  press(7);  // the empty disk
  EXPECT_EQ(chooser->getImageKinds()[2], KIND_SELECTED);
  EXPECT_EQ(chooser->getImageKinds()[6], KIND_SELECTED);
  expectStretch(0, 0, 526336u, 526336u + 524288);
  expectStretch(1, 0, 1837056u, 2 * GiB);
  expectStretch(2, 1, 0u, GiB);
  FXint disk;
  FXulong start, end;
  EXPECT_FALSE(chooser->GetFreeSpaceProperties(3, &disk, &start, &end));

  // The summary lists the three; its lines come from the descriptions.
  EXPECT_EQ(chooser->getFreeSpacePartitions().size(), 3u);
  EXPECT_FALSE(summary->getText().empty());
  EXPECT_TRUE(saveScreenshot(window, "disk-chooser-free-selected"));

  for (int n : {6, 2, 7}) press(n);
  EXPECT_TRUE(selectedRecords().empty());
  EXPECT_TRUE(summary->getText().empty());
  EXPECT_FALSE(chooser->GetFreeSpaceProperties(0, &disk, &start, &end));
}

TEST_F(Chooser, StepsAndSectorTotals) {
  addMixedDisk();
  NRD odd = diskRecord("odd.img", "no geometry", 40000, 0, 0);  // qoffset 0
  odd.gaps.push_back(Gap(0, 20000, -1));
  disks.addRecord(odd);
  NRD full = diskRecord("d.img", "no gaps", 4096);  // and a gap of no size: no picture, no step
  full.partitions.push_back(partitionRecord(0x83, 1, 0, 0, 2048, 0));
  full.partitions.push_back(partitionRecord(0x83, 1, 0, 2048, 2048, 1));
  full.gaps.push_back(Gap(2048, 0, 0));
  disks.addRecord(full);
  build(false);
  EXPECT_EQ(chooser->getImages().size(), 7u + 1 + 2);
  EXPECT_EQ(chooser->GetSumSteps(), 6u);  // selected or not
  EXPECT_EQ(chooser->GetSumSectors(false), 0u);
  press(2);
  EXPECT_EQ(chooser->GetSumSectors(false), 524288u);
  EXPECT_EQ(chooser->GetSumSectors(true), 524288u / 16065 + 1);
  press(7);
  // A disk without logical geometry counts one probe per sector.
  EXPECT_EQ(chooser->GetSumSectors(false), 524288u + 20000);
  EXPECT_EQ(chooser->GetSumSectors(true), 524288u / 16065 + 1 + 20000 + 1);
  EXPECT_EQ(chooser->GetSumSteps(), 6u);
  press(2);
  press(7);
  EXPECT_EQ(chooser->GetSumSectors(true), 0u);
}

// --- memory ------------------------------------------------------------------

// The list of found partitions may live on another page; whichever of the
// two goes first, the other is left sound.
TEST_F(Chooser, TheListAndTheChooserMayGoInEitherOrder) {
  addMixedDisk();
  for (bool listFirst : {true, false}) {
    build(true);
    FXVerticalFrame* elsewhere = new FXVerticalFrame(window, LAYOUT_FILL_X | LAYOUT_FILL_Y);
    elsewhere->create();
    chooser->SetChooserParent(elsewhere);
    FXIconList* list = chooser->getFoundList();
    EXPECT_EQ(list->getParent(), elsewhere);
    EXPECT_EQ(elsewhere->getLast(), list);
    EXPECT_TRUE(list->shown());
    if (listFirst) {
      delete elsewhere;
      EXPECT_EQ(chooser->getFoundList(), nullptr);
      chooser->ClearRecoverPartitions();
      press(0);
    } else {
      delete chooser;
      EXPECT_EQ(list->getNumItems(), 0);
      EXPECT_EQ(list->getTarget(), nullptr);
      pumpFor(0.2);
    }
    delete window;
    window = nullptr;
  }
}

TEST_F(Chooser, BuildingAndDestroyingManyPicturesLeavesNoneBehind) {
  addFragmentedDisk(150);
  addMixedDisk();
  for (int round = 0; round < 2; round++) {
    build(round == 1);
    // New sizes make new pictures; clicks redraw them.
    window->resize(900, 500);
    pumpFor(0.2);
    for (int n = 0; n < 40; n++) press(n);
    delete window;
    window = nullptr;
  }
  // LeakSanitizer checks at exit that every picture went with its button.
}

}  // namespace
