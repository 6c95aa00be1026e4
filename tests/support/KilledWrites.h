// Writes cut short by a killed process: a piece of work that writes to
// disks runs in a child process that is killed right after one of its
// writes, and what the disk's undo log makes of the result is checked.
#ifndef KV_TEST_KILLEDWRITES_H
#define KV_TEST_KILLEDWRITES_H

#include <fx.h>

#include <functional>
#include <string>
#include <vector>

#include "support/CountingDisk.h"

namespace kvtest {

// Work that writes through the given disk layer (installed while it runs).
typedef std::function<void(HookedDisk& disk)> DiskWork;

// The sectors `work` writes, in order; it runs in this process.
std::vector<FXulong> sectorsWrittenBy(const DiskWork& work);

// Runs `work` in a child process killed right after its n-th write; fails
// the test when the child ends any other way.
void runKilledAfterWrite(unsigned n, const DiskWork& work);

// A later run of the program on `image` (geometry "C/H/S"): finds the undo
// database, checks it and undoes; the image must then equal `original`, and
// no database is left.  Without a database nothing may have changed.
// `beforeUndo` may change the database once it has been checked.
void expectUndoRestores(const std::string& image, const std::string& chs,
                        const std::string& original, const std::string& what,
                        const std::function<void()>& beforeUndo = {});

}  // namespace kvtest

#endif
