// Rebuilding a disk whose whole MBR layout was wiped: the MBR's four slots
// and every table block of its extended chain.  kelvarin-cli recovers every
// volume a full search finds, puts boot code into the MBR and makes the
// first primary active.  The rebuilt table lists each volume at its old
// start and size, primaries as primaries and logicals in an extended
// partition, each behind a table block where the disk's own tool had put
// it; every file system passes its fsck and not one of its sectors
// changed; the undo, after the whole recovery or after one killed at any of
// its writes, gives the wiped disk back byte for byte.
#include <gtest/gtest.h>

#include <iostream>

#include "Candidates.h"
#include "IOSystem.h"
#include "Recover.h"
#include "support/Engine.h"
#include "support/KilledWrites.h"
#include "support/LostDisk.h"
#include "support/QemuBoot.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

// One volume of a layout.
struct Laid {
  unsigned long long start, sectors;
  bool logical;
  const char* type;   // its entry's type, as sfdisk takes it
  std::string mkfs;   // makes its file system; empty: the boot stub of QemuBoot
  const char* blkid;  // the type `blkid -p` sees
  const char* fsck;   // what fsckVolume checks it as; null: nothing to check
};

struct Layout {
  const char* name;
  unsigned long long sectors;
  std::string chs;
  // How far in front of its logical each table block lies.
  unsigned long long eptbDistance;
  const char* extendedType;
  unsigned long long extendedEnd;  // the extended partition the disk's tool made
  bool rolesGiven;                 // each volume is picked as primary or logical
  std::vector<Laid> volumes;       // in disk order; the first is the active one
  SectorRange extended() const {
    for (const Laid& v : volumes)
      if (v.logical) return SectorRange(v.start - eptbDistance, extendedEnd);
    return SectorRange();
  }
  std::vector<unsigned long long> eptbs() const {
    std::vector<unsigned long long> blocks;
    for (const Laid& v : volumes)
      if (v.logical) blocks.push_back(v.start - eptbDistance);
    return blocks;
  }
};

// A layout is named by its name in test output.
void PrintTo(const Layout& l, std::ostream* out) { *out << l.name; }

const unsigned long long CYLINDER = 255 * 63;

// As fdisk of old made them: on cylinder boundaries, the first primary one
// track in, each logical one track behind its table block.  Sizes are cut
// to whole 4 KiB, in which mkfs.vfat and mkfs.reiserfs count, so that file
// system and entry agree.
Layout cylinderLayout() {
  auto cut = [](unsigned long long sectors) { return sectors / 8 * 8; };
  auto at = [](unsigned long long cylinder) { return cylinder * CYLINDER; };
  return {"Cylinders",
          17 * CYLINDER,
          "17/255/63",
          63,
          "5",
          17 * CYLINDER,
          true,
          {{63, cut(at(2) - 63), false, "6", "", "vfat", "fat16"},
           {at(2), at(2), false, "7",
            "mkfs.ntfs -Q -F -p " + std::to_string(at(2)) + " -H 255 -S 63", "ntfs", "ntfs"},
           {at(4) + 63, cut(at(1) - 63), true, "83", "mkfs.ext2 -q -F", "ext2", "ext2"},
           {at(5) + 63, cut(at(2) - 63), true, "83", "mkfs.ext3 -q -F", "ext3", "ext3"},
           {at(7) + 63, cut(at(5) - 63), true, "83", "mkfs.reiserfs -q -f", "reiserfs", "reiserfs"},
           {at(12) + 63, cut(at(5) - 63), true, "c",
            "mkfs.vfat -F 32 -s 1 -h " + std::to_string(at(12) + 63), "vfat", "fat32"}}};
}

// A disk of today: everything on 1 MiB boundaries, a logical's table block
// 1 MiB in front of it; seven volumes, so that four of them go into the
// extended partition without being told.
Layout mebibyteLayout() {
  const unsigned long long size = 40960;
  return {"Mebibytes",
          300 * 2048,
          "38/255/63",
          2048,
          "f",
          124928 + 450000,
          false,
          {{2048, size, false, "83", "mkfs.ext4 -q -F", "ext4", "ext4"},
           {43008, size, false, "7", "mkfs.ntfs -q -F -f", "ntfs", "ntfs"},
           {83968, size, false, "83", "mkfs.ext2 -q -F", "ext2", "ext2"},
           {126976, size, true, "83", "mkfs.ext3 -q -F", "ext3", "ext3"},
           {169984, size, true, "e", "mkfs.vfat -F 16", "vfat", "fat16"},
           {212992, size, true, "83", "mkfs.ext4 -q -F", "ext4", "ext4"},
           {256000, size, true, "82", "mkswap", "swap", nullptr}}};
}

