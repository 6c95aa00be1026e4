// The disk model: table entries on disk, geometry arithmetic and the stream
// form that the backup layout file relies on.
#include <gtest/gtest.h>

#include "Records.h"

TEST(PartitionEntry, ReadsAndWritesLittleEndianAt446) {
  FXuchar sector[512] = {0};
  const FXuchar raw[16] = {0x80, 1, 2, 3, 0x07, 4, 5, 6, 0x3F, 0, 0, 0, 0x01, 0x02, 0x03, 0x04};
  memcpy(sector + 446 + 16, raw, 16);  // slot 1
  PartitionEntry e = PartitionEntry::fromTable(sector, 1);
  EXPECT_EQ(e.dist, 63u);
  EXPECT_EQ(e.num, 0x04030201u);
  FXuchar copy[512] = {0};
  e.toTable(copy, 3);
  EXPECT_EQ(0, memcmp(copy + 446 + 48, raw, 16));
}

TEST(NRD, StreamFormKeepsGeometryButNotTablesOrUndoCursor) {
  NRD big("big", "", CHS(), CHS(), 1ull << 40);
  EXPECT_EQ(big.capacity, 1ull << 49) << "no 32-bit truncation";

  NRD d("/dev/loop3", "Backup/disk", CHS(1000, 16, 63), CHS(500, 255, 63), 8032500);
  d.partitions.push_back(Partition(PartitionEntry{}, 1, 0));
  d.gaps.push_back(Gap(0, 63, -1));
  d.dbActive = true;
  d.partChksum = 99;
  FXuchar buffer[4096];
  FXMemoryStream store;
  store.open(FXStreamSave, sizeof(buffer), buffer);
  store << d;
  store.close();
  NRD back;
  FXMemoryStream load;
  load.open(FXStreamLoad, sizeof(buffer), buffer);
  load >> back;
  load.close();
  EXPECT_EQ(back.device, d.device);
  EXPECT_EQ(back.model, d.model);
  EXPECT_TRUE(back.physical == d.physical && back.logical == d.logical);
  EXPECT_EQ(back.sectors, d.sectors);
  EXPECT_EQ(back.qoffset, d.qoffset);
  EXPECT_TRUE(back.partitions.empty() && back.gaps.empty());
  EXPECT_FALSE(back.dbActive);
  EXPECT_EQ(back.partChksum, 0u);
}

TEST(Gap, SortByDistanceIsStableForEqualDistances) {
  std::list<Gap> gaps = {Gap(100, 1, 7), Gap(50, 2, 1), Gap(100, 3, 8), Gap(50, 4, 2)};
  gaps.sort();
  std::vector<FXint> order;
  for (const Gap& g : gaps) order.push_back(g.behind);
  EXPECT_EQ(order, (std::vector<FXint>{1, 2, 7, 8}));
}
