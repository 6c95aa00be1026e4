// The change log and undo database: the bytes a write leaves in the first
// track, undo restoring the disk, and databases that are full, damaged or
// hostile.
#include <gtest/gtest.h>

#include <memory>

#include "IOSystem.h"
#include "Information.h"
#include "support/Engine.h"
#include "support/CountingDisk.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

unsigned char at(const std::string& s, size_t i) { return (unsigned char)s[i]; }

unsigned le32(const std::string& s, size_t i) {
  return at(s, i) | at(s, i + 1) << 8 | at(s, i + 2) << 16 | (unsigned)at(s, i + 3) << 24;
}

unsigned long long le64(const std::string& s, size_t i) {
  return le32(s, i) | (unsigned long long)le32(s, i + 4) << 32;
}

std::string le32Bytes(unsigned v) {
  std::string b(4, '\0');
  for (int i = 0; i < 4; i++) b[i] = (char)(v >> (8 * i));
  return b;
}

std::string le64Bytes(unsigned long long v) { return le32Bytes((unsigned)v) + le32Bytes(v >> 32); }

bool isLiveMarker(const std::string& s) { return le32(s, 0) == 0xDBDBDB01 && le32(s, 4) == 0; }
bool isDeadMarker(const std::string& s) { return le32(s, 0) == 0xDBDBDBFF && le32(s, 4) == 0; }

// A database sector as an earlier run would have left it.
std::string dbSector(unsigned marker, unsigned long long nextsec, const std::string& records,
                     bool first) {
  std::string s(512, (char)0xFF);
  s.replace(0, 4, le32Bytes(marker));
  s.replace(4, 4, le32Bytes(0));
  s.replace(8, 8, le64Bytes(nextsec));
  s.replace(first ? 24 : 16, records.size(), records);
  return s;
}

std::string sectorRecord(unsigned long long sector) { return le32Bytes(0xEEEE) + le64Bytes(sector); }
std::string byteRecord(unsigned offset, unsigned char old) {
  return le32Bytes(offset) + std::string(1, (char)old);
}

class UndoDatabase : public ::testing::Test {
protected:
  static const unsigned TRACK = 63;

  void SetUp() override {
    IOSystem::Reset();
    image = dir.path("disk.img");
    makeImage(image, 20ull * 16 * TRACK * 512);  // 20/16/63
    before = dir.path("before.img");
  }
  void TearDown() override {
    analyser.reset();
    IOSystem::Reset();
  }
  // Opens the image as a program run would; logging enabled as the undo page does.
  void start(bool logging = true) {
    analyser.reset(new ImageAnalyser(image, "20/16/63"));
    disk().dbActive = logging;
    IOSystem::disableWriteLog = !logging;
  }
  NRD& disk() { return analyser->disk(); }
  FXString device() { return FXString(image.c_str()); }
  void snapshot() { sh("cp --sparse=always '" + image + "' '" + before + "'"); }
  bool write(unsigned long long sector, const std::string& data) {
    return IOSystem::WriteBR(device(), data.data(), sector * 512);
  }
  // The sector with `count` bytes from `from` changed.
  std::string changed(unsigned long long sector, unsigned from, unsigned count, char value) {
    std::string s = readSector(image, sector);
    for (unsigned i = from; i < from + count; i++) s[i] = value;
    return s;
  }
  bool undo() {
    FXulong start = IOSystem::IsUndoAvailable(device());
    if (start == 0 || !IOSystem::CheckUndoDBPartitionChkSum(device(), start)) return false;
    IOSystem::disableWriteLog = true;
    bool ok = IOSystem::Undo(device(), start);
    IOSystem::disableWriteLog = false;
    return ok;
  }
  // With no room for a database a write goes ahead unlogged, and the first
  // track stays as it was.
  void expectUnloggedWrite(unsigned long long sector) {
    std::string data = changed(sector, 0, 4, 'z');
    EXPECT_TRUE(write(sector, data));
    EXPECT_EQ(readSector(image, sector), data);
    EXPECT_EQ(disk().dbStartSec, 0u);
    for (unsigned s = 0; s < TRACK; s++)
      if (s != sector) {
        EXPECT_EQ(readSector(image, s), readSector(before, s)) << s;
      }
  }
  // The image equals the snapshot byte for byte: database sectors taken from
  // zeros are zeros again.
  void expectRestored() {
    EXPECT_TRUE(sameFile(image, before));
    EXPECT_EQ(IOSystem::IsUndoAvailable(device()), 0u);
  }

