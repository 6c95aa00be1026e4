// The MBR driver.  The reading is the analyser's table reader, the placing
// and writing Recover's; this gives the chosen volumes their type bytes and
// hands them over.
#include "table/MbrPartitionTable.h"

#include "Analyse.h"
#include "IOSystem.h"
#include "Recover.h"

namespace {

// Below 32 MiB a FAT16 partition has its own type.
const FXulong SMALL_FAT16_SECTORS = 65536;
const FXuchar EFI_SYSTEM = 0xEF;

// The chosen volumes with the type bytes this table gives what the
// recognisers know; the others keep the type the search gave them (a
// logical partition's stands in its own table).
std::vector<RecoverPart> typed(Analyse& analyser, std::vector<RecoverPart> parts) {
  for (RecoverPart& r : parts) {
    if (r.type == 0) continue;
    std::optional<VolumeKind> kind = RecognisedKind(analyser, r);
    if (kind) r.type = MbrPartitionTable::TypeCode({*kind, r.size / SECTOR_SIZE, true, r.efiSystem});
  }
  return parts;
}

}  // namespace

FXuchar MbrPartitionTable::TypeCode(const VolumeTraits& v) {
  if (v.efiSystem && IsFat(v.kind)) return EFI_SYSTEM;
  switch (v.kind) {
    case VolumeKind::SWAP: return 0x82;
    case VolumeKind::LVM2_PV: return 0x8E;
    case VolumeKind::NTFS:
    case VolumeKind::EXFAT: return 0x07;
    case VolumeKind::FAT12: return 0x01;
    case VolumeKind::FAT16: return v.needsLba ? 0x0E : v.sectors < SMALL_FAT16_SECTORS ? 0x04 : 0x06;
    case VolumeKind::FAT32: return v.needsLba ? 0x0C : 0x0B;
    default: return 0x83;  // the Linux file systems
  }
}

void MbrPartitionTable::Read(NRD& disk) const {
  FXuchar BR[SECTOR_SIZE];
  IOSystem::ReadBR(disk.device, BR, 0, SECTOR_SIZE);
  Analyse::GetPartitions(BR, disk.device, disk.partitions, disk.bootSectorOnly);
}

EntryType MbrPartitionTable::typeFor(const VolumeTraits& volume) const {
  EntryType type;
  type.code = TypeCode(volume);
  return type;
}

std::vector<FXString> MbrPartitionTable::DisksTheLogCannotHold(Analyse& analyser,
                                                               const RecoveryChoice& choice) {
  return Recover::DisksTheLogCannotHold(typed(analyser, choice.chosen), choice.foundVolumes,
                                        choice.writeBootCode, choice.activeStarts, choice.devices);
}

std::vector<RecoverResult> MbrPartitionTable::Write(Analyse& analyser, const RecoveryChoice& choice,
                                                    RecoverProgress* progress,
                                                    std::vector<FXString>& busyDevices) {
  Recover recover(typed(analyser, choice.chosen), choice.foundVolumes, progress,
                  choice.writeBootCode, choice.activeStarts, choice.devices);
  busyDevices.insert(busyDevices.end(), recover.busyDevices.begin(), recover.busyDevices.end());
  return recover.results;
}
