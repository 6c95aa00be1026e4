// kelvarin-cli end to end: real file systems in image files whose tables
// were lost, searched, recovered, undone, read back with sfdisk and fsck.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "Records.h"
#include "support/Engine.h"
#include "support/LostDisk.h"
#include "support/Oracles.h"
#include "support/TestImages.h"

using kvtest::CliResult;
using kvtest::englishText;
using kvtest::quote;
using kvtest::runCli;
using kvtest::Volume;

namespace {

const unsigned long long CYLINDER = 16 * 63;  // the test geometry: 16 heads, 63 sectors

std::string geometry(unsigned long long sectors) {
  return std::to_string(sectors / CYLINDER) + "/16/63";
}

// Fields of the search's JSON candidates, one "start sectors type pick id"
// line each.
std::vector<std::string> candidateLines(const std::string& json) {
  return kvtest::splitLines(kvtest::onJson(json, "for c in d[\"candidates\"]:\n"
                                                 "  print(c[\"start\"], c[\"sectors\"], \"%02x\" % c[\"type\"], "
                                                 "c[\"pick\"], c[\"id\"])"));
}

// Type bytes that name the same kind of file system.
bool sameFamily(const std::string& fs, unsigned type) {
  const std::set<std::pair<std::string, unsigned>> families = {
      {"fat16", 0x04}, {"fat16", 0x06}, {"fat16", 0x0e}, {"fat32", 0x0b}, {"fat32", 0x0c}, {"ntfs", 0x07}};
  return families.count({fs, type}) != 0;
}

// A disk whose MBR lost a FAT16, an NTFS and a FAT32 partition.  Every
// partition begins on a cylinder or one track in, where a quick search looks.
class CliOnLostDisk : public ::testing::Test {
protected:
  kvtest::TempDir dir;
  std::string image = dir.path("disk.img");
  unsigned long long sectors = 110 * CYLINDER;
  std::vector<Volume> volumes = {
      {63, 20096, "fat16", 0x06},
      {20 * CYLINDER, 8 * CYLINDER, "ntfs", 0x07},
      {28 * CYLINDER, 72 * CYLINDER, "fat32", 0x0c},
  };
  std::string lost;  // the image as it was after the loss

  void SetUp() override {
    ASSERT_TRUE(kvtest::makeDisk(image, sectors, volumes, true));
    ASSERT_EQ(3u, kvtest::sfdiskPartitions(image).size());
    for (const Volume& v : volumes) ASSERT_TRUE(kvtest::fsckVolume(image, v.start, v.sectors, v.fs));
    kvtest::clearTable(image);
    ASSERT_TRUE(kvtest::sfdiskPartitions(image).empty());
    lost = kvtest::readFile(image);
  }

  std::string disk() const { return "-file " + quote(image) + " -chs " + geometry(sectors); }

  // The image restored: every volume back in the table, where it was, and
  // clean for its fsck.
  void expectRestored() {
    std::vector<kvtest::SfdiskPartition> table = kvtest::sfdiskDump(image);
    ASSERT_EQ(volumes.size(), table.size());
    for (size_t i = 0; i < volumes.size(); i++) {
      const Volume& v = volumes[i];
      EXPECT_EQ(std::make_pair(v.start, v.sectors), std::make_pair(table[i].start, table[i].size)) << v.fs;
      EXPECT_TRUE(sameFamily(v.fs, table[i].type)) << v.fs << " as type " << table[i].type;
      EXPECT_TRUE(kvtest::fsckVolume(image, v.start, v.sectors, v.fs)) << v.fs;
    }
  }
};

}  // namespace