  TempDir dir;
  std::string image, before;
  HookedDisk hooked;
  std::unique_ptr<ImageAnalyser> analyser;
};

}  // namespace

TEST_F(UndoDatabase, WritingWhatTheDiskHoldsLogsNothing) {
  start();
  snapshot();
  EXPECT_TRUE(write(0, readSector(image, 0)));
  EXPECT_EQ(disk().dbStartSec, 0u);
  EXPECT_TRUE(sameFile(image, before));
}

TEST_F(UndoDatabase, ThreeChangedBytesOfSectorZero) {
  start();
  snapshot();
  std::string mbr = readSector(image, 0);
  mbr[446] = (char)0x80;
  mbr[450] = 0x07;
  mbr[510] = 0x55;
  ASSERT_TRUE(write(0, mbr));
  EXPECT_EQ(readSector(image, 0), mbr);

  std::string db = readSector(image, 1);
  EXPECT_TRUE(isLiveMarker(db));
  EXPECT_EQ(db.substr(8, 16), std::string(16, (char)0xFF));  // nextsec, checksum
  EXPECT_EQ(db.substr(24, 12), sectorRecord(0));
  EXPECT_EQ(db.substr(36, 15), byteRecord(446, 0) + byteRecord(450, 0) + byteRecord(510, 0));
  EXPECT_EQ(db.substr(51, 460), std::string(460, (char)0xFF));
  EXPECT_EQ(at(db, 511), 0x00) << "the sector was zeros before";
  EXPECT_EQ(disk().dbStartSec, 1u);
  EXPECT_EQ(disk().dbOffset, 51u);

  // Never closed, the checksum is the unwritten pattern: accepted.  Closed,
  // it must be the disk's own.
  disk().partChksum = 1234;
  EXPECT_TRUE(IOSystem::CheckUndoDBPartitionChkSum(device(), 1));
  IOSystem::disableWriteLog = true;
  IOSystem::CloseDB(device());
  EXPECT_EQ(le64(readSector(image, 1), 16), 1234u);
  EXPECT_EQ(IOSystem::IsUndoAvailable(device()), 1u);
  disk().partChksum = 999;
  EXPECT_FALSE(IOSystem::CheckUndoDBPartitionChkSum(device(), 1));
  EXPECT_FALSE(IOSystem::CheckUndoDBPartitionChkSum(device(), 500));  // outside the track
  disk().partChksum = 1234;
  ASSERT_TRUE(undo());
  expectRestored();
}

TEST_F(UndoDatabase, AHundredChangedBytesContinueInTheNextSector) {
  start();
  snapshot();
  ASSERT_TRUE(write(10, changed(10, 0, 100, (char)0xA5)));
  std::string first = readSector(image, 1), second = readSector(image, 2);
  EXPECT_EQ(first.substr(24, 12), sectorRecord(10));
  EXPECT_EQ(first.substr(506, 5), byteRecord(94, 0));  // the 95th record
  EXPECT_EQ(at(first, 511), 0x00) << "no record reaches the last byte; it says the sector was zeros";
  EXPECT_EQ(le64(first, 8), 2u);
  EXPECT_TRUE(isLiveMarker(second));
  EXPECT_EQ(le64(second, 8), ~0ull);
  EXPECT_EQ(second.substr(16, 5), byteRecord(95, 0));  // no repeated sector record
  EXPECT_EQ(second.substr(36, 5), byteRecord(99, 0));
  ASSERT_TRUE(undo());
  expectRestored();
}

TEST_F(UndoDatabase, ASectorRecordDueAtOffset500GoesToTheNextSector) {
  start();
  snapshot();
  // 24 + 3 sector records + 88 byte records = 500.
  ASSERT_TRUE(write(10, changed(10, 0, 30, 1)));
  ASSERT_TRUE(write(11, changed(11, 0, 30, 2)));
  ASSERT_TRUE(write(12, changed(12, 0, 28, 3)));
  EXPECT_EQ(disk().dbOffset, 500u);
  ASSERT_TRUE(write(13, changed(13, 7, 3, 4)));
  std::string first = readSector(image, 1), second = readSector(image, 2);
  EXPECT_EQ(first.substr(500, 11), std::string(11, (char)0xFF));
  EXPECT_EQ(le64(first, 8), 2u);
  EXPECT_EQ(second.substr(16, 12), sectorRecord(13));
  ASSERT_TRUE(undo());
  expectRestored();
}

