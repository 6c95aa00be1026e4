// The deep search's recognisers on file systems made by the real mkfs tools,
// each placed inside one larger image: what they report against what mkfs
// made and blkid reads, the true start from a copy when the primary structure
// is gone, and no volume at all in random bytes, absurd fields or images cut
// short.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <map>
#include <random>

#include "recognise/OnDisk.h"
#include "recognise/Recogniser.h"
#include "recognise/Scan.h"
#include "support/Oracles.h"
#include "support/TestImages.h"
#include "table/MbrPartitionTable.h"

using namespace kvtest;

namespace {

const FXulong GAP = 2048;  // free sectors before and between the volumes

// One volume of the shared disk.  Sectors count from the volume's start.
struct Case {
  const char* name;
  const char* mkfs;
  FXulong sectors;
  VolumeKind kind;
  const char* label;
  FXulong primaryAt;      // the primary structure
  FXuint primarySectors;  // how many sectors of it to wipe
  FXulong copyAt;         // a copy of it; 0 when the format keeps none
  FXuchar type, lbaType;  // MBR types without and with the need for LBA
};

const Case CASES[] = {
    {"ext4_1k", "mke2fs -q -F -t ext4 -b 1024 -L ext4k1", 32768, VolumeKind::EXT4, "ext4k1", 2, 2, 16386,
     0x83, 0x83},
    {"ext4_4k", "mke2fs -q -F -t ext4 -b 4096 -g 2048 -L ext4k4", 32768, VolumeKind::EXT4, "ext4k4", 2, 2,
     16384, 0x83, 0x83},
    {"ext2", "mke2fs -q -F -t ext2 -b 1024 -L ext2v", 32768, VolumeKind::EXT2, "ext2v", 2, 2, 16386, 0x83,
     0x83},
    {"ext3", "mke2fs -q -F -t ext3 -b 1024 -L ext3v", 32768, VolumeKind::EXT3, "ext3v", 2, 2, 16386, 0x83,
     0x83},
    {"reiserfs", "mkreiserfs -f -q -s 513 -l reiserv", 69632, VolumeKind::REISERFS, "reiserv", 128, 1, 0,
     0x83, 0x83},
    {"xfs", "TEST_DIR=1 TEST_DEV=1 QA_CHECK_FS=1 mkfs.xfs -q -f -d agcount=2 -L xfsv", 81920, VolumeKind::XFS,
     "xfsv", 0, 1, 40960, 0x83, 0x83},
    {"btrfs", "mkfs.btrfs -q -f -M -L btrfsv", 147456, VolumeKind::BTRFS, "btrfsv", 128, 8, 131072, 0x83,
     0x83},
    {"swap", "mkswap -L swapv", 16384, VolumeKind::SWAP, "swapv", 0, 8, 0, 0x82, 0x82},
    {"lvm", PVCREATE, 16384, VolumeKind::LVM2_PV, "", 1, 1, 0, 0x8E, 0x8E},
    {"exfat", "mkfs.exfat -L exfatv", 16384, VolumeKind::EXFAT, "exfatv", 0, 1, 12, 0x07, 0x07},
    {"fat12", "mkfs.vfat -F 12 -n FAT12V --mbr=n", 16384, VolumeKind::FAT12, "FAT12V", 0, 1, 0, 0x01, 0x01},
    {"fat16", "mkfs.vfat -F 16 -n FAT16V --mbr=n", 32768, VolumeKind::FAT16, "FAT16V", 0, 1, 0, 0x04, 0x0E},
    {"fat32", "mkfs.vfat -F 32 -s 1 -n FAT32V --mbr=n", 81920, VolumeKind::FAT32, "FAT32V", 0, 1, 6, 0x0B,
     0x0C},
    {"ntfs", "mkntfs -F -Q -q -L ntfsv", 32768, VolumeKind::NTFS, "ntfsv", 0, 1, 32767, 0x07, 0x07},
};

// The disk every test reads: each volume GAP sectors after the last, made
// once per test program.
class SharedDisk {
public:
  static SharedDisk& get() {
    static SharedDisk disk;
    return disk;
  }
  std::string image;
  std::map<std::string, FXulong> starts;
  std::map<std::string, bool> made;
  FXulong sectors = 0;

private:
  SharedDisk() {
    image = dir.path("volumes.img");
    FXulong at = GAP;
    for (const Case& c : CASES) {
      starts[c.name] = at;
      at += c.sectors + GAP;
    }
    sectors = at;
    makeImage(image, sectors * 512);
    for (const Case& c : CASES) made[c.name] = mkfsAt(image, starts[c.name], c.sectors, c.mkfs);
  }
  TempDir dir;
};

// The disk as a probe sees it after damage: byte runs replaced, the rest as
// the image holds it.  Nothing is written to the image.
class DamagedReader : public SectorReader {
public:
  explicit DamagedReader(SectorReader& base) : base(base) {}
  void patch(FXulong byte, const void* bytes, size_t length) {
    const FXuchar* p = (const FXuchar*)bytes;
    for (size_t i = 0; i < length; i++) changed[byte + i] = p[i];
  }
  void zero(FXulong sector, FXuint count) {
    std::vector<FXuchar> zeros(count * 512, 0);
    patch(sector * 512, zeros.data(), zeros.size());
  }
  bool read(FXulong sector, void* buffer, FXuint bytes) override {
    if (!base.read(sector, buffer, bytes)) return false;
    FXulong from = sector * 512;
    for (auto it = changed.lower_bound(from); it != changed.end() && it->first < from + bytes; ++it)
      ((FXuchar*)buffer)[it->first - from] = it->second;
    return true;
  }
  FXulong sectors() override { return base.sectors(); }

private:
  SectorReader& base;
  std::map<FXulong, FXuchar> changed;
};

// The `count` sectors from `start` of the image as a file of their own.
bool cutOut(const std::string& image, FXulong start, FXulong count, const std::string& file) {
  return sh("dd if='" + image + "' of='" + file + "' bs=64K iflag=skip_bytes,count_bytes skip=" +
            std::to_string(start * 512) + " count=" + std::to_string(count * 512) +
            " conv=sparse status=none && truncate -s " + std::to_string(count * 512) + " '" + file +
            "'") == 0;
}

std::string describe(const FoundVolume& v) {
  return std::string(volumeKindName(v.kind)) + " start " + std::to_string(v.start) + " size " +
         std::to_string(v.sectors) + " at " + std::to_string(v.at) + " (" + foundByName(v.foundBy) + ")";
}

// Tests go through the volumes of the table one after the other: the shared
// disk is made once per test program, and CTest runs each test in a process
// of its own.
class Recognisers : public ::testing::Test {
protected:
  void SetUp() override {
    disk = &SharedDisk::get();
    ASSERT_TRUE(image.open(disk->image.c_str()));
  }

