// The disk model: table entries on disk, geometry arithmetic, the stream form
// that the backup layout file relies on, and value semantics.
#include <gtest/gtest.h>

#include <algorithm>

#include "Records.h"

TEST(PartitionEntry, ReadsAndWritesLittleEndianAt446) {
  FXuchar sector[512] = {0};
  const FXuchar raw[16] = {0x80, 1, 2, 3, 0x07, 4, 5, 6, 0x3F, 0, 0, 0, 0x01, 0x02, 0x03, 0x04};
  memcpy(sector + 446 + 16, raw, 16);  // slot 1
  PartitionEntry e = PartitionEntry::fromTable(sector, 1);
  EXPECT_EQ(e.boot, 0x80);
  EXPECT_EQ(e.type, 0x07);
  EXPECT_EQ(e.dist, 63u);
  EXPECT_EQ(e.num, 0x04030201u);
  EXPECT_EQ(e.start_chs[2], 3);
  EXPECT_EQ(e.end_chs[0], 4);

  FXuchar copy[512] = {0};
  e.toTable(copy, 3);
  EXPECT_EQ(0, memcmp(copy + 446 + 48, raw, 16));
}

TEST(PartitionEntry, ExtendedTypes) {
  for (int t = 0; t < 256; t++)
    EXPECT_EQ(isExtendedType((FXuchar)t), t == 0x05 || t == 0x0F || t == 0x85) << t;
}

TEST(Partition, FreshRecordHasNoLetterAndBaseZero) {
  FXuchar raw[16] = {0, 0, 0, 0, 0x83, 0, 0, 0, 0x10, 0, 0, 0, 0x20, 0, 0, 0};
  Partition p(raw, 2, 5);
  EXPECT_EQ(p.letter, 0);
  EXPECT_EQ(p.base, 0u);
  EXPECT_EQ(p.l, 2);
  EXPECT_EQ(p.lognr, 5);
  p.base = 1000;
  EXPECT_EQ(p.start(), 1016u);
  EXPECT_EQ(p.end(), 1048u);
}

TEST(NRD, GeometryArithmetic) {
  NRD d("img", "model", CHS(62, 255, 63), CHS(62, 255, 63), 1000000);
  EXPECT_EQ(d.qoffset, 16065u);
  EXPECT_EQ(d.capacity, 512000000u);
  EXPECT_FALSE(d.bootSectorOnly);
  EXPECT_FALSE(d.dbActive);
  EXPECT_EQ(d.dbStartSec, 0u);

  // Capacities beyond 32 bits are not truncated.
  NRD big("big", "", CHS(), CHS(), 1ull << 40);
  EXPECT_EQ(big.capacity, 1ull << 49);
}

static void roundTrip(const NRD& in, NRD& out, FXuval* bytes = nullptr) {
  FXuchar buffer[4096];
  FXMemoryStream store;
  store.open(FXStreamSave, sizeof(buffer), buffer);
  store << in;
  if (bytes) *bytes = (FXuval)store.position();
  store.close();
  FXMemoryStream load;
  load.open(FXStreamLoad, sizeof(buffer), buffer);
  load >> out;
  load.close();
}

TEST(NRD, DefaultRecordStreamsAsTwoEmptyStringsAndElevenZeros) {
  NRD empty, back;
  back.device = "x";
  back.sectors = 7;
  FXuval bytes = 0;
  roundTrip(empty, back, &bytes);
  // Two empty strings (a 4-byte length each), five 8-byte and four 4-byte numbers.
  EXPECT_EQ(bytes, 4u + 4u + 5 * 8u + 4 * 4u);
  EXPECT_TRUE(back.device.empty());
  EXPECT_TRUE(back.model.empty());
  EXPECT_EQ(back.sectors, 0u);
  EXPECT_EQ(back.qoffset, 0u);
}

TEST(NRD, StreamFormKeepsGeometryButNotTablesOrUndoCursor) {
  NRD d("/dev/loop3", "Backup/disk", CHS(1000, 16, 63), CHS(500, 255, 63), 8032500);
  d.partitions.push_back(Partition(PartitionEntry{}, 1, 0));
  d.gaps.push_back(Gap(0, 63, -1));
  d.dbActive = true;
  d.partChksum = 99;
  NRD back;
  roundTrip(d, back);
  EXPECT_EQ(back.device, d.device);
  EXPECT_EQ(back.model, d.model);
  EXPECT_TRUE(back.physical == d.physical);
  EXPECT_TRUE(back.logical == d.logical);
  EXPECT_EQ(back.sectors, d.sectors);
  EXPECT_EQ(back.capacity, d.capacity);
  EXPECT_EQ(back.qoffset, d.qoffset);
  EXPECT_TRUE(back.partitions.empty());
  EXPECT_TRUE(back.gaps.empty());
  EXPECT_FALSE(back.dbActive);
  EXPECT_EQ(back.partChksum, 0u);
}

TEST(NRD, CopyIsDeep) {
  NRD d("a", "m", CHS(1, 2, 3), CHS(1, 2, 3), 100);
  d.partitions.push_back(Partition(PartitionEntry{}, 1, 0));
  d.gaps.push_back(Gap(5, 6, 0));
  NRD copy = d;
  copy.partitions[0].letter = 'C';
  copy.partitions.push_back(Partition(PartitionEntry{}, 1, 1));
  copy.gaps.front().size = 1;
  copy.device = "b";
  EXPECT_EQ(d.partitions.size(), 1u);
  EXPECT_EQ(d.partitions[0].letter, 0);
  EXPECT_EQ(d.gaps.front().size, 6u);
  EXPECT_EQ(d.device, "a");
}

TEST(Gap, SortByDistanceIsStableForEqualDistances) {
  std::list<Gap> gaps = {Gap(100, 1, 7), Gap(50, 2, 1), Gap(100, 3, 8), Gap(50, 4, 2)};
  gaps.sort();  // std::list::sort is stable
  std::vector<FXint> order;
  for (const Gap& g : gaps) order.push_back(g.behind);
  EXPECT_EQ(order, (std::vector<FXint>{1, 2, 7, 8}));
}
