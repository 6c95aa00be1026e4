// Disks that break the old assumptions: sectors of 4096 bytes, a FIFO given
// as an image, and volumes found beyond the 2^32 sectors a table entry can
// address.  Each is shown as it is, or refused with its reason; none is
// ever written in a wrong place.
#include <gtest/gtest.h>

#include "Candidates.h"
#include "IOSystem.h"
#include "Recover.h"
#include "support/CountingDisk.h"
#include "support/Engine.h"
#include "support/LostDisk.h"
#include "support/Oracles.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

const unsigned long long CYLINDER = 255 * 63;
const unsigned long long TABLE_REACH_SECTORS = 1ull << 32;

std::string firstTrack(const std::string& image) {
  std::string track;
  for (unsigned s = 0; s < 63; s++) track += readSector(image, s);
  return track;
}

// The fields of the search's JSON candidates, "start sectors" each.
std::string candidateNumbers(const std::string& json) {
  return onJson(json, "for c in d[\"candidates\"]: print(c[\"start\"], c[\"sectors\"])");
}

class BeyondTableReach : public ::testing::Test {
protected:
  TempDir dir;
  std::string image = dir.path("big.img");
  std::string disk;  // the disk options of kelvarin-cli

  void makeDisk(unsigned long long sectors) {
    makeImage(image, sectors * 512);
    disk = "-file " + quote(image) + " -chs " + std::to_string(sectors / CYLINDER) + "/255/63";
  }
};

}  // namespace

// A 2.1 TiB disk whose only table entry ends where entries end (2^32): an
// NTFS boot sector found 10517 sectors past that is listed where it lies,
// not 2^32 sectors earlier, and a recovery of it is refused with the reason.
TEST_F(BeyondTableReach, ABootSectorPast2TiBIsListedWhereItIsAndNotWritten) {
  const unsigned long long found = TABLE_REACH_SECTORS + 10517;
  ASSERT_EQ(found, 267350 * CYLINDER + 63) << "one track into a cylinder: a quick search probes it";
  makeDisk(2100ull << 21);  // 2100 GiB
  const unsigned long long first = 1ull << 21;
  writeSector(image, 0, tableSector({entryBytes(0x83, (unsigned)first, (unsigned)(TABLE_REACH_SECTORS - first))}));
  writeNtfsStart(image, found, 2047);
  std::string before = firstTrack(image);

  CliResult r = runCli(disk + " search --json --quick");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(std::to_string(found) + " 2048", candidateNumbers(r.out)) << r.out;

  for (const char* pick : {"--pick 1", "--pick @4294977813"}) {
    r = runCli(disk + " recover --disk 1 " + pick);
    EXPECT_EQ(1, r.status) << pick << "\n" << r.err;
    EXPECT_NE(std::string::npos, r.err.find(std::to_string(found))) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("4294967296")) << r.err;
  }
  EXPECT_TRUE(before == firstTrack(image)) << "nothing is written";
  ASSERT_EQ(1u, sfdiskPartitions(image).size());
}

// An NTFS of 2^33 sectors whose start fits a table entry but whose size does
// not: listed with its true size; the writer, given it anyway, writes nothing
// (cut to 32 bits it would have become a partition of one sector).
TEST_F(BeyondTableReach, AVolumeTooLargeForAnEntryIsNeverWrittenShort) {
  const unsigned long long total = 1ull << 33;
  makeDisk(4100ull << 21);  // 4100 GiB
  writeNtfsStart(image, 2048, total);
  std::string before = firstTrack(image);
  HookedDisk counting;
  {
    ImageAnalyser a(image, std::to_string((4100ull << 21) / CYLINDER) + "/255/63");
    CandidateFinder finder(*a);
    std::vector<Candidate> placed = finder.place(0, {2048});
    ASSERT_EQ(1u, placed.size());
    EXPECT_EQ(2048u, placed[0].start());
    EXPECT_EQ(total + 1, placed[0].sectors());
    EXPECT_FALSE(placed[0].withinTableReach());

    // The writer takes what it is given; it must still not write the entry.
    std::vector<RecoverPart> list = {placed[0].toRecoverPart(*a)};
    Recover recover(list, {}, nullptr, false, {{}}, a->GetDeviceNames(false));
  }
  EXPECT_TRUE(before == firstTrack(image));
  EXPECT_EQ(0u, counting.writes);

  // Beyond 2 TiB a blank disk gets a GPT unless an MBR is asked for.
  CliResult r = runCli(disk + " recover --disk 1 --label mbr --pick @2048");
  EXPECT_EQ(1, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.err.find(std::to_string(2048 + total + 1))) << r.err;
  EXPECT_TRUE(before == firstTrack(image));
}

// A loop device of 4096-byte sectors: a partition found there would be
// written at an eighth of its place.  It is refused before anything is read.
TEST(SectorSize, ADiskOf4096ByteSectorsIsRefused) {
  TempDir dir;
  std::string image = dir.path("4k.img");
  makeImage(image, 64 << 20);
  LoopDevice loop(image, 4096);
  if (loop.device.empty()) GTEST_SKIP() << "this machine cannot attach loop devices";
  std::string before = readFile(image);
  for (const char* command : {" -chs 8/255/63 list", " search --full"}) {
    CliResult r = runCli("-file " + quote(loop.device) + command);
    EXPECT_EQ(3, r.status) << command << "\n" << r.err;
    EXPECT_NE(std::string::npos, r.err.find("4096")) << r.err;
    EXPECT_EQ("", r.out);
  }
  EXPECT_TRUE(before == readFile(image));
}
