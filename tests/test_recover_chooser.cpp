// The recovery chooser over disk images made with sfdisk and mkfs.vfat:
// found partitions placed in the slots of their gap, shown in the list,
// selected with the overlap rule, locked, and handed over as recover records
// after a real search.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "ContentsDialog.h"
#include "DiskChooser.h"
#include "FileSystem.h"
#include "compat/Assert.h"
#include "support/Engine.h"
#include "support/Gui.h"

using namespace kvtest;

namespace {

class Recovery : public ::testing::Test {
protected:
  void TearDown() override {
    delete window;
    Information::ReleaseFonts(guiApp());  // the choosers set the language's font
  }

  // Writes a FAT16 file system of `sectors` sectors whose boot sector
  // stands at `start` of the image.
  void placeFat(const std::string& image, FXulong start, FXulong sectors) {
    std::string fs = disks.path("fs.img");
    sh("rm -f '" + fs + "'");
    ASSERT_EQ(sh("mkfs.vfat -F 16 -s 1 -h " + std::to_string(start) + " -C '" + fs + "' " +
                 std::to_string(sectors / 2) + " >/dev/null"),
              0);
    ASSERT_EQ(sh("dd if='" + fs + "' of='" + image + "' bs=512 seek=" + std::to_string(start) +
                 " conv=notrunc status=none"),
              0);
  }

  // Disk 0: 32 MiB with one partition at the start; three lost FAT16 volumes
  // behind it: A, B inside A, and C from inside A to beyond its end.
  static constexpr FXulong A = 20480, A_SIZE = 30720, B = 30720, B_SIZE = 8192, C = 45056,
                           C_SIZE = 16384;
  int addOverlappingDisk() {
    int d = disks.addImage("overlap.img", 65536, "start=2048, size=8192, type=c\n", 4, 32);
    placeFat(disks.path("overlap.img"), A, A_SIZE);
    placeFat(disks.path("overlap.img"), B, B_SIZE);
    placeFat(disks.path("overlap.img"), C, C_SIZE);
    return d;
  }
  // Disk 1: 16 MiB, no table, one lost FAT16 volume.
  static constexpr FXulong D = 4096, D_SIZE = 8192;
  int addSecondDisk() {
    int d = disks.addImage("second.img", 32768, "", 4, 32);
    placeFat(disks.path("second.img"), D, D_SIZE);
    return d;
  }

  void build(FXint x = 0, FXint y = 0) {
    window = new FXMainWindow(guiApp(), "recovery", nullptr, nullptr, DECOR_ALL, x, y, 780, 520);
    FXVerticalFrame* page = new FXVerticalFrame(window, LAYOUT_FILL_X | LAYOUT_FILL_Y);
    listPage = new FXVerticalFrame(page, LAYOUT_FILL_X | LAYOUT_FIX_HEIGHT, 0, 0, 0, 130);
    summary = new FXText(page, nullptr, 0, LAYOUT_FILL_X | LAYOUT_FIX_HEIGHT, 0, 0, 0, 70);
    chooser = new mFXDiskChooser(page, summary, true);
    chooser->recoverList = &recoverList;
    chooser->SetChooserParent(listPage);
    status = new FXLabel(page, FXString::null, nullptr, LAYOUT_FILL_X);
    chooser->statusLine = status;
    window->create();
    window->show();
    pumpFor(0.2);
  }

  // The slot that shows the partition found starting at `start` on `disk`.
  FXint slotOf(int disk, FXulong start) {
    for (const FreeSpace& r : chooser->getFreeSpaces())
      if (r.disk == disk && r.size && r.start == start)
        return r.id - mFXDiskChooser::ID_PARTIMAGE;
    return -1;
  }
  const FreeSpace& recordOf(FXint slot) {
    for (const FreeSpace& r : chooser->getFreeSpaces())
      if (r.id == mFXDiskChooser::ID_PARTIMAGE + slot) return r;
    static FreeSpace none(-1, 0, 0, -1);
    return none;
  }
  FXint kind(FXint slot) { return chooser->getImageKinds()[slot]; }
  FXButton* image(FXint slot) { return chooser->getImages()[slot]; }
  bool press(FXint slot) { return slot >= 0 && click(image(slot)); }
  FXIconList* list() { return chooser->getFoundList(); }
  FXint rowOf(FXint slot) {
    for (FXint i = 0; i < list()->getNumItems(); i++)
      if (list()->getItemData(i) == image(slot)) return i;
    return -1;
  }
  // Selects a row of the list as a click on it does.
  void selectRow(FXint row) {
    list()->setCurrentItem(row, FALSE);
    list()->selectItem(row, TRUE);
  }

