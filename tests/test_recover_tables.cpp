// The partition-table writer on images whose tables are laid out by hand or
// by sfdisk: CHS addresses, MBR placement and ordering, chains rebuilt from
// found EPTBs, the four ways into an existing chain, boot code, the active
// flag, and tables it must refuse to damage, saying why.  sfdisk reads every
// result.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "IOSystem.h"
#include "Recover.h"
#include "compat/Assert.h"
#include "support/Engine.h"
#include "support/CountingDisk.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

using Lines = std::vector<std::string>;

unsigned char at(const std::string& s, size_t i) { return (unsigned char)s[i]; }

PartitionEntry entry(unsigned char type, unsigned dist, unsigned num) {
  return PartitionEntry::fromBytes((const FXuchar*)entryBytes(type, dist, num).data());
}

PartitionEntry slot(const std::string& table, int k) {
  return PartitionEntry::fromTable((const FXuchar*)table.data(), k);
}

class Writer : public ::testing::Test {
protected:
  static const int HEADS = 255, TRACK = 63;

  void SetUp() override {
    image = dir.path("disk.img");
    makeImage(image, 13ull * HEADS * TRACK * 512);
  }
  void start() { analyser.reset(new ImageAnalyser(image, "13/255/63")); }
  FXString device() { return FXString(image.c_str()); }

  // RecoverOne as DoRecover runs it: the MBR read, placed into, written.
  // What became of each part, in the order given.
  std::vector<RecoverResult> recoverOne(std::vector<Recover::NewPart> parts, bool bootCode = false,
                                        int heads = HEADS, int track = TRACK) {
    if (!analyser) start();
    std::string mbr = readSector(image, 0);
    Recover writer;
    bool placed = writer.RecoverOne(device(), (FXuchar*)&mbr[0], parts, bootCode, heads, track);
    EXPECT_TRUE(IOSystem::WriteBR(device(), mbr.data(), 0));
    EXPECT_EQ(placed, allDone(writer.results));
    return writer.results;
  }
  static bool allDone(const std::vector<RecoverResult>& results) {
    for (const RecoverResult& r : results)
      if (!r.done()) return false;
    return true;
  }
  // The reason key of each result ("" when done).
  static Lines reasons(const std::vector<RecoverResult>& results) {
    Lines keys;
    for (const RecoverResult& r : results) keys.push_back(r.done() ? "" : r.reason.key);
    return keys;
  }
  Recover::NewPart filesystem(unsigned start, unsigned size, unsigned char type = 0x83) {
    return {entry(type, start, size), start, false};
  }
  // A lost logical partition: its EPTB at `at`, the partition `dist` further on.
  Recover::NewPart foundEPTB(unsigned at, unsigned dist, unsigned size) {
    writeSector(image, at, tableSector({entryBytes(0x83, dist, size)}));
    return {entry(0x83, dist, size), at, true};
  }
  // What the recovery chooser hands over for the partition found at `sector`.
  RecoverPart chosenAt(FXulong sector, bool logical) {
    RecoverPart r;
    r.device = device();
    r.sector = r.first = sector;
    r.logical = logical;
    r.heads = HEADS;
    r.sectorsPerTrack = TRACK;
    return r;
  }
  std::vector<std::string> partitions() { return sfdiskPartitions(image); }

  FreshIOSystem io;
  TempDir dir;
  std::string image;
  HookedDisk hooked;
  std::unique_ptr<ImageAnalyser> analyser;
};

}  // namespace

