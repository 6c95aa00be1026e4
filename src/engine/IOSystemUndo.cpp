// Sector I/O, write side: every sector write, the change log that records the
// old value of each byte a write changes, and the undo database that keeps
// that log in the free sectors of the disk's own first track.
//
// A database is a chain of sectors between the MBR and the first track
// boundary.  Each sector starts with a marker, a zero word and the number of
// the next sector; the chain's first sector also holds the checksum of the
// partition list the recovery produced.  Records follow: a sector record
// (tag 0x0000EEEE and a 64-bit sector number) names the sector the following
// byte records (offset, old value) belong to.
#include "IOSystem.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <vector>

#include "Bytes.h"
#include "Information.h"
#include "compat/Assert.h"
#include "table/PartitionTable.h"

namespace {

const FXuint LIVE_MARKER = 0xDBDBDB01;
const FXuint DEAD_MARKER = 0xDBDBDBFF;  // undone, or a database given up
const FXuint NEXTSEC_AT = 8;
const FXuint CHKSUM_AT = 16;
const FXuint FIRST_RECORD_AT = 24;  // in the chain's first sector
const FXuint LATER_RECORD_AT = 16;  // in every later sector
const FXuint SECTOR_TAG = 0x0000EEEE;
const FXuint NO_MORE_RECORDS = 0xFFFFFFFF;
const FXuint SECTOR_RECORD_SIZE = 12;
const FXuint BYTE_RECORD_SIZE = 5;
// A record is placed only where it ends before the sector's last byte, so
// no record starts at 507 or later.
const FXuint LAST_RECORD_START = 506;
// No record ever reaches the last byte.  A database sector taken from a
// sector of zeros carries WAS_ZEROS there, so an undo can give the sector
// its zeros back and leave the disk exactly as it was before the recovery;
// any other sector keeps 0xFF there and an undo only marks it dead.
const FXuint ORIGIN_AT = 511;
const FXuchar WAS_ZEROS = 0x00;
// After the byte records of a sector write comes a witness: a byte record
// whose offset lies far beyond any sector, so that a reader that skips
// offsets of 512 and above skips it too.  It holds the CRC-32 of the whole
// sector as written: the top byte of the offset is WITNESS_TAG, its three
// low bytes and the value byte are the checksum.  With it an undo can tell
// whether a sector still holds what the recovery wrote there.
const FXuint WITNESS_TAG = 0x57000000;
const FXuint TAG_MASK = 0xFF000000;

typedef std::array<FXuchar, SECTOR_SIZE> Sector;

// Bytes 1..3 0xDB and a zero word: a sector of a database, live or not.
bool carriesDBMarker(const FXuchar* s) {
  return s[1] == 0xDB && s[2] == 0xDB && s[3] == 0xDB && le32(s + 4) == 0;
}

bool carriesLiveMarker(const FXuchar* s) { return le32(s) == LIVE_MARKER && le32(s + 4) == 0; }

void setDeadMarker(FXuchar* s) {
  putLe32(s, DEAD_MARKER);
  putLe32(s + 4, 0);
}

// An unused sector: every byte equals the first.
bool isUniform(const FXuchar* s) {
  for (FXuint i = 1; i < SECTOR_SIZE; i++)
    if (s[i] != s[0]) return false;
  return true;
}

bool hasNextSector(const FXuchar* s) { return le32(s + NEXTSEC_AT + 4) != 0xFFFFFFFF; }

FXuint sectorCrc(const FXuchar* s) { return (FXuint)crc32(0, s, SECTOR_SIZE); }

bool readSector(const FXString& device, FXulong sector, FXuchar* buffer) {
  return IOSystem::ReadBR(device, buffer, sector * SECTOR_SIZE, SECTOR_SIZE);
}

bool writeSector(const FXString& device, FXulong sector, const FXuchar* buffer) {
  return IOSystem::WriteBR(device, buffer, sector * SECTOR_SIZE);
}

void noteUnflushed(const FXString& device, bool unflushed) {
  std::vector<FXString>& devices = IOSystem::unflushedDevices;
  auto at = std::find(devices.begin(), devices.end(), device);
  if (unflushed && at == devices.end()) devices.push_back(device);
  if (!unflushed && at != devices.end()) devices.erase(at);
}

// Puts one sector where the mode sends it: the backup store or the device
// (through the simulation's layer while simulating, which keeps it in
// memory).  With `flush` the write is on the medium when this returns, and
// so is everything written to the device before; without it the device is
// noted as unflushed, and a later flush takes it along.
bool putSector(const FXString& device, const void* buffer, FXulong offset, bool flush) {
  if (IOSystem::useBackup) {
    // The store takes any sector; a simulation leaves even the store alone.
    if (!IOSystem::simulationMode) return IOSystem::BackupWriteBR(buffer, offset);
    IOSystem::Simulation().keep(device, offset, buffer);
    return true;
  }

  DiskAccess& access = IOSystem::Disk();
  DiskAccess::Handle h = access.open(device, true, false);
  if (h == DiskAccess::INVALID) return false;
  bool ok = IOSystem::HoldsSector(h, device, offset);
  FXuint done = 0;
  ok = ok && access.seek(h, offset) && access.write(h, buffer, SECTOR_SIZE, done) &&
       done == SECTOR_SIZE;
  if (flush) {
    // A write that may not have reached the disk is not reported as done.
    if (!access.flush(h)) ok = false;
    noteUnflushed(device, !ok);
  } else {
    noteUnflushed(device, true);
  }
  access.close(h);
  return ok;
}

// Puts on the medium what was written to the device since its last flush;
// true when nothing was waiting.
bool flushDevice(const FXString& device) {
  const std::vector<FXString>& devices = IOSystem::unflushedDevices;
  if (std::find(devices.begin(), devices.end(), device) == devices.end()) return true;
  DiskAccess& access = IOSystem::Disk();
  DiskAccess::Handle h = access.open(device, true, false);
  if (h == DiskAccess::INVALID) return false;
  bool ok = access.flush(h);
  access.close(h);
  if (ok) noteUnflushed(device, false);
  return ok;
}

// The database lives where the disk's table lets it: in sectors 1 .. S-1,
// S being the sectors per track of the disk's logical geometry; on a GPT
// disk behind the primary entry array, whose unused part reads as free.
// This is the end of that area.
FXulong trackEnd(const NRD& d) { return PartitionTable::Of(d).UndoAreaEnd(d); }

// The first sector the database may use.
FXulong areaFirst(const NRD& d) { return PartitionTable::Of(d).UndoAreaFirst(d); }

// The end of the sectors a new database sector may be claimed from: the
// first track, but never reaching into a partition that starts inside it
// (a whole-disk volume, a partition at sector 32 under a 63-sector track),
// nor into a structure the writer is about to restore.
FXulong claimableEnd(const NRD& d) {
  const PartitionTable& table = PartitionTable::Of(d);
  FXulong end = table.UndoAreaEnd(d);
  if (d.bootSectorOnly) end = std::min(end, (FXulong)1);
  for (const Partition& p : d.partitions) {
    if (p.entry.num == 0 || p.end() <= 1 || !table.BoundsUndoArea(p)) continue;
    end = std::min(end, std::max(p.start(), (FXulong)1));
  }
  return std::min(end, d.dbKeepBelow);
}

// Marks every live database sector of the track dead, except `keep`.  A new
// database replaces the old ones: their left-over sectors must not later be
// taken for the start of a database, nor be followed from a fresh chain.
void retireOldDatabases(const FXString& device, const NRD& d, FXulong keep) {
  FXuchar s[SECTOR_SIZE];
  for (FXulong sec = areaFirst(d); sec < trackEnd(d); sec++) {
    if (sec == keep || !readSector(device, sec, s) || !carriesLiveMarker(s)) continue;
    KV_TRACE(8, "CheckDBSpace: retiring database sector %.0lf of an earlier run\n", (double)sec);
    setDeadMarker(s);
    writeSector(device, sec, s);
  }
}

// A database that ran out of sectors cannot restore the disk: every sector
// of it is marked dead, so no part of it is ever offered for undo, and no
// later change of the disk is written while logging is on.
void giveUp(const FXString& device, NRD& d) {
  FXuchar s[SECTOR_SIZE];
  FXulong sec = d.dbStartSec;
  while (sec != 0 && sec < trackEnd(d) && readSector(device, sec, s)) {
    bool last = sec == d.currDBsec || !hasNextSector(s);
    FXulong next = le64(s + NEXTSEC_AT);
    setDeadMarker(s);
    writeSector(device, sec, s);
    if (last || next <= sec) break;
    sec = next;
  }
  KV_TRACE(7, "CheckDBSpace: no more free sectors - undo db header at sec %.0lf destroyed\n",
           (double)d.dbStartSec);
}

// Why a logged write cannot go ahead.
const Reason DISK_UNWRITABLE = {"IOSystem.WriteBR.001", true};
const Reason GPT_DISK = {"IOSystem.WriteBR.002", false};
const Reason LOG_FULL = {"IOSystem.WriteBR.003", false};
const Reason LOG_UNREADABLE = {"IOSystem.WriteBR.004", true};
const Reason NO_LOG = {"IOSystem.WriteBR.005", false};
const Reason LOG_BROKEN = {"IOSystem.WriteBR.006", false};

// The records one sector write adds to the log, in their on-disk form: a
// sector record, a byte record per changed byte, and the witness.
struct Record {
  FXuchar bytes[SECTOR_RECORD_SIZE];
  FXuint size;
};

Record sectorRecord(FXulong sector) {
  Record r;
  r.size = SECTOR_RECORD_SIZE;
  putLe32(r.bytes, SECTOR_TAG);
  putLe64(r.bytes + 4, sector);
  return r;
}

Record byteRecord(FXuint word, FXuchar value) {
  Record r;
  r.size = BYTE_RECORD_SIZE;
  putLe32(r.bytes, word);
  r.bytes[4] = value;
  return r;
}

// A database sector just claimed: the live marker, 0xFF everywhere else,
// and the note whether it held zeros before.
bool freshHeader(const FXString& device, FXulong sector, FXuchar* header) {
  FXuchar old[SECTOR_SIZE];
  if (!readSector(device, sector, old)) return false;
  bool wasZeros = isUniform(old) && old[0] == 0;
  memset(header, 0xFF, SECTOR_SIZE);
  putLe32(header, LIVE_MARKER);
  putLe32(header + 4, 0);
  if (wasZeros) header[ORIGIN_AT] = WAS_ZEROS;
  return true;
}

// Appends the records of one sector write to a disk's database.  The
// database sector being filled is kept in memory and written once, when the
// records are all in or when it is full: so a logged write costs one
// database write (two when a sector fills up) instead of one per record.
// A full sector is written with the link to the next one before the next
// gets its header; cut short between the two, the chain leads to a sector
// without a live marker, where an undo stops, and the sector write these
// records are for has not been made yet.  The database sectors of one
// append share one flush, made before the sector write they are for: it
// also takes along the previous logged write, whose own flush waited.
class RecordAppender {
public:
  RecordAppender(const FXString& device, NRD& d) : device(device), d(d) {}

