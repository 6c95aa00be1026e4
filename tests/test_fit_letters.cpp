// The recovery fit check, the boot-code check and drive letters.  Letters
// come from a disk layer that reports the drive mask and fixed volumes a
// test gives it (Linux reports none).
#include <gtest/gtest.h>

#include "Analyse.h"
#include "IOSystem.h"
#include "support/Engine.h"
#include "support/CountingDisk.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

Partition part(unsigned char type, unsigned dist, unsigned num, int level = 1, FXulong base = 0) {
  return partitionRecord(type, level, base, dist, num, 0);
}

NRD diskWith(const char* device, std::vector<Partition> partitions) {
  NRD d = diskRecord(device, "model", 16065000);
  d.partitions = partitions;
  return d;
}

RecoverPart chosen(const char* device, FXulong sector, bool logical = false) {
  RecoverPart r;
  r.device = device, r.sector = sector, r.logical = logical;
  return r;
}

FXuint letters(const std::string& used) {
  FXuint mask = 0;
  for (char c : used) mask |= 1u << (c - 'A');
  return mask;
}

DiskAccess::FixedVolume volume(char letter, FXulong startSector, FXulong sectors, bool known = true) {
  return {letter, known, (FXlong)(startSector * 512), (FXlong)(sectors * 512)};
}

class Analyser : public ::testing::Test {
protected:
  void SetUp() override {
    analyser.reset(new Analyse());  // the machine's disks: none, through the hooked layer
    sharedAnalyser = analyser.get();
  }
  void TearDown() override {
    analyser.reset();
    sharedAnalyser = nullptr;
  }
  FreshIOSystem io;
  HookedDisk disk;
  std::unique_ptr<Analyse> analyser;
};

const std::vector<Partition> THREE_AND_EXTENDED = {
    part(0x07, 63, 1000), part(0x83, 2000, 1000), part(0x0c, 4000, 1000), part(0x05, 10000, 5000),
    part(0x83, 63, 1000, 2, 10000)};

}  // namespace

TEST_F(Analyser, FitCountsPrimariesAgainstTheFourSlots) {
  auto& disks = analyser->disks;
  disks = {diskWith("a", THREE_AND_EXTENDED)};
  // Inside the extended partition (its last sector included), even when not marked logical.
  EXPECT_TRUE(analyser->CheckMBRFit({chosen("a", 12000), chosen("a", 14999)}));
  // The sector right behind it is outside: a fourth and a fifth primary.
  EXPECT_FALSE(analyser->CheckMBRFit({chosen("a", 15000), chosen("a", 50000)}));
  // A found table outside the extended partition cannot start a second one.
  EXPECT_FALSE(analyser->CheckMBRFit({chosen("a", 50000), chosen("a", 60000, true)}));
  EXPECT_FALSE(analyser->CheckMBRFit({chosen("a", 50000), chosen("a", 60000)}));

  // Each disk on its own; an empty one takes four.
  disks = {diskWith("a", {}), diskWith("b", {part(7, 63, 10), part(7, 100, 10), part(7, 200, 10)})};
  EXPECT_TRUE(analyser->CheckMBRFit({chosen("a", 1), chosen("a", 2), chosen("a", 3), chosen("a", 4), chosen("b", 9)}));
  EXPECT_FALSE(analyser->CheckMBRFit({chosen("a", 1), chosen("a", 2), chosen("a", 3), chosen("a", 4), chosen("a", 5)}));
  // Two for the last slot: a new extended partition holds both.
  EXPECT_TRUE(analyser->CheckMBRFit({chosen("b", 5000), chosen("b", 6000)}));
  FXString reason;
  RecoverPart primary = chosen("b", 6000);
  primary.role = PlacementRole::PRIMARY;
  EXPECT_FALSE(analyser->CheckMBRFit({chosen("b", 5000), primary}, {}, reason));
  EXPECT_NE(-1, reason.find("6000")) << reason.text();
}

TEST_F(Analyser, BootCodeMustStartEveryDisksSectorZero) {
  TempDir dir;
  std::vector<std::string> images = {dir.path("d0"), dir.path("d1")};
  for (auto& image : images) {
    makeImage(image, 1 << 20);
    analyser->disks.push_back(diskWith(image.c_str(), {}));
  }
  EXPECT_FALSE(analyser->CheckMBRCode());
  for (unsigned char first : {0xEB, 0xFA, 0x33}) {
    for (auto& image : images) patchFile(image, 0, &first, 1);
    EXPECT_TRUE(analyser->CheckMBRCode()) << (int)first;
  }
  analyser->disks[1].device = dir.path("missing").c_str();  // unreadable: no boot code
  EXPECT_FALSE(analyser->CheckMBRCode());
}

TEST_F(Analyser, LettersGoToTheFixedVolumesPartitions) {
  analyser->disks = {diskWith("a", {part(0x07, 63, 1000), part(0x83, 2000, 500)}),
                     diskWith("b", {part(0x07, 63, 1000), part(0x0b, 63, 800, 2, 9000)})};
  disk.driveMask = letters("ACDEFG");
  disk.volumes = {volume('C', 63, 1000), volume('D', 63, 1000), volume('E', 9063, 800),
                  volume('F', 2000, 499), volume('G', 0, 0, false)};
  // A (a floppy) is not fixed; F matches no partition; G cannot be asked.
  EXPECT_FALSE(analyser->AssignLetters());
  std::string got;
  for (auto& d : analyser->disks)
    for (auto& p : d.partitions) got += p.letter ? (char)p.letter : '-';
  EXPECT_EQ(got, "C-DE");  // E is a logical partition's
}

TEST_F(Analyser, ProposedLettersAreFreeInTheSystemAndAmongThePartitions) {
  disk.driveMask = letters("CDE");
  EXPECT_EQ(analyser->GetLastLogical('D', 'Z'), 'F');
  analyser->disks = {diskWith("a", {part(7, 63, 10), part(7, 100, 10)})};
  analyser->disks[0].partitions[0].letter = 'C';
  analyser->disks[0].partitions[1].letter = 'D';
  EXPECT_EQ(analyser->GetLastLetter(0), 'F');
  disk.driveMask = letters("CDEGH");
  EXPECT_EQ(analyser->GetLastLetter('F'), 'I');
  // Z is the fallback, never a candidate of the walk.
  disk.driveMask = letters("CDEFGHIJKLMNOPQRSTUVWXY");
  EXPECT_EQ(analyser->GetLastLetter(0), 'Z');
}

TEST_F(Analyser, LinuxHasNoLetters) {
  analyser->disks = {diskWith("a", {part(0x07, 63, 1000)})};
  LinuxDiskAccess platform;
  EXPECT_EQ(platform.logicalDriveMask(), 0u);
  EXPECT_TRUE(platform.fixedVolumes().empty());
  disk.driveMask = 0;
  EXPECT_TRUE(analyser->AssignLetters());
  EXPECT_EQ(analyser->disks[0].partitions[0].letter, 0);
  EXPECT_EQ(analyser->GetLastLetter(0), 'C');
}
