// The wizard on a disk of today whose whole layout was wiped: three primary
// and three logical partitions on 1 MiB boundaries, each with a real file
// system, the MBR's slots and every table block of the chain zeroed.  The
// user ticks every volume the search found and places one of them against
// what Kelvarin would choose.  A layout that can be built is written, read
// back with sfdisk and blkid, and undone byte for byte; one that cannot is
// refused with its reason on the page, and nothing is written.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "DiskChooser.h"
#include "Wizard.h"
#include "support/Engine.h"
#include "support/Gui.h"
#include "support/LostDisk.h"
#include "support/TestImages.h"
#include "support/WizardFixture.h"

using namespace kvtest;

namespace {

const unsigned long long VOLUME_SECTORS = 40960;  // 20 MiB each
const char* const CHS = "38/255/63";

struct Layout {
  unsigned long long start;
  const char* type;
  const char* mkfs;
  const char* blkid;
};
// The first two volumes touch; a free MiB lies in front of the third, and
// in front of each logical (where its table block was).
const Layout VOLUMES[] = {{2048, "83", "mkfs.ext4 -q -F", "ext4"},      {43008, "e", "mkfs.vfat -F 16", "vfat"},
                          {88064, "7", "mkfs.ntfs -q -F -f", "ntfs"},   {131072, "83", "mkfs.ext2 -q -F", "ext2"},
                          {174080, "83", "mkfs.ext3 -q -F", "ext3"},    {217088, "82", "mkswap", "swap"}};
const unsigned long long CHAIN[] = {129024, 172032, 215040};

bool makeWipedLayout(const std::string& image) {
  makeImage(image, 300ull << 20);
  std::string script = "label: dos\n";
  for (int i = 0; i < 6; i++) {
    if (i == 3) script += "start=129024, size=129024, type=f\n";
    script += "start=" + std::to_string(VOLUMES[i].start) + ", size=" + std::to_string(VOLUME_SECTORS) +
              ", type=" + VOLUMES[i].type + "\n";
  }
  if (!sfdisk(image, script)) return false;
  for (const Layout& v : VOLUMES)
    if (!mkfsAt(image, v.start, VOLUME_SECTORS, v.mkfs)) return false;
  clearTable(image, 0);
  for (unsigned long long block : CHAIN) writeSector(image, block, std::string(512, '\0'));
  return sfdiskPartitions(image).empty();
}

// From the welcome page, logging on (for the undo), through a quick search
// of the whole disk to the result page, every volume ticked.
void searchAndTickAll(mFXWizard* w, ScriptedAsker& asker) {
  asker.expect(w->GetString("Kelvarin.mFXWizard.036"), true);
  next(w);
  for (size_t i = 0; i < w->searchChooser->getImages().size(); i++)
    if (w->searchChooser->getImageKinds()[i] == KIND_FREE) click(w->searchChooser->getImages()[i]);
  next(w);
  next(w);  // the quick search
  pumpUntil([&] { return !w->searching() && w->getCurrentPanel() != mFXWizard::PAGE_SEARCHING; }, 120);
  ASSERT_EQ(mFXWizard::PAGE_RESULT, w->getCurrentPanel()) << asker.transcript();
  for (const Layout& v : VOLUMES) EXPECT_TRUE(pickFound(w, v.start)) << v.start;
}

// The row of the list and the picture that show the volume found at `start`.
FXint rowOf(mFXDiskChooser* chooser, unsigned long long start) {
  FXIconList* list = chooser->getFoundList();
  for (FXint row = 0; row < list->getNumItems(); row++) {
    FXint disk;
    FXulong first, sectors;
    if (chooser->FoundAtRow(row, disk, first, sectors) && first == start) return row;
  }
  return -1;
}
FXint pictureOf(mFXDiskChooser* chooser, unsigned long long start) {
  FXint row = rowOf(chooser, start);
  return row < 0 ? -1 : chooser->imageIndex((FXObject*)chooser->getFoundList()->getItemData(row));
}

// The index in getFreeSpaces() of a picture's record.
size_t freeSpaceOf(mFXDiskChooser* chooser, FXint picture) {
  const std::vector<FreeSpace>& all = chooser->getFreeSpaces();
  for (size_t i = 0; i < all.size(); i++)
    if (all[i].id == mFXDiskChooser::ID_PARTIMAGE + picture) return i;
  return 0;
}

// One run: the language, the volume placed by hand and how; the refusal
// expected (its key and the sector it names), or none; and as what each
// volume is written when the layout can be built.
struct Switch {
  const char* language;
  unsigned long long start;
  PlacementRole role;
  const char* refusal;
  unsigned long long refusedAt;
  const char* roles;  // 'P' or 'L' per volume
};

class WizardLayout : public ::testing::TestWithParam<Switch> {};

TEST_P(WizardLayout, AVolumePlacedByHandIsWrittenSoOrRefusedWithTheReason) {
  const Switch c = GetParam();
  TempDir dir;
  std::string image = dir.path("wiped.img");
  ASSERT_TRUE(makeWipedLayout(image));
  const std::string wiped = readFile(image);

  ImageArgs args({"kelvarin", "-lang", c.language, "-file", image, "-chs", CHS});
  ScriptedAsker asker;
  bool reachedChoice = false;
  std::string reason;
  std::map<unsigned long long, std::string> names;  // the Name cells of the volumes written
  int result = runKelvarin(args, asker, [&](mFXWizard* w) {
    ASSERT_NO_FATAL_FAILURE(searchAndTickAll(w, asker));
    mFXDiskChooser* chooser = w->recoverChooser;
    EXPECT_EQ("", std::string(w->statusLine->getText().text())) << "Kelvarin's own layout can be built";

    // The user makes the volume's row current and chooses in the box below the list.
    FXint row = rowOf(chooser, c.start);
    ASSERT_GE(row, 0);
    chooser->getFoundList()->setCurrentItem(row, TRUE);
    pumpFor(0.05);
    FXListBox* box = chooser->getRoleBox();
    ASSERT_TRUE(box && box->isEnabled());
    EXPECT_EQ((FXint)PlacementRole::AUTO, box->getCurrentItem());
    const FreeSpace& shown = chooser->getFreeSpaces()[freeSpaceOf(chooser, pictureOf(chooser, c.start))];
    FXString named = shown.name + " (" + shown.text + ", " + formatSize(shown.size) + ")";
    EXPECT_EQ(w->Format("DiskChooser.buildListActions.006", named.trim().text()), chooser->getRoleLabel()->getText())
        << "the label names the partition the box acts on";
    box->setCurrentItem((FXint)c.role, TRUE);
    pumpFor(0.05);
    EXPECT_TRUE(saveScreenshot(w, std::string("wizard-layout-") + c.language + "-placed"));
    reachedChoice = true;
    EXPECT_EQ(c.role, chooser->RoleAtRow(row));
    EXPECT_EQ(w->GetString(c.role == PlacementRole::LOGICAL ? "DiskChooser.buildListActions.005"
                                                            : "DiskChooser.buildListActions.004"),
              chooser->getFoundList()->getItemText(row).section('\t', 1));
    if (c.refusal) {
      reason = w->Format("Placement.PlanLayout.007", (double)c.refusedAt, w->GetString(c.refusal).text()).text();
      EXPECT_EQ(reason, w->statusLine->getText().text());
      // Next stays on the page and says the same.
      size_t boxes = asker.shown.size();
      next(w);
      EXPECT_EQ(mFXWizard::PAGE_RESULT, w->getCurrentPanel());
      EXPECT_EQ(boxes + 1, asker.shown.size());
      EXPECT_EQ(reason, asker.shown.back().text.text());
      FXString name = Information::GetConfigParam("shortappname");
      asker.expect(w->Format("Kelvarin.mFXWizard.041", name.text()), true);
      cancel(w);
      return;
    }
    EXPECT_EQ("", std::string(w->statusLine->getText().text()));
    // Each picture shows what its volume becomes.
    for (int i = 0; i < 6; i++) {
      FXint picture = pictureOf(chooser, VOLUMES[i].start);
      ASSERT_GE(picture, 0);
      EXPECT_EQ(c.roles[i] == 'L' ? KIND_LOGICAL : KIND_PRIMARY, chooser->getPlacements()[picture]) << i;
    }
    names = namesInList(w, 0);
    asker.expect(w->GetString("Kelvarin.onCmd_Next.003"), false);  // no boot program
    next(w);
    EXPECT_EQ(mFXWizard::PAGE_CHOOSE, w->getCurrentPanel()) << asker.transcript();
    EXPECT_TRUE(saveScreenshot(w, std::string("wizard-layout-") + c.language + "-pictures"));
    next(w);
    asker.expect(w->GetString("Kelvarin.onCmd_Next.004"), true);
    next(w);
    EXPECT_EQ(mFXWizard::PAGE_END, w->getCurrentPanel()) << asker.transcript();
    finish(w);
  });
  EXPECT_TRUE(reachedChoice);
  EXPECT_TRUE(asker.unexpected.empty() && asker.scriptDone()) << asker.transcript();
  if (c.refusal) {
    EXPECT_EQ(0, result);
    EXPECT_TRUE(wiped == readFile(image)) << "a refused layout writes nothing";
    return;
  }
  EXPECT_EQ(1, result) << asker.transcript();

  // Every volume at its start and size, the logicals inside the extended
  // partition, and each file system seen through its entry.
  std::vector<SfdiskPartition> rows = sfdiskDump(image);
  std::vector<SfdiskPartition> volumes;
  SfdiskPartition extended{0, 0, 0, 0, ""};
  for (const SfdiskPartition& r : rows) {
    if (r.type == 0x05 || r.type == 0x0f)
      extended = r;
    else
      volumes.push_back(r);
  }
  ASSERT_EQ(6u, volumes.size());
  for (int i = 0; i < 6; i++) {
    const SfdiskPartition& r = volumes[i];
    EXPECT_EQ(r.name, names[r.start]) << "the list named it as the table does";
    EXPECT_EQ(VOLUMES[i].start, r.start) << i;
    EXPECT_EQ(VOLUME_SECTORS, r.size) << i;
    bool logical = c.roles[i] == 'L';
    EXPECT_EQ(logical, r.number >= 5) << i;
    if (logical) {
      EXPECT_LE(extended.start, r.start) << i;
      EXPECT_GE(extended.start + extended.size, r.start + r.size) << i;
    }
    std::string seen;
    sh("blkid -p -o value -s TYPE -O " + std::to_string(r.start * 512) + " -S " + std::to_string(r.size * 512) +
           " " + quote(image),
       &seen);
    EXPECT_EQ(std::string(VOLUMES[i].blkid) + "\n", seen) << i;
  }
  CliResult undo = runCli("-file " + quote(image) + " -chs " + CHS + " undo --yes");
  EXPECT_EQ(0, undo.status) << undo.err;
  EXPECT_TRUE(wiped == readFile(image)) << "the undo restores every byte";
}

INSTANTIATE_TEST_SUITE_P(
    EachLanguage, WizardLayout,
    ::testing::Values(
        // The third volume, primary by Kelvarin's choice, made logical: the
        // volumes behind it follow it into the new extended partition.
        Switch{"EN", 88064, PlacementRole::LOGICAL, nullptr, 0, "PPLLLL"},
        // The second touches the first: no sector is free for its table.
        Switch{"DE", 43008, PlacementRole::LOGICAL, "Placement.PlanLayout.004", 43008, ""},
        // A primary in the middle of the logicals would split their chain.
        Switch{"RU", 174080, PlacementRole::PRIMARY, "Placement.PlanLayout.005", 174080, ""}),
    [](const ::testing::TestParamInfo<Switch>& info) { return std::string(info.param.language); });

// Every volume ticked, each row of the list names its volume as Linux will
// once it is written: the three leading ones primary 1 to 3, the new
// extended partition taking the fourth entry, the others logical 5 to 7 in
// disk order.  A row not ticked has no name; the names behind it move up.
class WizardNames : public ::testing::TestWithParam<const char*> {};

TEST_P(WizardNames, TheNameOfATickedVolumeIsTheOneTheTableGivesIt) {
  const std::string language = GetParam();
  TempDir dir;
  std::string image = dir.path("wiped.img");
  ASSERT_TRUE(makeWipedLayout(image));
  ImageArgs args({"kelvarin", "-lang", language, "-file", image, "-chs", CHS});
  ScriptedAsker asker;
  std::map<unsigned long long, std::string> names;
  int result = runKelvarin(args, asker, [&](mFXWizard* w) {
    ASSERT_NO_FATAL_FAILURE(searchAndTickAll(w, asker));
    std::map<unsigned long long, std::string> expected = {
        {2048, "wiped.img1"},   {43008, "wiped.img2"},  {88064, "wiped.img3"},
        {131072, "wiped.img5"}, {174080, "wiped.img6"}, {217088, "wiped.img7"}};
    EXPECT_EQ(expected, namesInList(w, 0));
    EXPECT_TRUE(saveScreenshot(w, "wizard-names-" + language + "-ticked"));
    ASSERT_TRUE(click(w->helpButton));  // the page's help says when a row has a name
    pictureOfBox(w, asker.shown.back(), "wizard-names-" + language + "-help");

    ASSERT_TRUE(pickFound(w, 43008));  // untick the second
    EXPECT_EQ((std::map<unsigned long long, std::string>{{43008, ""}}), namesInList(w, 0, false));
    expected = {{2048, "wiped.img1"}, {88064, "wiped.img2"}, {131072, "wiped.img3"},
                {174080, "wiped.img5"}, {217088, "wiped.img6"}};
    EXPECT_EQ(expected, namesInList(w, 0));
    EXPECT_TRUE(saveScreenshot(w, "wizard-names-" + language + "-unticked"));
    ASSERT_TRUE(pickFound(w, 43008));

    names = namesInList(w, 0);
    asker.expect(w->GetString("Kelvarin.onCmd_Next.003"), false);  // no boot program
    next(w);
    next(w);
    asker.expect(w->GetString("Kelvarin.onCmd_Next.004"), true);
    next(w);
    EXPECT_EQ(mFXWizard::PAGE_END, w->getCurrentPanel()) << asker.transcript();
    finish(w);
  });
  EXPECT_EQ(1, result) << asker.transcript();
  EXPECT_TRUE(asker.unexpected.empty() && asker.scriptDone()) << asker.transcript();
  std::map<unsigned long long, std::string> written;
  for (const SfdiskPartition& r : sfdiskDump(image))
    if (r.type != 0x05 && r.type != 0x0f) written[r.start] = r.name;
  EXPECT_EQ(written, names) << "sfdisk -d names each volume as the list did";
}

INSTANTIATE_TEST_SUITE_P(EachLanguage, WizardNames, ::testing::Values("EN", "DE", "RU"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

}  // namespace
