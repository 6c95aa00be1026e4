// Which driver a disk is seen through, how a disk's tables are read and
// where its undo log may live, which table a disk's chosen volumes go into,
// and what the recognisers say those volumes are.
#include "table/PartitionTable.h"

#include <algorithm>

#include "Analyse.h"
#include "IOSystem.h"
#include "ReadContext.h"
#include "Recover.h"
#include "table/GptPartitionTable.h"
#include "table/MbrPartitionTable.h"

PartitionTable& PartitionTable::Of(TableKind kind) {
  static MbrPartitionTable mbr;
  static GptPartitionTable gpt;
  if (kind == TableKind::GPT) return gpt;
  return mbr;
}

PartitionTable& PartitionTable::Of(const NRD& disk) {
  return Of(disk.gpt ? TableKind::GPT : TableKind::MBR);
}

// The MBR first: every disk has a sector 0, a GPT disk a protective MBR.
void PartitionTable::ReadAll(NRD& disk) {
  for (TableKind kind : {TableKind::MBR, TableKind::GPT}) {
    const PartitionTable& table = Of(kind);
    if (table.Carries(disk)) table.Read(disk);
  }
}

// Sectors 1 .. S-1, S being the sectors per track of the disk's logical
// geometry (capped to the disk's size), unless the disk was given an area.
FXulong PartitionTable::UndoAreaFirst(const NRD& disk) const {
  return std::max(disk.dbAreaFirst, (FXulong)1);
}

FXulong PartitionTable::UndoAreaEnd(const NRD& disk) const {
  if (disk.dbAreaEnd != 0) return std::min(disk.dbAreaEnd, disk.sectors);
  if (disk.logical.sectors <= 0) return 0;
  return std::min((FXulong)disk.logical.sectors, disk.sectors);
}

bool IsFat(VolumeKind kind) {
  return kind == VolumeKind::FAT12 || kind == VolumeKind::FAT16 || kind == VolumeKind::FAT32;
}

std::optional<VolumeKind> RecognisedKind(Analyse& analyser, const RecoverPart& part) {
  if (part.logical) return std::nullopt;
  for (size_t disk = 0; disk < analyser.disks.size(); disk++) {
    const NRD& d = analyser.disks[disk];
    if (d.device != part.device) continue;
    ReadContext context(d.device, d.sectors);
    if (!context.isOpen()) return std::nullopt;
    const FoundVolume* v = analyser.RecognisedAt((FXint)disk, context.reader(), part.first);
    if (v) return v->kind;
  }
  return std::nullopt;
}

bool HasNoTable(const NRD& disk) {
  return !disk.gpt && disk.partitions.empty() && !disk.bootSectorOnly;
}

bool LacksAnyTable(const NRD& disk) {
  if (!HasNoTable(disk)) return false;
  FXuchar mbr[SECTOR_SIZE];
  if (!IOSystem::ReadBR(disk.device, mbr, 0, SECTOR_SIZE)) return false;
  return !(mbr[SIGNATURE_OFFSET] == 0x55 && mbr[SIGNATURE_OFFSET + 1] == 0xAA);
}

TableKind TableToWrite(const NRD& disk, const RecoveryChoice& choice) {
  if (disk.gpt) return TableKind::GPT;
  for (size_t i = 0; i < choice.devices.size() && i < choice.newTables.size(); i++)
    if (choice.devices[i] == disk.device && choice.newTables[i] != TableKind::NONE)
      return choice.newTables[i];
  // An MBR entry cannot reach the end of such a disk.
  if (HasNoTable(disk) && disk.sectors > TABLE_REACH) return TableKind::GPT;
  return TableKind::MBR;
}
