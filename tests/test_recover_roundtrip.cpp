// Whole recoveries on images with real file systems: partitions laid out by
// sfdisk and formatted by mkfs, then lost from the tables; the search finds
// them, the user's choice is built as the recovery chooser builds it, the
// writer restores them.  sfdisk, blkid and each file system's own checker
// must then see every partition where it was.
#include <gtest/gtest.h>

#include <memory>

#include "IOSystem.h"
#include "Recover.h"
#include "compat/Assert.h"
#include "support/Engine.h"
#include "support/CountingDisk.h"
#include "support/QemuBoot.h"
#include "support/LostDisk.h"
#include "support/Oracles.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

const char* GEOMETRY = "8/255/63";
const unsigned TRACK = 63;
const unsigned long long DISK_SECTORS = 8ull * 255 * TRACK;

struct Part {
  std::string kind;  // vfat, ext2, ntfs
  unsigned start, sectors;
  std::string line(const char* type) const {
    return std::to_string(start) + " " + std::to_string(sectors) + " " + type;
  }
};

class RoundTrip : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* tool : {"sfdisk", "blkid", "mkfs.vfat", "mke2fs", "mkfs.ntfs", "fsck.vfat",
                             "e2fsck", "ntfsfix"})
      if (!haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    image = dir.path("disk.img");
    makeImage(image, DISK_SECTORS * 512);
  }

  // Formats `v` in place, as the partition's own tools would.
  void format(const Part& v) {
    const std::string hidden = std::to_string(v.start);
    const std::string mkfs = v.kind == "vfat"   ? "mkfs.vfat -F 16 -s 1 -h " + hidden
                             : v.kind == "ntfs" ? "mkfs.ntfs -q -F -Q -s 512 -p " + hidden + " -H 255 -S 63"
                                                : "mke2fs -q -F -b 1024 -t " + v.kind;
    ASSERT_TRUE(mkfsAt(image, v.start, v.sectors, mkfs)) << mkfs;
    // A boot loader installed in the partition leaves the boot signature
    // in its first sector, which ext2 does not use.  The ext3 volumes
    // have none, and a search for boot records passes them by.
    if (v.kind == "ext2") patchFile(image, v.start * 512ull + 510, "\x55\xaa", 2);
  }

  // blkid sees the file system at its place and its checker passes it.
  void expectIntact(const Part& v) {
    EXPECT_EQ(blkidProbe(image, v.start)["TYPE"], v.kind) << "at " << v.start;
    EXPECT_TRUE(fsckVolume(image, v.start, v.sectors, v.kind == "vfat" ? "fat16" : v.kind))
        << v.kind << " at " << v.start;
  }

  // The records the recovery chooser hands over when the user picks, among
  // the partitions the search found, the ones starting at `starts`.
  std::vector<RecoverPart> searchAndChoose(Analyse& a, std::vector<unsigned> starts) {
    std::vector<FXulong> found = searchAllGaps(a, 0);
    volumes = foundVolumes(a, 0, found);
    // A volume comes by its own first sector, or as a logical partition
    // by the EPTB that still lists it.
    std::vector<RecoverPart> offered = chooseAll(a, 0, found), chosen;
    for (unsigned start : starts) {
      size_t before = chosen.size();
      for (const RecoverPart& r : offered)
        if (r.first == start && chosen.size() == before) chosen.push_back(r);
      EXPECT_EQ(chosen.size(), before + 1) << "the search finds " << start;
    }
    return chosen;
  }

  void recover(const std::vector<RecoverPart>& chosen, bool bootCode = false,
               std::vector<FXulong> active = {}) {
    results = Recover(chosen, volumes, nullptr, bootCode, {active}, {FXString(image.c_str())}).results;
  }

  // Lays out the table with sfdisk and formats the volumes; the table as sfdisk lists it.
  std::vector<std::string> prepare(const char* script, std::vector<Part> volumes) {
    if (*script) {
      EXPECT_TRUE(sfdisk(image, script));
    }
    std::vector<std::string> original = partitions();
    for (const Part& v : volumes) format(v);
    return original;
  }

  // A run that searches, picks the partitions starting at `starts` and
  // recovers them; then sfdisk lists `expected` and every volume is intact.
  void recoverFound(std::vector<unsigned> starts, const std::vector<std::string>& expected,
                    std::vector<Part> volumes) {
    {
      ImageAnalyser a(image, GEOMETRY);
      std::vector<RecoverPart> chosen = searchAndChoose(*a, starts);
      ASSERT_EQ(chosen.size(), starts.size());
      ASSERT_TRUE(a->CheckMBRFit(chosen));
      recover(chosen);
    }
    expectRestored(expected, volumes);
  }

  void expectRestored(const std::vector<std::string>& expected, std::vector<Part> volumes) {
    EXPECT_EQ(partitions(), expected);
    for (const Part& v : volumes) expectIntact(v);
    for (const RecoverResult& r : results) EXPECT_TRUE(r.done()) << r.reason.key;
  }

  // Replaces slot `k` of the table at `sector` with `entry` (16 bytes).
  void setSlot(FXulong sector, int k, const std::string& entry) {
    std::string table = readSector(image, sector);
    writeSector(image, sector, table.replace(446 + 16 * k, 16, entry));
  }
  // A checksum of the volume's sectors.
  std::string checksum(const Part& v) {
    std::string sum;
    sh("dd if='" + image + "' bs=512 skip=" + std::to_string(v.start) + " count=" +
           std::to_string(v.sectors) + " status=none | md5sum",
       &sum);
    return sum;
  }
  // The EPTB the table at `table` links to, in an extended partition at 20480.
  FXulong linkOf(FXulong table) {
    return 20480 + PartitionEntry::fromTable((const FXuchar*)readSector(image, table).data(), 1).dist;
  }

  std::vector<std::string> partitions() { return sfdiskPartitions(image); }

  FreshIOSystem io;
  TempDir dir;
  std::string image;
  std::vector<VolumeSpan> volumes;  // every partition the last search found
  HookedDisk hooked;
  std::vector<RecoverResult> results;  // of the last recovery
};

