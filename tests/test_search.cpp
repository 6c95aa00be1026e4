// The lost-partition search on a disk whose table lost its partitions: which
// sectors it probes, what it finds, how it reports progress and stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

#include "IOSystem.h"
#include "support/CountingDisk.h"
#include "support/Engine.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

// 16 heads of 63 sectors: a cylinder is 1008 sectors.
const FXulong Q = 1008, SPT = 63;
const FXulong CYLINDERS = 224, DISK = CYLINDERS * Q;
const std::string GEOMETRY = std::to_string(CYLINDERS) + "/16/63";

struct Volume {
  FXulong start, sectors;
  const char* mkfs;
  bool cylinderAligned;  // at a cylinder boundary or one track into it
  FXulong table;         // the EPTB that lists it, which the search reports for it; 0 when none
  FXulong reported() const { return table ? table : start; }
};
const FXulong FAT32_START = 84 * Q;
const FXulong FIRST_EPTB = 166 * Q;
const Volume VOLUMES[] = {
    {1 * Q, 16384, "mkfs.vfat -F 12 --mbr=n", true, 0},
    {18 * Q + SPT, 65536, "mkfs.vfat -F 16 --mbr=n", true, 0},
    {FAT32_START, 81920, "mkfs.vfat -F 32 -s 1 --mbr=n", true, 0},
    {FIRST_EPTB + SPT, 16384, "mkntfs -F -Q -q", true, FIRST_EPTB},  // logical, one track after its table
    {201 * Q + 5, 16384, "mkntfs -F -Q -q", false, 0},               // in no table at all
};

bool contains(const std::vector<FXulong>& v, FXulong s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

// A disk partitioned by sfdisk, formatted by mkfs, whose MBR then lost its
// four entries.  Built once for all tests.
class LostPartitions : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir = new TempDir();
    image = dir->path("lost.img");
    makeImage(image, DISK * 512);
    std::string script = "label: dos\n";
    script += "1: start=" + std::to_string(VOLUMES[0].start) + ", size=16384, type=e\n";
    script += "2: start=" + std::to_string(VOLUMES[1].start) + ", size=65536, type=e\n";
    script += "3: start=" + std::to_string(FAT32_START) + ", size=81920, type=c\n";
    script += "4: start=" + std::to_string(FIRST_EPTB) + ", size=" + std::to_string(200 * Q - FIRST_EPTB) +
              ", type=5\n";
    script += "5: start=" + std::to_string(VOLUMES[3].start) + ", size=16384, type=7\n";
    script += "6: start=" + std::to_string(184 * Q + SPT) + ", size=8192, type=83\n";
    ASSERT_TRUE(sfdisk(image, script));
    ASSERT_EQ(sfdiskDump(image).size(), 6u);
    for (const Volume& v : VOLUMES) ASSERT_TRUE(mkfsAt(image, v.start, v.sectors, v.mkfs));
    ASSERT_TRUE(mkfsAt(image, 184 * Q + SPT, 8192, "mke2fs -q -F -t ext2"));
    clearTable(image, 0);
  }
  static void TearDownTestSuite() { delete dir; }

  void SetUp() override {
    analyser = analyseImage(image, GEOMETRY);
    ASSERT_EQ(analyser->disks.size(), 1u);
    ASSERT_TRUE(analyser->disks[0].partitions.empty());
    ASSERT_EQ(analyser->disks[0].qoffset, Q);
  }

  std::vector<FXulong> search(bool quick, FXulong start, FXulong size, RecordingText* text = nullptr) {
    FXulong B = quick ? size / Q + 1 : size;
    RecordingProgress bar((FXuint)B);
    std::vector<FXulong> found = analyser->Search(&bar, text, 0, quick, start, start + size - 1, 1);
    EXPECT_EQ(bar.advanced, B);
    EXPECT_TRUE(bar.sets.empty());
    return found;
  }

  static TempDir* dir;
  static std::string image;
  std::unique_ptr<Analyse> analyser;
};
TempDir* LostPartitions::dir;
std::string LostPartitions::image;

TEST_F(LostPartitions, FullSearchFindsEveryVolumeOnce) {
  std::vector<FXulong> found = search(false, 0, DISK);
  for (const Volume& v : VOLUMES) EXPECT_TRUE(contains(found, v.reported())) << v.start;
  EXPECT_FALSE(contains(found, FAT32_START + 6)) << "FAT32's backup boot sector";
  EXPECT_FALSE(contains(found, VOLUMES[3].start)) << "the logical NTFS comes through its table only";
  // sfdisk puts the table of a logical partition after the first in the sector before it.
  EXPECT_TRUE(contains(found, 184 * Q + SPT - 1)) << "the table of the ext2 logical";
  EXPECT_EQ(found.size(), std::size(VOLUMES) + 1);
  EXPECT_TRUE(std::is_sorted(found.begin(), found.end()));
}

