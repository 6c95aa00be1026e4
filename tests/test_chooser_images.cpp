// The choosers over disk images made with sfdisk and mkfs.vfat and read by
// the program's own table reader, gap finder and search: the rows match
// sfdisk's listing, and a search over a real image ends in correct recover
// records.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "DiskChooser.h"
#include "FileSystem.h"
#include "support/DiskSet.h"
#include "support/Gui.h"

using namespace kvtest;

namespace {

const FXint ID = mFXDiskChooser::ID_PARTIMAGE;

struct Listed {
  FXulong start, size;
  unsigned type;
};

// The partitions sfdisk lists for an image, in its order.
std::vector<Listed> sfdiskListing(const std::string& image) {
  std::vector<Listed> parts;
  for (const std::string& line : sfdiskPartitions(image)) {
    unsigned long long start, size;
    unsigned type;
    if (sscanf(line.c_str(), "%llu %llu %x", &start, &size, &type) == 3) parts.push_back({start, size, type});
  }
  return parts;
}

class QuietProgress : public SearchProgress {
public:
  FXuint total = 0, value = 0;
  FXuint getTotal() override { return total; }
  FXuint getProgress() override { return value; }
  void post(FXint kind, FXulong v) override {
    if (kind == 1) value = (FXuint)v;
    if (kind == 2) value += (FXuint)v;
  }
};

class Images : public ::testing::Test {
protected:
  void TearDown() override {
    delete window;
    Information::ReleaseFonts(guiApp());  // the choosers set the language's font
  }

  // Writes a FAT16 file system of `sectors` sectors starting at `start`.
  void placeFat(const std::string& image, FXulong start, FXulong sectors) {
    std::string fs = disks.path("fs.img");
    sh("rm -f '" + fs + "'");
    ASSERT_EQ(sh("mkfs.vfat -F 16 -s 1 -C '" + fs + "' " + std::to_string(sectors / 2)), 0);
    ASSERT_EQ(sh("dd if='" + fs + "' of='" + image + "' bs=512 seek=" + std::to_string(start) +
                 " conv=notrunc status=none"),
              0);
  }

  void build(bool recover) {
    window = new FXMainWindow(guiApp(), "chooser", nullptr, nullptr, DECOR_ALL, 0, 0, 780, 520);
    FXVerticalFrame* page = new FXVerticalFrame(window, LAYOUT_FILL_X | LAYOUT_FILL_Y);
    FXVerticalFrame* listPage =
        new FXVerticalFrame(page, LAYOUT_FILL_X | LAYOUT_FIX_HEIGHT, 0, 0, 0, recover ? 110 : 1);
    summary = new FXText(page, nullptr, 0, LAYOUT_FILL_X | LAYOUT_FIX_HEIGHT, 0, 0, 0, 60);
    chooser = new mFXDiskChooser(page, summary, recover);
    chooser->recoverList = &recoverList;
    if (recover) chooser->SetChooserParent(listPage);
    window->create();
    window->show();
    pumpFor(0.2);
  }

  std::vector<FXButton*> rowImages(int disk) {
    FXScrollWindow* scroll = (FXScrollWindow*)chooser->getDiskView()->getFirst();
    FXWindow* row = ((FXComposite*)scroll->contentWindow())->getFirst();
    for (int i = 0; i < disk; i++) row = row->getNext();
    std::vector<FXButton*> out;
    for (FXWindow* w = ((FXComposite*)row)->getFirst()->getNext(); w; w = w->getNext())
      out.push_back((FXButton*)w);
    return out;
  }
  const FreeSpace* recordOf(FXButton* b) {
    for (const FreeSpace& r : chooser->getFreeSpaces())
      if (r.id == ID + chooser->imageIndex(b)) return &r;
    return nullptr;
  }

  DiskSet disks;
  std::vector<RecoverPart> recoverList;
  FXMainWindow* window = nullptr;
  FXText* summary = nullptr;
  mFXDiskChooser* chooser = nullptr;
};

// Three images: one with a primary, an extended and a logical partition and
// free space around them, one without a table, one filled by one partition.
TEST_F(Images, RowsMatchTheTablesSfdiskWrote) {
  ASSERT_EQ(disks.addImage("mixed.img", 131072,
                           "start=2048, size=8192, type=c\n"
                           "start=40960, size=40960, type=5\n"
                           "start=43008, size=16384, type=7\n",
                           4, 32),
            0);
  ASSERT_EQ(disks.addImage("blank.img", 65536, "", 4, 32), 1);
  ASSERT_EQ(disks.addImage("full.img", 65536, "start=32, size=65504, type=83\n", 4, 32), 2);
  build(false);

  const FXulong sectors[] = {131072, 65536, 65536};
  const char* names[] = {"mixed.img", "blank.img", "full.img"};
  for (int d = 0; d < 3; d++) {
    SCOPED_TRACE(names[d]);
    const NRD& disk = disks.analyser().disks[d];
    std::vector<Listed> listed = sfdiskListing(disks.path(names[d]));
    std::vector<FXButton*> images = rowImages(d);

    // One picture per listed partition that is not extended, in listing
    // order, and one per non-empty gap the analyser found.
    std::vector<Listed> shown;
    for (const Listed& l : listed)
      if (!isExtendedType((FXuchar)l.type)) shown.push_back(l);
    size_t gaps = 0;
    for (const Gap& g : disk.gaps) gaps += g.size != 0;
    ASSERT_EQ(images.size(), shown.size() + gaps);

    size_t next = 0;
    FXulong lastStart = 0;
    for (FXButton* b : images) {
      const FreeSpace* r = recordOf(b);
      FXulong bytes = r ? r->size : 0, start = r ? r->start : 0;
      if (!r) {  // a partition, in listing order
        ASSERT_LT(next, shown.size());
        const Listed& l = shown[next++];
        bytes = l.size * 512;
        start = l.start;
        EXPECT_EQ(b->getText().section('\n', 2), formatSize(bytes) + " " + PartitionTypeName((FXuchar)l.type));
        EXPECT_EQ(b->getTipText(), b->getText().after('\n'));
      }
      EXPECT_GE(start, lastStart);  // the row runs along the disk
      lastStart = start;
      FXint share = (FXint)((double)bytes / (sectors[d] * 512.0) * 460);
      EXPECT_EQ(b->getWidth(), share < 64 ? 64 : share) << start;
    }
    EXPECT_EQ(next, shown.size());
  }
  EXPECT_TRUE(saveScreenshot(window, "chooser-images-free"));
}

// A 64 MiB image (4 heads, 32 sectors per track) whose table lost a FAT16
// primary partition and the extended partition around a FAT16 logical one.
class LostImage : public Images {
protected:
  static constexpr FXulong PRIMARY = 16384, EPTB = 40960, LOGICAL = 43008, SIZE = 16384;
  void SetUp() override {
    std::string img = disks.path("lost.img");
    makeImage(img, 131072ull * 512);
    ASSERT_TRUE(sfdisk(img,
                       "start=2048, size=8192, type=6\n"
                       "start=40960, size=40960, type=5\n"
                       "start=43008, size=16384, type=6\n"));
    placeFat(img, PRIMARY, SIZE);
    placeFat(img, LOGICAL, SIZE);
    const unsigned char zero[16] = {};
    patchFile(img, 446 + 16, zero, sizeof(zero));  // the extended entry is lost
    ASSERT_EQ(disks.readImage(img, 4, 32), 0);
  }