TEST_F(CliOnLostDisk, QuickAndFullSearchesListEveryLostPartition) {
  for (const char* mode : {"--quick", "--full"}) {
    CliResult r = runCli(disk() + " search --json " + mode);
    EXPECT_EQ(0, r.status) << mode << r.err;
    std::vector<std::string> found = candidateLines(r.out);
    // A full search also meets the NTFS backup boot record in the last
    // sector of that partition, which the chooser offers as well.
    if (std::string(mode) == "--quick") {
      EXPECT_EQ(volumes.size(), found.size()) << r.out;
    }
    size_t next = 0;
    for (const Volume& v : volumes) {
      std::string prefix = std::to_string(v.start) + " " + std::to_string(v.sectors) + " ";
      while (next < found.size() && found[next].compare(0, prefix.size(), prefix) != 0) next++;
      ASSERT_LT(next, found.size()) << mode << ": no " << prefix << "\n" << r.out;
      EXPECT_NE(std::string::npos, found[next].find(" @" + std::to_string(v.start) + " " +
                                                      std::to_string(next + 1)))
          << found[next];
    }
  }
  // The text form lists the same partitions.
  CliResult text = runCli(disk() + " search");
  EXPECT_EQ(0, text.status);
  for (const Volume& v : volumes) EXPECT_NE(std::string::npos, text.out.find(" " + std::to_string(v.start) + " "));
  EXPECT_EQ(lost, kvtest::readFile(image)) << "a search writes nothing";
}

// Recovered by id, then by found-at sector with an active partition and
// boot code; each undone to a byte-identical disk, the first after asking.
TEST_F(CliOnLostDisk, RecoverThenUndoToAByteIdenticalDisk) {
  CliResult r = runCli(disk() + " recover --disk 1 --pick 1 --pick 2 --pick 3");
  ASSERT_EQ(0, r.status) << r.err;
  expectRestored();
  std::string recovered = kvtest::readFile(image);
  EXPECT_EQ(lost.substr(0, 440), recovered.substr(0, 440)) << "no boot code was asked for";
  EXPECT_EQ(1, runCli(disk() + " search").status) << "nothing is left to find";
  // A simulated undo and a declined one change nothing.
  EXPECT_EQ(0, runCli(disk() + " -sim undo --yes").status);
  CliResult no = runCli(disk() + " undo", "n\n");
  EXPECT_EQ(1, no.status);
  EXPECT_NE(std::string::npos, no.err.find("[y/N]")) << no.err;
  EXPECT_EQ(recovered, kvtest::readFile(image));
  ASSERT_EQ(0, runCli(disk() + " undo", "y\n").status);
  EXPECT_TRUE(lost == kvtest::readFile(image));  // the undo database's sectors too
  EXPECT_EQ(1, runCli(disk() + " undo --yes").status) << "nothing is left to undo";

  std::string picks;
  for (const Volume& v : volumes) picks += " --pick @" + std::to_string(v.start);
  r = runCli(disk() + " recover --disk 1" + picks + " --active 20160 --boot-code");
  ASSERT_EQ(0, r.status) << r.err;
  expectRestored();
  std::string dump;
  kvtest::sh("sfdisk -d " + quote(image) + " | grep bootable", &dump);
  EXPECT_EQ(1, std::count(dump.begin(), dump.end(), '\n')) << dump;
  EXPECT_NE(std::string::npos, dump.find("start=       20160")) << dump;
  EXPECT_NE(lost.substr(0, 440), kvtest::readFile(image).substr(0, 440)) << "boot code written";
  ASSERT_EQ(0, runCli(disk() + " undo --yes").status);
  EXPECT_TRUE(lost == kvtest::readFile(image));
}

