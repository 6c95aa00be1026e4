// The disk chooser over images made with sfdisk and over disks written into
// the analyser's list: rows, pictures and texts, selection of free space,
// many pictures, and memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "DiskChooser.h"
#include "FileSystem.h"
#include "support/Engine.h"
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
  void addMixedDisk() {
    NRD d = diskRecord("disk-a.img", "  WDC WD20EARS-00MVWB0  ", 2 * GiB);
    d.partitions.push_back(partitionRecord(0x0C, 1, 0, 2048, 524288, 0, 'C'));
    d.partitions.push_back(partitionRecord(0x0F, 1, 0, 1050624, 786432, 1));
    d.partitions.push_back(partitionRecord(0x07, 2, 1050624, 2048, 409600, 2, 'D'));
    for (Gap g : {Gap(0, 2048, -1), Gap(526336, 524288, 0), Gap(1050624, 2048, 1), Gap(1462272, 374784, 2),
                  Gap(1837056, 2 * GiB - 1837056, 2)})
      d.gaps.push_back(g);
    disks.addRecord(d);
  }
  void addEmptyDisk() {
    NRD d = diskRecord("disk-b.img", "QEMU HARDDISK", GiB);
    d.gaps.push_back(Gap(0, GiB, -1));
    disks.addRecord(d);
  }
  // A disk whose free space is cut into `n` stretches by tiny partitions.
  void addFragmentedDisk(int n) {
    NRD d = diskRecord("disk-c.img", "fragmented", (FXulong)n * 4096 + 4096);
    for (int i = 0; i < n; i++) {
      d.partitions.push_back(partitionRecord(0x83, i < 4 ? 1 : 2, 0, i * 4096, 2048, i));
      d.gaps.push_back(Gap((FXulong)i * 4096 + 2048, 2048, i));
    }
    disks.addRecord(d);
  }

  FXComposite* row(int disk) {
    FXScrollWindow* scroll = (FXScrollWindow*)chooser->getDiskView()->getFirst();
    FXWindow* w = ((FXComposite*)scroll->contentWindow())->getFirst();
    for (int i = 0; i < disk; i++) w = w->getNext();
    return (FXComposite*)w;
  }
  FXButton* image(int n) { return chooser->getImages()[n]; }
  void press(int n) { click(image(n)); }
  FXint kind(int n) { return chooser->getImageKinds()[n]; }

  // The stretch GetFreeSpaceProperties gives as the n-th selected one.
  void expectStretch(FXint n, FXint disk, FXulong start, FXulong end) {
    FXint d = -1;
    FXulong s = 0, e = 0;
    ASSERT_TRUE(chooser->GetFreeSpaceProperties(n, &d, &s, &e)) << n;
    EXPECT_EQ(std::make_tuple(disk, start, end), std::make_tuple(d, s, e)) << n;
  }
  size_t selectedCount() {
    size_t n = 0;
    for (const FreeSpace& r : chooser->getFreeSpaces()) n += r.selected;
    return n;
  }

  DiskSet disks;
  FXMainWindow* window = nullptr;
  FXText* summary = nullptr;
  mFXDiskChooser* chooser = nullptr;
};