  // Runs `check` on every volume that could be made, each under its name.
  template <typename Check>
  void forEachVolume(Check check) {
    for (const Case& c : CASES) {
      SCOPED_TRACE(c.name);
      if (!disk->made[c.name]) {
        if (c.kind != VolumeKind::LVM2_PV) ADD_FAILURE() << c.mkfs << " failed";
        else std::cout << "[ SKIPPED  ] " << c.name << ": no loop device could be attached for pvcreate\n";
        continue;
      }
      check(c, disk->starts[c.name]);
    }
  }

  // The hits of a scan over a volume and the gaps around it.
  static std::vector<FoundVolume> scanVolume(SectorReader& reader, const Case& c, FXulong start) {
    std::vector<FoundVolume> hits;
    scanRange(reader, start - GAP, c.sectors + 2 * GAP, hits);
    return hits;
  }

  // Every hit is the volume of the case.
  static void expectOnly(const std::vector<FoundVolume>& hits, const Case& c, FXulong start) {
    for (const FoundVolume& v : hits) {
      SCOPED_TRACE(describe(v));
      EXPECT_EQ(v.kind, c.kind);
      EXPECT_EQ(v.start, start);
      EXPECT_EQ(v.sectors, c.sectors);
      EXPECT_STREQ(v.label.text(), c.label);
    }
  }

