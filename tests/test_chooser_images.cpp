// The choosers over disk images made with sfdisk and mkfs.vfat and read by
// the program's own table reader, gap finder and search: the rows match
// sfdisk's listing, and a search over a real image ends in correct recover
// records.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
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
  std::string out;
  sh("sfdisk -d '" + image + "'", &out);
  std::vector<Listed> parts;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    unsigned long long start, size;
    unsigned type;
    size_t at = line.find("start=");
    if (at == std::string::npos) continue;
    if (sscanf(line.c_str() + at, "start= %llu, size= %llu, type=%x", &start, &size, &type) == 3)
      parts.push_back({start, size, type});
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

  FXComposite* row(int disk) {
    FXScrollWindow* scroll = (FXScrollWindow*)chooser->getDiskView()->getFirst();
    FXWindow* w = ((FXComposite*)scroll->contentWindow())->getFirst();
    for (int i = 0; i < disk; i++) w = w->getNext();
    return (FXComposite*)w;
  }
  std::vector<FXButton*> rowImages(int disk) {
    std::vector<FXButton*> out;
    for (FXWindow* w = row(disk)->getFirst()->getNext(); w; w = w->getNext())
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
  FXint total = 0;
  for (int d = 0; d < 3; d++) {
    SCOPED_TRACE(names[d]);
    const NRD& disk = disks.analyser().disks[d];
    std::vector<Listed> listed = sfdiskListing(disks.path(names[d]));
    std::vector<FXButton*> images = rowImages(d);
    total += (FXint)images.size();

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
      FXint n = chooser->imageIndex(b);
      ASSERT_GE(n, 0);
      const FreeSpace* r = recordOf(b);
      FXulong bytes, start;
      if (r) {  // a stretch of free space
        EXPECT_EQ(chooser->getImageKinds()[n], KIND_FREE);
        bytes = r->size;
        start = r->start;
      } else {
        ASSERT_LT(next, shown.size());
        const Listed& l = shown[next++];
        bytes = l.size * 512;
        start = l.start;
        const FXchar* type = PartitionTypeName((FXuchar)l.type);
        ASSERT_NE(type, nullptr);
        EXPECT_EQ(b->getText().section('\n', 2), formatSize(bytes) + " " + type);
        EXPECT_EQ(b->getTipText(), b->getText().after('\n'));
        EXPECT_EQ(chooser->getImageKinds()[n], l.start < 40960 || d > 0 ? KIND_PRIMARY : KIND_LOGICAL);
      }
      EXPECT_GE(start, lastStart);  // the row runs along the disk
      lastStart = start;
      FXint share = (FXint)((double)bytes / (sectors[d] * 512.0) * 460);
      EXPECT_EQ(b->getWidth(), share < 64 ? 64 : share) << start;
    }
    EXPECT_EQ(next, shown.size());
  }
  EXPECT_EQ((FXint)chooser->getImages().size(), total);
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
  ASSERT_EQ(chooser->getFoundList()->getNumItems(), 2);
  FXButton* primary = (FXButton*)chooser->getFoundList()->getItemData(0);
  FXButton* logical = (FXButton*)chooser->getFoundList()->getItemData(1);
  ASSERT_TRUE(recordOf(primary) && recordOf(logical));
  EXPECT_EQ(recordOf(primary)->foundAt, PRIMARY);
  EXPECT_EQ(recordOf(logical)->foundAt, LOGICAL);

  // The chain's table read at its own sector gives the logical partition
  // again, now as part of a chain.
  chooser->SetRecoverPartitions(0, {EPTB});
  ASSERT_EQ(chooser->getFoundList()->getNumItems(), 3);
  FXButton* chained = (FXButton*)chooser->getFoundList()->getItemData(2);
  ASSERT_TRUE(recordOf(chained)->logical);
  EXPECT_EQ(recordOf(chained)->start, LOGICAL);

  ASSERT_TRUE(click(primary));
  ASSERT_TRUE(click(logical));
  ASSERT_TRUE(click(chained));  // the same sectors: the plain one is dropped
  EXPECT_EQ(chooser->getImageKinds()[chooser->imageIndex(logical)], KIND_FREE);
  EXPECT_TRUE(saveScreenshot(window, "chooser-lost-recover"));

  ASSERT_EQ(recoverList.size(), 2u);
  const RecoverPart &p = recoverList[0], &l = recoverList[1];
  for (const RecoverPart* r : {&p, &l}) {
    EXPECT_EQ(r->device, disks.analyser().disks[0].device);
    EXPECT_EQ(r->size, SIZE * 512);
    EXPECT_EQ(r->heads, 4);
    EXPECT_EQ(r->sectorsPerTrack, 32);
  }
  EXPECT_EQ(p.sector, PRIMARY);
  EXPECT_FALSE(p.logical);
  EXPECT_EQ(l.sector, EPTB);
  EXPECT_TRUE(l.logical);
  // Letters: each found partition is proposed the letter after the one
  // before it, in the order they were placed, and shows it.
  FXchar letter = 0;
  for (FXint row = 0; row < 3; row++) {
    letter = disks.analyser().GetLastLetter(letter);
    FXButton* b = (FXButton*)chooser->getFoundList()->getItemData(row);
    FXchar expected = letter >= 'A' ? letter : ' ';
    EXPECT_EQ(recordOf(b)->letter, expected) << row;
    EXPECT_EQ(b->getText().section('\n', 1),
              expected != ' ' ? FXString(expected, 1) + ":" : FXString()) << row;
  }
  EXPECT_EQ(p.letter, recordOf(primary)->letter);
  EXPECT_EQ(l.letter, recordOf(chained)->letter);
  // The name the active chooser will list.
  EXPECT_EQ(chooser->GetSelectedPartitionName(0).left(recordOf(primary)->text.length()),
            recordOf(primary)->text);
}

}  // namespace
