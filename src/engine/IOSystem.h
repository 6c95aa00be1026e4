// Sector I/O: the only way the program touches a disk.
//
// Reading: one-shot reads (ReadBR) and a read context with a 128 KiB
// read-ahead for the sector-by-sector scans.  Writing: WriteBR, which first
// logs the old bytes of every changed sector into the undo database kept in
// the disk's first track.  Backup mode routes every operation to an in-memory
// sector store loaded from "layout.bin".  Simulation mode writes nothing: it
// works through a MemoryWriteLayer, whose writes stay in memory and every
// later read sees, so a simulated run reads back what the real run would
// have written.
//
// All state is process-wide and there is at most one read context at a time;
// it must never be used by two threads at once.
#ifndef KV_IOSYSTEM_H
#define KV_IOSYSTEM_H

#include <fx.h>

#include <map>
#include <vector>

#include "Records.h"
#include "platform/DiskAccess.h"
#include "platform/MemoryWriteLayer.h"

// One sector of the backup store.
struct BackupSector {
  FXuint tag;
  FXulong sector;
  FXuchar data[SECTOR_SIZE];
};

class IOSystem {
public:
  static const FXuint CACHE_SIZE = 131072;  // 256 sectors of read-ahead

  // Mode flags, set once at start-up.
  static bool useBackup;
  static bool simulationMode;
  // While set, WriteBR logs nothing; starts set.
  static bool disableWriteLog;

  // Read context.
  static DiskAccess::Handle readHandle;
  static FXulong deviceSectors;
  static FXuchar* cache;
  static FXulong cacheStart;
  static FXulong cacheBytes;
  static FXulong filePos;

  // The backup store, keyed by the whole sector number.
  static std::map<FXulong, BackupSector> backupSectors;
  // The device the read context was opened on.
  static FXString readDevice;
  // The disk lists attached, the last attached at the back.
  static std::vector<std::vector<NRD>*> attachedDisks;

  // --- the disk layer ---
  // What every sector operation goes through: `front` when set (a trial
  // run's, while it lives), else the simulation's while simulating, else the
  // layer installed (DiskAccess::current).
  static DiskAccess& Disk();
  static DiskAccess* front;
  // The simulation's layer: what a simulation wrote, by device and sector.
  // It never reaches a disk or the backup store, but every read sees it.
  static MemoryWriteLayer& Simulation();
  // The sectors of `device` a simulation has written so far, ascending.
  static std::vector<FXulong> SimulatedSectorNumbers(const FXString& device);

  // --- read side and device queries ---
  static bool ReadBR(const FXString& device, void* buffer, FXulong offset, FXuint length);
  static bool PrepareRead(const FXString& device, FXulong sectors);
  static bool Read(FXulong sector, void* buffer, FXuint length);
  // Read from the device through the read-ahead cache.
  static bool ReadCached(FXulong sector, void* buffer, FXuint length);
  // Read from the read context's device straight into `buffer`, leaving the
  // read-ahead as it is: for a scan's large sequential blocks.
  static bool ReadDirect(FXulong sector, void* buffer, FXuint length);
  static bool CloseRead();
  static bool GetModel(const FXString& device, FXString& model, CHS& physical, CHS& logical,
                       FXulong& sectors);
  static FXulong CalculateSectorCnt(const FXString& device);
  // False when the system could not re-read the table; `busy` (when given)
  // then tells whether that was because the disk is in use.
  static bool RereadTable(const FXString& device, bool* busy = nullptr);

  // --- write side, change log and undo database ---
  // The disks whose writes are logged, with their undo-log cursors: an
  // analyser attaches its disk list for as long as it lives, so a write finds
  // its disk's log whichever analyser (if any) is published.  The list
  // attached last is searched first.
  static void AttachDisks(std::vector<NRD>* disks);
  static void DetachDisks(std::vector<NRD>* disks);
  static NRD* FindDisk(const FXString& device);
  // Writes one sector.  While logging is on (disableWriteLog clear) a disk
  // whose logging is on is written only once the change is in its undo log,
  // and a disk the program keeps no log for is not written at all.
  static bool WriteBR(const FXString& device, const void* buffer, FXulong offset);
  // Why the last WriteBR that returned false wrote nothing.
  static Reason writeFailure;
  // The devices written since their last flush.  A logged write waits for
  // the flush of the next write's log, so each logged write costs one flush.
  static std::vector<FXString> unflushedDevices;
  // Puts on the medium every write still waiting for its flush, as a writer
  // does before it reports its writes done; false (writeFailure says why)
  // when a device could not be flushed.
  static bool FlushWrites();
  // Whether the device open as `h` has a whole sector at byte `offset`.
  static bool HoldsSector(DiskAccess::Handle h, const FXString& device, FXulong offset);
  // Logs the old value of every byte the write of `data` at `offset` changes;
  // false, with the reason in writeFailure, when the log cannot take them.
  static bool LogChanges(const FXString& device, const void* data, FXulong offset);
  // Appends the records of one sector write: its changed bytes (offset, old
  // value) and the checksum of the sector as written.
  static bool AddToUndoDB(const FXString& device, FXulong sector,
                          const std::vector<std::pair<FXuint, FXuchar>>& changed,
                          FXuint writtenCrc);
  static FXulong LocateFreeDBSector(const FXString& device, FXulong sec, FXulong secmax);
  static void CloseDB(const FXString& device);
  static FXulong IsUndoAvailable(const FXString& device);
  static bool CheckUndoDBPartitionChkSum(const FXString& device, FXulong dbstartsec);
  static bool Undo(const FXString& device, FXulong dbstartsec);
  // True when the undo of the database at `dbstartsec` would write over a
  // change that something other than the logged recovery made since;
  // `sector` then names the first such sector.  Undo refuses then.
  static bool UndoWouldOverwrite(const FXString& device, FXulong dbstartsec, FXulong& sector);
  // Keeps the undo database of `device` below `sector` for the rest of the
  // run, so that it never lands on a structure about to be restored.
  static void KeepDBBelow(const FXString& device, FXulong sector);

  // --- backup twins ---
  // A simulation's writes lie over the store when read; it keeps them apart
  // (Simulation), so the store stays as it was.
  static bool BackupRead(FXulong sector, void* buffer, FXuint length);
  static bool BackupReadBR(const FXString& device, void* buffer, FXulong offset, FXuint length);
  static bool BackupWriteBR(const void* buffer, FXulong offset);
  static bool BackupGetModel(const FXString& device, FXString& model, CHS& physical, CHS& logical,
                             FXulong& sectors);
  static FXulong BackupCalculateSectorCnt(const FXString& device);
  static bool BackupRereadTable(const FXString& device);

  // Returns every process-wide value to its start-up state (tests).
  static void Reset();
};

#endif
