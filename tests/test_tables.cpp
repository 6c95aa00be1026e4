// Reading the MBR and the extended chain, checked against what sfdisk wrote
// and reads back, and turning found sectors into candidate partitions.
#include <gtest/gtest.h>

#include <cstring>

#include "FileSystem.h"
#include "IOSystem.h"
#include "support/Engine.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

const char* GEOMETRY = "12/255/63";
const unsigned long long DISK = 204800;  // 100 MiB

const char* LAYOUT = TWO_PRIMARIES_AROUND_A_CHAIN;

class Tables : public ::testing::Test {
protected:
  void SetUp() override {
    image = dir.path("disk.img");
    makeImage(image, DISK * 512);
  }
  TempDir dir;
  std::string image;
};

TEST_F(Tables, ChainIsReadDepthFirstAsSfdiskWroteIt) {
  ASSERT_TRUE(sfdisk(image, LAYOUT));
  std::vector<SfdiskPartition> expected = sfdiskDump(image);
  ASSERT_EQ(expected.size(), 7u);
  auto analyser = analyseImage(image, GEOMETRY);
  ASSERT_EQ(analyser->disks.size(), 1u);
  const std::vector<Partition>& parts = analyser->disks[0].partitions;

  // The MBR's slots in order, each extended one followed by its chain.
  const char* shape = "PELxLxLxLP";  // P primary, E extended, L logical, x link
  ASSERT_EQ(parts.size(), strlen(shape));
  size_t primary = 0, logical = 3, level = 1;
  FXulong extStart = 0;
  for (size_t i = 0; i < parts.size(); i++) {
    SCOPED_TRACE("entry " + std::to_string(i));
    const Partition& p = parts[i];
    EXPECT_EQ(p.lognr, (FXint)i);
    switch (shape[i]) {
      case 'P':
      case 'E': {
        const SfdiskPartition& s = expected[primary++];
        EXPECT_EQ(p.l, 1);
        EXPECT_EQ(p.base, 0u);
        EXPECT_EQ(p.start(), s.start);
        EXPECT_EQ(p.entry.num, s.size);
        EXPECT_EQ(p.entry.type, s.type);
        if (shape[i] == 'E') {
          extStart = p.start();
          level = 2;
        }
        break;
      }
      case 'L': {
        const SfdiskPartition& s = expected[logical++];
        EXPECT_EQ(p.l, (FXint)level);
        EXPECT_EQ(p.start(), s.start);
        EXPECT_EQ(p.entry.num, s.size);
        EXPECT_EQ(p.entry.type, s.type);
        EXPECT_GE(p.base, extStart);  // its own EPTB
        break;
      }
      case 'x':
        EXPECT_TRUE(p.isExtended());
        EXPECT_EQ(p.l, (FXint)level);
        EXPECT_EQ(p.base, extStart);  // links count from the extended partition
        EXPECT_EQ(parts[i + 1].base, p.start()) << "the link leads to the next logical's table";
        level++;
        break;
    }
  }
}

TEST_F(Tables, TypeMissingFromTheNameTableIsInvisible) {
  ASSERT_TRUE(sfdisk(image,
                     "label: dos\n"
                     "1: start=2048, size=8192, type=d\n"
                     "2: start=10240, size=8192, type=83\n"
                     "3: start=20480, size=40960, type=f\n"
                     "5: start=22528, size=8192, type=d\n"
                     "6: start=32768, size=8192, type=7\n"));
  auto analyser = analyseImage(image, GEOMETRY);
  const std::vector<Partition>& parts = analyser->disks[0].partitions;
  std::vector<FXuchar> types;
  for (size_t i = 0; i < parts.size(); i++) {
    types.push_back(parts[i].entry.type);
    EXPECT_EQ(parts[i].lognr, (FXint)i);
  }
  // The 0x0D logical's table still links on to the NTFS one.
  EXPECT_EQ(types, (std::vector<FXuchar>{0x83, 0x0F, 0x05, 0x07}));
  EXPECT_EQ(parts[3].start(), 32768u);
}

TEST_F(Tables, WholeDiskFatVolumeHasNoTable) {
  // 65536 sectors do not fit the 16-bit total: the 32-bit one is used.
  ASSERT_EQ(sh("mkfs.vfat -F 16 --mbr=n '" + image + "' 32768 >/dev/null"), 0);
  auto analyser = analyseImage(image, GEOMETRY);
  const NRD& d = analyser->disks[0];
  EXPECT_TRUE(d.bootSectorOnly);
  ASSERT_EQ(d.partitions.size(), 1u);
  EXPECT_EQ(d.partitions[0].entry.num, 65536u);
  EXPECT_TRUE(d.gaps.empty());
}

TEST_F(Tables, MissingSignatureGivesNoPartitions) {
  ASSERT_TRUE(sfdisk(image, LAYOUT));
  const unsigned char noSignature[2] = {0, 0};
  patchFile(image, 510, noSignature, 2);
  auto analyser = analyseImage(image, GEOMETRY);
  EXPECT_TRUE(analyser->disks[0].partitions.empty());

}

class FoundSectors : public Tables {
protected:
  void SetUp() override {
    Tables::SetUp();
    ASSERT_TRUE(sfdisk(image, "label: dos\n1: start=2048, size=20480, type=c\n"));
    ASSERT_TRUE(mkfsAt(image, 2048, 20480, "mkfs.vfat -F 16 --mbr=n"));
    ASSERT_TRUE(mkfsAt(image, 40960, 16384, "mkntfs -F -Q -q"));
    analyser = analyseImage(image, GEOMETRY);
  }
  std::unique_ptr<Analyse> analyser;
};

TEST_F(FoundSectors, BootRecordInFreeSpaceIsOneCandidate) {
  std::vector<FoundPartition> found = analyser->GetValidPartitions(0, 40960);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].type, 0x07);
  EXPECT_EQ(found[0].start, 40960u);
  EXPECT_EQ(found[0].sectors, 16384u);
  EXPECT_FALSE(found[0].logical());
  // The volume the table still lists is no candidate.
  EXPECT_TRUE(analyser->GetValidPartitions(0, 2048).empty());
}

TEST_F(FoundSectors, StrayTableGivesItsPlainEntries) {
  const unsigned long long stray = 100000;
  putEntry(image, stray, 0, 0x83, 63, 5000);
  putEntry(image, stray, 1, 0x05, 6000, 5000);
  putEntry(image, stray, 2, 0x0D, 12000, 100);
  putEntry(image, stray, 3, 0x07, 20000, 1000);
  std::vector<FoundPartition> found = analyser->GetValidPartitions(0, stray);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].type, 0x83);
  EXPECT_EQ(found[0].table, stray);
  EXPECT_EQ(found[0].start, stray + 63);
  EXPECT_EQ(found[1].start, stray + 20000);
  EXPECT_TRUE(found[1].logical());

  // Entries that reach past the disk's end, are empty, or cover a listed
  // partition are no candidates.
  putEntry(image, stray, 0, 0x83, 63, (unsigned)DISK);
  putEntry(image, stray, 3, 0x07, 20000, 0);
  putEntry(image, stray, 1, 0x83, 0xFFFFFFFF - 10, 100);
  EXPECT_TRUE(analyser->GetValidPartitions(0, stray).empty());
  putEntry(image, 3000, 0, 0x83, 100, 1000);
  EXPECT_TRUE(analyser->GetValidPartitions(0, 3000).empty());
}

}  // namespace