  // Runs the search the wizard runs over the stretches chosen on `from`,
  // placing what it finds on `to`.
  void search(mFXDiskChooser* from, mFXDiskChooser* to, bool quick) {
    QuietProgress progress;
    progress.total = (FXuint)from->GetSumSectors(quick);
    FXint areas = (FXint)from->GetSumSteps();
    to->ClearRecoverPartitions();
    FXint disk;
    FXulong start, end;
    for (FXint n = 0; from->GetFreeSpaceProperties(n, &disk, &start, &end); n++)
      to->SetRecoverPartitions(disk, disks.analyser().Search(&progress, nullptr, disk, quick, start,
                                                             end, areas));
  }
};

TEST_F(LostImage, TheRecoverListOfASearchCarriesWhatTheWriterNeeds) {
  // The free-space chooser offers the stretch behind the one partition left.
  build(false);
  mFXDiskChooser* freeChooser = chooser;
  FXButton* stretch = nullptr;
  for (FXButton* b : rowImages(0)) {
    const FreeSpace* r = recordOf(b);
    if (r && r->start <= PRIMARY && PRIMARY < r->start + r->size / 512) stretch = b;
  }
  ASSERT_NE(stretch, nullptr);
  ASSERT_TRUE(click(stretch));
  EXPECT_TRUE(saveScreenshot(window, "chooser-lost-free"));

  // The recovery chooser on a second window, as the wizard has both.
  FXMainWindow* freeWindow = window;
  window = nullptr;
  build(true);
  search(freeChooser, chooser, true);
  delete freeWindow;

  // Both lost volumes are found; the extended chain's table is not a volume.
  // The chain's table read at its own sector gives the logical partition
  // again, now as part of a chain.
  FXIconList* found = chooser->getFoundList();
  ASSERT_EQ(found->getNumItems(), 2);
  chooser->SetRecoverPartitions(0, {EPTB});
  ASSERT_EQ(found->getNumItems(), 3);
  FXButton* primary = (FXButton*)found->getItemData(0);
  FXButton* logical = (FXButton*)found->getItemData(1);
  FXButton* chained = (FXButton*)found->getItemData(2);
  ASSERT_TRUE(recordOf(primary) && recordOf(logical) && recordOf(chained));
  EXPECT_EQ(recordOf(primary)->foundAt, PRIMARY);
  EXPECT_EQ(recordOf(logical)->foundAt, LOGICAL);
  EXPECT_TRUE(recordOf(chained)->logical);
  EXPECT_EQ(recordOf(chained)->start, LOGICAL);

  ASSERT_TRUE(click(primary));
  ASSERT_TRUE(click(logical));
  ASSERT_TRUE(click(chained));  // the same sectors: the plain one is dropped
  EXPECT_EQ(chooser->getImageKinds()[chooser->imageIndex(logical)], KIND_FREE);
  EXPECT_TRUE(saveScreenshot(window, "chooser-lost-recover"));

  ASSERT_EQ(recoverList.size(), 2u);
  // Device, found-at sector, size, logical flag, geometry and letter.
  const FXString device = disks.analyser().disks[0].device;
  const std::pair<FXButton*, FXulong> expected[] = {{primary, PRIMARY}, {chained, EPTB}};
  for (size_t i = 0; i < 2; i++) {
    const RecoverPart& r = recoverList[i];
    EXPECT_EQ(std::make_tuple(r.device, r.sector, r.size, r.logical, r.heads, r.sectorsPerTrack, r.letter),
              std::make_tuple(device, expected[i].second, SIZE * 512, i == 1, 4, 32,
                              recordOf(expected[i].first)->letter)) << i;
  }
  // Each found partition is proposed the letter after the one before it.
  FXchar letter = disks.analyser().GetLastLetter(0);
  EXPECT_EQ(recordOf(primary)->letter, letter >= 'A' ? letter : ' ');
}

}  // namespace
