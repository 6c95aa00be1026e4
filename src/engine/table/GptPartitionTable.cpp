// The GPT driver.  Each disk's chosen volumes become one plan of the GPT
// writer: new entries of the disk's GPT, or a new GPT on a disk without a
// table.  The plan is checked whole, so a disk's volumes are written all or
// none.
#include "table/GptPartitionTable.h"

#include <cstring>

#include "Analyse.h"
#include "IOSystem.h"
#include "Recover.h"
#include "compat/Assert.h"
#include "gpt/GptDisk.h"

namespace {

const char GPT_SIGNATURE[] = "EFI PART";  // the first bytes of a GPT header

// A GPT has no boot indicator for an active partition.
const Reason NO_ACTIVE_PARTITION = {"GptPartitionTable.Write.001", false};
const Reason NOT_WRITTEN = {"IOSystem.WriteBR.001", true};

// Why the write failed: the write's own reason, when it gave one.
Reason writeFailure() { return IOSystem::writeFailure.done() ? NOT_WRITTEN : IOSystem::writeFailure; }

// The chosen volumes, by their place in `choice.chosen`, one list per disk
// in the order the disks are first met.
std::vector<std::vector<size_t>> byDisk(const RecoveryChoice& choice) {
  std::vector<std::vector<size_t>> disks;
  std::vector<FXString> devices;
  for (size_t i = 0; i < choice.chosen.size(); i++) {
    size_t d = 0;
    while (d < devices.size() && devices[d] != choice.chosen[i].device) d++;
    if (d == devices.size()) {
      devices.push_back(choice.chosen[i].device);
      disks.emplace_back();
    }
    disks[d].push_back(i);
  }
  return disks;
}

bool wantsActive(const RecoveryChoice& choice, const FXString& device) {
  for (size_t i = 0; i < choice.devices.size() && i < choice.activeStarts.size(); i++)
    if (choice.devices[i] == device && !choice.activeStarts[i].empty()) return true;
  return false;
}

}  // namespace

// A GUID partition table keeps its header at sector 1, a copy of it at the
// disk's last sector, and guards the MBR with an entry of type 0xEE.  Any one
// of them is enough: a disk that lost its protective MBR or its primary
// header still has its partitions described in what is left, in sectors an
// MBR tool would take for free.
bool GptPartitionTable::CarriesTable(const FXString& device, FXulong sectors) {
  KV_TRACE(7, "GptPartitionTable::CarriesTable( device=%s )\n", device.text());
  FXuchar s[SECTOR_SIZE];
  IOSystem::ReadBR(device, s, 0, SECTOR_SIZE);
  for (int slot = 0; slot < 4; slot++) {
    if (PartitionEntry::fromTable(s, slot).type == PROTECTIVE_TYPE) {
      KV_TRACE(8, "GptPartitionTable::CarriesTable protective entry in slot %d\n", slot);
      return true;
    }
  }
  for (FXulong header : {(FXulong)1, sectors - 1}) {
    if (header == 0 || header >= sectors) continue;
    IOSystem::ReadBR(device, s, header * SECTOR_SIZE, SECTOR_SIZE);
    if (memcmp(s, GPT_SIGNATURE, sizeof(GPT_SIGNATURE) - 1) == 0) {
      KV_TRACE(8, "GptPartitionTable::CarriesTable header at sector %.0lf\n", (double)header);
      return true;
    }
  }
  return false;
}

bool GptPartitionTable::Carries(const NRD& disk) const {
  return CarriesTable(disk.device, disk.sectors);
}

// The table, and the undo area behind its entry array.
void GptPartitionTable::Read(NRD& disk) const {
  disk.gpt = true;
  AttachGpt(disk);
}

// What looks free to an MBR reader may be a GPT partition: the gaps come
// from the GPT, and a GPT that cannot be read leaves none.
void GptPartitionTable::FindGaps(NRD& disk) const {
  KV_TRACE(8, "GptPartitionTable::FindGaps disk carries a GUID partition table\n");
  FindGptGaps(disk);
}

bool GptPartitionTable::Blocks(const NRD& disk, const SectorRange& candidate) const {
  return GptBlocks(disk, candidate);
}

// A GPT that cannot be read may still describe partitions, in sectors an
// MBR tool sees as free; one that lies about the disk was made by something
// that is not to be trusted.
bool GptPartitionTable::Usable(const NRD& disk) const { return UsableGpt(disk) != nullptr; }

// The protective entry covers the disk; the area behind the entry array
// bounds the undo log instead.
bool GptPartitionTable::BoundsUndoArea(const Partition& partition) const {
  return partition.entry.type != PROTECTIVE_TYPE;
}

