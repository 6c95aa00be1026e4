// The backup layout file "layout.bin" and the backup twins: the file round
// trip, missing and damaged files, the sector store, and a change log and
// undo that run entirely in the store.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

#include "Analyse.h"
#include "IOSystem.h"
#include "Recover.h"
#include "support/Engine.h"
#include "support/CountingDisk.h"
#include "support/LostDisk.h"
#include "support/TestImages.h"
#include "support/WorkDir.h"

using namespace kvtest;

namespace {

// Collects what the program writes to stderr (the toolkit's message output
// and the hex dumps) while it lives.
struct CaptureStderr {
  CaptureStderr() { testing::internal::CaptureStderr(); }
  ~CaptureStderr() { text(); }
  std::string text() {
    if (!done) captured = testing::internal::GetCapturedStderr(), done = true;
    return captured;
  }
  std::string captured;
  bool done = false;
};

BackupSector record(FXulong sector, char fill, FXuint tag = 7) {
  BackupSector r;
  r.tag = tag;
  r.sector = sector;
  memset(r.data, fill, sizeof(r.data));
  return r;
}

class BackupFile : public ::testing::Test {
protected:
  void SetUp() override { IOSystem::Reset(); }
  void TearDown() override {
    endRun();
    IOSystem::Reset();
  }
  // A run of the program with -usebackup.
  Analyse& run(std::vector<std::string> extra = {}) {
    extra.insert(extra.begin(), "-usebackup");
    analyser = analyseArgs(extra);
    sharedAnalyser = analyser.get();
    return *analyser;
  }
  void endRun() {
    analyser.reset();
    sharedAnalyser = nullptr;
  }
  // Writes a layout.bin holding `disk` and `sectors`.
  void writeLayout(NRD disk, const std::vector<BackupSector>& sectors) {
    IOSystem::backupSectors.clear();
    for (const BackupSector& s : sectors) IOSystem::backupSectors[s.sector] = s;
    Analyse writer;  // a run without arguments lists the (no) disks of the machine
    writer.WriteBackupFile(disk);
    IOSystem::backupSectors.clear();
  }
  NRD sampleDisk() {
    return NRD(FXString("/dev/kvtest-disk"), FXString("Some Disk"), CHS(1000, 255, 63),
               CHS(1001, 16, 63), 20000);
  }

  WorkDir dir;  // layout.bin lives in the current folder
  HookedDisk hooked;  // lists no disks of the machine
  std::unique_ptr<Analyse> analyser;
};

}  // namespace

TEST_F(BackupFile, AFileIsReadBackEqual) {
  std::vector<BackupSector> sectors{record(0, 'a'), record(5, 'b', 0xDEADBEEF),
                                    record((1ull << 32) + 5, 'c'), record(1ull << 40, 'd')};
  writeLayout(sampleDisk(), sectors);

  std::string file = readFile("layout.bin");
  NRD loaded;
  EXPECT_TRUE(Analyse().ReadBackupFile(loaded));
  EXPECT_EQ(loaded.device, "layout.bin");
  EXPECT_EQ(loaded.model, "Backup/Some Disk");
  EXPECT_TRUE(loaded.physical == CHS(1000, 255, 63) && loaded.logical == CHS(1001, 16, 63));
  EXPECT_EQ(loaded.sectors, 20000u);
  ASSERT_EQ(IOSystem::backupSectors.size(), sectors.size());
  for (const BackupSector& s : sectors) {  // sectors at 2^32 and above keep their own record
    const BackupSector& r = IOSystem::backupSectors.at(s.sector);
    EXPECT_TRUE(r.tag == s.tag && r.sector == s.sector && memcmp(r.data, s.data, 512) == 0) << s.sector;
  }

  // A model that already names the backup is kept.
  writeLayout(loaded, sectors);
  EXPECT_EQ(readFile("layout.bin"), file);
}

TEST_F(BackupFile, WithoutAFileTheRunHasOneEmptyDiskAndWritesTheFileAtTheEnd) {
  {
    CaptureStderr out;
    Analyse& a = run();
    ASSERT_EQ(a.disks.size(), 1u);
    EXPECT_TRUE(a.disks[0].device.empty());
    EXPECT_TRUE(a.disks[0].partitions.empty());
    std::string text = out.text();
    EXPECT_NE(text.find("note: backup file does not exist\n"), std::string::npos);
    EXPECT_NE(text.find("error reading layout.bin"), std::string::npos);
    endRun();
  }
  std::string file = readFile("layout.bin");
  EXPECT_EQ(file, std::string("\x0a\0\0\0layout.bin\x07\0\0\0Backup/", 25) + std::string(56 + 4, '\0'));
}