// Logging is asked for, but the free sectors of the first track cannot hold
// the log of the whole recovery.  The recovery is refused before anything is
// written (under -sim too, which shows what a real run does), and only
// --no-undo writes it.  Two sectors per track do hold the log of a table
// without boot code: that recovery goes ahead and is undone.
TEST_F(CliOnLostDisk, ARecoveryTheLogCannotHoldIsRefusedUnlessUnlogged) {
  const std::string picks = " recover --disk 1 --pick @63 --pick @20160 --pick @28224";
  const std::string refusal = FXStringFormat(englishText("kelvarin-cli.recover.020").c_str(), 1).text();
  const std::string saved = dir.path("lost.img");
  ASSERT_TRUE(kvtest::copySparse(image, saved));
  auto bootLoader = [&] {
    for (int s = 1; s < 63; s++) {
      std::string code = "core image, sector " + std::to_string(s);
      kvtest::patchFile(image, s * 512ull, code.data(), code.size());
    }
  };
  auto partitionAtSector1 = [&] {
    ASSERT_EQ(0, kvtest::sh("printf 'start=1, size=62, type=da\\n' | sfdisk --append -q --no-reread "
                            "--no-tell-kernel " + quote(image) + " >/dev/null"));
  };
  auto holdsVolumes = [&] {
    std::set<std::pair<unsigned long long, unsigned long long>> table;
    for (const kvtest::SfdiskPartition& p : kvtest::sfdiskDump(image)) table.insert({p.start, p.size});
    for (const Volume& v : volumes)
      if (!table.count({v.start, v.sectors})) return false;
    return true;
  };
  struct Case {
    const char* what;
    std::string chs;
    std::string options;
    std::function<void()> prepare;
  } cases[] = {
      {"a boot loader in the first track", geometry(sectors), "", bootLoader},
      {"one sector per track", "6930/16/1", "", [] {}},
      {"two sectors per track and boot code", "3465/16/2", " --boot-code", [] {}},
      {"a partition at sector 1", geometry(sectors), "", partitionAtSector1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(kvtest::copySparse(saved, image));
    c.prepare();
    std::string before = kvtest::readFile(image);
    std::string disk = "-file " + quote(image) + " -chs " + c.chs;
    for (const char* mode : {"", " -sim"}) {
      CliResult r = runCli(disk + mode + picks + c.options);
      EXPECT_EQ(1, r.status) << mode << r.err;
      EXPECT_NE(std::string::npos, r.err.find(refusal)) << r.err;
      EXPECT_TRUE(before == kvtest::readFile(image)) << mode << ": nothing is written";
    }
    CliResult r = runCli(disk + picks + c.options + " --no-undo");
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(holdsVolumes());
    std::string after = kvtest::readFile(image);
    EXPECT_EQ(before.substr(512, 62 * 512), after.substr(512, 62 * 512));
    EXPECT_EQ(1, runCli(disk + " undo --yes").status) << "nothing was logged";
    EXPECT_TRUE(after == kvtest::readFile(image)) << "and nothing is undone";
  }

  ASSERT_TRUE(kvtest::copySparse(saved, image));
  std::string disk = "-file " + quote(image) + " -chs 3465/16/2";
  CliResult r = runCli(disk + picks);
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.err.find(englishText("kelvarin-cli.recover.017"))) << r.err;
  EXPECT_TRUE(holdsVolumes());
  ASSERT_EQ(0, runCli(disk + " undo --yes").status);
  EXPECT_TRUE(lost == kvtest::readFile(image));
}

