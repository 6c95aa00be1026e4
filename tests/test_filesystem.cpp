// Boot-record recognition on file systems made by the real mkfs tools.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "FileSystem.h"
#include "IOSystem.h"
#include "support/CountingDisk.h"
#include "support/Engine.h"
#include "support/Oracles.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

struct Volume {
  const char* name;
  unsigned long long start, sectors;
  const char* mkfs;
  FXint code;
  FXuchar type;
  const char* blkidType;  // what blkid calls it
};

// One disk holding a file system of every kind, each where a partition of it
// would start.
const Volume VOLUMES[] = {
    {"FAT12", 2048, 16384, "mkfs.vfat -F 12 --mbr=n", FileSystem::FAT, 0x0E, "FAT12"},
    {"FAT16", 20480, 65536, "mkfs.vfat -F 16 --mbr=n", FileSystem::FAT, 0x0E, "FAT16"},
    {"FAT32", 90112, 81920, "mkfs.vfat -F 32 -s 1 --mbr=n", FileSystem::FAT, 0x0C, "FAT32"},
    {"NTFS", 174080, 16384, "mkntfs -F -Q -q", FileSystem::NTFS, 0x07, "ntfs"},
    {"EXT2", 192512, 16384, "mke2fs -q -F -t ext2", FileSystem::EXT2, 0x83, "ext2"},
    {"EXT3", 210944, 16384, "mke2fs -q -F -t ext3", FileSystem::EXT3, 0x83, "ext3"},
    {"REISER", 229376, 69632, "mkreiserfs -f -q -s 513", FileSystem::REISER, 0x83, "reiserfs"},
};
const unsigned long long DISK_SECTORS = 307200;

// One byte of a boot record changed, and whether the result still passes.
struct ByteDamage {
  FXuint at;
  FXuchar value;
  bool accepted = false;
};

// What blkid says lies at a byte offset: the FAT version for FAT, else the type.
std::string blkidKind(const std::string& image, unsigned long long sector) {
  std::map<std::string, std::string> found = blkidProbe(image, sector);
  return found["TYPE"] == "vfat" ? found["VERSION"] : found["TYPE"];
}

class Recognition : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir = new TempDir();
    disk = dir->path("volumes.img");
    makeImage(disk, DISK_SECTORS * 512);
    for (const Volume& v : VOLUMES) ASSERT_TRUE(mkfsAt(disk, v.start, v.sectors, v.mkfs)) << v.name;
  }
  static void TearDownTestSuite() { delete dir; }

  void SetUp() override { ASSERT_TRUE(IOSystem::PrepareRead(disk.c_str(), DISK_SECTORS)); }
  void TearDown() override { IOSystem::CloseRead(); }

  static void bootRecord(unsigned long long sector, FXuchar* BR) {
    ASSERT_TRUE(IOSystem::Read(sector, BR, FileSystem::BR_SIZE));
  }
  static const Volume& volume(const char* name) {
    for (const Volume& v : VOLUMES)
      if (strcmp(v.name, name) == 0) return v;
    throw std::logic_error(name);
  }

  static TempDir* dir;
  static std::string disk;
};
TempDir* Recognition::dir;
std::string Recognition::disk;

TEST_F(Recognition, EveryFileSystemGetsItsCodeTypeAndSize) {
  for (const Volume& v : VOLUMES) {
    SCOPED_TRACE(v.name);
    ASSERT_EQ(blkidKind(disk, v.start), v.blkidType) << "the oracle disagrees with the layout";
    FXuchar BR[FileSystem::BR_SIZE];
    bootRecord(v.start, BR);
    PartitionEntry pr;
    memset(&pr, 0x5A, sizeof(pr));
    EXPECT_EQ(FileSystem::CheckFS(BR, v.start, &pr), v.code);
    EXPECT_EQ(pr.type, v.type);
    EXPECT_EQ(pr.num, v.sectors);
  }
}

TEST_F(Recognition, Fat32BackupBootSectorIsRejectedAndTheRealOneAccepted) {
  const Volume& v = volume("FAT32");
  FXuchar real[FileSystem::BR_SIZE], copy[FileSystem::BR_SIZE];
  bootRecord(v.start, real);
  bootRecord(v.start + 6, copy);
  ASSERT_EQ(real[0x32], 6) << "mkfs.vfat keeps the copy 6 sectors on";
  ASSERT_EQ(memcmp(real, copy, 512), 0);
  EXPECT_TRUE(FileSystem::CheckFAT(real, v.start));
  EXPECT_FALSE(FileSystem::CheckFAT(copy, v.start + 6));
  EXPECT_EQ(FileSystem::CheckFS(copy, v.start + 6, nullptr), FileSystem::UNKNOWN);
}

TEST_F(Recognition, FatFieldRulesRejectDamagedBootSectors) {
  FXuchar good[FileSystem::BR_SIZE];
  bootRecord(volume("FAT16").start, good);
  const ByteDamage damages[] = {
      {0x15, 0xF5, false},  // media byte
      {0x15, 0xF0, true},
      {0x0E, 0x00, false},  // reserved sectors (low byte; the high byte is 0)
      {0x10, 0x00, false},  // number of FATs
      {0x0D, 0x03, false},  // sectors per cluster
      {0x0C, 0x03, false},  // bytes per sector 0x300 = 768, no power of two
  };
  for (const ByteDamage& d : damages) {
    FXuchar BR[FileSystem::BR_SIZE];
    memcpy(BR, good, sizeof(BR));
    BR[d.at] = d.value;
    EXPECT_EQ(FileSystem::CheckFAT(BR, volume("FAT16").start), d.accepted)
        << std::hex << d.at << "=" << (int)d.value;
  }
}

