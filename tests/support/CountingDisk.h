// A disk layer for tests: passes every call to the Linux layer, counts the
// reads and seeks it sees, and fails reads that touch chosen sectors.
#ifndef KV_TEST_COUNTINGDISK_H
#define KV_TEST_COUNTINGDISK_H

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
  std::vector<FXulong> readOffsets;
  std::set<FXulong> badSectors;  // a read touching one of these fails
  std::vector<FXString> disks;   // what listDisks reports, when set
  bool fakeDiskList = false;

  Handle open(const FXString& name, bool write, bool sequential) override {
    opens++;
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
  std::vector<FXString> listDisks() override {
    return fakeDiskList ? disks : LinuxDiskAccess::listDisks();
  }

private:
  DiskAccess* previous;
  std::vector<FXulong> pos;
};

}  // namespace kvtest

#endif
