// Sector I/O, read side: one-shot reads, the read-ahead context and the
// device queries.
#include "IOSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "compat/Assert.h"

bool IOSystem::useBackup = false;
bool IOSystem::simulationMode = false;
bool IOSystem::disableWriteLog = true;
DiskAccess::Handle IOSystem::readHandle = DiskAccess::INVALID;
FXulong IOSystem::deviceSectors = 0;
FXuchar* IOSystem::cache = nullptr;
FXulong IOSystem::cacheStart = 0;
FXulong IOSystem::cacheBytes = 0;
FXulong IOSystem::filePos = 0;
std::map<FXulong, BackupSector> IOSystem::backupSectors;
FXString IOSystem::readDevice;
std::vector<std::vector<NRD>*> IOSystem::attachedDisks;
Reason IOSystem::writeFailure = DONE;
std::vector<FXString> IOSystem::unflushedDevices;
DiskAccess* IOSystem::front = nullptr;

MemoryWriteLayer& IOSystem::Simulation() {
  // Over whatever layer is installed, so a test's counting layer sees that
  // a simulation never writes.
  static MemoryWriteLayer simulation(nullptr, MemoryWriteLayer::WRITABLE_DEVICES);
  return simulation;
}

DiskAccess& IOSystem::Disk() {
  if (front) return *front;
  return simulationMode ? Simulation() : DiskAccess::current();
}

std::vector<FXulong> IOSystem::SimulatedSectorNumbers(const FXString& device) {
  return Simulation().writtenSectors(device);
}

static DiskAccess& disk() { return IOSystem::Disk(); }

void IOSystem::AttachDisks(std::vector<NRD>* disks) { attachedDisks.push_back(disks); }

void IOSystem::DetachDisks(std::vector<NRD>* disks) {
  attachedDisks.erase(std::remove(attachedDisks.begin(), attachedDisks.end(), disks),
                      attachedDisks.end());
}

NRD* IOSystem::FindDisk(const FXString& device) {
  for (auto list = attachedDisks.rbegin(); list != attachedDisks.rend(); ++list)
    for (NRD& d : **list)
      if (d.device == device) return &d;
  return nullptr;
}

void IOSystem::Reset() {
  if (cache) CloseRead();
  useBackup = false;
  simulationMode = false;
  disableWriteLog = true;
  deviceSectors = 0;
  backupSectors.clear();
  Simulation().forget();
  writeFailure = DONE;
  unflushedDevices.clear();
}

// One read of `length` bytes at `offset`, the device opened for it alone.
static bool readOnce(const FXString& device, void* buffer, FXulong offset, FXuint length) {
  // Callers test signatures in the buffer: a failed read must leave zeros.
  memset(buffer, 0, length);
  DiskAccess::Handle h = disk().open(device, false, false);
  if (h == DiskAccess::INVALID) return false;
  FXuint done = 0;
  bool ok = disk().seek(h, offset) && disk().read(h, buffer, length, done) && done == length;
  disk().close(h);
  return ok;
}

bool IOSystem::ReadBR(const FXString& device, void* buffer, FXulong offset, FXuint length) {
  KV_TRACE(7, "IOSystem::ReadBR( device = %s seek = %.0lf )\n", device.text(),
           (double)(offset / SECTOR_SIZE));
  return useBackup ? BackupReadBR(device, buffer, offset, length)
                   : readOnce(device, buffer, offset, length);
}

bool IOSystem::PrepareRead(const FXString& device, FXulong sectors) {
  KV_TRACE(7, "IOSystem::PrepareRead( disk = %s )\n", device.text());
  readDevice = device;
  if (useBackup) return true;
  FXASSERT(cache == nullptr);
  if (cache) CloseRead();  // a context left open would leak its handle
  readHandle = disk().open(device, false, true);
  if (readHandle == DiskAccess::INVALID) return false;
  cache = new FXuchar[CACHE_SIZE];
  FXuint done = 0;
  // An unreadable sector in the first 128 KiB must not make the whole disk
  // unsearchable: then only sector 0 has to be readable.
  if (!disk().read(readHandle, cache, CACHE_SIZE, done) &&
      !(disk().seek(readHandle, 0) && disk().read(readHandle, cache, SECTOR_SIZE, done))) {
    delete[] cache;
    cache = nullptr;
    cacheStart = 0;
    filePos = 0;
    disk().close(readHandle);
    readHandle = DiskAccess::INVALID;
    return false;
  }
  cacheStart = 0;
  cacheBytes = done;
  filePos = done;
  deviceSectors = sectors;
  return true;
}

