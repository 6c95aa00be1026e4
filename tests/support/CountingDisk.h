// A disk layer for tests: passes every call to the Linux layer, counts the
// reads, seeks and writes it sees, fails reads and writes of chosen sectors,
// runs a hook after each write (a test kills its process there), and reports
// the disks, drive letters and fixed volumes a test gives it.
#ifndef KV_TEST_COUNTINGDISK_H
#define KV_TEST_COUNTINGDISK_H

#include <functional>
#include <set>
#include <vector>

#include "platform/DiskAccess.h"

namespace kvtest {

class CountingDisk : public LinuxDiskAccess {
public:
  CountingDisk() { previous = DiskAccess::install(this); }
  ~CountingDisk() { DiskAccess::install(previous); }

  unsigned reads = 0;
  unsigned seeks = 0;     // seeks that moved the position
  unsigned opens = 0;
  std::vector<FXString> opened;  // the names of every open, in order
  unsigned writes = 0;
  std::vector<FXulong> readOffsets;
  std::vector<FXulong> writtenSectors;
  std::vector<unsigned> flushedAt;  // for each flush, the writes made before it
  std::set<FXulong> badSectors;  // a read touching one of these fails
  std::set<FXulong> badWrites;   // a write of one of these fails, writing nothing
  std::vector<FXString> disks;   // what listDisks reports, when set
  bool fakeDiskList = false;
  std::function<void(unsigned writes)> afterWrite;  // called after each write
  // A killed process loses nothing the page cache holds: tests that only
  // kill processes may skip the flush to the medium.
  bool skipFlush = false;
  FXuint driveMask = 0;
  std::vector<FixedVolume> volumes;

  Handle open(const FXString& name, bool write, bool sequential) override {
    opens++;
    opened.push_back(name);
    Handle h = LinuxDiskAccess::open(name, write, sequential);
    if (h >= 0) {
      if ((size_t)h >= pos.size()) pos.resize(h + 1);
      pos[h] = 0;
    }
    return h;
  }
  bool seek(Handle h, FXulong offset) override {
    if (pos[h] != offset) seeks++;
    pos[h] = offset;
    return LinuxDiskAccess::seek(h, offset);
  }
  bool read(Handle h, void* buffer, FXuint length, FXuint& done) override {
    reads++;
    readOffsets.push_back(pos[h]);
    for (FXulong s : badSectors) {
      if (s * 512 + 512 > pos[h] && s * 512 < pos[h] + length) {
        done = 0;
        return false;
      }
    }
    bool ok = LinuxDiskAccess::read(h, buffer, length, done);
    pos[h] += done;
    return ok;
  }
  bool write(Handle h, const void* buffer, FXuint length, FXuint& done) override {
    writtenSectors.push_back(pos[h] / 512);
    if (badWrites.count(pos[h] / 512)) {
      done = 0;
      return false;
    }
    bool ok = LinuxDiskAccess::write(h, buffer, length, done);
    pos[h] += done;
    writes++;
    if (afterWrite) afterWrite(writes);
    return ok;
  }
  bool flush(Handle h) override {
    flushedAt.push_back(writes);
    return skipFlush || LinuxDiskAccess::flush(h);
  }
  std::vector<FXString> listDisks() override {
    return fakeDiskList ? disks : LinuxDiskAccess::listDisks();
  }
  FXuint logicalDriveMask() override { return driveMask; }
  std::vector<FixedVolume> fixedVolumes() override { return volumes; }

private:
  DiskAccess* previous;
  std::vector<FXulong> pos;
};

// The layer for tests of the write side: lists no disks of the machine.
class HookedDisk : public CountingDisk {
public:
  HookedDisk() { fakeDiskList = true; }
};

}  // namespace kvtest

#endif