std::string checksumOf(const std::string& image, const Laid& v) {
  std::string sum;
  sh("dd if=" + quote(image) + " bs=512 skip=" + std::to_string(v.start) + " count=" +
         std::to_string(v.sectors) + " status=none | md5sum",
     &sum);
  return sum;
}

// The table block of each logical, written whole: the logical in slot 0,
// the link to the next block in slot 1.
void writeChain(const std::string& image, const Layout& l) {
  SectorRange extended = l.extended();
  std::vector<const Laid*> logicals;
  for (const Laid& v : l.volumes)
    if (v.logical) logicals.push_back(&v);
  for (size_t i = 0; i < logicals.size(); i++) {
    std::vector<std::string> entries = {
        entryBytes((unsigned char)std::stoul(logicals[i]->type, nullptr, 16), (unsigned)l.eptbDistance,
                   (unsigned)logicals[i]->sectors)};
    if (i + 1 < logicals.size()) {
      unsigned long long next = logicals[i + 1]->start - l.eptbDistance;
      entries.push_back(entryBytes(0x05, (unsigned)(next - extended.first),
                                   (unsigned)(logicals[i + 1]->start + logicals[i + 1]->sectors - next)));
    }
    writeSector(image, logicals[i]->start - l.eptbDistance, tableSector(entries));
  }
}

// Each volume at its start and size, primaries in slots 1-4 and logicals
// from 5 on inside one extended partition, whose chain has its blocks
// where the layout has them.
void expectLaidOut(const std::string& image, const Layout& l, const std::string& what) {
  std::vector<SfdiskPartition> rows = sfdiskDump(image);
  SectorRange extended;
  std::vector<SfdiskPartition> volumes;
  for (const SfdiskPartition& row : rows) {
    if (row.type == 0x05 || row.type == 0x0f || row.type == 0x85) {
      extended = SectorRange::sized(row.start, row.size);
    } else {
      volumes.push_back(row);
    }
  }
  ASSERT_EQ(l.volumes.size(), volumes.size()) << what;
  for (size_t i = 0; i < volumes.size(); i++) {
    const Laid& v = l.volumes[i];
    EXPECT_EQ(v.start, volumes[i].start) << what << " " << i;
    EXPECT_EQ(v.sectors, volumes[i].size) << what << " " << i;
    EXPECT_EQ(v.logical, volumes[i].number >= 5) << what << " " << i;
    if (v.logical) {
      EXPECT_TRUE(extended.contains(SectorRange::sized(v.start, v.sectors))) << what << " " << i;
    }
  }
  EXPECT_EQ(l.extended().first, extended.first) << what;
  EXPECT_EQ(l.eptbs(), chainTables(image)) << what;
}

// The first volume, and it alone, is marked active in the MBR.
void expectActive(const std::string& image, const Layout& l) {
  std::string mbr = readSector(image, 0);
  for (int slot = 0; slot < 4; slot++) {
    PartitionEntry e = PartitionEntry::fromTable((const FXuchar*)mbr.data(), slot);
    EXPECT_EQ(e.type != 0 && e.dist == l.volumes[0].start ? 0x80 : 0, (int)e.boot) << slot;
  }
}

void expectVolumesIntact(const std::string& image, const Layout& l,
                         const std::vector<std::string>& checksums) {
  for (size_t i = 0; i < l.volumes.size(); i++) {
    const Laid& v = l.volumes[i];
    EXPECT_EQ(checksums[i], checksumOf(image, v)) << i << ": a sector of the volume changed";
    std::string seen;
    sh("blkid -p -o value -s TYPE --offset " + std::to_string(v.start * 512) + " " + quote(image), &seen);
    EXPECT_EQ(std::string(v.blkid) + "\n", seen) << i;
    if (v.fsck) {
      EXPECT_TRUE(fsckVolume(image, v.start, v.sectors, v.fsck)) << i << " " << v.fsck;
    }
  }
}

// A disk of one layout, made and wiped.
class Rebuild : public ::testing::Test {
protected:
  explicit Rebuild(Layout layout = mebibyteLayout()) : l(std::move(layout)) {}
  void SetUp() override {
    IOSystem::Reset();
    if (l.volumes[0].mkfs.empty() && !haveTool("nasm"))
      GTEST_SKIP() << "nasm makes the boot stub and is not installed";
  }
  void TearDown() override { IOSystem::Reset(); }