  bool append(const std::vector<Record>& records, Reason& failure) {
    if (!begin(failure)) return false;
    for (const Record& r : records) {
      if (d.dbOffset + r.size >= SECTOR_SIZE && !moveOn(failure)) return false;
      memcpy(buffer + d.dbOffset, r.bytes, r.size);
      d.dbOffset += r.size;
    }
    if (!putRecords()) return fail(LOG_UNREADABLE, failure);
    d.dbStartSec = start;
    if (!flushDevice(device)) return fail(LOG_UNREADABLE, failure);
    return true;
  }

private:
  // Loads the sector being filled, opening the database on first use.
  bool begin(Reason& failure) {
    if (d.dbStartSec != 0) {
      start = d.dbStartSec;
      if (!readSector(device, d.currDBsec, buffer)) return fail(LOG_UNREADABLE, failure);
      return true;
    }
    KV_TRACE(7, "CheckDBSpace: opening DB\n");
    start = IOSystem::LocateFreeDBSector(device, 0, claimableEnd(d));
    if (start == 0) return fail(LOG_FULL, failure);
    retireOldDatabases(device, d, start);
    KV_TRACE(7, "WriteDBHeader: Writing DB header at %.0lf, offset %d \n", (double)start, 0);
    if (!freshHeader(device, start, buffer)) return fail(LOG_UNREADABLE, failure);
    d.currDBsec = start;
    d.dbOffset = FIRST_RECORD_AT;
    return true;
  }

