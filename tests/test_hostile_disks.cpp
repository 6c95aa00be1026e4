// Disks built to mislead: looping chains, entries that overlap or run past
// the end, random bytes, images too short to hold a boot record, sectors
// that cannot be read.  Reading the tables, finding the gaps, searching every
// gap and judging what was found must end, without reading past the disk.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <random>

#include "IOSystem.h"
#include "support/CountingDisk.h"
#include "support/Engine.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

struct Outcome {
  size_t disks = 0, partitions = 0;
  unsigned reads = 0;
};

// Everything the program does with a disk before the user picks what to
// restore: read it, search each gap fully and quickly, turn found sectors
// into candidates.  Every read must start inside the image.
Outcome exercise(const std::string& image, const std::string& chs, CountingDisk& counting) {
  Outcome o;
  struct stat st;
  FXulong bytes = stat(image.c_str(), &st) == 0 ? (FXulong)st.st_size : 0;
  counting.readOffsets.clear();
  counting.reads = 0;
  auto a = analyseImage(image, chs);
  o.disks = a->disks.size();
  if (o.disks == 1) {
    NRD& d = a->disks[0];
    o.partitions = d.partitions.size();
    for (const Gap& g : d.gaps) {
      EXPECT_LE(g.distance + g.size, d.sectors) << "gap " << g.distance << "+" << g.size;
      for (bool quick : {false, true}) {
        FXulong total = quick ? g.size / (d.qoffset ? d.qoffset : 1) + 1 : g.size;
        RecordingProgress bar((FXuint)total);
        for (FXulong s : a->Search(&bar, nullptr, 0, quick, g.distance, g.distance + g.size - 1, 2)) {
          EXPECT_LT(s, d.sectors);
          for (const FoundPartition& p : a->GetValidPartitions(0, s)) EXPECT_LE(p.end(), d.sectors);
        }
      }
    }
  }
  for (FXulong offset : counting.readOffsets) EXPECT_LT(offset, bytes) << "a read past the end";
  o.reads = counting.reads;
  return o;
}

class Hostile : public ::testing::Test {
protected:
  void SetUp() override { image = dir.path("hostile.img"); }
  TempDir dir;
  std::string image;
  CountingDisk counting;
};