// Reads `size` bytes at byte `ofs` of the read context's device into the
// cache, seeking only when the handle does not already stand there.  After a
// failure the handle's position is unknown, so the next read seeks.
static bool fillCache(FXulong ofs, FXuint size, FXuint& done) {
  done = 0;
  bool seeking = IOSystem::filePos != ofs;
  bool ok = seeking ? disk().seek(IOSystem::readHandle, ofs) &&
                          disk().read(IOSystem::readHandle, IOSystem::cache, size, done)
                    : disk().read(IOSystem::readHandle, IOSystem::cache, size, done);
  if (ok) return true;
  KV_TRACE(8, seeking ? "IOSystem::Read fatal error with seek\n"
                      : "IOSystem::Read fatal error without seek\n");
  KV_TRACE(8, "IOSystem::Read GetLastError() returns %u\n", disk().lastError());
  KV_TRACE(8, "IOSystem::Read bytes is %u\n", done);
  IOSystem::filePos = ~(FXulong)0;
  IOSystem::cacheBytes = 0;
  return false;
}

bool IOSystem::Read(FXulong sector, void* buffer, FXuint length) {
  return useBackup ? BackupRead(sector, buffer, length) : ReadCached(sector, buffer, length);
}

bool IOSystem::ReadDirect(FXulong sector, void* buffer, FXuint length) {
  if (sector > ~(FXulong)0 / SECTOR_SIZE) return false;  // no such byte offset
  if (useBackup) return BackupRead(sector, buffer, length);
  if (readHandle == DiskAccess::INVALID) return false;
  FXulong ofs = sector * SECTOR_SIZE;
  FXuint done = 0;
  bool ok = (filePos == ofs || disk().seek(readHandle, ofs)) &&
            disk().read(readHandle, buffer, length, done) && done == length;
  // The read-ahead seeks only when the handle does not stand where it reads.
  filePos = ok ? ofs + done : ~(FXulong)0;
  return ok;
}

bool IOSystem::ReadCached(FXulong sector, void* buffer, FXuint length) {
  if (!cache || length > CACHE_SIZE) return false;
  FXulong ofs = sector * SECTOR_SIZE;
  if (sector > ~(FXulong)0 / SECTOR_SIZE) return false;  // no such byte offset

  if (cacheStart <= ofs && ofs + length <= cacheStart + cacheBytes) {
    memcpy(buffer, cache + (ofs - cacheStart), length);
    return true;
  }

  FXulong refill = CACHE_SIZE;
  FXulong end = deviceSectors > ~(FXulong)0 / SECTOR_SIZE ? ~(FXulong)0 : deviceSectors * SECTOR_SIZE;
  if (ofs >= end) return false;  // at or beyond the end of the device
  if (ofs + CACHE_SIZE > end) {
    refill = end - ofs;
    KV_TRACE(8, "IOSystem::Read correcting cache size to %.0lf\n", (double)refill);
  }

  // One unreadable sector fails a whole read-ahead; the bytes asked for are
  // then read on their own, so the good sectors around a bad one are still
  // served (a scan then costs two reads per sector near it, not a lost window).
  FXuint done = 0;
  if (!fillCache(ofs, (FXuint)refill, done) && !(length < refill && fillCache(ofs, length, done)))
    return false;
  cacheStart = ofs;
  cacheBytes = done;
  filePos = ofs + done;
  // A short delivery is served as far as it goes; the rest reads as zeros.
  FXuint valid = done < length ? done : length;
  memcpy(buffer, cache, valid);
  memset((FXuchar*)buffer + valid, 0, length - valid);
  return true;
}

bool IOSystem::HoldsSector(DiskAccess::Handle h, const FXString& device, FXulong offset) {
  FXulong bytes = 0;
  if (disk().size(h, bytes) && offset < bytes && bytes - offset >= SECTOR_SIZE) return true;
  // An image file would silently grow; a sector beyond the disk is never ours.
  KV_TRACE(8, "IOSystem::WriteBR sector %.0lf lies beyond the end of %s: not written\n",
           (double)(offset / SECTOR_SIZE), device.text());
  return false;
}

