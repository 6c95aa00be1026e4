// A disk layer that keeps every write in memory: reads come from the layer
// below with the sectors written so far laid over them, per device, and no
// device is ever opened for writing.  A simulation (-sim) and a trial run
// both work through one, so they take exactly the steps a real run takes and
// read back what it would have written, while the disks stay as they are.
#ifndef KV_PLATFORM_MEMORYWRITELAYER_H
#define KV_PLATFORM_MEMORYWRITELAYER_H

#include <array>
#include <map>
#include <mutex>
#include <vector>

#include "platform/DiskAccess.h"

class MemoryWriteLayer : public DiskAccess {
public:
  // What an open for writing asks of the device before it opens it for
  // reading: nothing, or that the system would open it for writing
  // (DiskAccess::writable, which opens nothing for writing).
  enum WriteCheck { ANY_DEVICE, WRITABLE_DEVICES };

  // Over `below`; without one, over whatever layer is installed at each call
  // (such a layer is never installed itself).
  MemoryWriteLayer(DiskAccess* below, WriteCheck check);

  Handle open(const FXString& name, bool write, bool sequential) override;
  void close(Handle h) override;
  bool writable(const FXString& name) override { return lower().writable(name); }
  bool seek(Handle h, FXulong offset) override;
  bool read(Handle h, void* buffer, FXuint length, FXuint& done) override;
  // Whole sectors at a sector boundary only, as IOSystem writes them.
  bool write(Handle h, const void* buffer, FXuint length, FXuint& done) override;
  // Nothing waits for a medium.
  bool flush(Handle) override { return true; }
  bool size(Handle h, FXulong& bytes) override { return lower().size(h, bytes); }
  FXuint sectorSize(Handle h) override { return lower().sectorSize(h); }
  bool identity(const FXString& name, Identity& id) override { return lower().identity(name, id); }
  bool geometry(Handle h, CHS& logical) override { return lower().geometry(h, logical); }
  // Nothing changed for the system to see.
  bool rereadTable(Handle) override { return true; }
  std::vector<FXString> listDisks() override { return lower().listDisks(); }
  FXuint logicalDriveMask() override { return lower().logicalDriveMask(); }
  std::vector<FixedVolume> fixedVolumes() override { return lower().fixedVolumes(); }
  FXuint lastError() override { return lower().lastError(); }

  // The store itself, for sectors that reach no device (the backup store's):
  // keeps the sector written at byte `offset` (a sector boundary) of `device`.
  void keep(const FXString& device, FXulong offset, const void* sector);
  // Copies what was written to `device` over `length` bytes read at `offset`.
  void layOver(const FXString& device, void* buffer, FXulong offset, FXuint length);
  // The sectors written to `device`, ascending.
  std::vector<FXulong> writtenSectors(const FXString& device);
  // Drops every sector written.
  void forget();

private:
  typedef std::array<FXuchar, SECTOR_SIZE> Sector;
  struct Place {
    FXString name;
    FXulong pos;
  };

  DiskAccess& lower() { return below ? *below : DiskAccess::current(); }
  // The device and position of a handle this layer opened; null for another.
  Place* place(Handle h);

  DiskAccess* below;
  WriteCheck check;
  // The search thread and the GUI thread both read through a simulation.
  std::mutex lock;
  std::map<Handle, Place> handles;
  std::map<FXString, std::map<FXulong, Sector>> written;  // by device, then sector
};

#endif