// Each case lays entries (table sector, slot, type, start, size) over a
// blank image; every one must be read, searched and judged without harm.
TEST_F(Hostile, LoopingOverlappingAndOutOfRangeTables) {
  struct Entry {
    FXulong table;
    int slot;
    FXuchar type;
    FXuint dist, num;
  };
  struct Case {
    const char* name;
    FXulong sectors;
    std::vector<Entry> entries;
  } cases[] = {
      // Tables that link to themselves, back to the first, and a logical
      // partition that is itself extended.
      {"looping chain", 8192,
       {{0, 0, 0x83, 63, 1000}, {0, 1, 0x0F, 2000, 6000}, {2000, 0, 0x83, 63, 500}, {2000, 1, 0x05, 1000, 500},
        {3000, 0, 0x85, 0, 400}, {3000, 1, 0x05, 0, 500}}},
      // Four slots linking back: followed depth-first, each level would
      // multiply the tables to read by four.
      {"four-way loop", 8192, {{0, 0, 0x0F, 2000, 6000}, {2000, 0, 0x05, 0, 500}, {2000, 1, 0x05, 0, 500},
                               {2000, 2, 0x05, 0, 500}, {2000, 3, 0x05, 0, 500}}},
      {"overlapping and past the end", 204800, {{0, 0, 0x83, 2048, 50000}, {0, 1, 0x07, 30000, 50000},
                                                {0, 2, 0x0C, 150000, 200000}, {0, 3, 0x0F, 205800, 0xFFFFFFF0}}},
      {"chain outside the disk", 204800, {{0, 0, 0x05, 100000, 0xFFFFFFFF}, {100000, 0, 0x83, 63, 0xFFFFFF00},
                                          {100000, 1, 0x05, 0xFFFFFFF0, 1000}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    makeImage(image, c.sectors * 512);
    for (const Entry& e : c.entries) putEntry(image, e.table, e.slot, e.type, e.dist, e.num);
    Outcome o = exercise(image, c.sectors > 8192 ? "12/255/63" : "1/255/63", counting);
    EXPECT_EQ(o.disks, 1u);
    EXPECT_LE(o.partitions, 2u + 15 * 4);
    EXPECT_LT(o.reads, 2000u);
  }
}

// Noise, noise with a table signature every 64 sectors, and tables of random
// entries that all lie on the disk.
TEST_F(Hostile, RandomBytesAndRandomTables) {
  const FXuchar types[] = {0x05, 0x0F, 0x85, 0x83, 0x07, 0x0C, 0x0E, 0x0D, 0x00};
  const FXuchar signature[2] = {0x55, 0xAA};
  for (unsigned seed = 1; seed <= 24; seed++) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    if (seed <= 8) {
      std::string bytes(1 << 20, '\0');
      for (char& c : bytes) c = (char)(random() & 0xFF);
      makeImage(image, 0);
      patchFile(image, 0, bytes.data(), bytes.size());
      exercise(image, "1/16/63", counting);
      for (FXulong s = 0; s < bytes.size() / 512; s += 64) patchFile(image, s * 512 + 510, signature, 2);
    } else {
      const FXuint sectors = 8192;
      makeImage(image, (FXulong)sectors * 512);
      for (int table = 0; table < 12; table++) {
        FXulong at = table == 0 ? 0 : random() % sectors;
        for (int slot = 0; slot < 4; slot++)
          putEntry(image, at, slot, types[random() % sizeof(types)], random() % sectors, random() % sectors);
      }
    }
    exercise(image, "1/16/63", counting);
  }
}

TEST_F(Hostile, ImagesShorterThanABootRecord) {
  FXuchar fat[512] = {0};  // a floppy's FAT12 boot sector
  fat[0x0C] = 2, fat[0x0D] = 1, fat[0x0E] = 1, fat[0x10] = 2, fat[0x11] = 224;
  fat[0x13] = 0x40, fat[0x14] = 0x0B, fat[0x15] = 0xF0, fat[0x16] = 9, fat[510] = 0x55, fat[511] = 0xAA;
  for (size_t size : {1, 511, 512, 1000, 2047}) {
    SCOPED_TRACE("image of " + std::to_string(size) + " bytes");
    makeImage(image, size);
    exercise(image, "1/16/63", counting);
    if (size < 512) continue;
    putEntry(image, 0, 0, 0x05, 0, 5);
    exercise(image, "1/16/63", counting);
    patchFile(image, 0, fat, sizeof(fat));
    EXPECT_EQ(exercise(image, "1/16/63", counting).partitions, 1u) << "a whole-disk FAT volume cut short";
  }
  makeImage(image, 0);
  EXPECT_EQ(exercise(image, "1/16/63", counting).disks, 0u) << "an empty image is no disk";
}

TEST_F(Hostile, UnreadableSectors) {
  const FXulong sectors = 40960;
  makeImage(image, sectors * 512);
  ASSERT_TRUE(mkfsAt(image, 4096, 8192, "mkfs.vfat -F 12 --mbr=n"));
  ASSERT_TRUE(mkfsAt(image, 20480, 16384, "mkntfs -F -Q -q"));

  // Between the two boot records: the search reopens the disk and goes on.
  counting.badSectors = {10000, 10001, 15000};
  auto a = analyseImage(image, "2/255/63");
  RecordingProgress bar((FXuint)sectors);
  std::vector<FXulong> found = a->Search(&bar, nullptr, 0, false, 0, sectors - 1, 1);
  for (FXulong s : {4096u, 20480u}) EXPECT_NE(std::find(found.begin(), found.end(), s), found.end()) << s;
  exercise(image, "2/255/63", counting);

  // Sector 0 cannot be read: no table, and no search either.
  counting.badSectors = {0};
  auto blind = analyseImage(image, "2/255/63");
  ASSERT_EQ(blind->disks.size(), 1u);
  EXPECT_TRUE(blind->disks[0].partitions.empty());
  RecordingProgress stopped((FXuint)sectors);
  EXPECT_TRUE(blind->Search(&stopped, nullptr, 0, false, 0, sectors - 1, 1).empty());
}

}  // namespace