  // The disk as its own tool left it, then with every table wiped (`wiped`).
  void makeWipedDisk() {
    makeImage(image, l.sectors * 512);
    std::string script = "label: dos\n";
    bool extendedMade = false;
    for (const Laid& v : l.volumes) {
      if (v.logical && !extendedMade)
        script += "start=" + std::to_string(l.extended().first) + ", size=" +
                  std::to_string(l.extended().size()) + ", type=" + l.extendedType + "\n";
      extendedMade = extendedMade || v.logical;
      script += "start=" + std::to_string(v.start) + ", size=" + std::to_string(v.sectors) +
                ", type=" + v.type + (&v == &l.volumes[0] ? ", bootable" : "") + "\n";
    }
    ASSERT_TRUE(sfdisk(image, script));
    // sfdisk puts a table block right in front of its logical where the
    // layout has it a track or a mebibyte further: they are moved.
    for (unsigned long long block : chainTables(image)) writeSector(image, block, std::string(512, '\0'));
    writeChain(image, l);
    ASSERT_NO_FATAL_FAILURE(expectLaidOut(image, l, "as made"));
    for (const Laid& v : l.volumes) {
      if (v.mkfs.empty()) {
        ASSERT_TRUE(writeStubVolume(dir, image, (unsigned)v.start, (unsigned)v.sectors));
      } else {
        ASSERT_TRUE(mkfsAt(image, v.start, v.sectors, v.mkfs)) << v.mkfs;
      }
      checksums.push_back(checksumOf(image, v));
    }
    clearTable(image, 0);
    for (unsigned long long block : l.eptbs()) writeSector(image, block, std::string(512, '\0'));
    ASSERT_TRUE(sfdiskDump(image).empty());
    ASSERT_EQ(0, sh("cp --sparse=always " + quote(image) + " " + quote(wiped)));
  }

  std::string picks() {
    std::string options;
    for (const Laid& v : l.volumes)
      options += " --pick @" + std::to_string(v.start) +
                 (l.rolesGiven ? (v.logical ? ":logical" : ":primary") : "");
    return options;
  }
  std::string disk() { return "-file " + quote(image) + " -chs " + l.chs; }

  // What kelvarin-cli hands the writer for the same picks.
  RecoveryChoice choice() {
    ImageAnalyser a(image, l.chs);
    CandidateFinder finder(*a);
    std::vector<Candidate> found = finder.place(0, searchAllGaps(*a, 0));
    RecoveryChoice c;
    for (const Laid& v : l.volumes) {
      for (Candidate& candidate : found) {
        if (candidate.foundAt != v.start || candidate.start() != v.start) continue;
        if (l.rolesGiven) candidate.role = v.logical ? PlacementRole::LOGICAL : PlacementRole::PRIMARY;
        c.chosen.push_back(candidate.toRecoverPart(*a));
        break;
      }
    }
    c.foundVolumes = FoundVolumes(*a, found);
    c.writeBootCode = true;
    c.activeStarts = {{l.volumes[0].start}};
    c.devices = a->GetDeviceNames(false);
    return c;
  }

  // The recovery of `chosen` as kelvarin-cli runs it, logged, on `image`.
  DiskWork recovery(const RecoveryChoice& chosen, bool skipFlush = true) {
    return [this, chosen, skipFlush](HookedDisk& disk) {
      disk.skipFlush = skipFlush;
      ImageAnalyser a(image, l.chs);
      for (NRD& d : a->disks) d.dbActive = true;
      Recover::Apply(*a, chosen, nullptr);
    };
  }

  Layout l;
  TempDir dir;
  std::string image = dir.path("disk.img"), wiped = dir.path("wiped.img");
  std::vector<std::string> checksums;  // of each volume as made
};

class RebuildLayout : public Rebuild, public ::testing::WithParamInterface<Layout> {
protected:
  RebuildLayout() : Rebuild(GetParam()) {}
};

}  // namespace