  // Writes the full sector with its link and continues in the next free one.
  bool moveOn(Reason& failure) {
    KV_TRACE(7, "CheckDBSpace: DB sector %.0lf is full, offset %d \n", (double)d.currDBsec,
             d.dbOffset);
    FXulong next = IOSystem::LocateFreeDBSector(device, d.currDBsec, claimableEnd(d));
    KV_TRACE(7, "CheckDBSpace: LocateFreeDBSector nextsec=%.0lf\n", (double)next);
    if (next == 0) {
      if (d.dbStartSec != 0) giveUp(device, d);
      return fail(LOG_FULL, failure);
    }
    putLe64(buffer + NEXTSEC_AT, next);
    if (!putRecords()) return fail(LOG_UNREADABLE, failure);
    d.dbStartSec = start;
    KV_TRACE(7, "WriteDBHeader: Writing DB header at %.0lf, offset %d \n", (double)next, 0);
    if (!freshHeader(device, next, buffer)) return fail(LOG_UNREADABLE, failure);
    d.currDBsec = next;
    d.dbOffset = LATER_RECORD_AT;
    return true;
  }

  // Writes the sector being filled; the flush comes once the append is done.
  bool putRecords() { return putSector(device, buffer, d.currDBsec * SECTOR_SIZE, false); }