  static const FoundVolume* hitAt(const std::vector<FoundVolume>& hits, FXulong at) {
    for (const FoundVolume& v : hits)
      if (v.at == at) return &v;
    return nullptr;
  }

  SharedDisk* disk = nullptr;
  ImageReader image;
};

TEST_F(Recognisers, EveryVolumeIsFoundWhereMkfsPutItWithItsSizeLabelAndUuid) {
  forEachVolume([&](const Case& c, FXulong start) {
    std::vector<FoundVolume> hits = scanVolume(image, c, start);
    ASSERT_FALSE(hits.empty());
    expectOnly(hits, c, start);

    const FoundVolume* primary = hitAt(hits, start + c.primaryAt);
    ASSERT_TRUE(primary) << "nothing found by the primary structure";
    EXPECT_FALSE(primary->isCopy());
    for (const FoundVolume& v : hits) EXPECT_TRUE(&v == primary || v.isCopy()) << describe(v);
    if (c.copyAt) {
      const FoundVolume* copy = hitAt(hits, start + c.copyAt);
      ASSERT_TRUE(copy) << "the copy was not found";
      EXPECT_STREQ(foundByName(copy->foundBy), "backup");
      EXPECT_TRUE(copy->sameVolume(*primary));
    }

    std::map<std::string, std::string> blkid = blkidProbe(disk->image, start);
    EXPECT_EQ(primary->label.text(), blkid["LABEL"]);
    EXPECT_EQ(primary->uuid.text(), blkid["UUID"]);
    EXPECT_EQ(MbrPartitionTable::TypeCode({c.kind, primary->sectors, false, false}), c.type);
    EXPECT_EQ(MbrPartitionTable::TypeCode({c.kind, primary->sectors, true, false}), c.lbaType);
  });
}

TEST_F(Recognisers, CopyGivesTheTrueStartWhenThePrimaryIsGone) {
  forEachVolume([&](const Case& c, FXulong start) {
    if (!c.copyAt) return;  // the format keeps no copy
    DamagedReader damaged(image);
    damaged.zero(start + c.primaryAt, c.primarySectors);
    std::vector<FoundVolume> hits = scanVolume(damaged, c, start);
    expectOnly(hits, c, start);
    for (const FoundVolume& v : hits) EXPECT_TRUE(v.isCopy()) << describe(v);
    EXPECT_TRUE(hitAt(hits, start + c.copyAt)) << "the copy was not found";
  });
}

// An image that ends before the volume does holds no volume: not one cut a
// sector short, nor one cut right after or inside the primary structure.
TEST_F(Recognisers, ImageCutShortHoldsNoVolume) {
  TempDir dir;
  forEachVolume([&](const Case& c, FXulong start) {
    FXulong inside = c.primarySectors > 1 ? c.primarySectors - 1 : 1;
    for (FXulong keep : {c.sectors - 1, c.primaryAt + c.primarySectors, c.primaryAt + inside}) {
      SCOPED_TRACE("kept " + std::to_string(keep) + " sectors");
      std::string cut = dir.path("cut.img");
      ASSERT_TRUE(cutOut(disk->image, start, keep, cut));
      ImageReader reader;
      ASSERT_TRUE(reader.open(cut.c_str()));
      ASSERT_EQ(reader.sectors(), keep);
      for (const FoundVolume& v : scanAll(reader)) ADD_FAILURE() << describe(v);
    }
  });
}

// Checksummed structures are signed again after a field is changed, so the
// field's own check is what must turn them down.
typedef void (*Resign)(DamagedReader& reader, FXulong structure);

void putLe32(DamagedReader& reader, FXulong byte, FXuint value) {
  FXuchar bytes[4] = {(FXuchar)value, (FXuchar)(value >> 8), (FXuchar)(value >> 16), (FXuchar)(value >> 24)};
  reader.patch(byte, bytes, 4);
}

std::vector<FXuchar> readBytes(SectorReader& reader, FXulong sector, FXuint bytes) {
  std::vector<FXuchar> b(bytes);
  EXPECT_TRUE(reader.read(sector, b.data(), bytes));
  return b;
}

void resignExt4(DamagedReader& reader, FXulong sb) {
  std::vector<FXuchar> b = readBytes(reader, sb, 1024);
  putLe32(reader, sb * 512 + 0x3FC, ondisk::crc32cUpdate(~0u, b.data(), 0x3FC));
}

void resignXfs(DamagedReader& reader, FXulong sb) {
  std::vector<FXuchar> b = readBytes(reader, sb, 512);
  memset(&b[0xE0], 0, 4);
  putLe32(reader, sb * 512 + 0xE0, ~ondisk::crc32cUpdate(~0u, b.data(), 512));
}

void resignBtrfs(DamagedReader& reader, FXulong sb) {
  std::vector<FXuchar> b = readBytes(reader, sb, 4096);
  putLe32(reader, sb * 512, ~ondisk::crc32cUpdate(~0u, b.data() + 0x20, 4096 - 0x20));
}

void resignLvm(DamagedReader& reader, FXulong label) {
  std::vector<FXuchar> b = readBytes(reader, label, 512);
  putLe32(reader, label * 512 + 0x10, ondisk::crc32Update(0xF597A6CF, b.data() + 0x14, 512 - 0x14));
}

// The boot region's twelfth sector repeats a sum of the eleven before it.
void resignExfat(DamagedReader& reader, FXulong boot) {
  std::vector<FXuchar> b = readBytes(reader, boot, 11 * 512);
  FXuint sum = 0;
  for (FXuint i = 0; i < b.size(); i++)
    if (i != 0x6A && i != 0x6B && i != 0x70) sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + b[i];
  for (FXuint at = 0; at < 512; at += 4) putLe32(reader, (boot + 11) * 512 + at, sum);
}

// A field of a volume's primary structure set to an absurd value.
struct Absurd {
  const char* volume;
  const char* what;
  FXuint at;  // bytes from the start of the primary structure
  std::vector<FXuchar> value;
  Resign resign;
};

std::vector<FXuchar> le(FXulong v, int bytes) {
  std::vector<FXuchar> b;
  for (int i = 0; i < bytes; i++) b.push_back((FXuchar)(v >> (8 * i)));
  return b;
}
std::vector<FXuchar> be(FXulong v, int bytes) {
  std::vector<FXuchar> b = le(v, bytes);
  return std::vector<FXuchar>(b.rbegin(), b.rend());
}

const FXulong ALL_ONES = ~0ull;

// A swap header of 2^32 pages claiming 2^32 - 1 bad ones, listed all the
// way to the magic: only the count's bound keeps the list in the page.
std::vector<FXuchar> badPageFlood() {
  std::vector<FXuchar> bytes = le(0xFFFFFFFFFFFFFFFFull, 8);  // last page and count
  bytes.resize(1536 - 1028, 0);
  while (bytes.size() + 1028 + 4 <= 4086) {
    std::vector<FXuchar> page = le(5, 4);
    bytes.insert(bytes.end(), page.begin(), page.end());
  }
  return bytes;
}

const Absurd ABSURD[] = {
    {"ext4_1k", "block size shift 40", 0x18, le(40, 4), resignExt4},
    {"ext2", "no blocks", 0x04, le(0, 4), nullptr},
    {"ext2", "no blocks per group", 0x20, le(0, 4), nullptr},
    {"ext2", "no inodes per group", 0x28, le(0, 4), nullptr},
    {"ext2", "a group past the last", 0x5A, le(0xFFFF, 2), nullptr},
    {"ext4_4k", "a feature no ext knows", 0x60, le(0x80000000u | 0x2C2, 4), resignExt4},
    {"reiserfs", "block size 0", 0x2C, le(0, 2), nullptr},
    {"reiserfs", "no blocks", 0x00, le(0, 4), nullptr},
    {"reiserfs", "a tree of height 0", 0x44, le(0, 2), nullptr},
    {"xfs", "block size shift 40", 0x78, {40}, resignXfs},
    {"xfs", "no allocation groups", 0x58, be(0, 4), resignXfs},
    {"xfs", "2^64 - 1 blocks", 0x08, be(ALL_ONES, 8), resignXfs},
    {"btrfs", "a device of 0 bytes", 0xD1, le(0, 8), resignBtrfs},
    {"btrfs", "sector size 0", 0x90, le(0, 4), resignBtrfs},
    {"btrfs", "a copy at no copy's offset", 0x30, le(4096, 8), resignBtrfs},
    {"swap", "no last page", 1028, le(0, 4), nullptr},
    {"swap", "2^32 - 1 bad pages", 1032, le(0xFFFFFFFF, 4), nullptr},
    {"swap", "2^32 - 1 bad pages, all listed", 1028, badPageFlood(), nullptr},
    {"lvm", "a device of 0 bytes", 0x40, le(0, 8), resignLvm},
    {"lvm", "a label in sector 2^63", 0x08, le(1ull << 63, 8), resignLvm},
    {"exfat", "sector size shift 40", 0x6C, {40}, resignExfat},
    {"exfat", "no clusters", 0x5C, le(0, 4), resignExfat},
    {"exfat", "2^64 - 1 sectors", 0x48, le(ALL_ONES, 8), resignExfat},
    {"fat16", "no sectors per cluster", 0x0D, {0}, nullptr},
    {"fat16", "no FATs", 0x10, {0}, nullptr},
    {"fat16", "no sectors", 0x13, le(0, 2), nullptr},
    {"fat16", "768 bytes per sector", 0x0B, le(768, 2), nullptr},
    {"fat32", "a FAT of no sectors", 0x24, le(0, 4), nullptr},
    {"fat32", "a root cluster past the last", 0x2C, le(0xFFFFFFF0, 4), nullptr},
    {"ntfs", "2^63 sectors", 0x28, le(1ull << 63, 8), nullptr},
    {"ntfs", "no sectors per cluster", 0x0D, {0}, nullptr},
    {"ntfs", "the MFT past the end", 0x30, le(ALL_ONES, 8), nullptr},
};

const Case& caseNamed(const std::string& name) {
  for (const Case& c : CASES)
    if (name == c.name) return c;
  throw std::logic_error(name);
}

TEST_F(Recognisers, AbsurdFieldsInThePrimaryStructureAreNotTakenForAVolume) {
  for (const Absurd& a : ABSURD) {
    SCOPED_TRACE(std::string(a.volume) + ": " + a.what);
    const Case& c = caseNamed(a.volume);
    if (!disk->made[c.name]) continue;  // told by the test that makes it
    FXulong start = disk->starts[c.name], structure = start + c.primaryAt;
    // Signed again without a change, the structure is still taken.
    DamagedReader resigned(image);
    if (a.resign) a.resign(resigned, structure);
    ASSERT_TRUE(hitAt(scanVolume(resigned, c, start), structure));

    DamagedReader damaged(image);
    damaged.patch(structure * 512 + a.at, a.value.data(), a.value.size());
    if (a.resign) a.resign(damaged, structure);
    for (const FoundVolume& v : scanVolume(damaged, c, start)) EXPECT_NE(v.at, structure) << describe(v);
  }
}

// Bytes changed at random in every primary structure: whatever a probe
// still accepts must lie on the disk and hold the structure it came from.
TEST_F(Recognisers, RandomDamageToPrimaryStructuresGivesOnlySaneVolumes) {
  std::mt19937_64 random(1234567);
  forEachVolume([&](const Case& c, FXulong start) {
    FXulong structure = start + c.primaryAt;
    FXuint bytes = c.primarySectors * 512;
    for (int round = 0; round < 300; round++) {
      DamagedReader damaged(image);
      for (int n = random() % 8 + 1; n > 0; n--) {
        FXuchar value = (FXuchar)random();
        damaged.patch(structure * 512 + random() % bytes, &value, 1);
      }
      std::vector<FoundVolume> hits;
      scanRange(damaged, structure, c.primarySectors + 8, hits);
      for (const FoundVolume& v : hits) {
        EXPECT_LE(v.start, v.at) << describe(v);
        EXPECT_GT(v.sectors, v.at - v.start) << describe(v);
        EXPECT_LE(v.start + v.sectors, image.sectors()) << describe(v);
      }
    }
  });
}

// Random bytes hold no volume; nor do they when every sector carries one of
// the magics where it belongs.
TEST(RecogniserScan, RandomBytesHoldNoVolumeEvenWithEveryMagicInPlace) {
  const FXulong sectors = 65536;
  std::mt19937_64 random(42);
  std::vector<FXuchar> bytes(sectors * 512);
  for (size_t at = 0; at < bytes.size(); at += 8) {
    FXulong v = random();
    memcpy(&bytes[at], &v, 8);
  }
  MemoryReader plain(bytes);
  for (const FoundVolume& v : scanAll(plain)) ADD_FAILURE() << describe(v);

  std::vector<const Magic*> magics;
  for (const Recogniser* r : allRecognisers())
    for (FXuint m = 0; m < r->magicCount; m++) magics.push_back(&r->magics[m]);
  for (FXulong s = 0; s < sectors; s++) {
    const Magic* m = magics[s % magics.size()];
    memcpy(&bytes[s * 512 + m->offset % 512], m->bytes, m->length);
  }
  MemoryReader salted(std::move(bytes));
  for (const FoundVolume& v : scanAll(salted)) ADD_FAILURE() << describe(v);
}

// Old swap areas carry no header, only a bitmap of the usable pages: page 0
// holds the bitmap, then every page up to the last is usable but the bad.
TEST(RecogniserScan, OldSwapAreaIsSizedByItsBitmap) {
  std::vector<FXuchar> bytes(2 << 20);
  for (int page = 1; page < 100; page++)
    if (page != 17 && page != 40) bytes[page / 8] |= 1 << (page % 8);
  memcpy(&bytes[4086], "SWAP-SPACE", 10);
  MemoryReader old(bytes);
  std::vector<FoundVolume> hits = scanAll(old);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].kind, VolumeKind::SWAP);
  EXPECT_EQ(hits[0].start, 0u);
  EXPECT_EQ(hits[0].sectors, 800u);

  // A bitmap of random bits is none.
  std::mt19937 random(3);
  for (int at = 0; at < 4086; at++) bytes[at] = (FXuchar)random();
  bytes[0] &= 0xFE;
  MemoryReader noise(std::move(bytes));
  EXPECT_TRUE(scanAll(noise).empty());
}

