// Leaving the welcome page: the offer to undo an earlier recovery, disk by
// disk, and otherwise to log the coming one so that it can be undone later.
#include "Analyse.h"
#include "IOSystem.h"
#include "Wizard.h"
#include "compat/Assert.h"

bool mFXWizard::DoUndo() {
  bool undone = false;
  KV_TRACE(6, "mFXWizard::DoUndo() - iterating drives\n");
  for (NRD& disk : sharedAnalyser->disks) {
    KV_TRACE(7, "device %s %s\n", disk.device.text(), disk.model.text());
    FXulong dbStart = IOSystem::IsUndoAvailable(disk.device);
    if (dbStart == 0) continue;
    // A database whose partitions no longer match the disk would restore a
    // layout that is not there any more.
    if (!IOSystem::CheckUndoDBPartitionChkSum(disk.device, dbStart)) continue;
    FXString model = disk.model;
    model.trimEnd();
    // An undo that would write over what another program changed since is
    // not offered, and the user is told why.
    FXulong changed = 0;
    if (IOSystem::UndoWouldOverwrite(disk.device, dbStart, changed)) {
      inform("Kelvarin.mFXWizard.035",
             Format("Kelvarin.DoUndo.001", model.text(), (double)changed));
      continue;
    }
    if (!ask("Kelvarin.mFXWizard.035", Format("Kelvarin.mFXWizard.037", model.text()))) continue;
    // The undo's own writes are not logged.
    bool logging = !IOSystem::disableWriteLog;
    IOSystem::disableWriteLog = true;
    IOSystem::Undo(disk.device, dbStart);
    IOSystem::disableWriteLog = !logging;
    IOSystem::RereadTable(disk.device);
    undone = true;
  }
  if (!undone && ask("Kelvarin.mFXWizard.035", GetString("Kelvarin.mFXWizard.036"))) {
    for (NRD& disk : sharedAnalyser->disks) disk.dbActive = true;
    KV_TRACE(6, "mFXWizard::DoUndo() - user has enabled undo for all drives\n");
  }
  return undone;
}
