// The change log and undo database: the bytes a write leaves in the first
// track, undo restoring the disk, and databases that are full, damaged or
// hostile.
#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>

#include "IOSystem.h"
#include "Information.h"
#include "support/Engine.h"
#include "support/CountingDisk.h"
#include "support/Oracles.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

unsigned char at(const std::string& s, size_t i) { return (unsigned char)s[i]; }
unsigned long long le64(const std::string& s, size_t i) {
  unsigned long long v = 0;
  for (int k = 7; k >= 0; k--) v = v << 8 | at(s, i + k);
  return v;
}
std::string le64Bytes(unsigned long long v) {
  std::string b(8, '\0');
  for (int i = 0; i < 8; i++) b[i] = (char)(v >> (8 * i));
  return b;
}
std::string le32Bytes(unsigned v) { return le64Bytes(v).substr(0, 4); }

bool isLiveMarker(const std::string& s) { return le64(s, 0) == 0xDBDBDB01; }
bool isDeadMarker(const std::string& s) { return le64(s, 0) == 0xDBDBDBFF; }

// A database sector as an earlier run would have left it.
std::string dbSector(unsigned marker, unsigned long long nextsec, const std::string& records,
                     bool first) {
  std::string s(512, (char)0xFF);
  s.replace(0, 16, le64Bytes(marker) + le64Bytes(nextsec));
  s.replace(first ? 24 : 16, records.size(), records);
  return s;
}

std::string sectorRecord(unsigned long long sector) { return le32Bytes(0xEEEE) + le64Bytes(sector); }
std::string byteRecord(unsigned offset, unsigned char old) {
  return le32Bytes(offset) + std::string(1, (char)old);
}
// The witness that follows a logged write: the checksum of the sector as written.
std::string witness(const std::string& written) {
  unsigned crc = (unsigned)crc32(0, (const unsigned char*)written.data(), 512);
  return byteRecord(0x57000000 | crc >> 8, (unsigned char)crc);
}

class UndoDatabase : public ::testing::Test {
protected:
  static const unsigned TRACK = 63;

  void SetUp() override {
    image = dir.path("disk.img");
    makeImage(image, 20ull * 16 * TRACK * 512);  // 20/16/63
    before = dir.path("before.img");
  }
  // Opens the image as a program run would; logging enabled as the undo page does.
  void start(bool logging = true) {
    analyser.reset();  // one run at a time
    analyser.reset(new ImageAnalyser(image, "20/16/63"));
    disk().dbActive = logging;
    IOSystem::disableWriteLog = !logging;
  }
  NRD& disk() { return analyser->disk(); }
  FXString device() { return FXString(image.c_str()); }
  void snapshot() { copySparse(image, before); }
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
    IOSystem::disableWriteLog = true;
    bool ok = start && IOSystem::CheckUndoDBPartitionChkSum(device(), start) && IOSystem::Undo(device(), start);
    IOSystem::disableWriteLog = false;
    return ok;
  }
  // A write that logging is on for but that the log cannot take is not made:
  // the disk stays as it was, and the write says why.
  void expectRefusedWrite(unsigned long long sector, const char* reason) {
    snapshot();
    EXPECT_FALSE(write(sector, changed(sector, 0, 4, 'z')));
    EXPECT_STREQ(IOSystem::writeFailure.key, reason);
    EXPECT_TRUE(sameFile(image, before)) << "nothing written";
    EXPECT_EQ(disk().dbStartSec, 0u);
  }
  // The image equals the snapshot byte for byte: database sectors taken from
  // zeros are zeros again.
  void expectRestored() {
    EXPECT_TRUE(sameFile(image, before));
    EXPECT_EQ(IOSystem::IsUndoAvailable(device()), 0u);
  }

  FreshIOSystem io;
  TempDir dir;
  std::string image, before;
  HookedDisk hooked;
  std::unique_ptr<ImageAnalyser> analyser;
};

}  // namespace

TEST_F(UndoDatabase, ChangedBytesAreLoggedAndTheChecksumGuardsTheUndo) {
  start();
  snapshot();
  EXPECT_TRUE(write(0, readSector(image, 0)));
  EXPECT_EQ(disk().dbStartSec, 0u) << "writing what the disk holds logs nothing";
  std::string mbr = readSector(image, 0);
  mbr[446] = (char)0x80;
  mbr[450] = 0x07;
  ASSERT_TRUE(write(0, mbr));
  std::string db = readSector(image, 1);
  EXPECT_TRUE(isLiveMarker(db));
  EXPECT_EQ(db.substr(24, 22), sectorRecord(0) + byteRecord(446, 0) + byteRecord(450, 0));

  // Never closed, the checksum is the unwritten pattern: accepted.  Closed,
  // it must be the disk's own.
  disk().partChksum = 1234;
  EXPECT_TRUE(IOSystem::CheckUndoDBPartitionChkSum(device(), 1));
  IOSystem::disableWriteLog = true;
  IOSystem::CloseDB(device());
  disk().partChksum = 999;
  EXPECT_FALSE(IOSystem::CheckUndoDBPartitionChkSum(device(), 1));
  EXPECT_FALSE(IOSystem::CheckUndoDBPartitionChkSum(device(), 500));  // outside the track
  disk().partChksum = 1234;
  ASSERT_TRUE(undo());
  expectRestored();
}