TEST(RecogniserScan, EveryMagicLiesWithinOneSectorAndIsLookedFor) {
  for (const Recogniser* r : allRecognisers())
    for (FXuint m = 0; m < r->magicCount; m++)
      EXPECT_LE(r->magics[m].offset % 512 + r->magics[m].length, 512u) << r->name;
  EXPECT_TRUE(scanCoversEveryMagic());
}

TEST(SectorReaders, ReadsStopAtTheEndOfTheImage) {
  TempDir dir;
  std::string file = dir.path("short.img");
  makeImage(file, 3 * 512 + 100);  // a partial sector at the end is not one
  ImageReader image;
  ASSERT_TRUE(image.open(file.c_str()));
  MemoryReader memory(std::vector<FXuchar>(3 * 512 + 100));
  FXuchar buffer[1024];
  for (SectorReader* r : std::initializer_list<SectorReader*>{&image, &memory}) {
    EXPECT_EQ(r->sectors(), 3u);
    EXPECT_TRUE(r->read(2, buffer, 512));
    EXPECT_FALSE(r->read(2, buffer, 513));
    EXPECT_FALSE(r->read(3, buffer, 1));
    EXPECT_FALSE(r->read(ALL_ONES, buffer, 512));
    EXPECT_FALSE(r->read(ALL_ONES / 512 + 1, buffer, 512));
  }
}

TEST(SectorReaders, ImageReaderTakesOnlyRegularFiles) {
  TempDir dir;
  std::string fifo = dir.path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ImageReader image;
  EXPECT_FALSE(image.open(fifo.c_str()));  // and does not wait for a writer
  EXPECT_FALSE(image.open(dir.path().c_str()));
  EXPECT_FALSE(image.open(dir.path("missing.img").c_str()));
  EXPECT_FALSE(image.read(0, nullptr, 0));
}

}  // namespace
