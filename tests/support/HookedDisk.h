// A disk layer for tests of the write side: passes every call to the Linux
// layer, lists no disks of the machine, counts and records sector writes,
// runs a hook after each write (a test kills its process there), and reports
// the drive letters and fixed volumes a test gives it.
#ifndef KV_TEST_HOOKEDDISK_H
#define KV_TEST_HOOKEDDISK_H

#include <functional>
#include <vector>

#include "platform/DiskAccess.h"

namespace kvtest {

class HookedDisk : public LinuxDiskAccess {
public:
  HookedDisk() { previous = DiskAccess::install(this); }
  ~HookedDisk() { DiskAccess::install(previous); }

  unsigned writes = 0;
  std::vector<FXulong> writtenSectors;
  std::function<void(unsigned writes)> afterWrite;  // called after each write
  // A killed process loses nothing the page cache holds: tests that only
  // kill processes may skip the flush to the medium.
  bool skipFlush = false;
  FXuint driveMask = 0;
  std::vector<FixedVolume> volumes;

  Handle open(const FXString& name, bool write, bool sequential) override {
    Handle h = LinuxDiskAccess::open(name, write, sequential);
    if (h >= 0) {
      if ((size_t)h >= pos.size()) pos.resize(h + 1);
      pos[h] = 0;
    }
    return h;
  }
  bool seek(Handle h, FXulong offset) override {
    pos[h] = offset;
    return LinuxDiskAccess::seek(h, offset);
  }
  bool read(Handle h, void* buffer, FXuint length, FXuint& done) override {
    bool ok = LinuxDiskAccess::read(h, buffer, length, done);
    pos[h] += done;
    return ok;
  }
  bool write(Handle h, const void* buffer, FXuint length, FXuint& done) override {
    writtenSectors.push_back(pos[h] / 512);
    bool ok = LinuxDiskAccess::write(h, buffer, length, done);
    pos[h] += done;
    writes++;
    if (afterWrite) afterWrite(writes);
    return ok;
  }
  bool flush(Handle h) override { return skipFlush || LinuxDiskAccess::flush(h); }
  std::vector<FXString> listDisks() override { return {}; }
  FXuint logicalDriveMask() override { return driveMask; }
  std::vector<FixedVolume> fixedVolumes() override { return volumes; }

private:
  DiskAccess* previous;
  std::vector<FXulong> pos;
};

}  // namespace kvtest

#endif