TEST_F(LostPartitions, QuickSearchFindsCylinderAlignedVolumes) {
  std::vector<FXulong> found = search(true, 0, DISK);
  for (const Volume& v : VOLUMES) EXPECT_EQ(contains(found, v.reported()), v.cylinderAligned) << v.start;
}

// A table in the stretch whose entry leads to a volume outside it: the
// volume is read where the table says, and the table reported for it.
TEST_F(LostPartitions, TableLeadingToAVolumeIsReported) {
  RecordingText text;
  std::vector<FXulong> found = search(false, FIRST_EPTB, SPT, &text);
  EXPECT_EQ(found, std::vector<FXulong>{FIRST_EPTB});
  ASSERT_GE(text.lines.size(), 3u);
  EXPECT_EQ(text.lines[1], analyser->Format("Analyse.CheckOne.010", 1u)) << "the first pass met one table";
}

// Sets stopSearch when the first progress report arrives, as the wizard
// does when the user cancels.
class CancellingProgress : public RecordingProgress {
public:
  CancellingProgress(FXuint total, Analyse* a) : RecordingProgress(total), analyser(a) {}
  void post(FXint kind, FXulong v) override {
    RecordingProgress::post(kind, v);
    if (kind == 2) analyser->stopSearch = true;
  }
  Analyse* analyser;
};

TEST_F(LostPartitions, StopSearchEndsTheFirstPass) {
  CountingDisk counting;
  CancellingProgress bar((FXuint)DISK, analyser.get());
  analyser->stopSearch = true;  // cleared when the search starts
  std::vector<FXulong> found = analyser->Search(&bar, nullptr, 0, false, 0, DISK - 1, 1);
  // The first report comes after 1/70 of the disk; what was found before it
  // is still examined.
  EXPECT_EQ(found, std::vector<FXulong>{VOLUMES[0].start});
  FXulong furthest = *std::max_element(counting.readOffsets.begin(), counting.readOffsets.end());
  EXPECT_LT(furthest, (DISK / 70 + 2048) * 512);
  EXPECT_EQ(bar.advanced, DISK) << "the stretch's share is filled";
}

// The bar's total is what the free-space chooser sums up: every sector of a
// selected stretch for a full search, its sectors divided by the cylinder
// size plus one for a quick one.  The wizard runs one Search per stretch.
TEST_F(LostPartitions, ProgressAddsUpToTheBarsTotal) {
  std::vector<std::vector<std::pair<FXulong, FXulong>>> selections = {
      {{0, DISK}},
      {{10, 3}, {2000, 1}, {5000, 400}, {150000, 70000}},
      // Small totals: a report per probe, and the bar passes 100 on the way.
      {{3000, 200}, {4000, 57}},
  };
  for (bool quick : {false, true}) {
    for (auto& stretches : selections) {
      for (FXint areas : {1, 3, 50}) {
        SCOPED_TRACE(std::string(quick ? "quick" : "full") + " over " + std::to_string(stretches.size()) +
                     " stretches, areas " + std::to_string(areas));
        FXulong B = 0;
        for (auto& s : stretches) B += quick ? s.second / Q + 1 : s.second;
        RecordingProgress bar((FXuint)B);
        for (auto& s : stretches) analyser->Search(&bar, nullptr, 0, quick, s.first, s.first + s.second - 1, areas);
        EXPECT_EQ(bar.advanced, B);
        EXPECT_TRUE(bar.sets.empty());
      }
    }
  }
}

// Disks whose probe positions carry boot records, to see which are read.
class Probes : public ::testing::Test {
protected:
  // A FAT12 volume of 12 sectors: its boot sector, and its two FATs 8
  // sectors on, out of the way of the next records.
  static void putBootRecord(const std::string& image, FXulong sector) {
    FXuchar b[512] = {0};
    b[0] = 0xEB, b[1] = 0x3C, b[2] = 0x90;
    b[0x0C] = 2, b[0x0D] = 1, b[0x0E] = 8, b[0x10] = 2, b[0x11] = 16;
    b[0x13] = 12, b[0x15] = 0xF0, b[0x16] = 1;
    b[510] = 0x55, b[511] = 0xAA;
    patchFile(image, sector * 512, b, sizeof(b));
    const FXuchar fat[3] = {0xF0, 0xFF, 0xFF};
    for (FXulong copy : {8, 9}) patchFile(image, (sector + copy) * 512, fat, sizeof(fat));
  }
  std::vector<FXulong> searchWith(const std::string& chs, FXulong sectors, std::vector<FXulong> records,
                                  bool quick, FXulong start, FXulong end,
                                  const std::function<void(NRD&)>& adjust = nullptr) {
    std::string image = dir.path("probes.img");
    makeImage(image, sectors * 512);
    for (FXulong s : records) putBootRecord(image, s);
    auto a = analyseImage(image, chs);
    if (adjust) adjust(a->disks[0]);
    RecordingProgress bar(1000);
    std::vector<FXulong> found = a->Search(&bar, nullptr, 0, quick, start, end, 1);
    std::sort(found.begin(), found.end());
    return found;
  }
  TempDir dir;
};