using Lines = std::vector<std::string>;

}  // namespace

TEST_F(RoundTrip, LostPrimariesComeBack) {
  Part fat{"vfat", 2048, 16384}, ext{"ext2", 20480, 16384}, ntfs{"ntfs", 40960, 20480};
  Lines original = prepare("start=2048, size=16384, type=e\nstart=20480, size=16384, type=83\n"
                           "start=40960, size=20480, type=7\n", {fat, ext, ntfs});
  for (int k = 0; k < 3; k++) setSlot(0, k, std::string(16, '\0'));
  {
    ImageAnalyser a(image, GEOMETRY);
    std::vector<RecoverPart> chosen = searchAndChoose(*a, {2048, 20480, 40960});
    ASSERT_EQ(chosen.size(), 3u);
    EXPECT_FALSE(a->CheckMBRCode());
    recover(chosen, true, {2048});
  }
  expectRestored(original, {fat, ext, ntfs});
  EXPECT_EQ((unsigned char)readSector(image, 0)[446], 0x80);
}

TEST_F(RoundTrip, APrimaryBesideAnExtendedPartition) {
  Part fat{"vfat", 2048, 16384}, logical{"ext2", 22528, 16384}, ntfs{"ntfs", 65536, 20480};
  Lines original = prepare("start=2048, size=16384, type=e\nstart=20480, size=40960, type=5\n"
                           "start=65536, size=20480, type=7\nstart=22528, size=16384, type=83\n",
                           {fat, logical, ntfs});
  setSlot(0, 2, std::string(16, '\0'));
  recoverFound({65536}, original, {fat, logical, ntfs});
}

// A file system found inside the extended partition goes into its chain:
// the four places it can go.
TEST_F(RoundTrip, IntoAnEmptyFirstEPTB) {
  Part lost{"vfat", 22528, 16384};
  prepare("start=20480, size=40960, type=5\n", {lost});
  writeSector(image, 20480, tableSector({}));
  recoverFound({lost.start}, {"20480 40960 5", lost.line("e")}, {lost});
}