// A disk that cannot be written: each chosen partition is named with the
// reason it was not written back, and the status is that of an I/O error.
// With logging on, the undo log is the first thing that cannot be written.
TEST_F(CliOnLostDisk, AnUnwritableDiskSaysWhyForEachPartitionAndEndsWithStatus3) {
  if (kvtest::sh("chattr +i " + quote(image) + " 2>/dev/null") != 0)
    GTEST_SKIP() << "chattr +i does not work here, so no image can be made unwritable";
  struct Writable {  // again, whatever the test finds
    std::string file;
    ~Writable() { kvtest::sh("chattr -i " + quote(file)); }
  } writable{image};
  const struct {
    const char* options;
    const char* reason;
  } cases[] = {{" --no-undo", "IOSystem.WriteBR.001"}, {"", "IOSystem.WriteBR.004"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    CliResult r = runCli(disk() + " recover --disk 1 --pick @63 --pick @20160" + c.options);
    EXPECT_EQ(3, r.status) << r.err;
    for (const char* sector : {"63", "20160"}) {
      std::string line = FXStringFormat(englishText("kelvarin-cli.recover.022").c_str(), atof(sector),
                                        englishText(c.reason).c_str()).text();
      EXPECT_NE(std::string::npos, r.err.find(line)) << line << "\n" << r.err;
    }
  }
  EXPECT_EQ(lost, kvtest::readFile(image));
}

TEST_F(CliOnLostDisk, PicksNameCandidatesExactlyOrNotAtAll) {
  // A stray table in free space before the first volume: its two entries
  // become two candidates at one sector, one of them overlapping the FAT16.
  using kvtest::entryBytes;
  kvtest::writeSector(image, 10, kvtest::tableSector({
                                     entryBytes(0x06, 40, 1000),      // sectors 50..1049: inside the FAT16
                                     entryBytes(0x83, 105000, 1000),  // free space near the end
                                     entryBytes(0x83, 200000, 1000),  // past the end of the disk: never offered
                                 }));
  std::string before = kvtest::readFile(image);

  CliResult ambiguous = runCli(disk() + " recover --disk 1 --pick @10");
  EXPECT_EQ(2, ambiguous.status) << ambiguous.err;
  EXPECT_NE(std::string::npos, ambiguous.err.find("@10:")) << ambiguous.err;
  const std::pair<std::string, int> refused[] = {
      {"--pick @10:1 --pick @63", 1},  // the two overlap
      {"--pick @10:3", 1},             // no third entry
      {"--pick @5", 1},                // nothing at sector 5
      {"--pick @" + std::to_string(sectors + 5), 1},
      {"--pick @63 --active 12345", 2},  // no partition starts there
  };
  for (const auto& r : refused) EXPECT_EQ(r.second, runCli(disk() + " recover --disk 1 " + r.first).status) << r.first;
  EXPECT_EQ(before, kvtest::readFile(image));
  // The same candidate named twice is recovered once.
  CliResult twice = runCli(disk() + " recover --disk 1 --pick @20160 --pick @20160");
  EXPECT_EQ(0, twice.status) << twice.err;
  EXPECT_EQ(1u, kvtest::sfdiskPartitions(image).size());
}

// Five lost partitions packed end to end: the MBR has four slots, and no
// free sector lies in front of the fourth or fifth for a logical's table.
TEST(FiveLostPartitions, RecoveringAllIsRefusedAndNothingIsWritten) {
  kvtest::TempDir dir;
  std::string image = dir.path("five.img");
  unsigned long long sectors = 110 * CYLINDER;
  std::vector<Volume> volumes;
  for (int i = 0; i < 5; i++)
    volumes.push_back({i == 0 ? 63 : i * 20 * CYLINDER, i == 0 ? 20096 : 20 * CYLINDER, "fat16", 0x06});
  ASSERT_TRUE(kvtest::makeDisk(image, sectors, volumes, false));
  std::string before = kvtest::readFile(image);
  std::string disk = "-file " + quote(image) + " -chs " + geometry(sectors);

  CliResult r = runCli(disk + " recover --disk 1 --pick 1 --pick 2 --pick 3 --pick 4 --pick 5");
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find(englishText("Placement.PlanLayout.004"))) << r.err;
  EXPECT_NE(std::string::npos, r.err.find(std::to_string(60 * CYLINDER))) << r.err;
  EXPECT_EQ(before, kvtest::readFile(image));
  // Four of them fit.
  EXPECT_EQ(0, runCli(disk + " recover --disk 1 --pick 1 --pick 2 --pick 3 --pick 4").status);
  EXPECT_EQ(4u, kvtest::sfdiskPartitions(image).size());
}

// A lost FAT16 volume around a partition the table still lists: written
// back, it would overlap that partition, so it is never offered.
TEST(EnclosedPartition, AVolumeAroundAListedPartitionIsNoCandidate) {
  kvtest::TempDir dir;
  std::string image = dir.path("around.img");
  unsigned long long sectors = 110 * CYLINDER;
  kvtest::makeImage(image, sectors * 512);
  ASSERT_TRUE(kvtest::sfdisk(image, "label: dos\nstart=40960, size=8192, type=83\n"));
  ASSERT_TRUE(kvtest::mkfsAt(image, 2048, 65536, "mkfs.vfat -F 16 -h 2048"));
  std::string before = kvtest::readFile(image);
  std::string disk = "-file " + quote(image) + " -chs " + geometry(sectors);

  CliResult search = runCli(disk + " search --json --full");
  for (const std::string& line : candidateLines(search.out))
    EXPECT_NE(0u, line.find("2048 ")) << line;
  CliResult pick = runCli(disk + " recover --disk 1 --pick @2048");
  EXPECT_EQ(1, pick.status) << pick.err;
  EXPECT_EQ(before, kvtest::readFile(image));
}

