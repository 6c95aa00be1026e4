// kelvarin-cli's search on disks partitioned by sfdisk and formatted by the
// real mkfs tools, one laid out by cylinders and one on 1 MiB boundaries,
// after three kinds of damage: the MBR's slots wiped; every table wiped; and
// every table wiped with the first structure of each volume that keeps a copy
// of it.  A full and a quick search must each list exactly the volumes the
// undamaged disk had, as sfdisk and blkid read them there, and nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "support/LostDisk.h"
#include "support/Oracles.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

const unsigned long long NO_COPY = ~0ull;

// One partition: its file system, where the table puts it, and the sectors of
// its first structure that the third damage wipes (none when the file system
// keeps no copy of it).
struct Part {
  const char* mkfs;
  unsigned long long start, sectors;
  unsigned type;
  bool logical;
  unsigned long long primaryAt;
  unsigned primarySectors;
};

struct Layout {
  const char* name;
  const char* chs;
  unsigned long long sectors;
  unsigned long long extendedStart;
  std::vector<Part> parts;
};

const char* const EXT2 = "mke2fs -q -F -t ext2 -b 1024";
const char* const EXT3 = "mke2fs -q -F -t ext3 -b 1024";
const char* const REISER = "mkreiserfs -f -q -s 513";
const char* const FAT16 = "mkfs.vfat -F 16 --mbr=n";
const char* const FAT32 = "mkfs.vfat -F 32 -s 1 --mbr=n";
const char* const NTFS = "mkntfs -F -Q -q";

// Cylinders of 16 heads and 63 sectors: every partition and every EPTB on a
// cylinder boundary, the partitions in it one track further on.  The NTFS
// volume fills its cylinders, so its backup boot sector ends them.
const Layout CYLINDERS = {"cylinders", "290/16/63", 290 * 1008, 66 * 1008,
                          {
                              {FAT16, 63, 32768, 0x0E, false, NO_COPY, 0},
                              {NTFS, 33 * 1008, 33 * 1008, 0x07, false, 0, 1},
                              {EXT2, 66 * 1008 + 63, 32768, 0x83, true, 2, 2},
                              {EXT3, 99 * 1008 + 63, 32768, 0x83, true, 2, 2},
                              {REISER, 132 * 1008 + 63, 69632, 0x83, true, NO_COPY, 0},
                              {FAT32, 202 * 1008 + 63, 81920, 0x0C, true, 0, 1},
                          }};

const unsigned long long MiB = 2048;
// Everything on 1 MiB boundaries, each logical 1 MiB behind its EPTB, each
// volume ending on a boundary.
const Layout MEBIBYTES = {
    "mebibytes",
    "18/255/63",
    18 * 16065,
    65 * MiB,
    {
        {"mke2fs -q -F -t ext4 -b 1024", 1 * MiB, 16 * MiB, 0x83, false, 2, 2},
        {"mke2fs -q -F -t ext4 -b 4096 -g 2048", 17 * MiB, 16 * MiB, 0x83, false, 2, 2},
        {"TEST_DIR=1 TEST_DEV=1 QA_CHECK_FS=1 mkfs.xfs -q -f -d agcount=2", 33 * MiB, 32 * MiB, 0x83, false, 0, 1},
        // Too small for its first mirror, at 64 MiB.
        {"mkfs.btrfs -q -f -M", 66 * MiB, 16 * MiB, 0x83, true, NO_COPY, 0},
        {"mkfs.exfat", 83 * MiB, 8 * MiB, 0x07, true, 0, 1},
        {"mkswap", 92 * MiB, 8 * MiB, 0x82, true, NO_COPY, 0},
        {NTFS, 101 * MiB, 16 * MiB, 0x07, true, 0, 1},
        {FAT16, 118 * MiB, 16 * MiB, 0x0E, true, NO_COPY, 0},
    }};

// An LVM2 physical volume needs a loop device to be made.
const Layout LVM = {"lvm",
                    "4/255/63",
                    4 * 16065,
                    0,
                    {
                        {PVCREATE, 1 * MiB, 8 * MiB, 0x8E, false, NO_COPY, 0},
                        {"mke2fs -q -F -t ext4 -b 4096 -g 1024", 9 * MiB, 8 * MiB, 0x83, false, 2, 2},
                    }};

enum Damage { MBR_SLOTS, EVERY_TABLE, FIRST_STRUCTURES };
const char* damageName(Damage d) {
  return d == MBR_SLOTS ? "MBR slots" : d == EVERY_TABLE ? "every table" : "first structures";
}

// The file system as the search names it, from blkid's reading of it.
std::string fileSystemAt(const std::string& image, const Part& p) {
  std::map<std::string, std::string> names = {{"ext2", "ext2"},   {"ext3", "ext3"},   {"ext4", "ext4"},
                                              {"reiserfs", "ReiserFS"}, {"xfs", "XFS"}, {"btrfs", "btrfs"},
                                              {"exfat", "exFAT"}, {"swap", "swap"},   {"ntfs", "NTFS"},
                                              {"LVM2_member", "LVM2 PV"}};
  std::map<std::string, std::string> fields = blkidProbe(image, p.start, p.sectors);
  std::string type = fields["TYPE"];
  if (type == "vfat") return fields["VERSION"];
  return names.count(type) ? names[type] : "?" + type;
}

