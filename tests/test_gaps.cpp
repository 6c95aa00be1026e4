// Free space around and inside the partitions, checked against sfdisk's own
// free-space listing, and the test whether a found partition collides.
#include <gtest/gtest.h>

#include "IOSystem.h"
#include "ReadContext.h"
#include "support/CountingDisk.h"
#include "support/Engine.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

const unsigned long long DISK = 204800;  // 100 MiB
const char* GEOMETRY = "12/255/63";

struct Stretch {
  FXulong start, end;  // [start, end)
};

std::vector<Stretch> gapsOf(const NRD& d) {
  std::vector<Stretch> s;
  for (const Gap& g : d.gaps) s.push_back({g.distance, g.distance + g.size});
  return s;
}

// Every gap lies on the disk and the list ascends.
void expectSane(const NRD& d) {
  FXulong previous = 0;
  for (const Gap& g : d.gaps) {
    EXPECT_LE(g.distance, d.sectors);
    EXPECT_LE(g.size, d.sectors - g.distance) << "gap at " << g.distance;
    EXPECT_GE(g.distance, previous);
    previous = g.distance;
  }
}

// sfdisk lists the room for a new partition: from the first MiB on, at MiB
// boundaries, and inside the extended partition one MiB after the free
// space begins, where the new partition's own table goes.  Our gaps are the
// unallocated sectors, first tracks and table sectors included.  So each of
// our stretches (merged where they touch, within or outside the extended
// partition) appears in sfdisk's list moved to that boundary.
std::vector<Stretch> asSfdiskSeesIt(const NRD& d, FXulong E, FXulong X) {
  const FXulong MiB = 2048;
  std::vector<Stretch> merged;
  for (const Stretch& s : gapsOf(d)) {
    if (s.start == s.end) continue;
    bool inside = s.start >= E && s.start < X;
    if (!merged.empty() && merged.back().end == s.start &&
        (merged.back().start >= E && merged.back().start < X) == inside)
      merged.back().end = s.end;
    else
      merged.push_back(s);
  }
  std::vector<Stretch> moved;
  for (Stretch s : merged) {
    bool inside = s.start >= E && s.start < X;
    s.start = std::max(MiB, (s.start + (inside ? MiB : 0) + MiB - 1) / MiB * MiB);
    if (s.start < s.end) moved.push_back(s);
  }
  return moved;
}

struct Layout {
  const char* name;
  const char* script;
};

class SfdiskFreeSpace : public ::testing::TestWithParam<Layout> {};

