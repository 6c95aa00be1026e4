// The wizard on GPT disks.  On the first page, with the backup copy lost, it
// asks whether to repair it, as it offers an undo: a yes writes the backup
// again (sgdisk then finds nothing wrong), a no leaves the disk as it is.
// A found volume goes back into a GPT as a new entry; a disk without any
// table gets the table the user chooses; a FAT volume becomes the EFI
// system partition when the user says so.  Each is undone byte for byte.
#include <gtest/gtest.h>

#include <map>

#include "Analyse.h"
#include "support/CountingDisk.h"
#include "support/Engine.h"
#include "support/WizardFixture.h"

using namespace kvtest;

namespace {

const unsigned long long SECTORS = 32768;  // 16 MiB

class WizardGpt : public WizardFixture {
protected:
  void SetUp() override {
    if (!haveTool("sgdisk")) GTEST_SKIP() << "sgdisk (package gdisk) is not installed";
    disk.image = dir.path("gpt.img");
    disk.chs = "2/255/63";
    disk.sectors = SECTORS;
    makeImage(disk.image, SECTORS * 512);
    ASSERT_EQ(0, sh("sgdisk -n 1:2048:+8M " + quote(disk.image) + " >/dev/null"));
    std::string zeros(33 * 512, '\0');
    patchFile(disk.image, (SECTORS - 33) * 512, zeros.data(), zeros.size());
  }
  // Leaves the first page with the repair offer answered `yes`.
  void answerRepair(bool yes) {
    open();
    asker.expect(wizard->Format("Kelvarin.DoUndo.012", text("Analyse.ScanNRDPath.001").text(),
                                text("Kelvarin.DoUndo.014").text()),
                 yes);
    leaveWelcome(false);
    EXPECT_TRUE(asker.scriptDone()) << asker.transcript();
    EXPECT_TRUE(asker.unexpected.empty()) << asker.transcript();
  }
  std::string verify() {
    std::string out;
    sh("sgdisk -v " + quote(disk.image) + " 2>&1", &out);
    return out;
  }
};

}  // namespace

TEST_F(WizardGpt, RepairsADamagedCopyWhenTheUserSaysYes) {
  answerRepair(true);
  EXPECT_NE(std::string::npos, verify().find("No problems found")) << verify();
}

TEST_F(WizardGpt, LeavesTheDiskAloneWhenTheUserSaysNo) {
  std::string before = readFile(disk.image);
  answerRepair(false);
  EXPECT_TRUE(before == readFile(disk.image));
}

