// Laying chosen volumes out as primaries and logicals before anything is
// written: which become logical, where their new table blocks go, the new
// extended partition, and the reasons a layout cannot be built.
#include <gtest/gtest.h>

#include "FileSystem.h"
#include "Placement.h"
#include "support/Engine.h"

namespace {

const FXulong CYL = 16 * 63;  // a cylinder of the CHS test geometry

DiskPicture emptyDisk(FXulong sectors, FXint heads = 16, FXint track = 63) {
  DiskPicture d;
  d.sectors = sectors;
  d.heads = heads;
  d.sectorsPerTrack = track;
  return d;
}

PlacementRequest volume(FXulong first, FXulong end, PlacementRole role = PlacementRole::AUTO,
                        FXulong eptb = 0) {
  PlacementRequest r;
  r.volume = SectorRange(first, end);
  r.role = role;
  r.foundEptb = eptb;
  return r;
}

// What a plan says, one letter per volume in disk order ('P' or 'L'), the
// table blocks of the logicals, and the extended partition.
struct Expected {
  std::string roles;
  std::vector<FXulong> eptbs;
  SectorRange extended;
  FXuchar type;
  const char* refusal;
  FXulong refusedAt;
};

std::string rolesOf(const LayoutPlan& plan) {
  std::string roles;
  for (const PlacedVolume& v : plan.volumes) roles += v.logical ? 'L' : 'P';
  return roles;
}

std::vector<FXulong> eptbsOf(const LayoutPlan& plan) {
  std::vector<FXulong> blocks;
  for (const PlacedVolume& v : plan.volumes)
    if (v.logical) blocks.push_back(v.eptb);
  return blocks;
}

struct Case {
  const char* what;
  DiskPicture disk;
  std::vector<PlacementRequest> chosen;
  Expected expected;
};

// Every chosen volume was found, so each is also taken for table blocks.
DiskPicture withFound(DiskPicture d, const std::vector<PlacementRequest>& chosen) {
  for (const PlacementRequest& r : chosen) d.taken.push_back(r.volume);
  return d;
}

std::vector<Case> cases() {
  std::vector<Case> all;
  auto add = [&](const char* what, DiskPicture d, std::vector<PlacementRequest> chosen, Expected e) {
    all.push_back({what, withFound(d, chosen), chosen, e});
  };
  // A CHS-era disk whose every table was wiped: two primaries at cylinder
  // boundaries and four volumes a track past one, where their blocks were.
  add("CHS layout, 2 primaries and 4 logicals",
      emptyDisk(200 * CYL),
      {volume(63, 20 * CYL), volume(20 * CYL, 40 * CYL), volume(40 * CYL + 63, 60 * CYL),
       volume(60 * CYL + 63, 80 * CYL), volume(80 * CYL + 63, 100 * CYL),
       volume(100 * CYL + 63, 120 * CYL)},
      {"PPLLLL", {40 * CYL, 60 * CYL, 80 * CYL, 100 * CYL}, SectorRange(40 * CYL, 120 * CYL), 0x05,
       nullptr, 0});
  // Today's layout: contiguous volumes on 1 MiB boundaries; the leading
  // three stay primary, the rest get a block 1 MiB in front.
  add("1 MiB layout, 7 volumes",
      emptyDisk(2048 * 200, 255, 63),
      {volume(2048, 2048 * 10), volume(2048 * 10, 2048 * 20), volume(2048 * 20, 2048 * 30),
       volume(2048 * 31, 2048 * 40), volume(2048 * 41, 2048 * 50), volume(2048 * 51, 2048 * 60),
       volume(2048 * 61, 2048 * 70)},
      {"PPPLLLL", {2048 * 30, 2048 * 40, 2048 * 50, 2048 * 60}, SectorRange(2048 * 30, 2048 * 70),
       0x05, nullptr, 0});
  // The user makes the third of six 1 MiB volumes logical: those behind it
  // follow it into the chain, so no primary splits it.
  add("a would-be primary made logical takes the rest along",
      emptyDisk(2048 * 200, 255, 63),
      {volume(2048, 2048 * 10), volume(2048 * 10, 2048 * 20),
       volume(2048 * 21, 2048 * 30, PlacementRole::LOGICAL), volume(2048 * 31, 2048 * 40),
       volume(2048 * 41, 2048 * 50), volume(2048 * 51, 2048 * 60)},
      {"PPLLLL", {2048 * 20, 2048 * 30, 2048 * 40, 2048 * 50}, SectorRange(2048 * 20, 2048 * 60),
       0x05, nullptr, 0});
  add("four volumes fit the slots", emptyDisk(200 * CYL),
      {volume(63, CYL), volume(CYL, 2 * CYL), volume(2 * CYL + 63, 3 * CYL), volume(3 * CYL, 4 * CYL)},
      {"PPPP", {}, SectorRange(), 0, nullptr, 0});
  add("the user makes a logical-looking volume primary", emptyDisk(200 * CYL),
      {volume(63, 20 * CYL), volume(20 * CYL + 63, 40 * CYL, PlacementRole::PRIMARY)},
      {"PP", {}, SectorRange(), 0, nullptr, 0});
  add("a volume found through its block keeps it", emptyDisk(200 * CYL),
      {volume(63, 20 * CYL), volume(20 * CYL + 63, 40 * CYL, PlacementRole::AUTO, 20 * CYL)},
      {"PL", {20 * CYL}, SectorRange(20 * CYL, 40 * CYL), 0x05, nullptr, 0});
  add("beyond 8 GB the extended partition is an LBA one",
      emptyDisk(40000000, 255, 63),
      {volume(2048, 4096), volume(4096, 8192), volume(8192, 16384), volume(18432, 20480),
       volume(20000768, 20002816)},
      {"PPPLL", {16384, 19998720}, SectorRange(16384, 20002816), 0x0F, nullptr, 0});
  add("past cylinder 1024 of a small geometry too", emptyDisk(3000 * CYL),
      {volume(63, CYL), volume(2000 * CYL + 63, 2100 * CYL, PlacementRole::LOGICAL)},
      {"PL", {2000 * CYL}, SectorRange(2000 * CYL, 2100 * CYL), 0x0F, nullptr, 0});
  add("no free sector in front of a logical", emptyDisk(200 * CYL),
      {volume(63, 20 * CYL), volume(20 * CYL, 40 * CYL, PlacementRole::LOGICAL)},
      {"", {}, SectorRange(), 0, "Placement.PlanLayout.004", 20 * CYL});
  add("a primary between the logicals", emptyDisk(200 * CYL),
      {volume(63, CYL), volume(CYL, 2 * CYL), volume(2 * CYL + 63, 3 * CYL),
       volume(3 * CYL, 4 * CYL, PlacementRole::PRIMARY), volume(4 * CYL + 63, 5 * CYL),
       volume(5 * CYL + 63, 6 * CYL)},
      {"", {}, SectorRange(), 0, "Placement.PlanLayout.005", 3 * CYL});
  add("five explicit primaries", emptyDisk(200 * CYL),
      {volume(63, CYL, PlacementRole::PRIMARY), volume(CYL, 2 * CYL, PlacementRole::PRIMARY),
       volume(2 * CYL, 3 * CYL, PlacementRole::PRIMARY), volume(3 * CYL, 4 * CYL, PlacementRole::PRIMARY),
       volume(4 * CYL, 5 * CYL, PlacementRole::PRIMARY)},
      {"", {}, SectorRange(), 0, "Placement.PlanLayout.003", 4 * CYL});
  DiskPicture noGeometry = emptyDisk(200 * CYL, 0, 0);
  add("no geometry", noGeometry, {volume(63, CYL)},
      {"", {}, SectorRange(), 0, "Placement.PlanLayout.006", 63});

  // A volume left lost (found, not chosen) keeps the track in front: the
  // block goes just behind it.
  DiskPicture lostInFront = emptyDisk(200 * CYL);
  lostInFront.taken.push_back(SectorRange(20 * CYL, 40 * CYL + 10));
  add("a found volume ends in the track in front", lostInFront,
      {volume(63, 20 * CYL), volume(40 * CYL + 63, 60 * CYL, PlacementRole::LOGICAL)},
      {"PL", {40 * CYL + 10}, SectorRange(40 * CYL + 10, 60 * CYL), 0x05, nullptr, 0});

  // An existing extended partition from 20 to 100 cylinders with one logical.
  DiskPicture chain = emptyDisk(200 * CYL);
  chain.freeSlots = 1;
  chain.primaries = {SectorRange(63, 10 * CYL), SectorRange(10 * CYL, 20 * CYL)};
  chain.extended = SectorRange(20 * CYL, 100 * CYL);
  chain.taken = {chain.primaries[0], chain.primaries[1], SectorRange(20 * CYL, 20 * CYL + 1),
                 SectorRange(20 * CYL + 63, 40 * CYL)};
  add("appending to an existing chain", chain, {volume(50 * CYL + 63, 70 * CYL)},
      {"L", {50 * CYL}, SectorRange(20 * CYL, 100 * CYL), 0, nullptr, 0});
  add("a primary inside the existing extended partition", chain,
      {volume(50 * CYL + 63, 70 * CYL, PlacementRole::PRIMARY)},
      {"", {}, SectorRange(), 0, "Placement.PlanLayout.001", 50 * CYL + 63});
  add("a logical outside the existing extended partition", chain,
      {volume(120 * CYL + 63, 130 * CYL, PlacementRole::LOGICAL)},
      {"", {}, SectorRange(), 0, "Placement.PlanLayout.002", 120 * CYL + 63});
  add("the last slot, then none", chain, {volume(120 * CYL, 130 * CYL), volume(140 * CYL, 150 * CYL)},
      {"", {}, SectorRange(), 0, "Placement.PlanLayout.003", 140 * CYL});
  return all;
}

TEST(Placement, LayoutsAndTheirRefusals) {
  for (const Case& c : cases()) {
    LayoutPlan plan = PlanLayout(c.disk, c.chosen);
    const Expected& e = c.expected;
    if (e.refusal) {
      EXPECT_STREQ(e.refusal, plan.refusal ? plan.refusal : "(none)") << c.what;
      EXPECT_EQ(e.refusedAt, plan.refusedAt) << c.what;
      continue;
    }
    ASSERT_TRUE(plan.ok()) << c.what << ": " << plan.refusal;
    EXPECT_EQ(e.roles, rolesOf(plan)) << c.what;
    EXPECT_EQ(e.eptbs, eptbsOf(plan)) << c.what;
    EXPECT_EQ(e.extended.first, plan.extended.first) << c.what;
    EXPECT_EQ(e.extended.end, plan.extended.end) << c.what;
    EXPECT_EQ(e.type, plan.extendedType) << c.what;
    for (const PlacedVolume& v : plan.volumes) {
      if (!v.logical) continue;
      // A new block lies in front of its volume, outside everything found.
      EXPECT_LT(v.eptb, c.chosen[v.request].volume.first) << c.what;
      if (!v.newEptb) continue;
      for (const SectorRange& t : c.disk.taken) EXPECT_FALSE(t.contains(v.eptb)) << c.what << " " << v.eptb;
    }
  }
}

// A GPT holds any number of entries alike: six volumes chosen on a GPT disk,
// where an MBR could hold them only with new logicals and none has room in
// front, plan no MBR layout and no refusal.
TEST(Placement, AGptDiskPlansNoMbrLayout) {
  NRD disk;
  disk.device = "/nonexistent/gpt-disk";
  disk.sectors = 1 << 20;
  disk.gpt = true;
  std::vector<RecoverPart> chosen(6);
  for (size_t i = 0; i < chosen.size(); i++) {
    chosen[i].device = disk.device;
    chosen[i].first = chosen[i].sector = 2048 + i * 4096;
    chosen[i].size = 4096ull * 512;
  }
  LayoutPlan plan = PlanChosen(disk, chosen, {}, nullptr);
  EXPECT_TRUE(plan.ok()) << plan.refusal;
  EXPECT_TRUE(plan.volumes.empty());
}

// The picture of a disk sfdisk partitioned: slots by their type bytes (one
// of a type without a name too), the extended partition, and every table
// block of its chain taken.
TEST(Placement, PictureOfAPartitionedDisk) {
  kvtest::TempDir dir;
  std::string image = dir.path("chain.img");
  kvtest::makeImage(image, 100 * 1024 * 1024);
  ASSERT_TRUE(kvtest::sfdisk(image, kvtest::TWO_PRIMARIES_AROUND_A_CHAIN));
  FXuchar unnamed = 1;
  while (PartitionTypeName(unnamed)) unnamed++;
  kvtest::putEntry(image, 0, 3, unnamed, 190000, 1000);
  kvtest::ImageAnalyser analyser(image, "200/16/63");
  std::string mbr = kvtest::readSector(image, 0);
  DiskPicture d = PictureOf(analyser.disk(), reinterpret_cast<const FXuchar*>(mbr.data()),
                            {VolumeSpan{analyser.disk().device, SectorRange(180000, 181000)},
                             VolumeSpan{FXString("/dev/other"), SectorRange(5, 6)}});
  EXPECT_EQ(0, d.freeSlots);
  EXPECT_EQ(32768u, d.extended.first);
  EXPECT_EQ(32768u + 131072u, d.extended.end);
  auto taken = [&](FXulong sector) {
    for (const SectorRange& r : d.taken)
      if (r.contains(sector)) return true;
    return false;
  };
  // The four blocks of the chain, a logical, a primary and the found volume.
  for (FXulong sector : {32768ull, 79872ull - 2048, 100352ull - 2048, 120832ull - 2048, 34816ull,
                         2048ull, 167936ull, 180500ull})
    EXPECT_TRUE(taken(sector)) << sector;
  EXPECT_FALSE(taken(5));  // another disk's volume
  EXPECT_FALSE(taken(60000));  // free space inside the extended partition
}

}  // namespace
