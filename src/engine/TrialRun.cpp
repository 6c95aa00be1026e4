#include "TrialRun.h"

// A trial's assertion reports would repeat in the real run.
static void dropAssertion(const char*) {}

TrialRun::TrialRun()
    : layer(&IOSystem::Disk(), MemoryWriteLayer::ANY_DEVICE),
      previous(IOSystem::front),
      backup(IOSystem::backupSectors),
      simulation(IOSystem::simulationMode),
      writeLogOff(IOSystem::disableWriteLog),
      asserts(kv::setAssertSink(dropAssertion)) {
  KV_TRACE(7, "TrialRun::TrialRun()\n");
  for (std::vector<NRD>* list : IOSystem::attachedDisks) disks.emplace_back(list, *list);
  IOSystem::front = &layer;
  IOSystem::simulationMode = false;
}

TrialRun::~TrialRun() {
  KV_TRACE(7, "TrialRun::~TrialRun()\n");
  for (auto& list : disks) *list.first = list.second;
  IOSystem::backupSectors.swap(backup);
  IOSystem::disableWriteLog = writeLogOff;
  IOSystem::simulationMode = simulation;
  IOSystem::front = previous;
  kv::setAssertSink(asserts);
}