TEST_F(UndoDatabase, FreeSectors) {
  start(false);
  writeSector(image, 1, std::string(512, (char)0xF6));
  EXPECT_EQ(IOSystem::LocateFreeDBSector(device(), 0, TRACK), 1u);
  std::string stray(512, '\0');
  stray[100] = 1;
  writeSector(image, 1, stray);
  writeSector(image, 2, dbSector(0xDBDBDBFF, ~0ull, sectorRecord(0) + byteRecord(0, 9), true));
  EXPECT_EQ(IOSystem::LocateFreeDBSector(device(), 0, TRACK), 2u);
  EXPECT_EQ(IOSystem::IsUndoAvailable(device()), 0u) << "a dead database is not offered";
  writeSector(image, 2, stray);
  EXPECT_EQ(IOSystem::LocateFreeDBSector(device(), 0, 3), 0u);
  EXPECT_EQ(IOSystem::LocateFreeDBSector(device(), 1, TRACK), 3u);
}

TEST_F(UndoDatabase, PartitionChecksum) {
  std::vector<Partition> parts{Partition(entryBytes(0x07, 63, 1000).data(), 1, 0)};
  EXPECT_EQ(Information::CalcPartChksum(parts), 1070u);
  Partition logical(entryBytes(0x07, 63, 1000).data(), 2, 1);
  logical.base = 5000;  // counted only below the MBR
  parts.push_back(logical);
  parts[0].base = 3;
  EXPECT_EQ(Information::CalcPartChksum(parts), 1070u + 1070u + 5000u);
}

TEST_F(UndoDatabase, AFullFirstTrackMeansNoDatabaseAndTheWriteGoesAhead) {
  for (unsigned s = 1; s < TRACK; s++) writeSector(image, s, "boot loader " + std::to_string(s));
  start();
  snapshot();
  expectUnloggedWrite(20);
}

TEST_F(UndoDatabase, ADatabaseThatRunsOutOfSectorsIsGivenUpEntirely) {
  for (unsigned s = 3; s < TRACK; s++) writeSector(image, s, "boot loader " + std::to_string(s));
  start();
  std::string data = changed(20, 0, 300, 'x');  // 95 + 99 records fit in two sectors
  EXPECT_TRUE(write(20, data));
  EXPECT_EQ(readSector(image, 20), data);
  EXPECT_TRUE(isDeadMarker(readSector(image, 1)));
  EXPECT_TRUE(isDeadMarker(readSector(image, 2)));
  EXPECT_FALSE(disk().dbActive);
  EXPECT_EQ(IOSystem::IsUndoAvailable(device()), 0u);
  unsigned writes = hooked.writes;
  EXPECT_TRUE(write(21, changed(21, 0, 1, 'y')));  // later changes are not logged
  EXPECT_EQ(hooked.writes, writes + 1);
  IOSystem::CloseDB(device());
  EXPECT_TRUE(isDeadMarker(readSector(image, 1)));
}

TEST_F(UndoDatabase, AnEarlierRunsLeftOverSectorsAreRetired) {
  writeSector(image, 1, dbSector(0xDBDBDB01, 4, sectorRecord(30) + byteRecord(0, 1), true));
  writeSector(image, 4, dbSector(0xDBDBDB01, ~0ull, byteRecord(1, 1), false));
  start();
  ASSERT_TRUE(write(9, changed(9, 0, 1, 1)));
  EXPECT_TRUE(isLiveMarker(readSector(image, 1)));
  EXPECT_EQ(readSector(image, 1).substr(24, 12), sectorRecord(9));
  EXPECT_TRUE(isDeadMarker(readSector(image, 4)));
}

TEST_F(UndoDatabase, TheDatabaseKeepsOutOfPartitionsInsideTheFirstTrack) {
  for (unsigned s = 1; s < 8; s++) writeSector(image, s, "loader " + std::to_string(s));
  start();
  snapshot();
  disk().partitions.push_back(Partition(entryBytes(0x83, 8, 1000).data(), 1, 0));
  expectUnloggedWrite(2000);
  disk().partitions.clear();
  IOSystem::KeepDBBelow(device(), 8);
  expectUnloggedWrite(2001);
  IOSystem::KeepDBBelow(device(), 100);  // only ever lowered
  expectUnloggedWrite(2002);
}