// Three images made with sfdisk: a primary, an extended and a logical
// partition with free space around them; no table; one partition filling it.
// One picture per partition sfdisk lists that is not extended, in its order,
// and one per non-empty gap, along the disk, widths by the 460-pixel rule.
TEST_F(Chooser, RowsMatchTheTablesSfdiskWrote) {
  const char* names[] = {"mixed.img", "blank.img", "full.img"};
  const FXulong sectors[] = {131072, 65536, 65536};
  const char* scripts[] = {"start=2048, size=8192, type=c\nstart=40960, size=40960, type=5\n"
                           "start=43008, size=16384, type=7\n",
                           "", "start=32, size=65504, type=83\n"};
  for (int d = 0; d < 3; d++) ASSERT_EQ(disks.addImage(names[d], sectors[d], scripts[d], 4, 32), d);
  build(false);
  // Partitions carry the names Linux gives them: MBR entries 1 to 4, logical
  // ones from 5 on.
  const std::vector<std::vector<std::string>> linuxNames = {{"mixed.img1", "mixed.img5"}, {}, {"full.img1"}};
  for (int d = 0; d < 3; d++) {
    SCOPED_TRACE(names[d]);
    std::vector<SfdiskPartition> shown;
    for (const SfdiskPartition& p : sfdiskDump(disks.path(names[d])))
      if (!isExtendedType((FXuchar)p.type)) shown.push_back(p);
    size_t gaps = 0;
    for (const Gap& g : disks.analyser().disks[d].gaps) gaps += g.size != 0;
    std::vector<FXButton*> images;
    for (FXWindow* w = row(d)->getFirst()->getNext(); w; w = w->getNext()) images.push_back((FXButton*)w);
    ASSERT_EQ(images.size(), shown.size() + gaps);
    size_t next = 0;
    FXulong lastStart = 0;
    for (FXButton* b : images) {
      const FreeSpace* r = nullptr;
      for (const FreeSpace& f : chooser->getFreeSpaces())
        if (f.id == ID + chooser->imageIndex(b)) r = &f;
      FXulong bytes = r ? r->size : 0, start = r ? r->start : 0;
      if (!r) {  // a partition, in listing order
        ASSERT_LT(next, shown.size());
        start = shown[next].start;
        bytes = shown[next].size * 512;
        // The whole text is the tooltip; the picture shows each line whole,
        // or cut with "..." where the picture is too narrow for it.
        const FXString whole = FXString(linuxNames[d][next].c_str()) + "\n" + formatSize(bytes) + " " +
                               PartitionTypeName((FXuchar)shown[next].type);
        next++;
        EXPECT_EQ(b->getTipText(), whole);
        for (FXint l = 0; l < 2; l++) {
          FXString line = b->getText().section('\n', l + 1), full = whole.section('\n', l);
          if (line != full) {
            EXPECT_TRUE(line.right(3) == "..." && full.left(line.length() - 3) == line.left(line.length() - 3))
                << line.text();
          }
          EXPECT_LE(b->getFont()->getTextWidth(line), b->getWidth() - 2) << line.text();
        }
      }
      EXPECT_GE(start, lastStart);
      lastStart = start;
      FXint share = (FXint)((double)bytes / (sectors[d] * 512.0) * 460);
      EXPECT_EQ(b->getWidth(), share < 64 ? 64 : share) << start;
    }
  }
  // The information block and the legend.
  FXLabel* number = (FXLabel*)((FXComposite*)row(1)->getFirst())->getFirst();
  EXPECT_STREQ(number->getText().text(), "2  blank.img");  // the disk's number and Linux name
  EXPECT_EQ(number->getTipText(), disks.analyser().disks[1].device + "\n" + disks.analyser().disks[1].model.trimEnd());
  FXLabel* l = (FXLabel*)chooser->getLegend()->getFirst();
  for (const char* key : {"DiskChooser.mFXDiskChooser.001", "DiskChooser.mFXDiskChooser.002",
                          "DiskChooser.mFXDiskChooser.003", "DiskChooser.mFXDiskChooser.005"}) {
    ASSERT_NE(l, nullptr) << key;
    EXPECT_EQ(l->getText(), tr(key));
    l = (FXLabel*)l->getNext();
  }
  EXPECT_TRUE(saveScreenshot(window, "disk-chooser-images"));
}

// A GPT disk made by sgdisk whose protective MBR is lost looks empty to an
// MBR reader; its row offers no free space and says why, next to a disk
// whose free space is offered.
// Every type name closes the parentheses it opens: "W95 FAT32 (LBA)".
TEST(TypeNames, CloseEveryParenthesis) {
  int rows = 0;
  for (const PartitionTypeNameRow* row = PartitionTypeNames; row->name; row++, rows++) {
    std::string name = row->name;
    EXPECT_EQ(std::count(name.begin(), name.end(), '('), std::count(name.begin(), name.end(), ')')) << name;
  }
  EXPECT_GT(rows, 50);
  EXPECT_STREQ("W95 FAT32 (LBA)", PartitionTypeName(0x0C));
}

// A GPT whose headers both fail their CRC cannot be used: its disk offers
// nothing and says why.  (A usable GPT offers its gaps.)
TEST_F(Chooser, AnUnusableGptDiskOffersNothingAndSaysWhy) {
  if (!haveTool("sgdisk")) GTEST_SKIP() << "sgdisk (package gdisk) is not installed";
  std::string gpt = disks.path("gpt.img");
  makeImage(gpt, 65536 * 512);
  ASSERT_EQ(0, sh("sgdisk -n 1:2048:+8M " + gpt + " >/dev/null"));
  for (unsigned long long header : {1ULL, 65535ULL}) {
    std::string h = readSector(gpt, header);
    h[40] ^= 1;  // the first usable sector, its CRC left as it was
    writeSector(gpt, header, h);
  }
  writeSector(gpt, 0, std::string(512, '\0'));
  ASSERT_EQ(disks.readImage(gpt, 4, 32), 0);
  ASSERT_EQ(disks.addImage("blank.img", 65536, "", 4, 32), 1);
  build(false);
  for (const FreeSpace& f : chooser->getFreeSpaces()) EXPECT_EQ(f.disk, 1) << f.start;
  EXPECT_FALSE(chooser->getFreeSpaces().empty());
  FXLabel* why = dynamic_cast<FXLabel*>(row(0)->getFirst()->getNext());
  ASSERT_NE(why, nullptr) << "a label follows the information block";
  EXPECT_EQ(why->getText(), tr("DiskChooser.buildRow.001"));
  EXPECT_TRUE(saveScreenshot(window, "disk-chooser-gpt"));
}

