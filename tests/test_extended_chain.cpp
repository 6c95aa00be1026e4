// Hostile extended chains (looping, linking to itself, linking from all four
// slots, too long, linked with types 0x0F and 0x85) on blank images: the
// table reader, the gap finder and the writer each meet the same tables in
// the same order, each table once, and the writer adds only to a chain that
// ends in a table without a link.
#include <gtest/gtest.h>

#include <algorithm>

#include "IOSystem.h"
#include "Recover.h"
#include "support/CountingDisk.h"
#include "support/Engine.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

const FXulong DISK = 100000;
const char* GEOMETRY = "6/255/63";
const FXulong E = 10000, X = 60000;  // the extended partition the MBR lists
const FXuint LOGICAL_DIST = 2048, LOGICAL_SIZE = 100;

struct Link {
  FXuchar type;
  FXulong to;  // the table it leads to
};
struct Table {
  FXulong at;
  bool logical;  // slot 0 holds a logical partition; the links follow it
  std::vector<Link> links;
};
struct Case {
  const char* name;
  FXuchar extendedType;  // of the MBR's entry
  std::vector<Table> tables;
  std::vector<FXulong> met;  // the tables every part meets, in order
  bool ends;                 // the chain ends in a table without a link
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// Tables at 10000, 12500, ..., each linking to the next.
Case longChain(int tables) {
  Case c{"longer than fifteen tables", 0x05, {}, {}, false};
  for (int i = 0; i < tables; i++) {
    FXulong at = E + 2500 * (FXulong)i;
    c.tables.push_back({at, true, {}});
    if (i + 1 < tables) c.tables.back().links.push_back({0x05, at + 2500});
    if (i < 15) c.met.push_back(at);
  }
  return c;
}

const Case CASES[] = {
    {"links of type 0x0F and 0x85", 0x0F,
     {{10000, true, {{0x0F, 20000}}}, {20000, true, {{0x85, 30000}}}, {30000, true, {}}},
     {10000, 20000, 30000}, true},
    {"looping back to the first table", 0x05,
     {{10000, true, {{0x05, 20000}}}, {20000, true, {{0x05, 10000}}}}, {10000, 20000}, false},
    {"linking to itself", 0x05,
     {{10000, true, {{0x05, 20000}}}, {20000, true, {{0x05, 20000}}}}, {10000, 20000}, false},
    {"four links to itself", 0x85,
     {{10000, true, {{0x05, 20000}}},
      {20000, false, {{0x05, 20000}, {0x05, 20000}, {0x0F, 20000}, {0x85, 20000}}}},
     {10000, 20000}, false},
    longChain(17),
};

class Chain : public ::testing::TestWithParam<Case> {
protected:
  void SetUp() override {
    image = dir.path("chain.img");
    makeImage(image, DISK * 512);
    putEntry(image, 0, 0, GetParam().extendedType, (unsigned)E, (unsigned)(X - E));
    for (const Table& t : GetParam().tables) {
      int slot = 0;
      if (t.logical) putEntry(image, t.at, slot++, 0x83, LOGICAL_DIST, LOGICAL_SIZE);
      for (const Link& l : t.links) putEntry(image, t.at, slot++, l.type, (unsigned)(l.to - E), 5000);
    }
    analyser = analyseImage(image, GEOMETRY);
    ASSERT_EQ(analyser->disks.size(), 1u);
    mbr = readSector(image, 0);
  }
  // The sectors of the extended partition read since the last call.
  std::vector<FXulong> tablesRead() {
    std::vector<FXulong> sectors;
    for (FXulong offset : counting.readOffsets)
      if (offset >= E * 512 && offset < X * 512) sectors.push_back(offset / 512);
    counting.readOffsets.clear();
    return sectors;
  }
  // The walked tables that hold a logical partition.
  std::vector<FXulong> withLogical() {
    std::vector<FXulong> sectors;
    for (FXulong at : GetParam().met)
      for (const Table& t : GetParam().tables)
        if (t.at == at && t.logical) sectors.push_back(at);
    return sectors;
  }
  FXString device() { return FXString(image.c_str()); }

  FreshIOSystem io;
  TempDir dir;
  std::string image, mbr;
  CountingDisk counting;
  std::unique_ptr<Analyse> analyser;
};

TEST_P(Chain, ReaderGapFinderAndWriterMeetTheSameTables) {
  const Case& c = GetParam();
  const std::vector<FXulong> logicals = withLogical();

  // The reader lists each table's entries once.
  counting.readOffsets.clear();
  std::vector<Partition> parts;
  bool wholeDisk = true;
  ASSERT_TRUE(analyser->GetPartitions((const FXuchar*)mbr.data(), device(), parts, wholeDisk));
  EXPECT_EQ(tablesRead(), c.met) << "reader";
  std::vector<FXulong> bases;
  FXint deepest = 0;
  for (const Partition& p : parts) {
    if (!p.isExtended()) bases.push_back(p.base);
    deepest = std::max(deepest, p.l);
  }
  EXPECT_EQ(bases, logicals);
  EXPECT_EQ(deepest, (FXint)c.met.size() + 1) << "one level per table";

  // The gap finder sees the free space in front of each of those tables'
  // logical partitions.
  NRD& d = analyser->disks[0];
  d.gaps.clear();
  analyser->FindGaps(0);
  EXPECT_EQ(tablesRead(), c.met) << "gap finder";
  std::vector<FXulong> inFront;
  for (const Gap& g : d.gaps)
    if (g.size == LOGICAL_DIST) inFront.push_back(g.distance);
  EXPECT_EQ(inFront, logicals);

  // The writer puts a partition behind the chain's last table, or leaves a
  // chain that does not end alone and says so.
  counting.writes = 0;
  std::vector<Recover::NewPart> part = {{PartitionEntry(), 55000, false}};
  part[0].entry.type = 0x83;
  part[0].entry.dist = 55000;
  part[0].entry.num = 1000;
  Recover writer;
  bool placed = writer.RecoverOne(device(), (FXuchar*)&mbr[0], part, false, 255, 63);
  EXPECT_EQ(tablesRead(), c.met) << "writer";
  ASSERT_EQ(writer.results.size(), 1u);
  EXPECT_EQ(placed, c.ends);
  if (c.ends) {
    EXPECT_TRUE(writer.results[0].done());
    std::vector<SfdiskPartition> table = sfdiskDump(image);
    ASSERT_FALSE(table.empty());
    EXPECT_EQ(table.back().start, 55000u);
  } else {
    EXPECT_STREQ(writer.results[0].reason.key, "Recover.DoRecover.007");
    EXPECT_EQ(counting.writes, 0u) << "nothing written";
  }
}

INSTANTIATE_TEST_SUITE_P(Hostile, Chain, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; p++)
                             if (isalnum((unsigned char)*p)) name += *p;
                           return name;
                         });

}  // namespace