TEST_F(UndoDatabase, AWholeDiskVolumeLeavesNoRoomForADatabase) {
  ASSERT_EQ(0, sh("mkfs.vfat -F 32 '" + image + "' >/dev/null"));
  start();
  ASSERT_TRUE(disk().bootSectorOnly);
  snapshot();
  expectUnloggedWrite(15000);
}

TEST_F(UndoDatabase, WritesBeyondTheDiskOrAcrossSectorsAreRefused) {
  start();
  snapshot();
  std::string data(512, 'q');
  EXPECT_FALSE(write(disk().sectors, data));
  EXPECT_FALSE(write(disk().sectors + 1000, data));
  EXPECT_FALSE(IOSystem::WriteBR(device(), data.data(), 100));
  EXPECT_TRUE(sameFile(image, before)) << "nothing written, the image not grown";
  EXPECT_TRUE(write(disk().sectors - 1, data));
}

// ---------------------------------------------------------------------------
// Hostile databases: Undo ends, and writes only inside the disk.

TEST_F(UndoDatabase, AChainThatLoopsEnds) {
  writeSector(image, 10, std::string(512, (char)0xAA));
  writeSector(image, 1, dbSector(0xDBDBDB01, 2, sectorRecord(10) + byteRecord(0, 0x11), true));
  writeSector(image, 2, dbSector(0xDBDBDB01, 1, byteRecord(1, 0x22), false));
  start();
  ASSERT_TRUE(undo());
  std::string s = readSector(image, 10);
  EXPECT_EQ(at(s, 0), 0x11);
  EXPECT_EQ(at(s, 1), 0x22);
  EXPECT_EQ(at(s, 2), 0xAA);
  EXPECT_TRUE(isDeadMarker(readSector(image, 1)));
  EXPECT_TRUE(isDeadMarker(readSector(image, 2)));

  writeSector(image, 3, dbSector(0xDBDBDB01, 3, sectorRecord(10) + byteRecord(2, 0x33), true));
  ASSERT_TRUE(undo());  // a sector that links to itself
  EXPECT_EQ(at(readSector(image, 10), 2), 0x33);
}

TEST_F(UndoDatabase, AChainThatLeavesTheFirstTrackEnds) {
  writeSector(image, 1, dbSector(0xDBDBDB01, 5000, sectorRecord(10) + byteRecord(0, 0x11), true));
  writeSector(image, 5000, dbSector(0xDBDBDB01, ~0ull, sectorRecord(11) + byteRecord(0, 0x22), false));
  start();
  ASSERT_TRUE(undo());
  EXPECT_EQ(at(readSector(image, 10), 0), 0x11);
  EXPECT_EQ(at(readSector(image, 11), 0), 0);
  EXPECT_TRUE(isLiveMarker(readSector(image, 5000)));  // not ours to touch
}

TEST_F(UndoDatabase, ARecordForASectorBeyondTheDiskRefusesTheWholeUndo) {
  start();
  unsigned long long beyond = disk().sectors + 5;
  writeSector(image, 1,
              dbSector(0xDBDBDB01, ~0ull,
                       sectorRecord(10) + byteRecord(0, 0x11) + sectorRecord(beyond) + byteRecord(0, 1),
                       true));
  snapshot();
  EXPECT_FALSE(undo());
  EXPECT_TRUE(sameFile(image, before));
}

TEST_F(UndoDatabase, RecordOffsetsOf512AndAboveAreSkipped) {
  std::string records = sectorRecord(10) + byteRecord(512, 1) + byteRecord(0xFFFFFF00, 2) +
                        byteRecord(3, 0x44) + byteRecord(600, 3);
  std::string first = dbSector(0xDBDBDB01, 2, records, true);
  writeSector(image, 1, first);
  // The write sector carries over; a sector record cut off by the sector's
  // end is no record.
  std::string filler;
  for (int i = 0; i < 96; i++) filler += byteRecord(700, 0);
  std::string cutOff = le32Bytes(0xEEEE) + "1234567";
  writeSector(image, 2, dbSector(0xDBDBDB01, ~0ull, byteRecord(5, 0x55) + filler + cutOff, false));
  start();
  ASSERT_TRUE(undo());
  std::string s = readSector(image, 10);
  EXPECT_EQ(at(s, 3), 0x44);
  EXPECT_EQ(at(s, 5), 0x55);
  EXPECT_EQ(std::count(s.begin(), s.end(), '\0'), 510);
}
