// Leaving the welcome page: the offer to undo an earlier recovery, disk by
// disk, and otherwise to log the coming one so that it can be undone later.
#include <algorithm>
#include <vector>

#include "Analyse.h"
#include "IOSystem.h"
#include "Wizard.h"
#include "gpt/GptDisk.h"
#include "gpt/GptWriter.h"

// What is damaged of a disk's GPT that a repair can write again, or null.
static const FXchar* gptDamage(const NRD& disk) {
  const GptLayout* g = UsableGpt(disk);
  if (!g) return nullptr;
  if (g->state == GptLayout::PRIMARY_DAMAGED) return "Kelvarin.DoUndo.013";
  if (g->state == GptLayout::BACKUP_DAMAGED) return "Kelvarin.DoUndo.014";
  return ProtectiveMbrMissing(disk) ? "Kelvarin.DoUndo.015" : nullptr;
}
#include "compat/Assert.h"

bool mFXWizard::DoUndo() {
  // A GPT with one damaged copy is offered its repair first; the repair is
  // logged as a recovery is, so it can be undone on a later start (not in
  // this one).
  std::vector<FXString> repaired;
  for (NRD& disk : sharedAnalyser->disks) {
    const FXchar* damage = gptDamage(disk);
    FXString model = disk.model;
    if (!damage || !ask("Kelvarin.mFXWizard.035", Format("Kelvarin.DoUndo.012", model.trimEnd().text(),
                                                        GetString(damage).text())))
      continue;
    if (GptWriter::Apply(disk, GptWriter::PlanRepair(disk), true) != GptWriter::WRITTEN)
      inform("Kelvarin.mFXWizard.035", Format("Kelvarin.DoUndo.016", model.text()));
    sharedAnalyser->ReReadPartitions();
    sharedAnalyser->CalcNRDChecksums();
    sharedAnalyser->WriteNRDChecksums();
    disk.dbActive = false;
    repaired.push_back(disk.device);
  }
  bool undone = false;
  KV_TRACE(6, "mFXWizard::DoUndo() - iterating drives\n");
  for (NRD& disk : sharedAnalyser->disks) {
    KV_TRACE(7, "device %s %s\n", disk.device.text(), disk.model.text());
    if (std::find(repaired.begin(), repaired.end(), disk.device) != repaired.end()) continue;
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
    bool ok = IOSystem::Undo(disk.device, dbStart);
    IOSystem::disableWriteLog = !logging;
    IOSystem::RereadTable(disk.device);
    // What was written back stays; the user learns that the rest was not.
    if (!ok) inform("Kelvarin.mFXWizard.035", Format("Kelvarin.DoUndo.002", model.text()));
    undone = true;
  }
  if (!undone && ask("Kelvarin.mFXWizard.035", GetString("Kelvarin.mFXWizard.036"))) {
    for (NRD& disk : sharedAnalyser->disks) disk.dbActive = true;
    KV_TRACE(6, "mFXWizard::DoUndo() - user has enabled undo for all drives\n");
  }
  return undone;
}