TEST_F(Recognition, NtfsChecksumOemIdAndFieldRules) {
  FXuchar good[FileSystem::BR_SIZE];
  bootRecord(volume("NTFS").start, good);
  ASSERT_TRUE(FileSystem::CheckNTFS(good));
  FXuchar BR[FileSystem::BR_SIZE];

  // A zero checksum word skips the test; a right one passes, a wrong one fails.
  memcpy(BR, good, sizeof(BR));
  memset(BR + 0x50, 0, 4);
  EXPECT_TRUE(FileSystem::CheckNTFS(BR));
  FXuint sum = 0, word;
  for (int at = 0; at < 0x50; at += 4) sum += (memcpy(&word, BR + at, 4), word);
  memcpy(BR + 0x50, &sum, 4);
  EXPECT_TRUE(FileSystem::CheckNTFS(BR));
  sum += 1;
  memcpy(BR + 0x50, &sum, 4);
  EXPECT_FALSE(FileSystem::CheckNTFS(BR));

  const ByteDamage damages[] = {
      {0x03, 'X'},   // OEM identifier
      {0x0D, 3},     // sectors per cluster
      {0x10, 1},     // number of FATs
      {0x22, 1},     // large total
      {0x40, 0xF8},  // MFT record size
  };
  for (const ByteDamage& d : damages) {
    memcpy(BR, good, sizeof(BR));
    memset(BR + 0x50, 0, 4);
    BR[d.at] = d.value;
    EXPECT_FALSE(FileSystem::CheckNTFS(BR)) << std::hex << d.at;
  }
}

TEST_F(Recognition, Ext3WithoutJournalIsExt2) {
  FXuchar BR[FileSystem::BR_SIZE];
  bootRecord(volume("EXT3").start, BR);
  ASSERT_TRUE(BR[1024 + 0x5C] & 0x04);
  BR[1024 + 0x5C] &= ~0x04;
  PartitionEntry pr;
  EXPECT_EQ(FileSystem::CheckFS(BR, volume("EXT3").start, &pr), FileSystem::EXT2);
  // 4096-byte blocks (log 2), 262,144 of them.
  FXuint log = 2, blocks = 262144;
  memcpy(BR + 1024 + 0x18, &log, 4);
  memcpy(BR + 1024 + 0x04, &blocks, 4);
  EXPECT_EQ(FileSystem::CheckFS(BR, 0, &pr), FileSystem::EXT2);
  EXPECT_EQ(pr.num, 2097152u);

  BR[1024 + 0x4C] = 2;  // unknown revision
  EXPECT_EQ(FileSystem::CheckFS(BR, 0, nullptr), FileSystem::UNKNOWN);
}

TEST_F(Recognition, ReiserSuperblockAtEitherPlaceWithEachMagic) {
  FXuchar sb[FileSystem::REISER_SB];
  ASSERT_TRUE(IOSystem::Read(volume("REISER").start + 128, sb, sizeof(sb)));
  IOSystem::CloseRead();
  FXuint blockSize = 4096, blocks = 25600;
  memcpy(sb + 0x2C, &blockSize, 2);
  memcpy(sb + 0x00, &blocks, 4);

  std::string scratch = dir->path("reiser.img");
  // Each known magic at one of the two places; a reiser4 magic is not ours.
  const std::pair<unsigned long long, const char*> cases[] = {
      {16, "ReIsErFs"}, {128, "ReIsEr3Fs"}, {16, "ReIsEr2Fs"}, {128, "ReIsEr4Fs"}};
  for (auto [where, magic] : cases) {
    SCOPED_TRACE(std::string(magic) + " at sector " + std::to_string(where));
    makeImage(scratch, 1 << 20);
    memset(sb + 0x34, 0, 10);
    memcpy(sb + 0x34, magic, strlen(magic));
    patchFile(scratch, (100 + where) * 512, sb, sizeof(sb));
    ASSERT_TRUE(IOSystem::PrepareRead(scratch.c_str(), 2048));
    FXuchar BR[FileSystem::BR_SIZE] = {0};
    PartitionEntry pr = {};
    bool known = strcmp(magic, "ReIsEr4Fs") != 0;
    EXPECT_EQ(FileSystem::CheckFS(BR, 100, &pr), known ? FileSystem::REISER : FileSystem::UNKNOWN);
    EXPECT_EQ(pr.num, known ? 204800u : 0u);
    IOSystem::CloseRead();
  }
  ASSERT_TRUE(IOSystem::PrepareRead(disk.c_str(), DISK_SECTORS));
}

TEST_F(Recognition, FurtherSectorsThatCannotBeReadReadAsZeros) {
  IOSystem::CloseRead();
  CountingDisk counting;
  const Volume& fat32 = volume("FAT32");
  const Volume& reiser = volume("REISER");
  counting.badSectors = {fat32.start, reiser.start + 16, reiser.start + 128};
  ASSERT_TRUE(IOSystem::PrepareRead(disk.c_str(), DISK_SECTORS));
  FXuchar copy[FileSystem::BR_SIZE], BR[FileSystem::BR_SIZE] = {0};
  bootRecord(fat32.start + 6, copy);
  // With the real boot sector unreadable, its copy is all there is.
  EXPECT_EQ(FileSystem::CheckFS(copy, fat32.start + 6, nullptr), FileSystem::FAT);
  EXPECT_EQ(FileSystem::CheckFS(BR, reiser.start, nullptr), FileSystem::UNKNOWN);
}

}  // namespace