TEST_P(SfdiskFreeSpace, GapsAgreeWithSfdisk) {
  TempDir dir;
  std::string image = dir.path("disk.img");
  makeImage(image, DISK * 512);
  ASSERT_TRUE(sfdisk(image, GetParam().script));
  auto analyser = analyseImage(image, GEOMETRY);
  const NRD& d = analyser->disks[0];
  expectSane(d);

  FXulong E = 0, X = 0;
  for (const Partition& p : d.partitions)
    if (p.l == 1 && p.isExtended()) E = p.start(), X = p.end();
  std::vector<Stretch> ours = asSfdiskSeesIt(d, E, X);
  std::vector<SfdiskFree> theirs = sfdiskFree(image);
  ASSERT_EQ(ours.size(), theirs.size());
  for (size_t i = 0; i < ours.size(); i++) {
    SCOPED_TRACE("free stretch " + std::to_string(i));
    EXPECT_EQ(ours[i].start, theirs[i].start);
    // sfdisk prints the last free sector, or, before a logical partition,
    // that partition's first sector.
    EXPECT_TRUE(ours[i].end == theirs[i].end + 1 || ours[i].end == theirs[i].end)
        << ours[i].end << " vs " << theirs[i].end;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, SfdiskFreeSpace,
    ::testing::Values(
        Layout{"ChainWithGapsBetweenLogicals", TWO_PRIMARIES_AROUND_A_CHAIN},
        Layout{"FreeSpaceAtTheStartOfTheExtendedPartition",
               "label: dos\n"
               "1: start=2048, size=20480, type=c\n"
               "2: start=32768, size=131072, type=5\n"
               "5: start=61440, size=20480, type=83\n"
               "6: start=102400, size=10240, type=7\n"},
        Layout{"CylinderAlignedOneTrackIn",
               "label: dos\n"
               "1: start=63, size=20097, type=c\n"
               "2: start=20160, size=100800, type=5\n"
               "5: start=20223, size=20097, type=83\n"
               "6: start=40383, size=10017, type=7\n"}),
    [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

class Gaps : public ::testing::Test {
protected:
  void SetUp() override { analyser = analyserWithoutDisks(); }

  // A disk of `sectors` sectors whose MBR holds the given entries.
  NRD& disk(FXulong sectors, std::vector<std::pair<FXuint, FXuint>> entries) {
    NRD d = diskRecord(dir.path("none.img"), "test disk", sectors);
    for (auto& e : entries)
      d.partitions.push_back(partitionRecord(0x83, 1, 0, e.first, e.second, (FXint)d.partitions.size()));
    analyser->disks.push_back(d);
    analyser->FindGaps((FXint)analyser->disks.size() - 1);
    return analyser->disks.back();
  }
  static std::vector<std::tuple<FXulong, FXulong, FXint>> listed(const NRD& d) {
    std::vector<std::tuple<FXulong, FXulong, FXint>> l;
    for (const Gap& g : d.gaps) l.emplace_back(g.distance, g.size, g.behind);
    return l;
  }
  using Gs = std::vector<std::tuple<FXulong, FXulong, FXint>>;

  TempDir dir;
  std::unique_ptr<Analyse> analyser;
};

TEST_F(Gaps, MasterBootRecordLevel) {
  EXPECT_EQ(listed(disk(2000, {})), (Gs{{0, 2000, -1}}));
  // The first track before a partition at sector 63 is not free.
  EXPECT_EQ(listed(disk(2000, {{63, 1000}})), (Gs{{1063, 937, 0}}));
  // Adjacent partitions leave a gap of no sectors between them.
  EXPECT_EQ(listed(disk(2000, {{63, 937}, {1000, 500}})), (Gs{{1000, 0, 1}, {1500, 500, 1}}));
  // Slots out of disk order: gaps follow the disk; `behind` names the last
  // listed partition that starts at or before the gap.
  EXPECT_EQ(listed(disk(5000, {{3000, 1000}, {63, 937}})),
            (Gs{{1000, 2000, 1}, {4000, 1000, 1}}));
}

TEST_F(Gaps, OverlappingEntriesAndEntriesPastTheEndGiveNoWrappedGaps) {
  const NRD& d = disk(10000, {{2048, 3000}, {4000, 2000}, {8000, 5000}, {20000, 100}});
  expectSane(d);
  EXPECT_EQ(listed(d), (Gs{{0, 2048, -1}, {6000, 2000, 1}}));

  const NRD& huge = disk(10000, {{0xFFFFFF00u, 0x200}, {100, 0xFFFFFFFFu}});
  expectSane(huge);
}

TEST_F(Gaps, InsideTheExtendedPartition) {
  std::string image = dir.path("chain.img");
  makeImage(image, 20000 * 512);
  putEntry(image, 0, 0, 0x05, 10000, 5000);
  putEntry(image, 10000, 0, 0x83, 63, 1000);
  EXPECT_EQ(listed(analyseImage(image, "1/255/63")->disks[0]), (Gs{{0, 10000, -1}, {11063, 3937, 1}, {15000, 5000, 1}}));

  // A table that links from slot 0: the space up to the block it points to
  // is free, and that block is read as the next table.
  putEntry(image, 10000, 0, 0x05, 2000, 3000);
  putEntry(image, 12000, 0, 0x83, 63, 1000);
  EXPECT_EQ(listed(analyseImage(image, "1/255/63")->disks[0]),
            (Gs{{0, 10000, -1}, {10000, 2000, 0}, {13063, 1937, 2}, {15000, 5000, 2}}));
}

TEST_F(Gaps, LoopingOrUnreadableChainEnds) {
  std::string image = dir.path("loop.img");
  makeImage(image, 100000 * 512);
  putEntry(image, 0, 0, 0x05, 10000, 50000);
  putEntry(image, 10000, 0, 0x83, 2048, 1000);
  putEntry(image, 10000, 1, 0x05, 20000, 5000);
  putEntry(image, 30000, 0, 0x83, 2048, 1000);
  putEntry(image, 30000, 1, 0x05, 0, 5000);  // back to the first table
  CountingDisk counting;
  EXPECT_EQ(analyseImage(image, "6/255/63")->disks[0].gaps.size(), 6u) << "each table's free space once";
  EXPECT_LT(counting.reads, 100u);

  // An unreadable second table ends the chain: what lies behind the first
  // logical partition is free, as the reader sees it.
  counting.badSectors.insert(30000);
  auto cut = analyseImage(image, "6/255/63");
  EXPECT_EQ(cut->disks[0].partitions.size(), 3u);
  EXPECT_EQ(listed(cut->disks[0]),
            (Gs{{0, 10000, -1}, {10000, 2048, 0}, {13048, 16952, 1}, {30000, 30000, 2},
                {60000, 40000, 2}}));
}

TEST_F(Gaps, GapsBehindAPartition) {
  std::string image = dir.path("disk.img");
  makeImage(image, DISK * 512);
  ASSERT_TRUE(sfdisk(image, "label: dos\n1: start=2048, size=20480, type=83\n"
                            "2: start=30720, size=20480, type=7\n3: start=60000, size=10000, type=83\n"));
  auto a = analyseImage(image, GEOMETRY);
  // Gaps start at 0 (behind -1), 22528 (behind 0), 51200 (1) and 70000 (2).
  auto starts = [](const std::list<Gap>& l) {
    std::vector<FXulong> s;
    for (const Gap& g : l) s.push_back(g.distance);
    return s;
  };
  EXPECT_EQ(starts(a->GetGap(0, 0)), (std::vector<FXulong>{22528}));
  // A negative disk asks for the next gap behind a later partition as well.
  EXPECT_EQ(starts(a->GetGap(-1, 0)), (std::vector<FXulong>{22528, 51200}));
  EXPECT_TRUE(a->GetGap(0, 5).empty());
}

class Overlaps : public ::testing::Test {
protected:
  void SetUp() override {
    image = dir.path("disk.img");
    makeImage(image, DISK * 512);
  }
  TempDir dir;
  std::string image;
};

// One rule: a candidate collides with a partition it shares a sector with.
// The extended partition blocks only what does not lie wholly inside it,
// behind its first table; inside, its logical partitions count.
TEST_F(Overlaps, ACandidateSharingASectorWithAPartitionCollides) {
  ASSERT_TRUE(sfdisk(image, "label: dos\n1: start=2048, size=20480, type=c\n2: start=32768, size=131072, type=5\n"
                            "5: start=34816, size=20480, type=83\n6: start=79872, size=10240, type=7\n"));
  auto a = analyseImage(image, GEOMETRY);
  const struct {
    FXulong start;
    FXuint sectors;
    bool collides;
    const char* where;
  } cases[] = {
      {1000, 2000, true, "ends inside the primary"},
      {20000, 5000, true, "starts inside the primary"},
      {1000, 30000, true, "encloses the primary"},
      {1000, 1048, false, "ends right in front of the primary"},
      {22528, 10240, false, "between the primary and the extended partition"},
      {22528, 10241, true, "crosses into the extended partition"},
      {32768, 100, true, "on the extended partition's first table"},
      {55296, 10000, false, "between two logical partitions"},
      {60000, 20000, true, "ends inside a logical partition"},
      {55296, 40000, true, "encloses a logical partition"},
      {160000, 5000, true, "crosses the extended partition's end"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(a->OverlapsExisting(0, SectorRange::sized(c.start, c.sectors)), c.collides) << c.where;
}

// An extended partition whose first sector also reads as a file system: its
// chain is walked to see whether the candidate lies in free space.
TEST_F(Overlaps, ChainWalkEndsOnLoopsAndUnreadableTables) {
  std::string ext2 = dir.path("ext2.img");
  makeImage(ext2, 8 << 20);
  ASSERT_EQ(sh("mke2fs -q -F -t ext2 '" + ext2 + "'"), 0);
  std::string superblock = readFile(ext2).substr(1024, 1024);
  patchFile(image, 10000 * 512 + 1024, superblock.data(), superblock.size());
  putEntry(image, 0, 0, 0x05, 10000, 50000);
  putEntry(image, 10000, 0, 0x83, 2048, 1000);
  putEntry(image, 10000, 1, 0x05, 0, 1000);  // links to itself
  CountingDisk counting;
  auto a = analyseImage(image, GEOMETRY);
  {
    ReadContext context(image.c_str(), DISK);
    ASSERT_TRUE(context.isOpen());
    ASSERT_TRUE(a->CheckOne(context.reader(), 10000, nullptr)) << "the extended partition's first sector looks like ext2";
  }

  EXPECT_FALSE(a->OverlapsExisting(0, SectorRange::sized(10100, 100)));  // before the logical partition
  unsigned before = counting.reads;
  EXPECT_TRUE(a->OverlapsExisting(0, SectorRange::sized(13100, 100)));   // the chain never ends
  EXPECT_LT(counting.reads - before, 50u);

  putEntry(image, 10000, 1, 0x05, 30000, 1000);  // the next table lies at 40000
  EXPECT_FALSE(a->OverlapsExisting(0, SectorRange::sized(13100, 100)));  // between logical and next table
  counting.badSectors.insert(40000);
  EXPECT_TRUE(a->OverlapsExisting(0, SectorRange::sized(45000, 100)));   // unknown: blocked
}

}  // namespace