// A hundred bytes need a second database sector; three sector records, 85
// byte records and the three writes' witnesses leave a sector record due at
// offset 500, past the room for it, so it opens the next sector.
TEST_F(UndoDatabase, ALogThatOutgrowsASectorContinuesInTheNext) {
  for (bool at500 : {false, true}) {
    SCOPED_TRACE(at500 ? "sector record due at 500" : "a hundred bytes");
    makeImage(image, 20ull * 16 * TRACK * 512);
    start();
    snapshot();
    if (at500) {
      ASSERT_TRUE(write(10, changed(10, 0, 30, 1)));
      ASSERT_TRUE(write(11, changed(11, 0, 30, 2)));
      ASSERT_TRUE(write(12, changed(12, 0, 25, 3)));
      EXPECT_EQ(disk().dbOffset, 500u);
      ASSERT_TRUE(write(13, changed(13, 7, 3, 4)));
      EXPECT_EQ(readSector(image, 2).substr(16, 12), sectorRecord(13));
    } else {
      ASSERT_TRUE(write(10, changed(10, 0, 100, (char)0xA5)));
      EXPECT_EQ(readSector(image, 2).substr(16, 5), byteRecord(95, 0)) << "no repeated sector record";
    }
    EXPECT_EQ(le64(readSector(image, 1), 8), 2u);
    ASSERT_TRUE(undo());
    expectRestored();
  }
}

TEST_F(UndoDatabase, FreeSectorsAndThePartitionChecksum) {
  start(false);
  writeSector(image, 1, std::string(512, (char)0xF6));
  EXPECT_EQ(IOSystem::LocateFreeDBSector(device(), 0, TRACK), 1u);
  std::string stray(512, '\0');
  stray[100] = 1;
  writeSector(image, 1, stray);
  writeSector(image, 2, dbSector(0xDBDBDBFF, ~0ull, sectorRecord(0) + byteRecord(0, 9), true));
  EXPECT_EQ(IOSystem::LocateFreeDBSector(device(), 0, TRACK), 2u);
  EXPECT_EQ(IOSystem::IsUndoAvailable(device()), 0u) << "a dead database is not offered";
  EXPECT_EQ(IOSystem::LocateFreeDBSector(device(), 0, 2), 0u);

  std::vector<Partition> parts{Partition(entryBytes(0x07, 63, 1000).data(), 1, 0)};
  Partition logical(entryBytes(0x07, 63, 1000).data(), 2, 1);
  logical.base = 5000;  // counted only below the MBR
  parts.push_back(logical);
  EXPECT_EQ(Information::CalcPartChksum(parts), 1070u + 1070u + 5000u);
}

// A logged write costs one write of each database sector its records fill,
// and the write itself: the log keeps pace with the disk.  The records are
// those a write of one byte at a time would leave.
TEST_F(UndoDatabase, ALoggedWriteWritesEachDatabaseSectorOnce) {
  start();
  snapshot();
  const struct {
    unsigned long long sector;
    unsigned bytes;
    unsigned writes;
  } cases[] = {{10, 10, 2}, {11, 100, 3}, {12, 1, 2}};
  for (const auto& c : cases) {
    unsigned writes = hooked.writes;
    ASSERT_TRUE(write(c.sector, changed(c.sector, 0, c.bytes, 'w')));
    EXPECT_EQ(hooked.writes - writes, c.writes) << c.bytes << " bytes";
  }
  std::string records = sectorRecord(10);
  for (unsigned i = 0; i < 10; i++) records += byteRecord(i, 0);
  records += witness(readSector(image, 10)) + sectorRecord(11);
  EXPECT_EQ(readSector(image, 1).substr(24, records.size()), records);
  ASSERT_TRUE(undo());
  expectRestored();
}