bool IOSystem::CloseRead() {
  KV_TRACE(7, "IOSystem::CloseRead()\n");
  if (useBackup) return true;
  if (readHandle != DiskAccess::INVALID) disk().close(readHandle);
  readHandle = DiskAccess::INVALID;
  filePos = 0;
  delete[] cache;
  cache = nullptr;
  cacheStart = 0;
  cacheBytes = 0;
  return true;
}

bool IOSystem::GetModel(const FXString& device, FXString& model, CHS& physical, CHS& logical,
                        FXulong& sectors) {
  if (useBackup) return BackupGetModel(device, model, physical, logical, sectors);
  KV_TRACE(7, "IOSystem::GetModel( device = %s )\n", device.text());
  KV_TRACE(8, "IOSystem::GetModel opening disk\n");
  // Identification only reads; a read-only open suffices on Linux.
  DiskAccess::Handle h = disk().open(device, false, false);
  if (h == DiskAccess::INVALID) return false;

  FXuint sectorSize = disk().sectorSize(h);
  if (sectorSize != SECTOR_SIZE) {
    // Every structure this program reads and writes assumes 512-byte sectors.
    KV_TRACE(8, "IOSystem::GetModel logical sector size is %u, not 512: skipped\n", sectorSize);
    disk().close(h);
    return false;
  }

  DiskAccess::Identity id;
  if (!disk().identity(device, id)) {
    KV_TRACE(8, "IOSystem::GetModel no identity for %s\n", device.text());
    disk().close(h);
    return false;
  }
  model.format("%s%s Storage Device %s", id.vendor.text(), id.product.text(), id.revision.text());
  KV_TRACE(8, "IOSystem::GetModel modelname is %s\n", model.text());

  KV_TRACE(8, "IOSystem::GetModel reading drive geometry\n");
  FXulong bytes = 0;
  disk().size(h, bytes);
  if (disk().geometry(h, physical)) {
    KV_TRACE(8, "IOSystem::GetModel Physical disk geometry information using HDIO_GETGEO\n");
  } else {
    KV_TRACE(8, "IOSystem::GetModel no geometry reported, using %d/%d\n", CONVENTIONAL_HEADS,
             CONVENTIONAL_SECTORS);
    physical = CHS(bytes / SECTOR_SIZE / (CONVENTIONAL_HEADS * CONVENTIONAL_SECTORS),
                   CONVENTIONAL_HEADS, CONVENTIONAL_SECTORS);
  }
  disk().close(h);
  sectors = CalculateSectorCnt(device);
  // Linux reports one geometry; it serves as both.
  logical = physical;
  return true;
}

FXulong IOSystem::CalculateSectorCnt(const FXString& device) {
  KV_TRACE(7, "IOSystem::CalculateSectorCnt device/file = %s retval = %p\n", device.text(),
           (void*)nullptr);
  if (useBackup) return BackupCalculateSectorCnt(device);
  DiskAccess::Handle h = disk().open(device, false, false);
  if (h == DiskAccess::INVALID) {
    KV_TRACE(8, "IOSystem::CalculateSectorCnt can't open device/file \"%s\"\n", device.text());
    return 0;
  }
  FXulong bytes = 0;
  if (!disk().size(h, bytes)) {
    KV_TRACE(8, "IOSystem::CalculateSectorCnt can't calculate device/file capacity GetLastError = %u\n",
             disk().lastError());
    disk().close(h);
    return 0;
  }
  disk().close(h);
  return bytes / SECTOR_SIZE;
}

bool IOSystem::RereadTable(const FXString& device, bool* busy) {
  if (busy) *busy = false;
  if (useBackup) return BackupRereadTable(device);
  // While simulating, the simulation's layer takes this, and asks the system
  // nothing: it changed nothing the system could see.
  DiskAccess::Handle h = disk().open(device, true, false);
  if (h == DiskAccess::INVALID) return false;
  bool ok = disk().rereadTable(h);
  if (!ok && busy) *busy = disk().lastError() == EBUSY;
  disk().close(h);
  return ok;
}
