// Backup twins: in backup mode every sector operation is served by an
// in-memory sector store, loaded from and saved to "layout.bin".  A sector
// that is not in the store reads as zeros.
//
// Simulation: a write goes through every check the real one runs, short of
// opening the device for writing, and its sector is kept in an overlay that
// every later read of the device sees.  So the writer's read-back checks,
// its chain walks and the undo database find what the real run would find.
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
  FXuchar* out = (FXuchar*)buffer;
  for (FXuint done = 0; done < length; sector++) {
    FXuint chunk = std::min(length - done, SECTOR_SIZE);
    copyFromStore(sector, 0, out + done, chunk);
    done += chunk;
  }
  return true;
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

// ---------------------------------------------------------------------------
// Simulation

// What the real write needs of the device: that it opens for writing and has
// the whole sector.  It is opened for reading only.
static bool realWriteWouldReach(const FXString& device, FXulong offset) {
  DiskAccess& access = DiskAccess::current();
  if (!access.writable(device)) {
    KV_TRACE(8, "IOSystem::WriteBR simulation: %s cannot be opened for writing\n", device.text());
    return false;
  }
  DiskAccess::Handle h = access.open(device, false, false);
  if (h == DiskAccess::INVALID) return false;
  bool ok = IOSystem::HoldsSector(h, device, offset);
  access.close(h);
  return ok;
}

bool IOSystem::SimulatedWriteBR(const FXString& device, const void* buffer, FXulong offset) {
  // The backup store takes any sector.
  if (!useBackup && !realWriteWouldReach(device, offset)) return false;
  KV_TRACE(8, "IOSystem::WriteBR simulation: sector %.0lf of %s kept in memory\n",
           (double)(offset / SECTOR_SIZE), device.text());
  memcpy(simulatedSectors[device][offset / SECTOR_SIZE].data(), buffer, SECTOR_SIZE);
  return true;
}

void IOSystem::OverlaySimulated(const FXString& device, void* buffer, FXulong offset,
                                FXuint length) {
  auto written = simulatedSectors.find(device);
  if (written == simulatedSectors.end() || length == 0 || offset > ~(FXulong)0 - length) return;
  FXulong end = offset + length;
  FXuchar* out = (FXuchar*)buffer;
  const SectorOverlay& sectors = written->second;
  for (auto s = sectors.lower_bound(offset / SECTOR_SIZE);
       s != sectors.end() && s->first <= (end - 1) / SECTOR_SIZE; ++s) {
    FXulong first = s->first * SECTOR_SIZE;
    FXulong from = std::max(offset, first), to = std::min(end, first + SECTOR_SIZE);
    memcpy(out + (from - offset), s->second.data() + (from - first), to - from);
  }
}

std::vector<FXulong> IOSystem::SimulatedSectorNumbers(const FXString& device) {
  std::vector<FXulong> numbers;
  auto written = simulatedSectors.find(device);
  if (written == simulatedSectors.end()) return numbers;
  for (const auto& s : written->second) numbers.push_back(s.first);
  return numbers;
}