// With no room for a database a logged write is refused: a full first
// track, a partition inside it, a lowered bound, a whole-disk volume.  After
// the log failed once, no later write of the disk is made while logging is
// on; with logging off the same write goes ahead.
TEST_F(UndoDatabase, NoRoomForADatabaseRefusesLoggedWrites) {
  const char* LOG_FULL = "IOSystem.WriteBR.003";
  for (unsigned s = 1; s < TRACK; s++) writeSector(image, s, "boot loader " + std::to_string(s));
  start();
  expectRefusedWrite(20, LOG_FULL);
  expectRefusedWrite(21, "IOSystem.WriteBR.006");
  start(false);
  EXPECT_TRUE(write(20, changed(20, 0, 4, 'z')));
  EXPECT_EQ(readSector(image, 20).substr(0, 4), "zzzz");

  makeImage(image, 20ull * 16 * TRACK * 512);
  for (unsigned s = 1; s < 8; s++) writeSector(image, s, "loader " + std::to_string(s));
  start();
  disk().partitions.push_back(Partition(entryBytes(0x83, 8, 1000).data(), 1, 0));
  expectRefusedWrite(2000, LOG_FULL);
  start();
  IOSystem::KeepDBBelow(device(), 8);
  expectRefusedWrite(2001, LOG_FULL);

  ASSERT_EQ(0, sh("mkfs.vfat -F 32 '" + image + "' >/dev/null"));
  start();
  ASSERT_TRUE(disk().bootSectorOnly);
  expectRefusedWrite(15000, LOG_FULL);
}

// Two free sectors hold 95 + 99 records: 300 changed bytes give the database
// up entirely, the write is not made, and neither is any later one.
TEST_F(UndoDatabase, ADatabaseThatRunsOutOfSectorsIsGivenUpEntirely) {
  for (unsigned s = 3; s < TRACK; s++) writeSector(image, s, "boot loader " + std::to_string(s));
  start();
  std::string old = readSector(image, 20);
  EXPECT_FALSE(write(20, changed(20, 0, 300, 'x')));
  EXPECT_STREQ(IOSystem::writeFailure.key, "IOSystem.WriteBR.003");
  EXPECT_EQ(readSector(image, 20), old);
  EXPECT_TRUE(isDeadMarker(readSector(image, 1)) && isDeadMarker(readSector(image, 2)));
  EXPECT_EQ(IOSystem::IsUndoAvailable(device()), 0u);
  unsigned writes = hooked.writes;
  EXPECT_FALSE(write(21, changed(21, 0, 1, 'y')));
  EXPECT_EQ(hooked.writes, writes);
}

// Logging on for a disk the program keeps no log for: nothing is written.
TEST_F(UndoDatabase, ADiskWithoutALogIsNotWrittenWhileLogging) {
  start();
  snapshot();
  std::string other = dir.path("other.img");
  makeImage(other, 20ull * 16 * TRACK * 512);
  std::string data(512, 'q');
  EXPECT_FALSE(IOSystem::WriteBR(other.c_str(), data.data(), 0));
  EXPECT_STREQ(IOSystem::writeFailure.key, "IOSystem.WriteBR.005");
  EXPECT_EQ(readSector(other, 0), std::string(512, '\0'));
  // The log belongs to the disk, not to whichever analyser is published.
  sharedAnalyser = nullptr;
  EXPECT_TRUE(write(9, changed(9, 0, 1, 1)));
  EXPECT_EQ(readSector(image, 1).substr(24, 12), sectorRecord(9));
}

TEST_F(UndoDatabase, AnEarlierRunsLeftOverSectorsAreRetired) {
  writeSector(image, 1, dbSector(0xDBDBDB01, 4, sectorRecord(30) + byteRecord(0, 1), true));
  writeSector(image, 4, dbSector(0xDBDBDB01, ~0ull, byteRecord(1, 1), false));
  start();
  ASSERT_TRUE(write(9, changed(9, 0, 1, 1)));
  EXPECT_EQ(readSector(image, 1).substr(24, 12), sectorRecord(9));
  EXPECT_TRUE(isDeadMarker(readSector(image, 4)));
}

TEST_F(UndoDatabase, WritesBeyondTheDiskOrAcrossSectorsAreRefused) {
  start();
  snapshot();
  std::string data(512, 'q');
  EXPECT_FALSE(write(disk().sectors, data));
  EXPECT_FALSE(write(disk().sectors + 1000, data));
  EXPECT_FALSE(IOSystem::WriteBR(device(), data.data(), 100));
  EXPECT_TRUE(sameFile(image, before)) << "nothing written, the image not grown";
}

// ---------------------------------------------------------------------------
// Hostile databases: Undo ends, and writes only inside the disk.

