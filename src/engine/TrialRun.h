// A trial run: lets the program go through a recovery once to see what it
// would do, without changing anything.
//
// While a TrialRun lives, every disk operation goes through a layer of its
// own (MemoryWriteLayer) in front of the one in use: every device is opened
// for reading only, the sectors written are kept in memory and later reads
// see them, so the trial takes exactly the steps the real run will take, the
// undo log's included.  Simulation is lifted for that time (nothing can
// reach a disk anyway), so a trial under -sim sees what a real run would: a
// simulation's earlier writes lie below the trial's.  A trial asks only
// whether the log has room, so it opens a device the system keeps read-only
// as any other; the real run finds that out.  When it ends, the analyser's
// disk records (with their undo-log cursors), the backup store, the mode
// flags and the assertion output are as they were before.
#ifndef KV_TRIALRUN_H
#define KV_TRIALRUN_H

#include <map>
#include <utility>
#include <vector>

#include "IOSystem.h"
#include "Records.h"
#include "compat/Assert.h"

class TrialRun {
public:
  TrialRun();
  ~TrialRun();
  TrialRun(const TrialRun&) = delete;
  TrialRun& operator=(const TrialRun&) = delete;

private:
  MemoryWriteLayer layer;
  DiskAccess* previous;  // the layer in front before this trial's
  // Every attached disk list as it was, with the undo-log cursors.
  std::vector<std::pair<std::vector<NRD>*, std::vector<NRD>>> disks;
  std::map<FXulong, BackupSector> backup;
  bool simulation;
  bool writeLogOff;
  kv::AssertSink asserts;
};

#endif