  // The database can no longer vouch for the disk: no later change of it is
  // written while logging is on.
  bool fail(const Reason& why, Reason& failure) {
    d.logIncomplete = true;
    failure = why;
    return false;
  }

  const FXString& device;
  NRD& d;
  FXulong start = 0;
  FXuchar buffer[SECTOR_SIZE];
};

// One logged sector write: the old value of every byte it changed and, when
// the writer logged one, the checksum of the sector as written.
struct LoggedWrite {
  FXulong sector;
  std::vector<std::pair<FXuint, FXuchar>> bytes;  // offset, old value
  bool witnessed = false;
  FXuint crc = 0;
};

// Collects the writes logged in one database sector.  The last write of
// `writes` carries over from one database sector to the next.
void collectRecords(const FXuchar* s, FXuint at, std::vector<LoggedWrite>& writes) {
  while (true) {
    KV_TRACE(8, "IOSystem::Undo cDBofs=%d\n", at);
    if (at > LAST_RECORD_START) break;
    FXuint v = le32(s + at);
    if (v == NO_MORE_RECORDS) break;
    if (v == SECTOR_TAG) {
      if (at + SECTOR_RECORD_SIZE > SECTOR_SIZE) break;  // cut off: no record
      writes.emplace_back();
      writes.back().sector = le64(s + at + 4);
      at += SECTOR_RECORD_SIZE;
      KV_TRACE(8, "IOSystem::Undo new writesec=%.0lf\n", (double)writes.back().sector);
      continue;
    }
    FXuchar old = s[at + 4];
    at += BYTE_RECORD_SIZE;
    if (writes.empty()) {
      KV_TRACE(8, "IOSystem::Undo byte record before any sector record skipped\n");
      continue;
    }
    LoggedWrite& w = writes.back();
    KV_TRACE(8, "IOSystem::Undo: trying to write back at sector=%.0lf  secofs=0x%x  value=0x%x\n",
             (double)w.sector, v, old);
    if ((v & TAG_MASK) == WITNESS_TAG) {
      w.witnessed = true;
      w.crc = (v << 8) | old;
    } else if (v < SECTOR_SIZE) {
      w.bytes.emplace_back(v, old);
    }  // else: no such byte
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Writing

bool IOSystem::WriteBR(const FXString& device, const void* buffer, FXulong offset) {
  KV_TRACE(7, "IOSystem::WriteBR( device = %s seek = %.0lf disableWriteLog = %d)\n", device.text(),
           (double)(offset / SECTOR_SIZE), disableWriteLog);
  writeFailure = DISK_UNWRITABLE;
  if (offset % SECTOR_SIZE != 0) {
    // The change log records whole sectors; a write across two of them
    // could not be undone.
    FXASSERT(offset % SECTOR_SIZE == 0);
    return false;
  }
  const NRD* target = FindDisk(device);
  if (target && !PartitionTable::Of(*target).Usable(*target)) {
    KV_TRACE(7, "IOSystem::WriteBR %s carries a table that cannot be used: not written\n",
             device.text());
    writeFailure = GPT_DISK;
    return false;
  }
  bool logged = false;
  if (!disableWriteLog) {
    // The database writes made while logging are not logged themselves.
    disableWriteLog = true;
    bool ok = LogChanges(device, buffer, offset);
    disableWriteLog = false;
    if (!ok) return false;
    const NRD* d = FindDisk(device);
    logged = d && d->dbActive;
  }
  writeFailure = DISK_UNWRITABLE;
  // A logged write is flushed with the next write's log, or at the end of
  // the recovery (FlushWrites): only the last write made can be missing
  // from the medium then, and its log is there.
  return putSector(device, buffer, offset, !logged);
}

bool IOSystem::FlushWrites() {
  for (const FXString& device : std::vector<FXString>(unflushedDevices)) {
    if (!flushDevice(device)) {
      KV_TRACE(7, "IOSystem::FlushWrites %s cannot be flushed\n", device.text());
      writeFailure = DISK_UNWRITABLE;
      return false;
    }
  }
  return true;
}

// A write that logging is on for goes ahead only once its old bytes are in
// the disk's database; false, with the reason in writeFailure, otherwise.
bool IOSystem::LogChanges(const FXString& device, const void* data, FXulong offset) {
  KV_TRACE(7, "IOSystem::LogChanges ( device = %s seek = %.0lf )\n", device.text(),
           (double)(offset / SECTOR_SIZE));
  NRD* d = FindDisk(device);
  if (!d) {
    KV_TRACE(7, "IOSystem::LogChanges no undo log is kept for %s: not written\n", device.text());
    writeFailure = NO_LOG;
    return false;
  }
  if (!d->dbActive) return true;
  if (d->logIncomplete) {
    KV_TRACE(7, "IOSystem::LogChanges the undo log of %s failed before: not written\n",
             device.text());
    writeFailure = LOG_BROKEN;
    return false;
  }
  FXuchar old[SECTOR_SIZE];
  if (!ReadBR(device, old, offset, SECTOR_SIZE)) {
    KV_TRACE(7, "Error reading sector!\n");
    writeFailure = LOG_UNREADABLE;
    return false;
  }
  const FXuchar* now = (const FXuchar*)data;
  std::vector<std::pair<FXuint, FXuchar>> changed;
  FXString offsets;
  for (FXuint i = 0; i < SECTOR_SIZE; i++) {
    if (old[i] == now[i]) continue;
    offsets += FXStringFormat("0x%x,", i);
    changed.emplace_back(i, old[i]);
  }
  KV_TRACE(7, "IOSystem::LogChanges %d bytes changed, ofs: %s\n", (FXint)changed.size(),
           offsets.text());
  return changed.empty() || AddToUndoDB(device, offset / SECTOR_SIZE, changed, sectorCrc(now));
}

bool IOSystem::AddToUndoDB(const FXString& device, FXulong sector,
                           const std::vector<std::pair<FXuint, FXuchar>>& changed,
                           FXuint writtenCrc) {
  NRD* d = FindDisk(device);
  if (!d) {
    writeFailure = NO_LOG;
    return false;
  }
  KV_TRACE(7, "AddToUndoDB: device is %s %s  currDBsec=%.0lf  currDBofs=%d\n", device.text(),
           d->model.text(), (double)d->currDBsec, d->dbOffset);
  KV_TRACE(7, "AddToUndoDB: Writing DB currUndoSec=%.0lf\n", (double)sector);
  std::vector<Record> records;
  records.push_back(sectorRecord(sector));
  for (const auto& byte : changed) {
    KV_TRACE(8, "AddToUndoDB: Writing DB entry:  secOfs=0x%x, value=0x%x \n", byte.first,
             byte.second);
    records.push_back(byteRecord(byte.first, byte.second));
  }
  KV_TRACE(7, "AddToUndoDB: Writing DB witness %08x\n", writtenCrc);
  records.push_back(byteRecord(WITNESS_TAG | (writtenCrc >> 8), (FXuchar)writtenCrc));
  return RecordAppender(device, *d).append(records, writeFailure);
}


FXulong IOSystem::LocateFreeDBSector(const FXString& device, FXulong sec, FXulong secmax) {
  KV_TRACE(7, "IOSystem::LocateFreeDBSector ( device = %s sec = %.0lf secmax = %.0lf )\n",
           device.text(), (double)sec, (double)secmax);
  const NRD* d = FindDisk(device);
  if (!d) return 0;
  FXuchar s[SECTOR_SIZE];
  FXulong first = std::max(sec + 1, areaFirst(*d));
  for (FXulong candidate = first; candidate < secmax; candidate++) {
    if (!readSector(device, candidate, s)) {
      KV_TRACE(7, "Error reading sector!\n");
      return 0;
    }
    if (carriesDBMarker(s)) {
      KV_TRACE(7, "IOSystem::LocateFreeDBSector DB marker at sector %.0lf found\n",
               (double)candidate);
      return candidate;
    }
    if (isUniform(s)) return candidate;
  }
  return 0;
}

// Stores the checksum of the partitions the recovery left in the first
// sector of the disk's database, unless there is none or it was given up.
static void storeChecksum(const FXString& device, const NRD& d) {
  if (d.dbStartSec == 0) return;
  KV_TRACE(7, "IOSystem::CloseDB writing partchksum (%.0lf) \n", (double)d.partChksum);
  FXuchar s[SECTOR_SIZE];
  if (!readSector(device, d.dbStartSec, s)) return;
  if (!carriesLiveMarker(s)) {
    KV_TRACE(7, "IOSystem::CloseDB database at %.0lf was given up\n", (double)d.dbStartSec);
    return;
  }
  putLe64(s + CHKSUM_AT, d.partChksum);
  putSector(device, s, d.dbStartSec * SECTOR_SIZE, false);
}

void IOSystem::CloseDB(const FXString& device) {
  NRD* d = FindDisk(device);
  if (!d) return;
  KV_TRACE(7, "IOSystem::CloseDB ( device = %s )\n", device.text());
  storeChecksum(device, *d);
  // One flush for the checksum and whatever the recovery left unflushed.
  flushDevice(device);
}

void IOSystem::KeepDBBelow(const FXString& device, FXulong sector) {
  NRD* d = FindDisk(device);
  if (!d) return;
  KV_TRACE(8, "IOSystem::KeepDBBelow( device = %s sector = %.0lf )\n", device.text(),
           (double)sector);
  d->dbKeepBelow = std::min(d->dbKeepBelow, sector);
}

// ---------------------------------------------------------------------------
// Undoing

FXulong IOSystem::IsUndoAvailable(const FXString& device) {
  NRD* d = FindDisk(device);
  if (!d) return 0;
  FXulong end = trackEnd(*d);
  KV_TRACE(7, "IOSystem::IsUndoAvailable ( device = %s secmax = %.0lf )\n", device.text(),
           (double)end);
  FXuchar s[SECTOR_SIZE];
  for (FXulong sec = areaFirst(*d); sec < end; sec++) {
    if (!readSector(device, sec, s)) {
      KV_TRACE(7, "IOSystem::IsUndoAvailable: Error reading sector!\n");
      return 0;
    }
    if (carriesLiveMarker(s)) {
      KV_TRACE(7, "IOSystem::IsUndoAvailable DB start marker at sector %.0lf found\n", (double)sec);
      return sec;
    }
  }
  KV_TRACE(7, "IOSystem::IsUndoAvailable no DB start marker found\n");
  return 0;
}

bool IOSystem::CheckUndoDBPartitionChkSum(const FXString& device, FXulong dbstartsec) {
  NRD* d = FindDisk(device);
  if (!d) return false;
  FXuchar s[SECTOR_SIZE];
  if (dbstartsec < areaFirst(*d) || dbstartsec >= trackEnd(*d) ||
      !readSector(device, dbstartsec, s)) {
    KV_TRACE(7, "IOSystem::CheckUndoDBPartitionChkSum: Error reading sector!\n");
    return false;
  }
  if (le64(s + CHKSUM_AT) == d->partChksum) {
    KV_TRACE(7, "IOSystem::CheckUndoDBPartitionChkSum: partchksum (%.0lf) is valid on %s %s\n",
             (double)d->partChksum, device.text(), d->model.text());
    return true;
  }
  if (le32(s + CHKSUM_AT + 4) == 0xFFFFFFFF) {
    // The recovery ended before its checksum was stored.
    KV_TRACE(7, "IOSystem::CheckUndoDBPartitionChkSum: partchksum (0xFFFFFFFF) on %s %s\n",
             device.text(), d->model.text());
    return true;
  }
  return false;
}

// After an undo the database's sectors go back to zeros where they were
// zeros before, and are marked dead otherwise.  The chain's first sector
// goes last: should the work be cut short, the database is still found and
// its undo, which only writes old values again, can simply be repeated.
static void retireUndoneDatabase(const FXString& device, const std::vector<FXulong>& walked) {
  FXuchar s[SECTOR_SIZE];
  for (auto sec = walked.rbegin(); sec != walked.rend(); ++sec) {
    KV_TRACE(7, "IOSystem::Undo: invalidating DB sec=%.0lf\n", (double)*sec);
    if (!readSector(device, *sec, s)) continue;
    if (s[ORIGIN_AT] == WAS_ZEROS) {
      memset(s, 0, sizeof(s));
    } else {
      setDeadMarker(s);
    }
    writeSector(device, *sec, s);
  }
}

namespace {

// An undo database as read from the disk, and the sectors it logged as
// they are now.
struct UndoPlan {
  std::vector<FXulong> walked;      // the database's sectors, in chain order
  std::vector<LoggedWrite> writes;  // in the order they were logged
  // Per logged sector: the value every logged byte had before the first
  // logged write that changed it.  When one byte was changed twice (an entry
  // rewritten during one recovery), the older record holds the value from
  // before the recovery.
  std::map<FXulong, std::map<FXuint, FXuchar>> earliest;
  std::map<FXulong, Sector> now;
};

// Walks the chain from `dbstartsec`, then reads every sector it logged.
// False on a read error or a record for a sector beyond the disk; `walked`
// stays empty when no live database starts there.  A chain that loops,
// leaves the first track or reaches a sector that is not a live database
// sector ends there.
bool readPlan(const FXString& device, const NRD& d, FXulong dbstartsec, UndoPlan& plan) {
  FXulong end = trackEnd(d);
  FXuchar s[SECTOR_SIZE];
  for (FXulong cur = dbstartsec;;) {
    KV_TRACE(7, "IOSystem::Undo: jumping to DB nextsec=%.0lf\n", (double)cur);
    if (cur < areaFirst(d) || cur >= end) {
      KV_TRACE(7, "IOSystem::Undo DB sector %.0lf lies outside the first track\n", (double)cur);
      if (plan.walked.empty()) return false;
      break;
    }
    if (!readSector(device, cur, s)) {
      KV_TRACE(7, "IOSystem::Undo: Error reading sector!\n");
      return false;
    }
    if (!carriesLiveMarker(s)) {
      KV_TRACE(7, "IOSystem::Undo DB marker at sector %.0lf invalid- UNDO aborted\n", (double)cur);
      break;
    }
    plan.walked.push_back(cur);
    collectRecords(s, cur == dbstartsec ? FIRST_RECORD_AT : LATER_RECORD_AT, plan.writes);
    if (!hasNextSector(s)) {
      KV_TRACE(7, "IOSystem::Undo ffffffff-nextsec, DB finish!\n");
      break;
    }
    FXulong next = le64(s + NEXTSEC_AT);
    if (next <= cur) {
      // A chain is always placed upward; a link back would loop.
      KV_TRACE(7, "IOSystem::Undo DB sector %.0lf links back to %.0lf: chain ends\n", (double)cur,
               (double)next);
      break;
    }
    cur = next;
  }

  for (const LoggedWrite& w : plan.writes) {
    if (w.bytes.empty()) continue;
    if (w.sector >= d.sectors) {
      // A damaged database: a sector beyond the disk was never written by us.
      KV_TRACE(7, "IOSystem::Undo sector %.0lf lies beyond the disk: undo refused\n",
               (double)w.sector);
      return false;
    }
    std::map<FXuint, FXuchar>& bytes = plan.earliest[w.sector];
    for (const auto& byte : w.bytes) bytes.emplace(byte.first, byte.second);
  }
  for (const auto& sector : plan.earliest) {
    if (!readSector(device, sector.first, plan.now[sector.first].data())) {
      KV_TRACE(7, "IOSystem::Undo: Error reading sector %.0lf\n", (double)sector.first);
      return false;
    }
  }
  return true;
}

// Some byte the write logged no longer holds its old value.
bool showsOnDisk(const LoggedWrite& w, const Sector& now) {
  for (const auto& byte : w.bytes)
    if (now[byte.first] != byte.second) return true;
  return false;
}

// Whether the sector holds nothing but what the logged writes left there,
// so that the undo may write its old bytes back (the rule above Undo).
bool onlyLoggedChanges(const UndoPlan& plan, FXulong sector) {
  const Sector& now = plan.now.at(sector);
  bool nothingToWrite = true;
  for (const auto& byte : plan.earliest.at(sector))
    nothingToWrite = nothingToWrite && now[byte.first] == byte.second;
  if (nothingToWrite) return true;

  std::vector<const LoggedWrite*> mine;
  for (const LoggedWrite& w : plan.writes)
    if (w.sector == sector) mine.push_back(&w);
  FXuint crc = sectorCrc(now.data());
  bool witnessed = false;
  for (const LoggedWrite* w : mine) {
    witnessed = witnessed || w->witnessed;
    if (w->witnessed && w->crc == crc) return true;
  }
  if (witnessed) return false;

  size_t shown = mine.size();
  while (shown > 0 && !showsOnDisk(*mine[shown - 1], now)) shown--;
  std::map<FXuint, FXuchar> beforeLast;  // each byte's value before its last write that landed
  for (size_t k = 0; k < shown; k++)
    for (const auto& byte : mine[k]->bytes) beforeLast[byte.first] = byte.second;
  for (const auto& byte : beforeLast)
    if (now[byte.first] == byte.second) return false;
  return true;
}

// The first logged sector that something other than the logged writes
// changed; false when there is none.
bool findForeignChange(const UndoPlan& plan, FXulong& sector) {
  for (const auto& logged : plan.now) {
    if (onlyLoggedChanges(plan, logged.first)) continue;
    KV_TRACE(7, "IOSystem::Undo sector %.0lf was changed since the recovery\n",
             (double)logged.first);
    sector = logged.first;
    return true;
  }
  return false;
}

}  // namespace

bool IOSystem::UndoWouldOverwrite(const FXString& device, FXulong dbstartsec, FXulong& sector) {
  NRD* d = FindDisk(device);
  KV_TRACE(7, "IOSystem::UndoWouldOverwrite ( device = %s dbstartsec = %.0lf )\n", device.text(),
           (double)dbstartsec);
  UndoPlan plan;
  return d && readPlan(device, *d, dbstartsec, plan) && findForeignChange(plan, sector);
}

// Writes back the value every logged byte had before the recovery, but only
// into sectors that nothing except the logged recovery changed since; if any
// logged sector was changed by something else, the undo refuses as a whole
// and writes nothing.  What the log can vouch for, sector by sector:
// - a sector whose logged bytes all hold their old values needs nothing
//   written: the recovery's writes there never landed, and what else
//   changed in it stays as it is;
// - a sector with witnesses must hold exactly what one of its logged writes
//   wrote, normally the last one; a write cut short by a kill did not land,
//   and the sector still holds what the write before it left;
// - a sector logged without witnesses (by a writer that kept none): every
//   logged write changed every byte it logged, so the last write that shows
//   on the disk must show whole, and every byte logged up to it must still
//   differ from the value it had before its last write there.  This sees a
//   byte put back to an old value but not one set to yet another new value;
//   it never refuses a disk that only the recovery changed.
// The partition checksum, once stored, is compared before
// (CheckUndoDBPartitionChkSum).  Nothing is written until the whole chain
// and every logged sector have been read.
bool IOSystem::Undo(const FXString& device, FXulong dbstartsec) {
  NRD* d = FindDisk(device);
  if (!d) return false;
  KV_TRACE(7, "IOSystem::Undo ( device = %s dbstartsec = %.0lf )\n", device.text(),
           (double)dbstartsec);
  UndoPlan plan;
  if (!readPlan(device, *d, dbstartsec, plan)) return false;
  if (plan.walked.empty()) return true;
  FXulong changed = 0;
  if (findForeignChange(plan, changed)) return false;
  for (const auto& sector : plan.earliest) {
    Sector s = plan.now[sector.first];
    bool differs = false;
    for (const auto& byte : sector.second) {
      differs = differs || s[byte.first] != byte.second;
      s[byte.first] = byte.second;
    }
    if (differs && !writeSector(device, sector.first, s.data())) {
      KV_TRACE(7, "IOSystem::Undo: Error writing sector %.0lf\n", (double)sector.first);
      return false;
    }
  }
  retireUndoneDatabase(device, plan.walked);
  return true;
}

// ---------------------------------------------------------------------------

FXulong Information::CalcPartChksum(const std::vector<Partition>& partitions) {
  KV_TRACE(7, "Information::CalcPartChksum()\n");
  FXulong sum = 0;
  for (const Partition& p : partitions) {
    sum += (FXulong)p.entry.type + p.entry.num + p.entry.dist;
    if (p.l > 1) sum += p.base;
  }
  KV_TRACE(7, "Information:CalcPartChksum - checksum is: %.0lf\n", (double)sum);
  return sum;
}