TEST_F(UndoDatabase, ChainsThatLoopOrLeaveTheDiskEnd) {
  writeSector(image, 10, std::string(512, (char)0xAA));
  writeSector(image, 1, dbSector(0xDBDBDB01, 2, sectorRecord(10) + byteRecord(0, 0x11), true));
  writeSector(image, 2, dbSector(0xDBDBDB01, 1, byteRecord(1, 0x22), false));
  start();
  ASSERT_TRUE(undo());
  EXPECT_EQ(readSector(image, 10).substr(0, 3), "\x11\x22\xAA");
  EXPECT_TRUE(isDeadMarker(readSector(image, 1)) && isDeadMarker(readSector(image, 2)));

  writeSector(image, 3, dbSector(0xDBDBDB01, 3, sectorRecord(10) + byteRecord(2, 0x33), true));
  ASSERT_TRUE(undo());  // a sector that links to itself
  EXPECT_EQ(at(readSector(image, 10), 2), 0x33);

  writeSector(image, 4, dbSector(0xDBDBDB01, 5000, sectorRecord(10) + byteRecord(0, 0x44), true));
  writeSector(image, 5000, dbSector(0xDBDBDB01, ~0ull, sectorRecord(11) + byteRecord(0, 0x22), false));
  ASSERT_TRUE(undo());
  EXPECT_EQ(at(readSector(image, 10), 0), 0x44);
  EXPECT_EQ(at(readSector(image, 11), 0), 0);
  EXPECT_TRUE(isLiveMarker(readSector(image, 5000)));  // not ours to touch

  // A record for a sector beyond the disk refuses the whole undo.
  writeSector(image, 5, dbSector(0xDBDBDB01, ~0ull, sectorRecord(10) + byteRecord(0, 0x11) +
                                                         sectorRecord(disk().sectors + 5) + byteRecord(0, 1), true));
  snapshot();
  EXPECT_FALSE(undo());
  EXPECT_TRUE(sameFile(image, before));
}

TEST_F(UndoDatabase, RecordOffsetsOf512AndAboveAreSkipped) {
  std::string records = sectorRecord(10) + byteRecord(512, 1) + byteRecord(0xFFFFFF00, 2) +
                        byteRecord(3, 0x44) + byteRecord(600, 3);
  writeSector(image, 1, dbSector(0xDBDBDB01, 2, records, true));
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

// ---------------------------------------------------------------------------
// What an undo may write over.  Two logged writes of sector 10: the first
// changed bytes 0..3 from 'a' to 'b', the second bytes 2..5 to 'c'.  With
// witnesses the sector must hold what one of the writes left; without them
// (a writer that kept none) no byte may be back at the value it had before
// its last write that landed.  What the log does not name, an undo never
// writes over.

TEST_F(UndoDatabase, AnUndoNeverWritesOverWhatSomethingElseChanged) {
  const std::string untouched(512, 'a');
  std::string first = untouched, second;
  first.replace(0, 4, "bbbb");
  second = first;
  second.replace(2, 4, "cccc");
  const std::string firstWrite = sectorRecord(10) + byteRecord(0, 'a') + byteRecord(1, 'a') +
                                 byteRecord(2, 'a') + byteRecord(3, 'a');
  const std::string secondWrite = sectorRecord(10) + byteRecord(2, 'b') + byteRecord(3, 'b') +
                                  byteRecord(4, 'a') + byteRecord(5, 'a');
  auto with = [](std::string s, size_t at, const char* bytes) { return s.replace(at, strlen(bytes), bytes); };
  struct Case {
    const char* what;
    std::string records;
    std::string now;
    bool refused;
  } cases[] = {
      {"landed", firstWrite, first, false},
      {"never landed", firstWrite, untouched, false},
      {"a byte put back", firstWrite, with(first, 3, "a"), true},
      {"a byte set to another new value, unseen", firstWrite, with(first, 1, "z"), false},
      {"the second never landed", firstWrite + secondWrite, first, false},
      {"both landed", firstWrite + secondWrite, second, false},
      {"a byte only the first logged put back", firstWrite + secondWrite, with(second, 0, "a"), true},
      {"witnessed, landed", firstWrite + witness(first), first, false},
      {"witnessed, never landed", firstWrite + witness(first), untouched, false},
      {"witnessed, a byte set to another new value", firstWrite + witness(first), with(first, 1, "z"), true},
      {"witnessed, a byte the log does not name", firstWrite + witness(first), with(first, 100, "z"), true},
      {"witnessed, the second never landed", firstWrite + witness(first) + secondWrite + witness(second),
       first, false},
      {"witnessed, both landed", firstWrite + witness(first) + secondWrite + witness(second), second, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    makeImage(image, 20ull * 16 * TRACK * 512);
    writeSector(image, 10, c.now);
    writeSector(image, 1, dbSector(0xDBDBDB01, ~0ull, c.records, true));
    start();
    snapshot();
    FXulong sector = 0;
    EXPECT_EQ(c.refused, IOSystem::UndoWouldOverwrite(device(), 1, sector));
    EXPECT_EQ(!c.refused, undo());
    if (c.refused) {
      EXPECT_EQ(sector, 10u);
      EXPECT_TRUE(sameFile(image, before)) << "a refused undo writes nothing";
    } else {
      EXPECT_EQ(readSector(image, 10), untouched);
    }
  }
}