namespace {

const unsigned long long DISK_SECTORS = 131072, FAT = 2048, FAT_SECTORS = 32768;
const char* const MICROSOFT_DATA = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
const char* const EFI_SYSTEM = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";

// A 64 MiB disk with a FAT16 volume at sector 2048, and whatever else a test
// puts on it.
class WizardGptRecovery : public WizardFixture {
protected:
  void SetUp() override {
    for (const char* tool : {"sgdisk", "mkfs.vfat", "mkfs.ext4", "blkid"})
      if (!haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  // The disk, with the sgdisk options `table` (none: no table at all).
  void makeDisk(const std::string& table) {
    disk.image = dir.path("disk.img");
    disk.chs = "8/255/63";
    disk.sectors = DISK_SECTORS;
    makeImage(disk.image, DISK_SECTORS * 512);
    if (!table.empty()) {
      ASSERT_EQ(0, sh("sgdisk " + table + " " + quote(disk.image) + " >/dev/null"));
    }
    ASSERT_TRUE(mkfsAt(disk.image, FAT, FAT_SECTORS, "mkfs.vfat -F 16"));
  }
  // From the welcome page, logging on, through a full search to the result
  // page with the FAT volume picked; `name` is what the wizard calls it.
  void pickTheFatVolume(const std::vector<std::string>& language, FXString& name) {
    open(language);
    ASSERT_NO_FATAL_FAILURE(searchAllFreeSpace());
    ASSERT_TRUE(pickFound(wizard, FAT));
    name = wizard->recoverChooser->GetSelectedPartitionName(0).trimEnd();
  }
  // The EFI question answered `yes`, on through the summary page, the
  // tables written.
  void writeWithEfiAnswer(const FXString& name, bool yes, const std::string& pictures) {
    asker.expect(wizard->Format("Kelvarin.NextFromResult.002", name.text(), (double)FAT), yes);
    ASSERT_TRUE(next(wizard));
    ASSERT_EQ(mFXWizard::PAGE_CHOOSE, page()) << asker.transcript();
    ASSERT_TRUE(asker.scriptDone()) << asker.transcript();
    for (size_t i = 0; i < asker.shown.size(); i++)
      if (asker.shown[i].question && i > 0) pictureOfBox(wizard, asker.shown[i], pictures + "-question-" + std::to_string(i));
    ASSERT_TRUE(next(wizard));
    ASSERT_EQ(mFXWizard::PAGE_SUMMARY, page());
    saveScreenshot(wizard, pictures + "-summary");
    asker.expect(text("Kelvarin.onCmd_Next.004"), true);
    ASSERT_TRUE(next(wizard));
    ASSERT_EQ(mFXWizard::PAGE_END, page()) << asker.transcript();
    EXPECT_EQ(-1, wizard->endLabel->getText().find(text("Kelvarin.NextFromSummary.002")))
        << wizard->endLabel->getText().text();
    saveScreenshot(wizard, pictures + "-end");
  }
  // sgdisk finds the table clean, and its first entry is the FAT volume
  // with the type `type`, which blkid sees through the entry; undo then
  // leaves `before` byte for byte.
  void expectFatEntryAndUndo(const char* type, const std::string& before) {
    // Both headers are there (sgdisk would read an MBR as a GPT, too).
    EXPECT_EQ("EFI PART", readSector(disk.image, 1).substr(0, 8));
    EXPECT_EQ("EFI PART", readSector(disk.image, DISK_SECTORS - 1).substr(0, 8));
    std::string out;
    sh("sgdisk -v " + quote(disk.image) + " 2>&1", &out);
    EXPECT_NE(std::string::npos, out.find("No problems found")) << out;
    sh("sgdisk -i 1 " + quote(disk.image), &out);
    EXPECT_NE(std::string::npos, out.find(type)) << out;
    EXPECT_NE(std::string::npos, out.find("First sector: " + std::to_string(FAT) + " ")) << out;
    EXPECT_NE(std::string::npos, out.find("Partition size: " + std::to_string(FAT_SECTORS) + " ")) << out;
    EXPECT_EQ("vfat\n", typeThroughEntry(disk.image, 1, FAT));
    CliResult undo = runCli("-file " + quote(disk.image) + " -chs " + disk.chs + " undo --yes");
    EXPECT_EQ(0, undo.status) << undo.err;
    EXPECT_TRUE(before == readFile(disk.image)) << "undo restores the disk byte for byte";
  }
};

}  // namespace

// A FAT volume whose entry was deleted goes back into the disk's GPT, as an
// ordinary data partition when the user says it is not the EFI system one.
TEST_F(WizardGptRecovery, AFoundVolumeGoesBackIntoTheGpt) {
  ASSERT_NO_FATAL_FAILURE(makeDisk("-n 1:2048:+16M -t 1:0700 -n 2:34816:+16M -t 2:8300"));
  ASSERT_TRUE(mkfsAt(disk.image, 34816, 32768, "mkfs.ext4 -q -F"));
  ASSERT_EQ(0, sh("sgdisk -d 1 " + quote(disk.image) + " >/dev/null"));
  std::string before = readFile(disk.image);
  FXString name;
  ASSERT_NO_FATAL_FAILURE(pickTheFatVolume({}, name));
  ASSERT_NO_FATAL_FAILURE(writeWithEfiAnswer(name, false, "wizard-gpt-existing"));
  closeWizard();
  expectFatEntryAndUndo(MICROSOFT_DATA, before);
}

// A disk without any table: the wizard asks which table to make; a GPT it
// is, and the FAT volume its EFI system partition.  In every language.
TEST_F(WizardGptRecovery, ADiskWithoutATableGetsTheGptTheUserChooses) {
  for (const char* language : {"EN", "DE", "RU"}) {
    SCOPED_TRACE(language);
    ASSERT_NO_FATAL_FAILURE(makeDisk(""));
    std::string before = readFile(disk.image);
    asker = ScriptedAsker();
    FXString name;
    ASSERT_NO_FATAL_FAILURE(pickTheFatVolume({"-lang", language}, name));
    FXString model = sharedAnalyser->disks[0].model;
    asker.expect(wizard->Format("Kelvarin.NextFromResult.001", model.trimEnd().text()), true);
    ASSERT_NO_FATAL_FAILURE(
        writeWithEfiAnswer(name, true, std::string("wizard-gpt-new-") + language));
    closeWizard();
    expectFatEntryAndUndo(EFI_SYSTEM, before);
  }
}

namespace {

// The machine's disks as the wizard lists them: only the images a test made,
// each known by its file name, with 16 heads and 63 sectors a track.
class ImageDisks : public HookedDisk {
public:
  explicit ImageDisks(const std::vector<std::string>& images) {
    for (const std::string& image : images) disks.push_back(image.c_str());
  }
  bool identity(const FXString& name, Identity& id) override {
    id.product = FXPath::name(name);
    return true;
  }
  bool geometry(Handle h, CHS& logical) override {
    FXulong bytes = 0;
    if (!size(h, bytes)) return false;
    logical = CHS(bytes / SECTOR_SIZE / (16 * 63), 16, 63);
    return true;
  }
};

const unsigned long long EXT4 = 2048, EXT4_SECTORS = 32768;

// One recovery on two disks: an MBR disk that lost its FAT16 primary and
// the extended entry of a chain of three logicals (whose tables it kept),
// and a GPT disk whose first entry, an ext4 volume, was deleted.
class WizardMixedTables : public WizardFixture {
protected:
  void SetUp() override {
    for (const char* tool : {"sgdisk", "sfdisk", "mkfs.vfat", "mkfs.ntfs", "mkfs.ext2", "mkfs.ext4"})
      if (!haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  void makeDisks() {
    ASSERT_TRUE(makeLostChainDisk(dir.path("lost.img"), lost));
    gpt = dir.path("gpt.img");
    makeImage(gpt, DISK_SECTORS * 512);
    ASSERT_EQ(0, sh("sgdisk -n 1:2048:+16M -t 1:8300 -n 2:34816:+16M -t 2:8300 " + quote(gpt) + " >/dev/null"));
    ASSERT_TRUE(mkfsAt(gpt, EXT4, EXT4_SECTORS, "mkfs.ext4 -q -F"));
    ASSERT_EQ(0, sh("sgdisk -d 1 " + quote(gpt) + " >/dev/null"));
  }
  // Through a full search of both disks to the result page, the lost FAT16
  // primary, the chain's logicals and the ext4 volume ticked.
  void tickEverything(const std::string& language) {
    ImageArgs args({"kelvarin", "-lang", language});
    open(args);
    ASSERT_EQ(2u, sharedAnalyser->disks.size());
    ASSERT_NO_FATAL_FAILURE(searchAllFreeSpace());
    ASSERT_TRUE(pickFound(wizard, [](const FreeSpace& f) { return f.disk == 0 && f.start == 63; }));
    for (size_t i = 2; i < lost.partitions.size(); i++) {
      unsigned long long start = lost.partitions[i].start;
      ASSERT_TRUE(pickFound(wizard, [start](const FreeSpace& f) {
        return f.disk == 0 && f.logical && f.start == start;
      })) << start;
    }
    ASSERT_TRUE(pickFound(wizard, [](const FreeSpace& f) { return f.disk == 1 && f.start == EXT4; }));
    saveScreenshot(wizard, "wizard-mixed-" + language + "-result");
  }

  LostDisk lost;
  std::string gpt;
};

}  // namespace

// The summary offers the choice of an active partition for the MBR disk
// only (a GPT has none, and its box gives way to a line that says so); the
// progress bar runs once from 0 to the five chosen volumes over both disks;
// each volume is written under the name the list gave it.  In every language.
TEST_F(WizardMixedTables, OneRecoveryIntoAnMbrAndAGpt) {
  for (const char* language : {"EN", "DE", "RU"}) {
    SCOPED_TRACE(language);
    ASSERT_NO_FATAL_FAILURE(makeDisks());
    ImageDisks disks({lost.image, gpt});
    asker = ScriptedAsker();
    ASSERT_NO_FATAL_FAILURE(tickEverything(language));
    std::map<unsigned long long, std::string> mbrNames = namesInList(wizard, 0), gptNames = namesInList(wizard, 1);
    ASSERT_EQ(4u, mbrNames.size());
    asker.expect(text("Kelvarin.onCmd_Next.003"), false);  // no boot program
    ASSERT_TRUE(next(wizard));
    ASSERT_EQ(mFXWizard::PAGE_CHOOSE, page()) << asker.transcript();
    ASSERT_TRUE(next(wizard));
    ASSERT_EQ(mFXWizard::PAGE_SUMMARY, page());

    mFXActiveChooser* active = wizard->activeChooser;
    EXPECT_TRUE(active->getBoxes()[0]->shown());
    EXPECT_FALSE(active->getNoChoiceLines()[0]->shown());
    FXListBox* mbrBox = active->getBoxes()[0];
    ASSERT_EQ(2, mbrBox->getNumItems()) << "leave as it is, and the recovered primary";
    EXPECT_EQ("* " + wizard->recoverChooser->GetSelectedPartitionName(0), mbrBox->getItemText(1));
    EXPECT_FALSE(active->getBoxes()[1]->shown());
    EXPECT_TRUE(active->getNoChoiceLines()[1]->shown());
    EXPECT_EQ(text("ActiveChooser.mFXActiveChooser.004"), active->getNoChoiceLines()[1]->getText());
    saveScreenshot(wizard, std::string("wizard-mixed-") + language + "-summary");
    ASSERT_TRUE(click(wizard->helpButton));  // the page's help says a GPT disk has no choice
    pictureOfBox(wizard, asker.shown.back(), std::string("wizard-mixed-") + language + "-help");

    // The bar as each sector is written: one total for both disks, never
    // going back, ending at that total.
    std::vector<std::pair<FXuint, FXuint>> bar;
    disks.afterWrite = [&](unsigned) {
      bar.emplace_back(wizard->recoverProgress->getProgress(), wizard->recoverProgress->getTotal());
    };
    asker.expect(text("Kelvarin.onCmd_Next.004"), true);
    ASSERT_TRUE(next(wizard));
    disks.afterWrite = nullptr;
    ASSERT_EQ(mFXWizard::PAGE_END, page()) << asker.transcript();
    EXPECT_EQ(-1, wizard->endLabel->getText().find(text("Kelvarin.NextFromSummary.002")))
        << wizard->endLabel->getText().text();
    ASSERT_FALSE(bar.empty());
    for (size_t i = 0; i < bar.size(); i++) {
      EXPECT_EQ(5u, bar[i].second) << i;
      EXPECT_LE(bar[i].first, bar[i].second) << i;
      if (i > 0) {
        EXPECT_LE(bar[i - 1].first, bar[i].first) << i;
      }
    }
    EXPECT_EQ(5u, wizard->recoverProgress->getTotal());
    EXPECT_EQ(5u, wizard->recoverProgress->getProgress());
    saveScreenshot(wizard, std::string("wizard-mixed-") + language + "-end");
    closeWizard();

    // Each volume in the table under the name the list gave it.
    std::map<unsigned long long, std::string> mbrWritten, gptWritten;
    for (const SfdiskPartition& r : sfdiskDump(lost.image))
      if (r.type != 0x05 && r.type != 0x0f) mbrWritten[r.start] = r.name;
    for (const SfdiskPartition& r : sfdiskDump(gpt)) gptWritten[r.start] = r.name;
    EXPECT_EQ(mbrWritten, mbrNames);
    EXPECT_EQ("gpt.img1", gptNames[EXT4]);
    EXPECT_EQ(gptWritten[EXT4], gptNames[EXT4]);
    EXPECT_EQ("ext4\n", typeThroughEntry(gpt, 1, EXT4));
  }
}