TEST_F(BackupFile, TheStoreServesReadsAndKeepsWrites) {
  IOSystem::useBackup = true;
  IOSystem::backupSectors[0] = record(0, 'm');
  IOSystem::backupSectors[2] = record(2, 'n');
  FXuchar buffer[1536];
  // A read across sectors; a sector the store lacks reads as zeros.
  ASSERT_TRUE(IOSystem::ReadBR("anything", buffer, 500, 1036));
  EXPECT_EQ(std::string((char*)buffer, 1036), std::string(12, 'm') + std::string(512, '\0') + std::string(512, 'n'));
  ASSERT_TRUE(IOSystem::PrepareRead("anything", 10));
  ASSERT_TRUE(IOSystem::Read(2, buffer, 512));
  EXPECT_EQ(buffer[0], 'n');
  ASSERT_TRUE(IOSystem::CloseRead());

  CaptureStderr quiet;  // each write shows the stored sector
  std::string first(512, 'p'), second(512, 'q');
  EXPECT_TRUE(IOSystem::WriteBR("anything", first.data(), 7 * 512));
  EXPECT_TRUE(IOSystem::WriteBR("anything", second.data(), 7 * 512));
  EXPECT_EQ(std::string((char*)IOSystem::backupSectors.at(7).data, 512), second);
}

TEST_F(BackupFile, ADiskReadFromTheFileIsLoggedAndUndoneInTheStore) {
  NRD disk = sampleDisk();
  BackupSector mbr = record(0, '\0');
  std::string table = tableSector({entryBytes(0x83, 2048, 8192)});
  memcpy(mbr.data, table.data(), 512);
  writeLayout(disk, {mbr, record(40, 'k')});
  Analyse& a = run();
  ASSERT_EQ(a.disks.size(), 1u);
  NRD& d = a.disks[0];
  ASSERT_EQ(d.partitions.size(), 1u) << "its table is read from the store";
  auto storeBefore = IOSystem::backupSectors;

  d.dbActive = true;
  IOSystem::disableWriteLog = false;
  std::string data(512, 'k');
  data[3] = 'z';
  {
    CaptureStderr quiet;
    ASSERT_TRUE(IOSystem::WriteBR(d.device, data.data(), 40 * 512));
  }
  EXPECT_EQ(IOSystem::backupSectors[40].data[3], 'z');
  ASSERT_EQ(IOSystem::IsUndoAvailable(d.device), 1u);
  ASSERT_TRUE(IOSystem::CheckUndoDBPartitionChkSum(d.device, 1));
  IOSystem::disableWriteLog = true;
  {
    CaptureStderr quiet;
    ASSERT_TRUE(IOSystem::Undo(d.device, 1));
  }
  EXPECT_EQ(IOSystem::backupSectors[40].data[3], 'k');
  EXPECT_EQ(0, memcmp(IOSystem::backupSectors[0].data, storeBefore[0].data, 512));
  EXPECT_EQ(IOSystem::backupSectors[1].data[0], 0x00);  // the database sector, zeros again
  endRun();
  // The file keeps the run's changes.
  IOSystem::backupSectors.clear();
  NRD again;
  ASSERT_TRUE(Analyse().ReadBackupFile(again));
  EXPECT_EQ(IOSystem::backupSectors.count(1), 1u);
}

// The trial run that checks the log's room before a recovery works on the
// store as the recovery will, and leaves the store and the log's cursor as
// they were: a lost logical partition at sector 12000, with the first track
// free, then taken by a boot loader.
TEST_F(BackupFile, ATrialRunLeavesTheStoreAsItWas) {
  BackupSector mbr = record(0, '\0'), eptb = record(12000, '\0');
  std::string table = tableSector({entryBytes(0x83, 2048, 8192)});
  std::string lost = tableSector({entryBytes(0x83, 63, 1000)});
  memcpy(mbr.data, table.data(), 512);
  memcpy(eptb.data, lost.data(), 512);
  std::vector<BackupSector> sectors = {mbr, eptb};
  for (bool loader : {false, true}) {
    SCOPED_TRACE(loader ? "boot loader" : "free first track");
    for (FXulong s = 1; loader && s < 63; s++) {
      sectors.push_back(record(s, 'b'));
      sectors.back().data[0] = 'x';
    }
    writeLayout(sampleDisk(), sectors);
    Analyse& a = run();
    NRD& d = a.disks[0];
    d.dbActive = true;
    auto storeBefore = IOSystem::backupSectors;
    RecoverPart r;
    r.device = d.device;
    r.sector = 12000;
    r.logical = true;
    r.heads = 16;
    r.sectorsPerTrack = 63;
    std::vector<FXString> unlogged;
    {
      CaptureStderr quiet;
      unlogged = Recover::DisksTheLogCannotHold({r}, {}, false, {{}}, {d.device});
    }
    EXPECT_EQ(loader, !unlogged.empty());
    ASSERT_EQ(storeBefore.size(), IOSystem::backupSectors.size());
    for (const auto& s : storeBefore)
      EXPECT_EQ(0, memcmp(s.second.data, IOSystem::backupSectors[s.first].data, 512)) << s.first;
    EXPECT_TRUE(d.dbActive);
    EXPECT_EQ(d.dbStartSec, 0u);
    EXPECT_EQ(d.dbKeepBelow, ~(FXulong)0);
    endRun();
  }
}