TEST(CliUsage, ExitStatusesAndHelp) {
  kvtest::TempDir dir;
  std::string image = dir.path("empty.img");
  kvtest::makeImage(image, 20 * CYLINDER * 512);
  std::string file = "-file " + quote(image);
  std::string disk = file + " -chs 20/16/63";
  std::string fifo = dir.path("fifo");
  ASSERT_EQ(0, kvtest::sh("mkfifo " + quote(fifo)));

  struct Case {
    std::string args;
    int status;
    std::string says;  // part of what standard error must say
  } cases[] = {
      {"frobnicate", 2, ""},
      {file + " list", 0, "1/255/63"},  // no geometry: 255 heads, 63 sectors, and a note
      {"list -file", 2, "-file"},
      {"-file '' -chs 20/16/63 list", 2, "-file"},
      {file + " -chs abc list", 2, "abc"},
      {file + " -chs 1/2 list", 2, "1/2"},
      {file + " -chs 0/16/63 list", 2, "0/16/63"},
      {file + " -chs 20/0/63 list", 2, "20/0/63"},
      {file + " -chs 22/16/63 list", 2, "22/16/63"},  // two cylinders more than the image
      {file + " -chs 21/16/63 list", 0, ""},          // one more: the image rounded up
      {"-chs 20/16/63 list", 2, "-file"},
      {disk + " list --disk 2", 2, ""},
      {disk + " search --quick --full", 2, ""},
      {disk + " search --disk 1 --gap 7", 2, ""},
      {disk + " recover --disk 1", 2, ""},
      {disk + " recover --disk 1 --pick 0", 2, ""},
      {"-file " + quote(dir.path("missing.img")) + " -chs 20/16/63 list", 3, "missing.img"},
      {"-file " + quote(fifo) + " -chs 1/16/63 list", 3, "fifo"},  // refused at once, never waited on
      {"-file " + quote(dir.path()) + " list", 3, dir.path()},
      {disk + " list", 0, ""},
      {disk + " search --full --disk 1 --gap 1", 1, ""},
      {disk + " undo", 1, ""},
      {"help search", 0, ""},
  };
  for (const Case& c : cases) {
    CliResult r = runCli(c.args);
    EXPECT_EQ(c.status, r.status) << c.args << "\n" << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.says)) << c.args << "\n" << r.err;
    if (c.status == 2 || c.status == 3) {
      EXPECT_NE(std::string::npos, r.err.find("kelvarin-cli: ")) << c.args;
      // Nothing falls back to the machine's disks.
      EXPECT_EQ("", r.out) << c.args;
    }
  }
  // No display is needed or even looked for, even one that is not there.
  std::string out;
  EXPECT_EQ(0, kvtest::sh("env DISPLAY=:987 ./kelvarin-cli " + disk + " list", &out));
  EXPECT_NE(std::string::npos, out.find("20/16/63")) << out;
  // Standard output of a failed command stays empty for scripts.
  EXPECT_EQ("", runCli(disk + " search --json --disk 3").out);
}

// A rescue console has no X: the console program carries FOX's core inside
// and loads none of the display's libraries.
TEST(CliUsage, NeedsNoDisplayLibraries) {
  std::string libraries;
  ASSERT_EQ(0, kvtest::sh("ldd ./kelvarin-cli", &libraries));
  for (const char* display : {"libX11", "libXext", "libXft", "libGL", "libFOX"})
    EXPECT_EQ(std::string::npos, libraries.find(display)) << display << " in\n" << libraries;
}