TEST(ConvertLBA, Addresses) {
  FXuchar c = 0, h = 0, s = 0, ec = 0, eh = 0, es = 0;
  ASSERT_TRUE(Recover::ConvertLBA(63, 1000, 255, 63, c, h, s, ec, eh, es));
  EXPECT_EQ(std::vector<int>({c, h, s, ec, eh, es}), std::vector<int>({0, 1, 1, 0, 16, 55}));
  ASSERT_TRUE(Recover::ConvertLBA(1500 * 16065, 16065, 255, 63, c, h, s, ec, eh, es));
  EXPECT_EQ(std::vector<int>({c, s}), std::vector<int>({0xDC, (1 << 6) | 1})) << "cylinder 1500 wraps to 476";

  // No address without a geometry, for sector numbers beyond six bits, or a
  // head beyond 255; the bytes stay as they were.
  const int refused[][4] = {{63, 1000, 0, 63}, {63, 1000, 255, 0}, {63, 1000, 16, 64}, {300 * 63, 10, 400, 63}};
  for (auto& r : refused) {
    FXuchar out[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(Recover::ConvertLBA(r[0], r[1], r[2], r[3], out[0], out[1], out[2], out[3], out[4], out[5]));
    for (int i = 0; i < 6; i++) EXPECT_EQ(out[i], i + 1);
  }
}

TEST_F(Writer, APrimaryGoesIntoAFreeSlotAndTheMBRIsOrderedByStart) {
  sfdisk(image, "start=63, size=1985, type=c\n");
  EXPECT_TRUE(allDone(recoverOne({filesystem(2048, 20480, 0x0c), filesystem(30000, 1000, 0x07)})));
  EXPECT_EQ(partitions(), (Lines{"63 1985 c", "2048 20480 c", "30000 1000 7"}));

  // A partition lower than the existing ones ends up in slot 0.
  writeSector(image, 0, tableSector({entryBytes(0x83, 50000, 1000), entryBytes(0x83, 60000, 100)}));
  analyser.reset();
  recoverOne({filesystem(40000, 500)});
  EXPECT_EQ(partitions(), (Lines{"40000 500 83", "50000 1000 83", "60000 100 83"}));
}

TEST_F(Writer, ExistingBootCodeAndDiskSignatureStay) {
  recoverOne({filesystem(2048, 20480)}, true);
  std::string mbr = readSector(image, 0);
  EXPECT_EQ(at(mbr, 0), 0xFA) << "a zeroed MBR gets the boot program";
  mbr[0] = 0x33;
  mbr[440] = 0x12;  // disk signature
  writeSector(image, 0, mbr);
  recoverOne({filesystem(40000, 1000)}, true);
  std::string after = readSector(image, 0);
  EXPECT_EQ(after.substr(0, 446), mbr.substr(0, 446));
}

// Tables the writer must not damage: it places nothing and says why.
TEST_F(Writer, TablesItCannotPlaceIntoAreLeftAlone) {
  using Tables = std::vector<std::pair<FXulong, std::vector<std::string>>>;
  struct Case {
    const char* name;
    Tables tables;
    unsigned start;  // the found file system, 1000 sectors (2048 from 10240 on)
    const char* reason;
  } cases[] = {
      {"all four slots taken",
       {{0, {entryBytes(0x83, 2048, 2048), entryBytes(0x83, 4096, 2048), entryBytes(0x83, 6144, 2048),
             entryBytes(0x83, 8192, 2048)}}}, 20000, "Recover.DoRecover.005"},
      {"inside a primary", {{0, {entryBytes(0x83, 2048, 20480)}}}, 4096, "Recover.DoRecover.006"},
      {"a primary overlapping the extended partition",
       {{0, {entryBytes(0x05, 10000, 50000), entryBytes(0x83, 2048, 20000)}}, {10000, {}}}, 15000,
       "Recover.DoRecover.006"},
      {"a new EPTB would land inside the logical partition before it",
       {{0, {entryBytes(0x05, 2048, 100000)}}, {2048, {entryBytes(0x83, 1, 8191)}}}, 10240,
       "Recover.DoRecover.009"},
      {"a chain that loops",
       {{0, {entryBytes(0x05, 2048, 100000)}}, {2048, {entryBytes(0x83, 2048, 2048), entryBytes(0x05, 0, 4096)}}},
       10240, "Recover.DoRecover.007"},
      {"a chain that loops further on",
       {{0, {entryBytes(0x05, 2048, 100000)}},
        {2048, {entryBytes(0x83, 2048, 2048), entryBytes(0x05, 8192, 4096)}},
        {10240, {entryBytes(0x83, 10, 10), entryBytes(0x05, 0, 4096)}}}, 50000, "Recover.DoRecover.007"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    makeImage(image, 13ull * HEADS * TRACK * 512);
    for (auto& t : c.tables) writeSector(image, t.first, tableSector(t.second));
    // The MBR may be put in order by start; its entries and every other sector stay.
    Lines entries = partitions();
    std::string rest = readFile(image).substr(512);
    analyser.reset();
    std::vector<RecoverResult> results = recoverOne({filesystem(c.start, c.start >= 10240 ? 2048 : 1000)});
    Lines after = partitions();
    std::sort(entries.begin(), entries.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, entries);
    EXPECT_TRUE(readFile(image).substr(512) == rest) << "no other sector written";
    EXPECT_EQ(reasons(results), Lines{c.reason});
  }
}

TEST_F(Writer, TheNewExtendedPartitionCoversEveryLogicalPartition) {
  // Not back to back, and with partitions aligned 2048 sectors behind their EPTB.
  recoverOne({foundEPTB(1000, TRACK, 500), foundEPTB(20000, 2048, 4000), foundEPTB(9000, 2048, 100)});
  EXPECT_EQ(partitions(), (Lines{"1000 25048 5", "1063 500 83", "11048 100 83", "22048 4000 83"}));
}

TEST_F(Writer, AFoundChainInsideAnExtendedPartitionContinuesItsChain) {
  sfdisk(image, "start=2048, size=100000, type=5\nstart=4096, size=2048, type=83\n");
  recoverOne({foundEPTB(30000, TRACK, 5000), foundEPTB(40000, TRACK, 5000)});
  EXPECT_EQ(partitions(), (Lines{"2048 100000 5", "4096 2048 83", "30063 5000 83", "40063 5000 83"}));
}

TEST_F(Writer, WithoutGeometryTheCHSBytesMarkAddressingByLBA) {
  sfdisk(image, "start=2048, size=100000, type=5\nstart=4096, size=2048, type=83\n");
  recoverOne({filesystem(10240, 2048)}, false, 0, 0);
  // No track to put the new EPTB in front of: the sector right before.
  EXPECT_EQ(partitions(), (Lines{"2048 100000 5", "4096 2048 83", "10240 2048 83"}));

  recoverOne({foundEPTB(150000, TRACK, 100), foundEPTB(160000, TRACK, 100)}, false, 0, 0);
  PartitionEntry E = slot(readSector(image, 0), 1);
  EXPECT_EQ(E.dist, 150000u);
  EXPECT_EQ(E.end_chs[2], 0xFE) << "addressed by LBA";
}

// ---------------------------------------------------------------------------

TEST_F(Writer, TheActiveFlagMovesToTheChosenPartition) {
  writeSector(image, 0, tableSector({entryBytes(0x83, 2048, 1000), entryBytes(0x07, 4096, 1000, 0x80)}));
  start();
  Recover writer;
  writer.devices = {device()};
  writer.activeStarts = {{2048}};
  EXPECT_TRUE(writer.SetActive());
  std::string mbr = readSector(image, 0);
  EXPECT_EQ(at(mbr, 446), 0x80);
  EXPECT_EQ(at(mbr, 462), 0x00);

  // A choice the table does not hold leaves the disk bootable as it was.
  writer.activeStarts = {{99999}};
  EXPECT_FALSE(writer.SetActive());
  EXPECT_EQ(readSector(image, 0), mbr);
}

TEST_F(Writer, AWholeRecoveryReportsEachPartitionsStep) {
  foundEPTB(5000, TRACK, 2000);
  foundEPTB(1000, TRACK, 3937);
  start();
  std::vector<RecoverPart> chosen = {chosenAt(5000, true), chosenAt(1000, true)};
  struct Progress : RecoverProgress {
    FXuint total = 0, steps = 0;
    void setProgress(FXuint) override {}
    void setTotal(FXuint t) override { total = t; }
    FXuint getTotal() override { return total; }
    void increment(FXuint s) override { steps += s; }
  } progress;
  Recover recover(chosen, {}, &progress, false, {{}}, {device()});
  EXPECT_EQ(progress.steps, 2u);
  EXPECT_EQ(partitions(), (Lines{"1000 6063 5", "1063 3937 83", "5063 2000 83"}));
  ASSERT_EQ(recover.results.size(), 2u);
  EXPECT_EQ(reasons(recover.results), (Lines{"", ""}));
  EXPECT_EQ(recover.results[0].part.sector, 5000u) << "in the order chosen";
}

TEST_F(Writer, AFileSystemThatRunsPastTheDisksEndIsNotWritten) {
  // The first sectors of a 20 MiB FAT16 volume, 5 MiB before the disk's end.
  std::string volume = dir.path("volume.img");
  makeImage(volume, 40960ull * 512);
  ASSERT_EQ(0, sh("mkfs.vfat -F 16 '" + volume + "' >/dev/null"));
  FXulong first = 13ull * HEADS * TRACK - 10240;
  ASSERT_EQ(0, sh("dd if='" + volume + "' of='" + image + "' bs=512 count=64 seek=" +
                  std::to_string(first) + " conv=notrunc status=none"));
  start();
  std::string mbr = readSector(image, 0);
  Recover recover({chosenAt(first, false)}, {}, nullptr, false, {{}}, {device()});
  EXPECT_EQ(readSector(image, 0), mbr);
  EXPECT_EQ(reasons(recover.results), Lines{"Recover.DoRecover.004"});
}

// A sector that cannot be read or written costs the partitions that need it,
// each told why; the others of the chain are written.  Three lost logical
// partitions and a lost FAT16 file system behind them.
TEST_F(Writer, EachChosenPartitionSaysWhyItWasNotWritten) {
  const Lines all = {"1000 8100 5", "20000 32768 e", "1063 3937 83", "5063 2000 83", "9063 37 83"};
  const Lines without5000 = {"1000 8100 5", "20000 32768 e", "1063 3937 83", "9063 37 83"};
  struct Case {
    const char* what;
    std::set<FXulong> badReads, badWrites;
    Lines reasons;  // for the partitions found at 1000, 5000, 9000 and 20000
    Lines table;    // as sfdisk then lists it
  } cases[] = {
      {"every sector there", {}, {}, {"", "", "", ""}, all},
      {"the MBR unreadable", {0}, {}, Lines(4, "Recover.DoRecover.001"), {}},
      {"the MBR unwritable", {}, {0}, Lines(4, "IOSystem.WriteBR.001"), {}},
      {"one EPTB unreadable", {5000}, {}, {"", "Recover.DoRecover.002", "", ""}, without5000},
      {"one EPTB unwritable", {}, {5000}, {"", "IOSystem.WriteBR.001", "", ""}, without5000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    makeImage(image, 13ull * HEADS * TRACK * 512);
    ASSERT_EQ(0, sh("mkfs.vfat -F 16 -s 2 -h 20000 --offset=20000 '" + image + "' 16384 >/dev/null 2>&1"));
    foundEPTB(1000, TRACK, 3937);
    foundEPTB(5000, TRACK, 2000);
    foundEPTB(9000, TRACK, 37);
    analyser.reset();
    start();
    std::vector<RecoverPart> chosen = {chosenAt(1000, true), chosenAt(5000, true), chosenAt(9000, true),
                                       chosenAt(20000, false)};
    hooked.badSectors = c.badReads;
    hooked.badWrites = c.badWrites;
    Recover recover(chosen, {}, nullptr, false, {{}}, {device()});
    hooked.badSectors.clear();
    hooked.badWrites.clear();
    EXPECT_EQ(reasons(recover.results), c.reasons);
    for (const RecoverResult& r : recover.results) EXPECT_TRUE(r.done() || r.reason.ioError) << r.reason.key;
    EXPECT_EQ(partitions(), c.table);
  }
}