TEST_F(RoundTrip, BehindTheLastLogicalPartition) {
  Part first{"ext2", 22528, 16384}, lost{"ntfs", 40960, 16384};
  Lines original = prepare("start=20480, size=61440, type=5\nstart=22528, size=16384, type=83\n"
                           "start=40960, size=16384, type=7\n", {first, lost});
  setSlot(20480, 1, std::string(16, '\0'));  // the link to the second logical partition
  recoverFound({lost.start}, original, {first, lost});
}

TEST_F(RoundTrip, IntoTheMiddleOfAChain) {
  Part first{"vfat", 22528, 16384}, lost{"ext2", 40960, 16384}, last{"ntfs", 59392, 16384};
  Lines original = prepare("start=20480, size=61440, type=5\nstart=22528, size=16384, type=e\n"
                           "start=40960, size=16384, type=83\nstart=59392, size=16384, type=7\n",
                           {first, lost, last});
  // The first EPTB links past the second logical partition to the third.
  setSlot(20480, 1, readSector(image, linkOf(20480)).substr(462, 16));
  ASSERT_EQ(partitions().size(), 3u);
  recoverFound({lost.start}, original, {first, lost, last});
}

TEST_F(RoundTrip, IntoAFirstEPTBThatHoldsOnlyALink) {
  Part lost{"ext2", 22528, 16384}, kept{"vfat", 57344, 16384};
  writeSector(image, 0, tableSector({entryBytes(0x05, 20480, 61440)}));
  writeSector(image, 20480, tableSector({entryBytes(0x05, 34816, 18432)}));
  writeSector(image, 55296, tableSector({entryBytes(0x0e, 2048, 16384)}));
  prepare("", {lost, kept});
  recoverFound({lost.start}, {"20480 61440 5", lost.line("83"), kept.line("e")}, {lost, kept});
}