TEST_F(Chooser, RecoveryChooserHasHiddenSlotsPerGapAndTheList) {
  addMixedDisk();
  build(true);
  ASSERT_EQ(chooser->getImages().size(), 2u + 5 * 64);  // 2 partitions + 5 gaps x 64 slots
  ASSERT_EQ(chooser->getGapSlots().size(), 5u);
  const FreeSpace& g = chooser->getGapSlots()[1];
  EXPECT_EQ(g.start, 526336u);
  EXPECT_EQ(g.id, 64 + 1);  // its first slot, after the first gap's and the FAT32 picture
  for (size_t n = 0; n < chooser->getImages().size(); n++)
    EXPECT_EQ(image(n)->shown() != 0, kind(n) < KIND_FREE) << n;
  ASSERT_NE(chooser->getFoundList(), nullptr);
  EXPECT_EQ(chooser->getFoundList()->getNumHeaders(), 7);  // with start sector, file system and label
  EXPECT_TRUE(saveScreenshot(window, "disk-chooser-recovery-empty"));
}

TEST_F(Chooser, IdentifiersPastTheMessageRangeStillReachTheirImage) {
  // 1100 gaps make 70400 slots on the recovery chooser, more than message
  // identifiers can number (not put on the display).
  NRD big = diskRecord("big.img", "big", 1100 * 4096);
  for (int i = 0; i < 1100; i++) big.gaps.push_back(Gap((FXulong)i * 4096, 2048, -1));
  disks.addRecord(big);
  build(true, false);
  FXButton* last = chooser->getImages().back();
  EXPECT_EQ(last->getSelector(), (FXSelector)mFXDiskChooser::ID_PARTIMAGE_LAST);
  last->show();
  chooser->handle(last, FXSEL(SEL_LEFTBUTTONPRESS, last->getSelector()), nullptr);
  EXPECT_EQ(chooser->getImageKinds().back(), KIND_SELECTED);
  EXPECT_EQ(selectedCount(), 1u);
}

TEST_F(Chooser, TwoStretchesOfOneDiskAreSelectedTogetherAndWalkedInRowOrder) {
  addMixedDisk();
  addEmptyDisk();
  NRD odd = diskRecord("odd.img", "no geometry", 40000, 0, 0);  // qoffset 0
  odd.gaps.push_back(Gap(0, 20000, -1));
  disks.addRecord(odd);
  build(false);
  press(1);  // partitions cannot be selected
  press(4);
  EXPECT_EQ(kind(1), KIND_PRIMARY);
  EXPECT_EQ(selectedCount(), 0u);
  for (int n : {6, 2, 7}) press(n);  // last gap of disk 1, the gap after FAT32, the empty disk
  EXPECT_EQ(kind(2), KIND_SELECTED);
  expectStretch(0, 0, 526336u, 526336u + 524288);
  expectStretch(1, 0, 1837056u, 2 * GiB);
  expectStretch(2, 1, 0u, GiB);
  FXint disk;
  FXulong start, end;
  EXPECT_FALSE(chooser->GetFreeSpaceProperties(3, &disk, &start, &end));
  EXPECT_EQ(chooser->getFreeSpacePartitions().size(), 3u);
  EXPECT_FALSE(summary->getText().empty());
  // Steps count every stretch; sectors count the selected ones, or one probe
  // per cylinder for a quick search.
  EXPECT_EQ(chooser->GetSumSteps(), 7u);
  EXPECT_EQ(chooser->GetSumSectors(false), 524288u + (2 * GiB - 1837056) + GiB);
  // A disk without logical geometry counts one probe per sector.
  FXulong quick = chooser->GetSumSectors(true);
  press(8);
  EXPECT_EQ(chooser->GetSumSectors(true), quick + 20000 + 1);
  press(8);
  EXPECT_TRUE(saveScreenshot(window, "disk-chooser-free-selected"));
  for (int n : {6, 2, 7}) press(n);
  EXPECT_EQ(selectedCount(), 0u);
  EXPECT_TRUE(summary->getText().empty());
  EXPECT_EQ(chooser->GetSumSectors(true), 0u);
}

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
    if (listFirst) {
      delete elsewhere;
      EXPECT_EQ(chooser->getFoundList(), nullptr);
      chooser->ClearRecoverPartitions();
      press(0);
    } else {
      delete chooser;
      EXPECT_EQ(list->getTarget(), nullptr);
      pumpFor(0.2);
    }
    delete window;
    window = nullptr;
  }
}

TEST_F(Chooser, BuildingAndDestroyingManyPicturesLeavesNoneBehind) {
  addFragmentedDisk(150);
  NRD broken = diskRecord("broken.img", "damaged table", 100000);
  broken.partitions.push_back(partitionRecord(0x83, 1, 0, 0, 300000, 0));  // beyond the disk's end
  disks.addRecord(broken);
  addMixedDisk();
  for (int round = 0; round < 2; round++) {
    build(round == 1);
    window->resize(900, 500);  // new sizes make new pictures; clicks redraw them
    pumpFor(0.2);
    for (int n = 0; n < 40; n++) press(n);
    if (round == 0) {  // far past the first hundred pictures
      press(chooser->getImages().size() - 1);
      EXPECT_EQ(chooser->getImageKinds().back(), KIND_SELECTED);
    }
    delete window;
    window = nullptr;
  }
  // LeakSanitizer checks at exit that every picture went with its button.
}

}  // namespace
