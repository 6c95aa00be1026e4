// Backup twins: in backup mode every sector operation is served by an
// in-memory sector store, loaded from and saved to "layout.bin".  A sector
// that is not in the store reads as zeros.  A simulation keeps its writes
// apart from the store, in its own layer (IOSystem::Simulation), and they lie
// over the store when read.
#include "IOSystem.h"

#include <algorithm>
#include <cstring>

#include "Helper.h"
#include "compat/Assert.h"

// Copies `length` bytes starting at byte `within` of `sector` from the store.
static void copyFromStore(FXulong sector, FXuint within, FXuchar* out, FXuint length) {
  auto stored = IOSystem::backupSectors.find(sector);
  if (stored == IOSystem::backupSectors.end())
    memset(out, 0, length);
  else
    memcpy(out, stored->second.data + within, length);
}

bool IOSystem::BackupRead(FXulong sector, void* buffer, FXuint length) {
  if (sector > ~(FXulong)0 / SECTOR_SIZE) return false;  // no such byte offset
  return BackupReadBR(readDevice, buffer, sector * SECTOR_SIZE, length);
}

bool IOSystem::BackupReadBR(const FXString& device, void* buffer, FXulong offset, FXuint length) {
  KV_TRACE(7, "BackupReadBR( device = %s seek = %.0lf )\n", device.text(),
           (double)(offset / SECTOR_SIZE));
  FXuchar* out = (FXuchar*)buffer;
  FXulong sector = offset / SECTOR_SIZE;
  FXuint within = (FXuint)(offset % SECTOR_SIZE);
  for (FXuint done = 0; done < length; sector++, within = 0) {
    FXuint chunk = std::min(length - done, SECTOR_SIZE - within);
    copyFromStore(sector, within, out + done, chunk);
    done += chunk;
  }
  if (simulationMode) Simulation().layOver(device, buffer, offset, length);
  return true;
}

// A write that does not cover a whole sector keeps the rest of the stored
// sector, as a disk would.
bool IOSystem::BackupWriteBR(const void* buffer, FXulong offset) {
  const FXuchar* in = (const FXuchar*)buffer;
  FXulong sector = offset / SECTOR_SIZE;
  FXuint within = (FXuint)(offset % SECTOR_SIZE);
  for (FXuint done = 0; done < SECTOR_SIZE; sector++, within = 0) {
    FXuint chunk = std::min(SECTOR_SIZE - done, SECTOR_SIZE - within);
    auto stored = backupSectors.find(sector);
    BackupSector record;
    if (stored != backupSectors.end()) {
      record = stored->second;
    } else {
      record.tag = 0;
      memset(record.data, 0, sizeof(record.data));
    }
    record.sector = sector;
    memcpy(record.data + within, in + done, chunk);
    backupSectors[sector] = record;
    KV_TRACE(7, "BackupWriteBR - sector changed: %.0lf, ofs: %d, cnt: %d\n", (double)sector,
             within, chunk);
    Helper::hexDump(record.data);
    done += chunk;
  }
  return true;
}

bool IOSystem::BackupGetModel(const FXString&, FXString& model, CHS& physical, CHS& logical,
                              FXulong& sectors) {
  KV_TRACE(8, "Warning BackupGetModel not implemented\n");
  model = "model";
  physical = logical = CHS(1, 1, 1);
  sectors = 1;
  return true;
}

FXulong IOSystem::BackupCalculateSectorCnt(const FXString&) {
  KV_TRACE(8, "Warning BackupCalculateSectorCnt not implemented\n");
  return 1;
}

bool IOSystem::BackupRereadTable(const FXString&) {
  KV_TRACE(8, "Warning BackupRereadTable not implemented\n");
  return true;
}