  // Places A, B, C (and D when there is a second disk) and finds their slots.
  struct Slots { FXint a, b, c, d; };
  Slots placeAll() {
    chooser->ClearRecoverPartitions();
    chooser->SetRecoverPartitions(0, {A, B, C});
    bool second = disks.analyser().disks.size() > 1;
    if (second) chooser->SetRecoverPartitions(1, {D});
    pumpFor(0.2);
    Slots s = {slotOf(0, A), slotOf(0, B), slotOf(0, C), second ? slotOf(1, D) : 0};
    EXPECT_TRUE(s.a >= 0 && s.b >= 0 && s.c >= 0 && s.d >= 0);
    return s;
  }

  DiskSet disks;
  std::vector<RecoverPart> recoverList;
  FXMainWindow* window = nullptr;
  FXVerticalFrame* listPage = nullptr;
  FXText* summary = nullptr;
  FXLabel* status = nullptr;
  mFXDiskChooser* chooser = nullptr;
  AssertLog assertions;
};

TEST_F(Recovery, FoundPartitionsFillTheirGapAndOverlappingOnesDeselectEachOther) {
  addOverlappingDisk();
  addSecondDisk();
  build();
  auto [a, b, c, d] = placeAll();
  // One gap holds A, B and C in consecutive slots, in the order found.
  EXPECT_EQ(b, a + 1);
  EXPECT_EQ(c, a + 2);
  for (FXint s : {a, b, c, d}) EXPECT_TRUE(image(s)->shown() && kind(s) == KIND_FREE) << s;
  EXPECT_FALSE(image(c + 1)->shown());
  // Sizes, found-at sectors and widths by the 460-pixel rule.
  EXPECT_EQ(recordOf(a).size, A_SIZE * 512);
  EXPECT_EQ(recordOf(a).foundAt, A);
  EXPECT_EQ(image(a)->getWidth(), (FXint)((double)A_SIZE / 65536 * 460));
  EXPECT_EQ(image(d)->getWidth(), (FXint)((double)D_SIZE / 32768 * 460));
  EXPECT_EQ(image(a)->getText().section('\n', 2), "15.00 MB " + recordOf(a).text);
  // The list: one row per found partition, in the order placed.
  ASSERT_EQ(list()->getNumItems(), 4);
  EXPECT_EQ(rowOf(d), 3);
  EXPECT_EQ(list()->getItemText(0).section('\t', 3), recordOf(a).text);
  // Start sector, file system and label (mkfs.vfat gave it none).
  EXPECT_EQ(list()->getItemText(0).section('\t', 4), FXStringVal(A));
  EXPECT_EQ(list()->getItemText(0).section('\t', 5), "FAT16");
  EXPECT_EQ(list()->getItemText(0).section('\t', 6), "");
  EXPECT_EQ(image(a)->getText().section('\n', 3), "FAT16") << "the picture names the file system";
  EXPECT_EQ(list()->getItemMiniIcon(0), chooser->getUncheckedIcon());
  EXPECT_TRUE(assertions.empty());
  EXPECT_TRUE(saveScreenshot(window, "recover-chooser-found"));

  // Selection: one that surrounds the chosen one stays, overlapping ones go.
  press(d);
  press(a);
  press(b);  // lies wholly inside A: A stays
  EXPECT_EQ(kind(a), KIND_SELECTED);
  EXPECT_EQ(kind(b), KIND_SELECTED);
  EXPECT_TRUE(saveScreenshot(window, "recover-chooser-selected"));
  EXPECT_EQ("", std::string(status->getText().text())) << "nothing was unticked";
  Information english;
  auto named = [&](FXint slot) { return recordOf(slot).name + " (" + recordOf(slot).text + ", " + formatSize(recordOf(slot).size) + ")"; };
  FXString aBefore = named(a);
  press(c);  // A ends inside C: A goes, B stays
  auto kinds = [&] { return std::vector<FXint>{kind(a), kind(b), kind(c), kind(d)}; };
  const FXint S = KIND_SELECTED, F = KIND_FREE;
  EXPECT_EQ(kinds(), (std::vector<FXint>{F, S, S, S}));  // other disks are never touched
  EXPECT_TRUE(image(a)->shown());  // deselected by the rule, still in sight
  // The status line names the ticked partition and the one it unticked, by
  // the name it had while it was ticked.
  EXPECT_EQ(status->getText(), english.Format("DiskChooser.toggleImage.001", named(c).text(), aBefore.text()));
  FXString bAndCBefore = named(b) + ", " + named(c);
  press(a);  // C and B begin inside A: both go
  EXPECT_EQ(kinds(), (std::vector<FXint>{S, F, F, S}));
  EXPECT_EQ(status->getText(), english.Format("DiskChooser.toggleImage.001", named(a).text(), bAndCBefore.text()));
  // The list's boxes follow every change, made by a click or by the rule.
  EXPECT_EQ(list()->getItemMiniIcon(rowOf(a)), chooser->getCheckedIcon());
  EXPECT_EQ(list()->getItemMiniIcon(rowOf(c)), chooser->getUncheckedIcon());

  // Records in slot order, disk 0's before disk 1's; a ticked one is named
  // as Linux will name it (the disk's table holds partition 1 only; the
  // second disk has none), then by its type; one not ticked has no name.
  // Linux has no drive letters.
  EXPECT_EQ((std::vector<FXString>{"overlap.img2", "", "", "second.img1"}),
            (std::vector<FXString>{recordOf(a).name, recordOf(b).name, recordOf(c).name, recordOf(d).name}));
  EXPECT_EQ("overlap.img2", list()->getItemText(rowOf(a)).section('\t', 0));
  EXPECT_EQ("overlap.img2", image(a)->getText().section('\n', 1));
  ASSERT_EQ(recoverList.size(), 2u);
  EXPECT_EQ(recoverList[1].device, disks.analyser().disks[1].device);
  EXPECT_EQ(recoverList[1].sector, D);
  EXPECT_EQ(summary->getText().contains('\n'), 3);  // the summary numbers the two
  for (FXint i = 0; i < 2; i++) {
    const FreeSpace& r = recordOf(i == 0 ? a : d);
    EXPECT_EQ(chooser->GetSelectedPartitionName(i), r.name + " " + r.text);
    EXPECT_EQ(recoverList[i].letter, ' ');
  }
  EXPECT_TRUE(chooser->GetSelectedPartitionName(2).empty());

  // A click on a selected found partition deselects it and hides it.
  press(a);
  EXPECT_EQ(kind(a), KIND_FREE);
  EXPECT_FALSE(image(a)->shown());
  EXPECT_EQ(list()->getNumItems(), 4);
}

TEST_F(Recovery, AListRowTogglesLikeAClickUnlessLockedAndANewSearchStartsAfresh) {
  addOverlappingDisk();
  build();
  auto [a, b, c, d] = placeAll();
  (void)d;
  FXint row = rowOf(b);
  // Selected, then deselected and hidden, then brought back from the list.
  for (bool selected : {true, false, true}) {
    selectRow(row);
    EXPECT_EQ(kind(b), selected ? KIND_SELECTED : KIND_FREE);
    EXPECT_EQ(image(b)->shown() != 0, selected);
    EXPECT_EQ(list()->getItemMiniIcon(row), selected ? chooser->getCheckedIcon() : chooser->getUncheckedIcon());
  }
  press(b);  // a click on the picture is seen in the list as well
  EXPECT_EQ(list()->getItemMiniIcon(row), chooser->getUncheckedIcon());
  // Locked: neither clicks nor list rows change anything.
  press(a);
  chooser->setLocked(true);
  // Locked pictures lie flat and do not even look pressed.
  EXPECT_EQ(image(a)->getFrameStyle(), (FXuint)FRAME_LINE);
  FXEvent down{};
  down.type = SEL_LEFTBUTTONPRESS;
  down.code = LEFTBUTTON;
  image(a)->handle(image(a), FXSEL(SEL_LEFTBUTTONPRESS, 0), &down);
  EXPECT_EQ(image(a)->getState(), STATE_UP);
  image(a)->handle(image(a), FXSEL(SEL_LEFTBUTTONRELEASE, 0), &down);
  press(c);
  selectRow(rowOf(c));
  press(a);
  EXPECT_EQ(kind(a), KIND_SELECTED);
  EXPECT_EQ(kind(c), KIND_FREE);
  EXPECT_EQ(list()->getItemMiniIcon(rowOf(c)), chooser->getUncheckedIcon());
  chooser->setLocked(false);
  EXPECT_EQ(image(a)->getFrameStyle(), (FXuint)FRAME_RAISED);
  press(c);
  EXPECT_EQ(kind(c), KIND_SELECTED);
  EXPECT_EQ(kind(a), KIND_FREE);

  // A new search starts with nothing chosen.
  press(a);
  ASSERT_EQ(recoverList.size(), 1u);
  chooser->ClearRecoverPartitions();
  EXPECT_EQ(list()->getNumItems(), 0);
  EXPECT_TRUE(chooser->getFreeSpacePartitions().empty());  // nothing out of sight
  EXPECT_TRUE(recoverList.empty());
  EXPECT_TRUE(summary->getText().empty());
  // A second search over the same gap fills it from its first slot again;
  // a sector holding nothing places nothing and reports nothing.
  chooser->SetRecoverPartitions(0, {C, 60000});
  EXPECT_EQ(slotOf(0, C), chooser->getGapSlots()[1].id);  // from the gap's first slot again
  EXPECT_EQ(list()->getNumItems(), 1);
  EXPECT_TRUE(assertions.empty());
  // 70 more finds in that gap: 63 are shown, then the gap is full and says so.
  chooser->SetRecoverPartitions(0, std::vector<FXulong>(70, B));
  EXPECT_EQ(list()->getNumItems(), 64);
  EXPECT_EQ(assertions.size(), 7u);
}

// A quick search over a 64 MiB image whose table lost a FAT16 primary
// partition and the extended partition around a FAT16 logical one.
TEST_F(Recovery, TheRecoverListOfASearchCarriesWhatTheWriterNeeds) {
  const FXulong PRIMARY = 16384, EPTB = 40960, LOGICAL = 43008, SIZE = 16384;
  std::string img = disks.path("lost.img");
  makeImage(img, 131072ull * 512);
  ASSERT_TRUE(sfdisk(img, "start=2048, size=8192, type=6\nstart=40960, size=40960, type=5\n"
                          "start=43008, size=16384, type=6\n"));
  placeFat(img, PRIMARY, SIZE);
  placeFat(img, LOGICAL, SIZE);
  const unsigned char zero[16] = {};
  patchFile(img, 446 + 16, zero, sizeof(zero));  // the extended entry is lost
  ASSERT_EQ(disks.readImage(img, 4, 32), 0);
  build();
  // The search the wizard runs over the stretch behind the one partition left.
  RecordingProgress progress(0);
  for (const Gap& g : disks.analyser().disks[0].gaps)
    if (g.distance <= PRIMARY && PRIMARY < g.distance + g.size)
      chooser->SetRecoverPartitions(0, disks.analyser().Search(&progress, nullptr, 0, true, g.distance,
                                                               g.distance + g.size, 1));
  // Both lost volumes are found, the logical one through the extended
  // chain's table that still lists it.  Read at its own sector it gives the
  // volume again, as a plain partition.
  ASSERT_EQ(list()->getNumItems(), 2);
  chooser->SetRecoverPartitions(0, {LOGICAL});
  ASSERT_EQ(list()->getNumItems(), 3);
  FXint primary = chooser->imageIndex((FXObject*)list()->getItemData(0));
  FXint chained = chooser->imageIndex((FXObject*)list()->getItemData(1));
  FXint logical = chooser->imageIndex((FXObject*)list()->getItemData(2));
  EXPECT_EQ(recordOf(primary).foundAt, PRIMARY);
  EXPECT_EQ(recordOf(logical).foundAt, LOGICAL);
  EXPECT_TRUE(recordOf(chained).logical);
  EXPECT_EQ(recordOf(chained).start, LOGICAL);
  press(primary);
  press(logical);
  press(chained);  // the same sectors: the plain one is dropped
  EXPECT_EQ(kind(logical), KIND_FREE);
  EXPECT_TRUE(saveScreenshot(window, "recover-chooser-lost"));
  // Device, found-at sector, size, logical flag, geometry and (no) letter.
  ASSERT_EQ(recoverList.size(), 2u);
  const FXString device = disks.analyser().disks[0].device;
  const std::pair<FXint, FXulong> expected[] = {{primary, PRIMARY}, {chained, EPTB}};
  for (size_t i = 0; i < 2; i++) {
    const RecoverPart& r = recoverList[i];
    EXPECT_EQ(std::make_tuple(r.device, r.sector, r.size, r.logical, r.heads, r.sectorsPerTrack, r.letter),
              std::make_tuple(device, expected[i].second, SIZE * 512, i == 1, 4, 32,
                              recordOf(expected[i].first).letter)) << i;
  }
  // Each chosen partition is named as Linux will name it: the one found by
  // its boot record by its place among the MBR's entries (the extended
  // entry the found chain gets lies behind it), the one in the chain 5; the
  // plain one, not chosen, has no name.
  EXPECT_EQ(std::string("lost.img2"), recordOf(primary).name.text());
  EXPECT_EQ(std::string(""), recordOf(logical).name.text());
  EXPECT_EQ(std::string("lost.img5"), recordOf(chained).name.text());
}

// "Show contents" and a double-click open the browser of the list's current
// partition; without a current row there is nothing to open.
TEST_F(Recovery, ShowContentsOpensTheBrowserOfTheCurrentRow) {
  addOverlappingDisk();
  addSecondDisk();
  build();
  Slots s = placeAll();
  FXButton* show = chooser->getContentsButton();
  ASSERT_TRUE(show && show->shown() && show->getParent()->getParent() == listPage);
  FXint disk;
  FXulong start, sectors;
  ASSERT_TRUE(chooser->FoundAtRow(rowOf(s.d), disk, start, sectors));
  EXPECT_EQ(1, disk);
  EXPECT_EQ(D, start);
  EXPECT_EQ(D_SIZE, sectors);
  EXPECT_FALSE(chooser->FoundAtRow(list()->getNumItems(), disk, start, sectors));

  std::vector<std::string> titles;
  ModalWatcher watcher(guiApp(), [&](FXTopWindow* box) {
    titles.push_back(box->getTitle().text());
    ContentsDialog* browser = dynamic_cast<ContentsDialog*>(box);
    EXPECT_TRUE(browser && browser->getSummary()->getText().find("FAT16") >= 0);
    box->handle(box, FXSEL(SEL_COMMAND, FXDialogBox::ID_ACCEPT), nullptr);
  });
  list()->setCurrentItem(rowOf(s.b));
  pumpFor(0.2);
  EXPECT_TRUE(click(show));
  list()->setCurrentItem(rowOf(s.d));
  chooser->handle(list(), FXSEL(SEL_DOUBLECLICKED, mFXDiskChooser::ID_LISTTABLE), (void*)(FXival)rowOf(s.d));
  pumpFor(0.2);
  ASSERT_EQ(2u, titles.size());
  EXPECT_NE(std::string::npos, titles[0].find(std::to_string(B)));
  EXPECT_NE(std::string::npos, titles[1].find(std::to_string(D)));
}

}  // namespace