// A simulation in backup mode reads back what it wrote, while the store and
// the file keep what they held: the file is not even written again.
TEST_F(BackupFile, ASimulationLeavesTheFileAsItWas) {
  writeLayout(sampleDisk(), {record(0, '\0'), record(40, 'k')});
  std::string file = readFile("layout.bin");
  struct timespec old[2] = {{978307200, 0}, {978307200, 0}};  // 2001-01-01
  ASSERT_EQ(0, utimensat(AT_FDCWD, "layout.bin", old, 0));
  {
    CaptureStderr quiet;
    Analyse& a = run({"-sim"});
    std::string data(512, 's');
    ASSERT_TRUE(IOSystem::WriteBR(a.disks[0].device, data.data(), 40 * 512));
    FXuchar back[512];
    ASSERT_TRUE(IOSystem::ReadBR(a.disks[0].device, back, 40 * 512, 512));
    EXPECT_EQ(std::string((char*)back, 512), data);
    EXPECT_EQ(IOSystem::backupSectors.at(40).data[0], 'k');
    endRun();
  }
  EXPECT_EQ(readFile("layout.bin"), file);
  struct stat st;
  ASSERT_EQ(0, stat("layout.bin", &st));
  EXPECT_EQ(st.st_mtim.tv_sec, old[1].tv_sec);
}

// ---------------------------------------------------------------------------
// Damaged files are reported, read as far as they go, and kept.

TEST_F(BackupFile, ATruncatedFileIsReportedAndKept) {
  writeLayout(sampleDisk(), {record(0, '\0'), record(3, 'a'), record(9, 'b')});
  std::string whole = readFile("layout.bin");
  std::string cut = whole.substr(0, whole.size() - 100);
  patchFile("layout.bin", 0, cut.data(), cut.size());
  ASSERT_EQ(0, truncate("layout.bin", (off_t)cut.size()));
  {
    CaptureStderr out;
    Analyse& a = run();
    ASSERT_EQ(a.disks.size(), 1u);
    EXPECT_EQ(a.disks[0].sectors, 20000u);
    EXPECT_EQ(IOSystem::backupSectors.size(), 2u);
    EXPECT_EQ(IOSystem::backupSectors.count(9), 0u);
    EXPECT_NE(out.text().find("layout.bin is damaged (sector records missing at the end)"),
              std::string::npos);
    endRun();
  }
  EXPECT_EQ(readFile("layout.bin"), cut);
}

TEST_F(BackupFile, DamagedFilesDoNotCrashTheRun) {
  writeLayout(sampleDisk(), {record(0, '\0'), record(3, 'a')});
  std::string good = readFile("layout.bin");
  size_t countAt = 4 + 10 + 4 + 16 + 56;
  struct Damage {
    size_t at;
    std::string bytes;
    const char* report;
  } damages[] = {
      {0, std::string("\xf0\xff\xff\x7f", 4), "the disk record is cut short"},
      {14, std::string("\xff\xff\xff\xff", 4), "the disk record is cut short"},
      {countAt, std::string("\xfe\xff\xff\xff", 4), "negative sector count"},
      {countAt, std::string("\xff\xff\xff\x7f", 4), "sector records missing"},
      {countAt, std::string("\x01\0\0\0", 4), "bytes after the last sector record"},
  };
  for (const Damage& damage : damages) {
    std::string bad = good;
    bad.replace(damage.at, damage.bytes.size(), damage.bytes);
    patchFile("layout.bin", 0, bad.data(), bad.size());
    CaptureStderr out;
    Analyse& a = run();
    EXPECT_EQ(a.disks.size(), 1u) << damage.report;
    EXPECT_NE(out.text().find(damage.report), std::string::npos) << damage.report;
    endRun();
    EXPECT_EQ(readFile("layout.bin"), bad) << damage.report;
    IOSystem::backupSectors.clear();
  }
  // Only the header: cut inside the disk record.
  ASSERT_EQ(0, truncate("layout.bin", 30));
  CaptureStderr out;
  Analyse& a = run();
  EXPECT_EQ(a.disks.size(), 1u);
  EXPECT_TRUE(a.disks[0].device.empty());
  EXPECT_NE(out.text().find("error reading layout.bin"), std::string::npos);
}

