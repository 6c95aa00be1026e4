// The backup layout file "layout.bin": one disk record in its stream form, a
// count, and that many sector records (tag, sector number, 512 bytes), all
// little-endian.  In backup mode it stands in for the disks of the machine.
#include <cstdio>

#include "Analyse.h"
#include "IOSystem.h"
#include "compat/Assert.h"

static const char BACKUP_FILE[] = "layout.bin";
static const FXuval STREAM_BUFFER = 8192;
static const FXlong RECORD_BYTES = 4 + 8 + SECTOR_SIZE;
// The fixed part of a disk record after its two strings, and the count.
static const FXlong DISK_NUMBERS_BYTES = 2 * (8 + 4 + 4) + 3 * 8;
static const FXlong COUNT_BYTES = 4;

// Set when "layout.bin" was read damaged: it is then left as it is at the
// end of the run rather than replaced by what could be read of it.
static bool backupDamaged = false;

static void reportDamage(const char* what) {
  fxmessage("layout.bin is damaged (%s): what could be read is used, the file is kept as it is\n",
            what);
  backupDamaged = true;
}

void Analyse::ScanNRDBackup() {
  KV_TRACE(7, "Analyse::ScanNRDBackup()\n");
  NRD disk;
  if (!ReadBackupFile(disk)) fxmessage("error reading layout.bin\n");
  disks.push_back(disk);
  ReadTables(disks.back());
  FindGaps((FXint)disks.size() - 1);
}

// The two strings of the disk record must lie inside the file; a damaged
// length would otherwise make the reader allocate whatever it says.
static bool diskRecordFits(FXFileStream& stream, FXlong fileSize, FXlong& end) {
  FXlong pos = 0;
  for (int i = 0; i < 2; i++) {
    if (fileSize - pos < 4) return false;
    FXint length = 0;
    stream >> length;
    if (length < 0 || length > fileSize - pos - 4) return false;
    pos += 4 + length;
    stream.position(pos);
  }
  end = pos + DISK_NUMBERS_BYTES;
  return fileSize - end >= COUNT_BYTES;
}

bool Analyse::ReadBackupFile(NRD& disk) {
  KV_TRACE(7, "reading backup file...\n");
  backupDamaged = false;
  FXFileStream stream;
  if (!FXStat::isFile(BACKUP_FILE) || !stream.open(BACKUP_FILE, FXStreamLoad, STREAM_BUFFER)) {
    fxmessage("note: backup file does not exist\n");
    return false;
  }
  stream.setBigEndian(false);
  FXlong fileSize = FXStat::size(BACKUP_FILE);
  FXlong recordsStart = 0;
  if (!diskRecordFits(stream, fileSize, recordsStart)) {
    reportDamage("the disk record is cut short or its texts are too long");
    stream.close();
    return false;
  }
  stream.position(0);
  NRD loaded;
  stream >> loaded;
  loaded.Dump();

  FXint count = 0;
  stream >> count;
  KV_TRACE(7, "sectors in backup: %d\n", count);
  recordsStart += COUNT_BYTES;
  FXlong present = (fileSize - recordsStart) / RECORD_BYTES;
  if (count < 0) {
    reportDamage("negative sector count");
    count = 0;
  } else if (count > present) {
    reportDamage("sector records missing at the end");
    count = (FXint)present;
  } else if (fileSize - recordsStart != (FXlong)count * RECORD_BYTES) {
    reportDamage("bytes after the last sector record");
  }
  for (FXint i = 0; i < count; i++) {
    BackupSector record;
    stream >> record.tag >> record.sector;
    stream.load(record.data, SECTOR_SIZE);
    if (stream.status() != FXStreamOK) {
      reportDamage("read error");
      break;
    }
    IOSystem::backupSectors[record.sector] = record;
  }
  KV_TRACE(7, "done\n");
  stream.close();
  disk = loaded;
  return true;
}

void Analyse::WriteBackupFile(NRD& disk) {
  KV_TRACE(7, "writing backup file...\n");
  if (backupDamaged) {
    fxmessage("layout.bin was damaged when read: it is left as it was\n");
    backupDamaged = false;  // the refusal is for the file this run read
    return;
  }
  if (disk.device != BACKUP_FILE) disk.device = BACKUP_FILE;
  if (disk.model.find("Backup/") < 0) disk.model.prepend("Backup/");

  // Written beside the old file and put in its place only when complete, so
  // a failed write never costs the user the file they had.
  FXString fresh = FXString(BACKUP_FILE) + ".new";
  FXFileStream stream;
  if (!stream.open(fresh, FXStreamSave, STREAM_BUFFER)) {
    fxmessage("cannot write %s\n", fresh.text());
    return;
  }
  stream.setBigEndian(false);
  stream << disk;
  FXint count = (FXint)IOSystem::backupSectors.size();
  stream << count;
  KV_TRACE(7, "sectors in backup: %d\n", count);
  for (const auto& entry : IOSystem::backupSectors) {
    const BackupSector& record = entry.second;
    stream << record.tag << record.sector;
    stream.save(record.data, SECTOR_SIZE);
  }
  bool ok = stream.status() == FXStreamOK;
  ok = stream.close() && ok;
  if (!ok || rename(fresh.text(), BACKUP_FILE) != 0) {
    fxmessage("cannot write %s\n", BACKUP_FILE);
    FXFile::remove(fresh);
    return;
  }
  KV_TRACE(7, "done\n");
}
