// The two table drivers asked directly, on tables made by sgdisk and sfdisk:
// the free space a GPT leaves, which found volumes collide with its
// entries, where each table lets the undo log live, and which disks carry a
// GPT at all.  (The MBR driver's gaps and collisions are checked against
// sfdisk in test_gaps, through the analyser that asks it.)
#include <gtest/gtest.h>

#include <sstream>

#include "support/Engine.h"
#include "support/LostDisk.h"
#include "support/TestImages.h"
#include "table/PartitionTable.h"

using namespace kvtest;

namespace {

const unsigned long long SECTORS = 131072;  // 64 MiB
const char* const GEOMETRY = "8/255/63";
const unsigned long long LAST_USABLE = SECTORS - 34;  // behind it the backup array and header

// Three partitions with free space between them and behind the last.
const char* const THREE_PARTITIONS = "-n 1:2048:10239 -n 2:20480:40959 -n 3:61440:81919";

PartitionTable& gptDriver() { return PartitionTable::Of(TableKind::GPT); }
PartitionTable& mbrDriver() { return PartitionTable::Of(TableKind::MBR); }

bool makeGpt(const std::string& image, const std::string& options) {
  makeImage(image, SECTORS * 512);
  return sh("sgdisk " + options + " " + quote(image) + " >/dev/null") == 0;
}

void zeroSectors(const std::string& image, unsigned long long first, unsigned long long count) {
  std::string zeros(count * 512, '\0');
  patchFile(image, first * 512, zeros.data(), zeros.size());
}

// The unused stretches [first, end) of the usable sectors, as `sgdisk -p`
// lists the table: its first and last usable sector and each partition's
// first and last sector.
std::vector<SectorRange> sgdiskFree(const std::string& image) {
  std::string out, line;
  sh("sgdisk -p " + quote(image), &out);
  unsigned long long next = 0, lastUsable = 0;
  size_t at = out.find("First usable sector is ");
  if (at != std::string::npos)
    sscanf(out.c_str() + at, "First usable sector is %llu, last usable sector is %llu", &next,
           &lastUsable);
  std::vector<SectorRange> free;
  std::istringstream lines(out.substr(out.find("Number")));
  std::getline(lines, line);
  unsigned number;
  unsigned long long first, last;
  while (std::getline(lines, line) && sscanf(line.c_str(), "%u %llu %llu", &number, &first, &last) == 3) {
    if (first > next) free.push_back(SectorRange(next, first));
    next = last + 1;
  }
  if (next <= lastUsable) free.push_back(SectorRange(next, lastUsable + 1));
  return free;
}

std::vector<SectorRange> driverGaps(const PartitionTable& driver, NRD disk) {
  disk.gaps.clear();
  driver.FindGaps(disk);
  std::vector<SectorRange> gaps;
  for (const Gap& g : disk.gaps) gaps.push_back(SectorRange::sized(g.distance, g.size));
  return gaps;
}

std::string text(const std::vector<SectorRange>& ranges) {
  std::string t;
  for (const SectorRange& r : ranges) t += std::to_string(r.first) + ".." + std::to_string(r.end) + " ";
  return t;
}

class TableDrivers : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* tool : {"sgdisk", "sfdisk"})
      if (!haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  TempDir dir;
  std::string image = dir.path("disk.img");
};

}  // namespace

// The GPT driver's gaps are the stretches sgdisk lists as free: in front of
// the first partition, between the partitions and up to the last usable
// sector, whatever the entry array's size.
TEST_F(TableDrivers, GptGapsAreTheFreeSpaceSgdiskLists) {
  for (const char* table : {"", "--resize-table=256"}) {
    SCOPED_TRACE(table);
    ASSERT_TRUE(makeGpt(image, std::string(table) + " " + THREE_PARTITIONS));
    auto analyser = analyseImage(image, GEOMETRY);
    const NRD& d = analyser->disks[0];
    ASSERT_EQ(&PartitionTable::Of(d), &gptDriver());
    std::vector<SectorRange> theirs = sgdiskFree(image);
    ASSERT_EQ(theirs.size(), 4u) << text(theirs);
    EXPECT_EQ(text(driverGaps(gptDriver(), d)), text(theirs));
  }
}