TEST_F(Probes, FullSearchProbesEverySectorBelowTheBound) {
  EXPECT_EQ(searchWith("10/16/63", 10080, {999, 1000, 1001, 1002, 1003}, false, 1000, 1003),
            (std::vector<FXulong>{1000, 1001, 1002}));
}

TEST_F(Probes, QuickSearchProbesCylinderStartsAndOneTrackIn) {
  std::vector<FXulong> records = {62, 63, 64, 99, 100, 101, 16064, 16065, 16066, 16127, 16128, 16129,
                                  32130, 32193, 48195};
  EXPECT_EQ(searchWith("4/255/63", 4 * 16065, records, true, 100, 40000),
            (std::vector<FXulong>{63, 100, 16065, 16128, 32130, 32193}));
  // A stretch that starts on a boundary probes one track into it.
  EXPECT_EQ(searchWith("4/255/63", 4 * 16065, records, true, 16065, 16200),
            (std::vector<FXulong>{16065, 16128}));
}

// Without a geometry (a disk that reports none, as a backup layout may
// hold) every sector is a cylinder of its own.
TEST_F(Probes, NoGeometryDividesByNothing) {
  auto noGeometry = [](NRD& d) {
    d.physical = d.logical = CHS(100, 0, 0);
    d.qoffset = 0;
  };
  EXPECT_EQ(searchWith("1/16/63", 2000, {10, 30, 500}, true, 0, 2000, noGeometry),
            (std::vector<FXulong>{10, 30, 500}));
}

// A table whose entry leads to no volume, and one whose entry leads to a
// volume larger than the entry says, give nothing.
TEST_F(Probes, TableLeadingToNoVolumeIsDropped) {
  std::string image = dir.path("tables.img");
  makeImage(image, 10080 * 512);
  putBootRecord(image, 3063);
  writeSector(image, 1000, tableSector({entryBytes(0x83, 63, 100)}));  // 100 sectors at 63 sectors on
  writeSector(image, 3000, tableSector({entryBytes(0x83, 63, 11)}));   // one sector short of the volume at 3063
  auto a = analyseImage(image, "10/16/63");
  RecordingProgress bar(1000);
  EXPECT_EQ(a->Search(&bar, nullptr, 0, false, 0, 10080, 1), std::vector<FXulong>{3063});
}

// A quick search on a disk partitioned on 1 MiB boundaries: the boundaries
// are probed, the inside of a volume once found is not, and no sector is
// read twice.
TEST_F(Probes, QuickSearchSkipsTheInsideOfAFoundVolume) {
  const FXulong START = 2048, SIZE = 65536, CYLINDER = 16065;
  std::string image = dir.path("mib.img");
  makeImage(image, 40 * CYLINDER * 512);
  ASSERT_TRUE(mkfsAt(image, START, SIZE, "mke2fs -q -F -t ext4 -b 4096"));
  auto a = analyseImage(image, "40/255/63");
  CountingDisk counting;
  RecordingProgress bar(1000);
  EXPECT_EQ(a->Search(&bar, nullptr, 0, true, 0, 40 * CYLINDER - 1, 1), std::vector<FXulong>{START});

  // A probe at p reads from the sector before p on.
  std::set<FXulong> sectors;
  for (FXulong offset : counting.readOffsets) {
    FXulong s = offset / 512;
    EXPECT_TRUE(sectors.insert(s).second || s == 0) << "sector " << s << " read twice";
  }
  for (FXulong p = START + 1; p < START + SIZE; p++) {
    if (p % 2048 == 0 || p % CYLINDER == 0 || p % CYLINDER == 63) {
      EXPECT_FALSE(sectors.count(p - 1)) << "probed inside the volume at " << p;
    }
  }
  EXPECT_TRUE(sectors.count(START + SIZE - 1)) << "right behind the volume, with the sector before";
  EXPECT_TRUE(sectors.count(34 * 2048 - 1)) << "a 1 MiB boundary";
  EXPECT_TRUE(sectors.count(5 * CYLINDER + 63 - 1)) << "one track into a cylinder";
}

TEST_F(Probes, DiskOutOfRangeOrUnopenable) {
  std::string image = dir.path("gone.img");
  makeImage(image, 1 << 20);
  auto a = analyseImage(image, "2/16/63");
  RecordingProgress bar(100);
  EXPECT_TRUE(a->Search(&bar, nullptr, 1, false, 0, 100, 1).empty());
  EXPECT_TRUE(a->Search(&bar, nullptr, -1, false, 0, 100, 1).empty());
  sh("rm -f '" + image + "'");
  EXPECT_TRUE(a->Search(&bar, nullptr, 0, false, 0, 100, 1).empty());
  EXPECT_EQ(bar.sets, (std::vector<FXulong>{100, 100, 100}));
  EXPECT_EQ(bar.advanced, 0u);
}

}  // namespace