TEST_P(RebuildLayout, EveryVolumeComesBackIntact) {
  ASSERT_NO_FATAL_FAILURE(makeWipedDisk());
  CliResult r = runCli(disk() + " recover --disk 1 --full" + picks() + " --boot-code --active " +
                       std::to_string(l.volumes[0].start));
  EXPECT_EQ(0, r.status) << r.err;
  expectLaidOut(image, l, "recovered");
  expectActive(image, l);
  expectVolumesIntact(image, l, checksums);
  if (l.volumes[0].mkfs.empty()) {
    if (!QemuBoot::available()) {
      std::cout << "[ SKIPPED  ] the boot: " << QemuBoot::whyNot() << std::endl;
    } else {
      // On a copy: the emulator opens its disk for writing.
      std::string booted = dir.path("booted.img");
      ASSERT_EQ(0, sh("cp --sparse=always " + quote(image) + " " + quote(booted)));
      QemuBoot run(dir, booted);
      EXPECT_EQ(run.serialUntilExit(), "KELVARIN-BOOT-OK\r\n");
    }
  }
  EXPECT_EQ(0, runCli(disk() + " undo --yes").status);
  EXPECT_TRUE(sameFile(image, wiped)) << "undo restores every byte";
}

TEST_P(RebuildLayout, ARecoveryKilledAfterAnyWriteIsUndoneByteForByte) {
  ASSERT_NO_FATAL_FAILURE(makeWipedDisk());
  RecoveryChoice chosen = choice();
  ASSERT_EQ(l.volumes.size(), chosen.chosen.size());
  DiskWork recover = recovery(chosen);
  unsigned total = (unsigned)sectorsWrittenBy(recover).size();
  // The writer is handed what kelvarin-cli hands it: the same layout comes out.
  ASSERT_NO_FATAL_FAILURE(expectLaidOut(image, l, "recovered in this process"));
  for (unsigned n = 1; n <= total; n++) {
    ASSERT_EQ(0, sh("cp --sparse=always " + quote(wiped) + " " + quote(image)));
    ASSERT_NO_FATAL_FAILURE(runKilledAfterWrite(n, recover));
    ASSERT_NO_FATAL_FAILURE(expectUndoRestores(
        image, l.chs, wiped, "killed after write " + std::to_string(n) + " of " + std::to_string(total)));
  }
}

// What a power cut can lose is what was not flushed.  A table sector is
// written only once the log of its old bytes is on the medium, so the undo
// can always take it back; the recovery ends with nothing left unflushed.
TEST_P(RebuildLayout, EveryWriteWaitsForItsLogToReachTheMedium) {
  ASSERT_NO_FATAL_FAILURE(makeWipedDisk());
  HookedDisk disk;
  recovery(choice(), false)(disk);
  ASSERT_NO_FATAL_FAILURE(expectLaidOut(image, l, "recovered"));
  const std::vector<FXulong>& written = disk.writtenSectors;
  const std::vector<unsigned>& flushes = disk.flushedAt;
  const FXulong logEnd = 63;  // the log lives in the first track, behind the MBR
  size_t lastLog = written.size();
  for (size_t i = 0; i < written.size(); i++) {
    if (written[i] >= 1 && written[i] < logEnd) {
      lastLog = i;
      continue;
    }
    if (lastLog == written.size()) continue;
    bool flushed = false;
    for (unsigned f : flushes) flushed = flushed || (f > lastLog && f <= i);
    EXPECT_TRUE(flushed) << "write " << i + 1 << " (sector " << written[i]
                         << ") came before the log written by write " << lastLog + 1 << " was flushed";
  }
  ASSERT_FALSE(flushes.empty());
  EXPECT_EQ(written.size(), flushes.back()) << "writes left unflushed at the end";
}

// The user may make a volume logical that would have been primary; a role
// kelvarin-cli does not know is refused.
TEST_F(Rebuild, TheUserMakesAVolumeLogical) {
  ASSERT_NO_FATAL_FAILURE(makeWipedDisk());
  const Laid& first = l.volumes[0];
  const Laid& logical = l.volumes[4];
  CliResult two = runCli(disk() + " recover --disk 1 --pick @" + std::to_string(first.start) +
                         " --pick @" + std::to_string(logical.start) + ":logical");
  ASSERT_EQ(0, two.status) << two.err;
  std::vector<SfdiskPartition> own = sfdiskDump(image);
  ASSERT_EQ(3u, own.size());
  EXPECT_EQ(5, own[2].number);
  EXPECT_EQ(logical.start, own[2].start);
  EXPECT_EQ(2, runCli(disk() + " recover --disk 1 --pick @" + std::to_string(first.start) + ":sideways").status);
}

INSTANTIATE_TEST_SUITE_P(Disks, RebuildLayout, ::testing::Values(cylinderLayout(), mebibyteLayout()),
                         [](const ::testing::TestParamInfo<Layout>& info) { return info.param.name; });