// A found volume goes into a GPT only inside its usable sectors and clear
// of every entry; a GPT that cannot be used takes none.
TEST_F(TableDrivers, GptBlocksWhatLeavesTheUsableSectorsOrMeetsAnEntry) {
  ASSERT_TRUE(makeGpt(image, THREE_PARTITIONS));
  auto analyser = analyseImage(image, GEOMETRY);
  const NRD& d = analyser->disks[0];
  const struct {
    FXulong start, sectors;
    bool blocked;
    const char* where;
  } cases[] = {
      {2048, 8192, true, "the first partition itself"},
      {1000, 20000, true, "encloses the first partition"},
      {12000, 4000, false, "in the gap between two partitions"},
      {10240, 10240, false, "fills that gap exactly"},
      {10240, 10241, true, "one sector into the next partition"},
      {40959, 100, true, "starts on a partition's last sector"},
      {34, 2014, false, "the gap in front of the first partition"},
      {33, 2015, true, "starts on the entry array"},
      {100000, LAST_USABLE + 1 - 100000, false, "up to the last usable sector"},
      {100000, LAST_USABLE + 2 - 100000, true, "one past the last usable sector"},
      {SECTORS - 1, 1, true, "on the backup header"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(gptDriver().Blocks(d, SectorRange::sized(c.start, c.sectors)), c.blocked) << c.where;

  NRD broken = d;
  broken.gptTable.reset();
  EXPECT_FALSE(gptDriver().Usable(broken));
  EXPECT_TRUE(gptDriver().Blocks(broken, SectorRange::sized(12000, 4000))) << "an unusable GPT takes nothing";
}

// The undo log lives behind a GPT's primary entry array and below its first
// partition, at most up to sector 2048; beside an MBR in the first track,
// sectors 1 up to the track's end.  The protective entry, which covers the
// whole disk from sector 1, does not keep the log out of its sectors; an
// MBR's partitions do.
TEST_F(TableDrivers, TheUndoAreaOfEachTable) {
  const struct {
    const char* what;
    const char* sgdisk;  // null: an MBR made by sfdisk
    const char* geometry;
    FXulong first, end;
  } cases[] = {
      {"a GPT whose first partition starts at 2048", "-n 1:2048:10239", GEOMETRY, 34, 2048},
      {"a GPT whose first partition starts at 1024", "-a 8 -n 1:1024:10239", GEOMETRY, 34, 1024},
      {"a GPT whose first partition starts at 4096", "-n 1:4096:10239", GEOMETRY, 34, 2048},
      {"a GPT with a 256-entry array", "--resize-table=256 -n 1:2048:10239", GEOMETRY, 66, 2048},
      {"a GPT whose entry array lies at sector 100", "-j 100 -n 1:2048:10239", GEOMETRY, 132, 2048},
      {"an MBR with 63 sectors a track", nullptr, GEOMETRY, 1, 63},
      {"an MBR with 32 sectors a track", nullptr, "64/64/32", 1, 32},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.sgdisk) {
      ASSERT_TRUE(makeGpt(image, c.sgdisk));
    } else {
      makeImage(image, SECTORS * 512);
      ASSERT_TRUE(sfdisk(image, "label: dos\n1: start=2048, size=8192, type=83\n"));
    }
    auto analyser = analyseImage(image, c.geometry);
    const NRD& d = analyser->disks[0];
    const PartitionTable& driver = PartitionTable::Of(d);
    EXPECT_EQ(driver.kind(), c.sgdisk ? TableKind::GPT : TableKind::MBR);
    EXPECT_EQ(driver.UndoAreaFirst(d), c.first);
    EXPECT_EQ(driver.UndoAreaEnd(d), c.end);
    for (const Partition& p : d.partitions)
      EXPECT_EQ(driver.BoundsUndoArea(p), !c.sgdisk) << "entry of type " << (int)p.entry.type;
  }
  // An MBR partition of the GPT's protective type is an MBR partition.
  EXPECT_TRUE(mbrDriver().BoundsUndoArea(partitionRecord(0xEE, 1, 0, 32, 1000, 0)));
}

// A disk carries a GPT when any one of its three marks is left: the
// protective entry, the primary header or the backup header.  With only the
// backup header the table is read from it; with only the protective entry
// there is no table to read, and the disk offers nothing.
TEST_F(TableDrivers, AGptIsFoundByAnyOneOfItsMarks) {
  const struct {
    const char* what;
    std::vector<std::pair<unsigned long long, unsigned long long>> zeroed;  // first, count
    bool carries, usable;
  } cases[] = {
      {"intact", {}, true, true},
      {"only the backup header and array", {{0, 34}}, true, true},
      {"only the primary header and array", {{0, 1}, {SECTORS - 33, 33}}, true, true},
      {"only the protective entry", {{1, 1}, {SECTORS - 1, 1}}, true, false},
      {"none of them", {{0, 2}, {SECTORS - 1, 1}}, false, true},
  };
  std::string made = dir.path("made.img");
  ASSERT_TRUE(makeGpt(made, THREE_PARTITIONS));
  std::vector<SectorRange> free = sgdiskFree(made);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(0, sh("cp --sparse=always " + quote(made) + " " + quote(image)));
    for (const auto& z : c.zeroed) zeroSectors(image, z.first, z.second);
    auto analyser = analyseImage(image, GEOMETRY);
    const NRD& d = analyser->disks[0];
    EXPECT_EQ(gptDriver().Carries(d), c.carries);
    const PartitionTable& driver = PartitionTable::Of(d);
    EXPECT_EQ(driver.kind(), c.carries ? TableKind::GPT : TableKind::MBR);
    EXPECT_EQ(driver.Usable(d), c.usable);
    if (!c.carries) continue;
    EXPECT_EQ(text(driverGaps(driver, d)), c.usable ? text(free) : "");
  }
  EXPECT_TRUE(mbrDriver().Carries(analyseImage(image, GEOMETRY)->disks[0])) << "every disk has an MBR";
}
