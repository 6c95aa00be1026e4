// The wizard's first page on a GPT disk whose backup copy is lost: it asks
// whether to repair it, as it offers an undo; a yes writes the backup again
// (sgdisk then finds nothing wrong), a no leaves the disk as it is.
#include <gtest/gtest.h>

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