namespace {

// kelvarin-cli of this build, run in the current folder (the test's own).
CliResult cliHere(const std::string& args) {
  std::string build = KV_TEST_OUTPUT_DIR;
  build = build.substr(0, build.rfind('/'));
  return runProgram(quote(build + "/kelvarin-cli") + " -usebackup " + args);
}

}  // namespace

// A GPT disk kept in layout.bin, one of its entries deleted: list, search,
// recover and undo work on the store as they do on an image, and the disk
// the file names is never opened.
TEST_F(BackupFile, AGptDiskInTheFileIsRecoveredAndUndoneInTheStore) {
  for (const char* tool : {"sgdisk", "mkfs.vfat", "mkfs.ext4", "blkid"})
    if (!haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  const unsigned long long SECTORS = 98304, FAT = 2048;
  TempDir made;
  std::string image = made.path("gpt.img");
  makeImage(image, SECTORS * 512);
  ASSERT_EQ(0, sh("sgdisk -n 1:2048:+16M -t 1:0700 -n 2:34816:+8M " + quote(image) + " >/dev/null"));
  ASSERT_TRUE(mkfsAt(image, FAT, 32768, "mkfs.vfat -F 16"));
  ASSERT_TRUE(mkfsAt(image, 34816, 16384, "mkfs.ext4 -q -F"));
  ASSERT_EQ(0, sh("sgdisk -d 1 " + quote(image) + " >/dev/null"));
  const std::string lost = readFile(image);
  // The store holds every sector of the image that is not all zeros.
  std::vector<BackupSector> sectors;
  for (unsigned long long at = 0; at < SECTORS; at++) {
    const char* bytes = lost.data() + at * 512;
    if (std::all_of(bytes, bytes + 512, [](char b) { return b == 0; })) continue;
    sectors.push_back(record(at, '\0'));
    memcpy(sectors.back().data, bytes, 512);
  }
  const FXString device("/dev/kvtest-gpt");
  writeLayout(NRD(device, FXString("GPT Disk"), CHS(6, 255, 63), CHS(6, 255, 63), SECTORS), sectors);
  // The disk as the file holds it, written out as an image.
  auto stored = [&]() {
    IOSystem::backupSectors.clear();
    NRD again;
    EXPECT_TRUE(Analyse().ReadBackupFile(again));
    std::string bytes(SECTORS * 512, '\0');
    for (const auto& s : IOSystem::backupSectors) bytes.replace(s.first * 512, 512, (const char*)s.second.data, 512);
    IOSystem::backupSectors.clear();
    std::string file = made.path("stored.img");
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  };

  CliResult list = cliHere("list");
  EXPECT_EQ(0, list.status) << list.err;
  EXPECT_NE(std::string::npos, list.out.find("Partition table: GPT")) << list.out;
  CliResult search = cliHere("search --full");
  EXPECT_EQ(0, search.status) << search.err;
  EXPECT_NE(std::string::npos, search.out.find("  " + std::to_string(FAT) + "  ")) << search.out;

  CliResult recover = cliHere("recover --disk 1 --full --pick 1");
  ASSERT_EQ(0, recover.status) << recover.err;
  std::string file = stored(), out;
  sh("sgdisk -v " + quote(file) + " 2>&1", &out);
  EXPECT_NE(std::string::npos, out.find("No problems found")) << out;
  sh("sgdisk -i 1 " + quote(file), &out);
  EXPECT_NE(std::string::npos, out.find("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7")) << out;
  EXPECT_NE(std::string::npos, out.find("First sector: 2048 ")) << out;
  sh("blkid -p -o value -s TYPE -O " + std::to_string(FAT * 512) + " " + quote(file), &out);
  EXPECT_EQ("vfat\n", out);

  CliResult undo = cliHere("undo --yes");
  EXPECT_EQ(0, undo.status) << undo.err;
  EXPECT_TRUE(lost == readFile(stored())) << "undo restores the stored disk byte for byte";
  EXPECT_NE(0, access(device.text(), F_OK)) << "the device the file names was never made";
  EXPECT_TRUE(lost == readFile(image));
}