// "start sectors type file-system primary|logical", one per partition.
typedef std::set<std::string> Listing;

std::string row(unsigned long long start, unsigned long long sectors, unsigned type, const std::string& fs,
                bool logical) {
  char t[8];
  snprintf(t, sizeof(t), "%02x", type);
  return std::to_string(start) + " " + std::to_string(sectors) + " " + t + " " + fs + " " +
         (logical ? "logical" : "primary");
}

// The partitions as kelvarin-cli search --json lists them.
Listing searchListing(const std::string& image, const char* chs, bool quick) {
  CliResult r = runCli("-file " + quote(image) + " -chs " + chs + " search --json" + (quick ? "" : " --full"));
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> rows = splitLines(onJson(r.out,
      "for c in d[\"candidates\"]:\n"
      " print(c[\"start\"], c[\"sectors\"], \"%02x\" % c[\"type\"], c[\"fileSystem\"],"
      " \"logical\" if c[\"logical\"] else \"primary\")"));
  return Listing(rows.begin(), rows.end());
}

class DeepSearch : public ::testing::TestWithParam<const Layout*> {
protected:
  // The undamaged disk and what sfdisk and blkid read on it.
  void SetUp() override {
    const Layout& l = *GetParam();
    original = dir.path("original.img");
    makeImage(original, l.sectors * 512);
    std::string script = "label: dos\n";
    int number = 1;
    for (const Part& p : l.parts) {
      if (p.logical && number <= 4) {
        script += std::to_string(number++) + ": start=" + std::to_string(l.extendedStart) +
                  ", size=" + std::to_string(l.sectors - l.extendedStart) + ", type=5\n";
        number = 5;
      }
      char type[8];
      snprintf(type, sizeof(type), "%x", p.type);
      script += std::to_string(number++) + ": start=" + std::to_string(p.start) +
                ", size=" + std::to_string(p.sectors) + ", type=" + type + "\n";
    }
    ASSERT_TRUE(sfdisk(original, script));
    for (const Part& p : l.parts) {
      if (mkfsAt(original, p.start, p.sectors, p.mkfs)) continue;
      if (p.mkfs == PVCREATE) GTEST_SKIP() << "no loop device can be attached here for pvcreate";
      FAIL() << p.mkfs;
    }
    tables = chainTables(original);
    for (const SfdiskPartition& s : sfdiskDump(original)) {
      if (s.type == 0x05) continue;
      const Part* p = nullptr;
      for (const Part& q : l.parts) p = q.start == s.start ? &q : p;
      ASSERT_TRUE(p) << "sfdisk lists a partition at " << s.start;
      truth.push_back({s.start, s.size, s.type, fileSystemAt(original, *p), s.number > 4});
    }
    ASSERT_EQ(truth.size(), l.parts.size());
  }

  struct Truth {
    unsigned long long start, sectors;
    unsigned type;
    std::string fs;
    bool logical;
  };

  std::string damaged(Damage d) {
    std::string image = dir.path(std::string("damaged-") + damageName(d)[0] + ".img");
    copySparse(original, image);
    clearTable(image, 0);
    if (d == MBR_SLOTS) return image;
    for (unsigned long long t : tables) clearTable(image, t);
    if (d == EVERY_TABLE) return image;
    for (const Part& p : GetParam()->parts) {
      if (p.primaryAt == NO_COPY) continue;
      std::string zeros((size_t)(p.primarySectors + 1) * 512, '\0');
      patchFile(image, p.start * 512, zeros.data(), 512);
      patchFile(image, (p.start + p.primaryAt) * 512, zeros.data(), p.primarySectors * 512);
    }
    return image;
  }

  Listing expected(Damage d) const {
    Listing rows;
    for (const Truth& t : truth) rows.insert(row(t.start, t.sectors, t.type, t.fs, t.logical && d == MBR_SLOTS));
    return rows;
  }

  TempDir dir;
  std::string original;
  std::vector<unsigned long long> tables;
  std::vector<Truth> truth;
};

TEST_P(DeepSearch, FullAndQuickSearchListExactlyTheTrueVolumes) {
  const Layout& l = *GetParam();
  for (Damage d : {MBR_SLOTS, EVERY_TABLE, FIRST_STRUCTURES}) {
    std::string image = damaged(d);
    for (bool quick : {false, true}) {
      SCOPED_TRACE(std::string(l.name) + ", " + damageName(d) + (quick ? ", quick" : ", full"));
      EXPECT_EQ(searchListing(image, l.chs, quick), expected(d));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, DeepSearch, ::testing::Values(&CYLINDERS, &MEBIBYTES, &LVM),
                         [](const ::testing::TestParamInfo<const Layout*>& info) {
                           return std::string(info.param->name);
                         });

}  // namespace
