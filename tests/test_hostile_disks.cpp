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
#include "support/DiskLayouts.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

struct Outcome {
  size_t disks = 0, partitions = 0, gaps = 0, found = 0, candidates = 0;
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
    o.gaps = d.gaps.size();
    for (const Gap& g : d.gaps) {
      EXPECT_LE(g.distance + g.size, d.sectors) << "gap " << g.distance << "+" << g.size;
      for (bool quick : {false, true}) {
        FXulong total = quick ? g.size / (d.qoffset ? d.qoffset : 1) + 1 : g.size;
        RecordingProgress bar((FXuint)total);
        std::vector<FXulong> found = a->Search(&bar, nullptr, 0, quick, g.distance, g.distance + g.size - 1, 2);
        o.found += found.size();
        for (FXulong s : found) {
          EXPECT_LT(s, d.sectors);
          for (const Partition& p : a->GetValidPartitions(0, s)) {
            EXPECT_LE(p.end(), d.sectors);
            o.candidates++;
          }
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

TEST_F(Hostile, LoopingChains) {
  makeImage(image, 4 << 20);
  putEntry(image, 0, 0, 0x83, 63, 1000);
  putEntry(image, 0, 1, 0x0F, 2000, 6000);
  // A table that links to itself, one that links back to the first, and one
  // whose logical partition is itself extended.
  putEntry(image, 2000, 0, 0x83, 63, 500);
  putEntry(image, 2000, 1, 0x05, 1000, 500);
  putEntry(image, 3000, 0, 0x85, 0, 400);
  putEntry(image, 3000, 1, 0x05, 0, 500);
  Outcome o = exercise(image, "1/255/63", counting);
  EXPECT_EQ(o.disks, 1u);
  EXPECT_LE(o.partitions, 2u + 15 * 2);
  EXPECT_LT(o.reads, 2000u);

  // (A table that links to itself is read 15 deep: see test_tables.)
  // A table whose four slots all link back to it: followed depth-first, each
  // level would multiply the tables to read by four.
  for (int slot = 0; slot < 4; slot++) putEntry(image, 2000, slot, 0x05, 0, 500);
  o = exercise(image, "1/255/63", counting);
  EXPECT_LE(o.partitions, 2u + 15 * 4);
  EXPECT_LT(o.reads, 2000u);
}

TEST_F(Hostile, EntriesThatOverlapOrRunPastTheEnd) {
  const FXuint sectors = 204800;
  makeImage(image, (FXulong)sectors * 512);
  putEntry(image, 0, 0, 0x83, 2048, 50000);
  putEntry(image, 0, 1, 0x07, 30000, 50000);              // overlaps the first
  putEntry(image, 0, 2, 0x0C, 150000, 200000);            // runs past the end
  putEntry(image, 0, 3, 0x0F, sectors + 1000, 0xFFFFFFF0); // starts past the end
  EXPECT_EQ(exercise(image, "12/255/63", counting).partitions, 4u);

  // An extended partition that reaches past the end, with a chain whose
  // tables point outside the disk.
  makeImage(image, (FXulong)sectors * 512);
  putEntry(image, 0, 0, 0x05, 100000, 0xFFFFFFFF);
  putEntry(image, 100000, 0, 0x83, 63, 0xFFFFFF00);
  putEntry(image, 100000, 1, 0x05, 0xFFFFFFF0, 1000);
  exercise(image, "12/255/63", counting);
}

TEST_F(Hostile, RandomBytes) {
  for (unsigned seed = 1; seed <= 12; seed++) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::string bytes(1 << 20, '\0');
    for (char& c : bytes) c = (char)(random() & 0xFF);
    makeImage(image, 0);
    patchFile(image, 0, bytes.data(), bytes.size());
    exercise(image, "1/16/63", counting);

    // The same noise, but every 64th sector a table: its entries, random as
    // they are, get followed.
    const FXuchar signature[2] = {0x55, 0xAA};
    for (FXulong s = 0; s < bytes.size() / 512; s += 64) patchFile(image, s * 512 + 510, signature, 2);
    exercise(image, "1/16/63", counting);
  }
}

TEST_F(Hostile, RandomTablesWithEntriesOnTheDisk) {
  const FXuint sectors = 8192;
  const FXuchar types[] = {0x05, 0x0F, 0x85, 0x83, 0x07, 0x0C, 0x0E, 0x0D, 0x00};
  for (unsigned seed = 1; seed <= 40; seed++) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    makeImage(image, (FXulong)sectors * 512);
    for (int table = 0; table < 12; table++) {
      FXulong at = table == 0 ? 0 : random() % sectors;
      for (int slot = 0; slot < 4; slot++)
        putEntry(image, at, slot, types[random() % sizeof(types)], random() % sectors, random() % sectors);
    }
    exercise(image, "1/16/63", counting);
  }
}

TEST_F(Hostile, ImagesShorterThanABootRecord) {
  for (size_t size : {1, 100, 511, 512, 1000, 1536, 2047}) {
    SCOPED_TRACE("image of " + std::to_string(size) + " bytes");
    makeImage(image, size);
    exercise(image, "1/16/63", counting);
    // The same with a table and a FAT boot sector cut short.
    if (size >= 512) {
      putEntry(image, 0, 0, 0x05, 0, 5);
      exercise(image, "1/16/63", counting);
      FXuchar fat[512] = {0};
      fat[0x0C] = 2, fat[0x0D] = 1, fat[0x0E] = 1, fat[0x10] = 2, fat[0x11] = 224;
      fat[0x13] = 0x40, fat[0x14] = 0x0B, fat[0x15] = 0xF0, fat[0x16] = 9, fat[510] = 0x55, fat[511] = 0xAA;
      patchFile(image, 0, fat, sizeof(fat));
      Outcome o = exercise(image, "1/16/63", counting);
      EXPECT_EQ(o.partitions, 1u) << "a whole-disk FAT volume";
    }
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
  EXPECT_TRUE(bar.sets.empty());
  exercise(image, "2/255/63", counting);

  // Sector 0 cannot be read: no table, and no search either.
  counting.badSectors = {0};
  auto blind = analyseImage(image, "2/255/63");
  ASSERT_EQ(blind->disks.size(), 1u);
  EXPECT_TRUE(blind->disks[0].partitions.empty());
  RecordingProgress stopped((FXuint)sectors);
  EXPECT_TRUE(blind->Search(&stopped, nullptr, 0, false, 0, sectors - 1, 1).empty());
  EXPECT_EQ(stopped.sets, std::vector<FXulong>{100});
}

}  // namespace
