// The platform layer: everything the program needs of the operating system to
// reach a disk, in one small interface.  The Linux implementation works on
// image files and block devices; tests install their own to count or fail
// operations.
#ifndef KV_PLATFORM_DISKACCESS_H
#define KV_PLATFORM_DISKACCESS_H

#include <fx.h>

#include <vector>

#include "Records.h"

class DiskAccess {
public:
  typedef int Handle;
  static const Handle INVALID = -1;

  struct Identity {
    FXString vendor, product, revision;
  };

  virtual ~DiskAccess() {}

  // Opens a device by name with shared read/write access.  `sequential` hints
  // a forward scan.  Only image files and block devices open; anything else
  // (a directory, a FIFO, a character device) fails at once, with
  // lastError() ENOTBLK.
  virtual Handle open(const FXString& name, bool write, bool sequential) = 0;
  virtual void close(Handle h) = 0;
  // Whether an open for writing would succeed, found out without one.
  virtual bool writable(const FXString& name) = 0;
  // A handle keeps a position, as a raw disk handle does: read and write
  // continue from it, seek moves it.
  virtual bool seek(Handle h, FXulong offset) = 0;
  // Reads up to `length` bytes; `done` is what arrived (short at the end).
  virtual bool read(Handle h, void* buffer, FXuint length, FXuint& done) = 0;
  virtual bool write(Handle h, const void* buffer, FXuint length, FXuint& done) = 0;
  virtual bool flush(Handle h) = 0;
  // Size in bytes of an image file or a whole disk.
  virtual bool size(Handle h, FXulong& bytes) = 0;
  // Bytes per logical sector; 512 for image files.
  virtual FXuint sectorSize(Handle h) = 0;
  virtual bool identity(const FXString& name, Identity& id) = 0;
  // The geometry the system translates the disk to; false when it has none.
  virtual bool geometry(Handle h, CHS& logical) = 0;
  // Asks the system to re-read the partition table of a disk.
  virtual bool rereadTable(Handle h) = 0;
  // Whole disks of the machine, in a stable order.
  virtual std::vector<FXString> listDisks() = 0;
  // Bit i set when drive letter 'A'+i is in use; Linux has no drive letters.
  virtual FXuint logicalDriveMask() = 0;

  // A fixed (non-removable, local) volume that holds a drive letter, and
  // where it lies on its disk, in bytes.  `known` is false when the volume
  // could not be opened or asked for its position.
  struct FixedVolume {
    FXchar letter;
    bool known;
    FXlong offset;
    FXlong length;
  };
  // The fixed volumes among the letters in use.  None on Linux.
  virtual std::vector<FixedVolume> fixedVolumes() { return {}; }
  // The system error code of the last failed operation.
  virtual FXuint lastError() = 0;

  // The implementation in use; by default the Linux one.
  static DiskAccess& current();
  // Installs another implementation (tests); null restores the default.
  // Returns the previous one.
  static DiskAccess* install(DiskAccess* access);
};

// The Linux implementation.
class LinuxDiskAccess : public DiskAccess {
public:
  Handle open(const FXString& name, bool write, bool sequential) override;
  void close(Handle h) override;
  bool writable(const FXString& name) override;
  bool seek(Handle h, FXulong offset) override;
  bool read(Handle h, void* buffer, FXuint length, FXuint& done) override;
  bool write(Handle h, const void* buffer, FXuint length, FXuint& done) override;
  bool flush(Handle h) override;
  bool size(Handle h, FXulong& bytes) override;
  FXuint sectorSize(Handle h) override;
  bool identity(const FXString& name, Identity& id) override;
  bool geometry(Handle h, CHS& logical) override;
  bool rereadTable(Handle h) override;
  std::vector<FXString> listDisks() override;
  FXuint logicalDriveMask() override;
  FXuint lastError() override;

  // Where /sys is; tests point it at a tree of their own.
  static void setSysRoot(const FXString& root);

private:
  std::vector<FXulong> positions;  // per file descriptor
};

#endif
