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
#include "support/TestImages.h"

using namespace kvtest;

namespace {

const FXulong GAP = 2048;  // free sectors before and between the volumes

// pvcreate wants a block device: the volume's file is attached to a loop
// device for it, and detached again whatever pvcreate says.
const char* const PVCREATE =
    "sh -c 'd=$(losetup --find --show \"$0\") && pvcreate -qq --config \"devices{use_devicesfile=0}\" \"$d\";"
    " r=$?; [ -n \"$d\" ] && losetup -d \"$d\"; exit $r'";

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

// What blkid reads at a byte offset of the image, as KEY=value lines.
std::string blkidValue(const std::string& image, FXulong sector, const std::string& key) {
  std::string out;
  sh("blkid -p -o export --offset " + std::to_string(sector * 512) + " '" + image + "'", &out);
  size_t at = ("\n" + out).find("\n" + key + "=");
  if (at == std::string::npos) return "";
  at += key.size() + 1;
  return out.substr(at, out.find('\n', at) - at);
}

// The `count` sectors from `start` of the image as a file of their own.
bool cutOut(const std::string& image, FXulong start, FXulong count, const std::string& file) {
  return sh("dd if='" + image + "' of='" + file + "' bs=64K iflag=skip_bytes,count_bytes skip=" +
            std::to_string(start * 512) + " count=" + std::to_string(count * 512) +
            " conv=sparse status=none && truncate -s " + std::to_string(count * 512) + " '" + file + "'") == 0;
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

    EXPECT_EQ(std::string(primary->label.text()), blkidValue(disk->image, start, "LABEL"));
    EXPECT_EQ(std::string(primary->uuid.text()), blkidValue(disk->image, start, "UUID"));
    EXPECT_EQ(mbrTypeFor(c.kind, primary->sectors, false), c.type);
    EXPECT_EQ(mbrTypeFor(c.kind, primary->sectors, true), c.lbaType);
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

}  // namespace