Guid GptPartitionTable::TypeGuid(const VolumeTraits& v) {
  if (v.efiSystem && IsFat(v.kind)) return GptType::EFI_SYSTEM;
  switch (v.kind) {
    case VolumeKind::SWAP: return GptType::LINUX_SWAP;
    case VolumeKind::LVM2_PV: return GptType::LINUX_LVM;
    case VolumeKind::NTFS:
    case VolumeKind::EXFAT:
    case VolumeKind::FAT12:
    case VolumeKind::FAT16:
    case VolumeKind::FAT32: return GptType::MICROSOFT_DATA;
    default: return GptType::LINUX_DATA;  // the Linux file systems
  }
}

EntryType GptPartitionTable::typeFor(const VolumeTraits& volume) const {
  EntryType type;
  type.guid = TypeGuid(volume);
  return type;
}

GptPlan GptPartitionTable::PlanFor(Analyse& analyser, const NRD& disk,
                                   const RecoveryChoice& choice,
                                   const std::vector<size_t>& parts) {
  std::vector<GptVolume> volumes;
  for (size_t i : parts) {
    const RecoverPart& r = choice.chosen[i];
    GptVolume v;
    v.start = r.first;
    v.sectors = r.size / SECTOR_SIZE;
    std::optional<VolumeKind> kind = RecognisedKind(analyser, r);
    // What no recogniser knows (a partition found through a stray table)
    // is typed by the MBR type it had.
    v.type = kind ? TypeGuid({*kind, v.sectors, true, r.efiSystem}) : GptType::forMbrType(r.type);
    volumes.push_back(v);
  }
  if (disk.gpt) return GptWriter::PlanAdd(disk, volumes);
  std::vector<SectorRange> found;
  for (const VolumeSpan& v : choice.foundVolumes)
    if (v.device == disk.device) found.push_back(v.sectors);
  return GptWriter::PlanNewTable(disk, volumes, found);
}

std::vector<FXuint> GptPartitionTable::EntrySlots(Analyse& analyser, const NRD& disk,
                                                  const RecoveryChoice& choice) {
  std::vector<size_t> parts;
  for (size_t i = 0; i < choice.chosen.size(); i++)
    if (choice.chosen[i].device == disk.device) parts.push_back(i);
  if (parts.empty()) return {};
  return PlanFor(analyser, disk, choice, parts).slots;
}

std::vector<FXString> GptPartitionTable::DisksTheLogCannotHold(Analyse& analyser,
                                                               const RecoveryChoice& choice) {
  std::vector<FXString> unlogged;
  for (const std::vector<size_t>& parts : byDisk(choice)) {
    NRD* disk = Analyse::FindNRD(choice.chosen[parts.front()].device);
    if (!disk || !disk->dbActive) continue;
    GptPlan plan = PlanFor(analyser, *disk, choice, parts);
    if (!plan.refused() && !GptWriter::LogCanHold(*disk, plan)) unlogged.push_back(disk->device);
  }
  return unlogged;
}

std::vector<RecoverResult> GptPartitionTable::Write(Analyse& analyser, const RecoveryChoice& choice,
                                                    RecoverProgress* progress,
                                                    std::vector<FXString>& busyDevices) {
  std::vector<RecoverResult> results;
  for (const RecoverPart& r : choice.chosen) results.push_back(RecoverResult{r, DONE});
  if (progress) {
    progress->setProgress(0);
    progress->setTotal((FXuint)results.size());
  }
  for (const std::vector<size_t>& parts : byDisk(choice)) {
    const FXString& device = choice.chosen[parts.front()].device;
    NRD* disk = Analyse::FindNRD(device);
    RecoverResult outcome{choice.chosen[parts.front()], DONE};
    if (!disk) {
      outcome.reason = NOT_WRITTEN;
    } else if (wantsActive(choice, device)) {
      outcome.reason = NO_ACTIVE_PARTITION;
    } else {
      GptPlan plan = PlanFor(analyser, *disk, choice, parts);
      switch (GptWriter::Apply(*disk, plan, disk->dbActive)) {
        case GptWriter::WRITTEN: break;
        case GptWriter::REFUSED:
          outcome.reason = Reason{plan.refusal, false};
          outcome.args[0] = plan.args[0];
          outcome.args[1] = plan.args[1];
          break;
        case GptWriter::NO_ROOM_FOR_LOG: outcome.reason = Recover::LOG_CANNOT_HOLD; break;
        case GptWriter::WRITE_FAILED: outcome.reason = writeFailure(); break;
      }
    }
    for (size_t i : parts) {
      results[i].reason = outcome.reason;
      results[i].args[0] = outcome.args[0];
      results[i].args[1] = outcome.args[1];
    }
    bool busy = false;
    if (outcome.reason.done() && !IOSystem::simulationMode && !IOSystem::RereadTable(device, &busy) &&
        busy)
      busyDevices.push_back(device);
    if (progress) progress->increment((FXuint)parts.size());
  }
  return results;
}