// Logical partitions packed track to track: each EPTB in the first sector of
// a track, its partition filling the rest up to the next one.  The chain
// lost its second and third logical partitions; the third comes back, the
// second stays lost.  Its new table goes one track in front of it unless a
// volume found there, chosen or not, lies there: then right in front of it,
// where its old table was; when the volume reaches up to the partition,
// nowhere, and the choice is refused.  No volume's sectors change.
TEST_F(RoundTrip, NewTablesKeepOutOfVolumesLeftLost) {
  const unsigned E = 32 * TRACK, SPAN = 320 * TRACK;
  const struct {
    const char* name;
    const char* lostKind;
    bool callerKnowsIt;  // the search cannot find it; the caller adds it
    bool reachesUp;      // it ends where the partition begins
  } cases[] = {
      {"a FAT volume the search found and nobody chose", "vfat", false, false},
      {"an ext3 volume the caller knows", "ext3", true, false},
      {"an ext3 volume reaching up to the partition", "ext3", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    makeImage(image, DISK_SECTORS * 512);
    results.clear();
    Part first{"vfat", E + 1, SPAN - 1}, lost{c.lostKind, E + SPAN + 1, SPAN - 1},
        back{"ntfs", E + 2 * SPAN + 1, SPAN - 1}, last{"vfat", E + 3 * SPAN + 1, SPAN - 1};
    std::string script = "start=" + std::to_string(E) + ", size=" + std::to_string(5 * SPAN) + ", type=5\n";
    for (const Part* v : {&first, &lost, &back, &last})
      script += "start=" + std::to_string(v->start) + ", size=" + std::to_string(v->sectors) + ", type=83\n";
    Lines original = prepare(script.c_str(), {});
    ASSERT_EQ(original.size(), 5u);
    ASSERT_EQ(readSector(image, E + SPAN).substr(510), "\x55\xaa") << "a table in each track";
    if (c.reachesUp) lost.sectors = SPAN;
    for (const Part& v : {first, lost, back, last}) format(v);
    // The first table links past the lost two to the last one.
    setSlot(E, 1, readSector(image, back.start - 1).substr(462, 16));
    if (c.callerKnowsIt) writeSector(image, lost.start - 1, std::string(512, '\0'));
    ASSERT_EQ(partitions().size(), 3u);
    std::vector<std::string> sums;
    for (const Part& v : {first, lost, back, last}) sums.push_back(checksum(v));

    {
      ImageAnalyser a(image, GEOMETRY);
      std::vector<RecoverPart> chosen = searchAndChoose(*a, {back.start});
      ASSERT_EQ(chosen.size(), 1u);
      if (c.callerKnowsIt) volumes.push_back({image.c_str(), SectorRange::sized(lost.start, lost.sectors)});
      recover(chosen);
    }
    std::vector<std::string> after;
    for (const Part& v : {first, lost, back, last}) after.push_back(checksum(v));
    EXPECT_EQ(after, sums);
    if (c.reachesUp) {
      EXPECT_EQ(partitions().size(), 3u);
      ASSERT_EQ(results.size(), 1u);
      EXPECT_STREQ(results[0].reason.key, "Recover.DoRecover.009");
    } else {
      expectRestored({original[0], original[1], back.line("7"), original[4]}, {first, lost, back, last});
      PartitionEntry e = PartitionEntry::fromTable((const FXuchar*)readSector(image, back.start - 1).data(), 0);
      EXPECT_EQ(e.dist, 1u) << "the new table lies right in front";
    }
  }
}

TEST_F(RoundTrip, FoundEPTBsBecomeANewExtendedPartition) {
  Part one{"vfat", 22528, 16384}, two{"ext2", 40960, 16384};
  Lines original = prepare("start=2048, size=16384, type=83\nstart=20480, size=40960, type=5\n"
                           "start=22528, size=16384, type=e\nstart=40960, size=16384, type=83\n", {one, two});
  FXulong second = linkOf(20480);  // where sfdisk put the second EPTB
  setSlot(0, 1, std::string(16, '\0'));
  {
    ImageAnalyser a(image, GEOMETRY);
    // The search keeps only file-system boot records; the EPTBs in front of
    // them are what the chooser offers as logical partitions.
    std::vector<RecoverPart> chosen = chooseAll(*a, 0, {20480, second});
    ASSERT_EQ(chosen.size(), 2u);
    for (const RecoverPart& r : chosen) EXPECT_TRUE(r.logical);
    ASSERT_TRUE(a->CheckMBRFit(chosen));
    recover(chosen);
  }
  // The new extended partition ends with its last logical partition.
  original[1] = "20480 " + std::to_string(two.start + two.sectors - 20480) + " 5";
  expectRestored(original, {one, two});
}

TEST_F(RoundTrip, ARecoveredDiskBoots) {
  if (!QemuBoot::available()) GTEST_SKIP() << QemuBoot::whyNot();
  ASSERT_TRUE(writeStubVolume(dir, image, 4096, 40960));
  {
    ImageAnalyser a(image, GEOMETRY);
    std::vector<RecoverPart> chosen = searchAndChoose(*a, {4096});
    ASSERT_EQ(chosen.size(), 1u);
    recover(chosen, true, {4096});
  }
  EXPECT_EQ(partitions(), (Lines{"4096 40960 e"}));
  QemuBoot run(dir, image);
  EXPECT_EQ(run.serialUntilExit(), "KELVARIN-BOOT-OK\r\n");
}

TEST_F(RoundTrip, SimulationLeavesTheImageAlone) {
  Part fat{"vfat", 2048, 16384};
  prepare("start=2048, size=16384, type=e\n", {fat});
  setSlot(0, 0, std::string(16, '\0'));
  std::string lost = dir.path("lost.img");
  ASSERT_TRUE(copySparse(image, lost));
  ImageAnalyser a(image, GEOMETRY, {"-sim"});
  ASSERT_TRUE(IOSystem::simulationMode);
  a.disk().dbActive = true;
  IOSystem::disableWriteLog = false;
  recover(searchAndChoose(*a, {2048}), true, {2048});
  EXPECT_EQ(hooked.writes, 0u);
  EXPECT_TRUE(sameFile(image, lost));
  // The database was kept as if written: the boot code alone fills several sectors.
  EXPECT_EQ(a.disk().dbStartSec, 1u);
  EXPECT_GE(a.disk().currDBsec, 4u);
}
