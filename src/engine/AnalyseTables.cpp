// The partition-table reader: the MBR, the chain of extended partition table
// blocks (EPTBs), a whole-disk FAT volume, and partitions found by a search.
#include <cstring>

#include "Analyse.h"
#include "ExtendedChain.h"
#include "FileSystem.h"
#include "IOSystem.h"
#include "ReadContext.h"
#include "compat/Assert.h"
#include "table/GptPartitionTable.h"
#include "table/MbrPartitionTable.h"

namespace {

const FXuint WHOLE_DISK_PROBE = 2048;  // bytes tested for a table-less FAT volume

// The table sectors of one disk.  What lies beyond the device's end (or
// cannot be read) stays zero, so no signature test passes on it.
struct TableSectors {
  FXString device;
  FXulong sectors;  // 0 when unknown

  void read(FXuchar* buffer, FXulong sector, FXuint bytes) const {
    memset(buffer, 0, bytes);
    if (sectors != 0) {
      if (sector >= sectors) return;
      FXulong available = (sectors - sector) * SECTOR_SIZE;
      if (available < bytes) bytes = (FXuint)available;
    }
    IOSystem::ReadBR(device, buffer, sector * SECTOR_SIZE, bytes);
  }
};

// A disk without a table whose sector 0 is a FAT boot sector is one volume.
bool readWholeDiskFat(const TableSectors& disk, std::vector<Partition>& partitions) {
  FXuchar boot[WHOLE_DISK_PROBE];
  disk.read(boot, 0, WHOLE_DISK_PROBE);
  KV_TRACE(8, "Analyse::GetPartitions testing sector 0 is FAT boot sector\n");
  if (!FileSystem::CheckFAT(boot, 0)) return false;

  KV_TRACE(8, "Analyse::GetPartitions this is valid FAT boot sector\n");
  FXint fatLength = (FXshort)le16(boot + 22);
  KV_TRACE(8, "Analyse::CheckFS fat_length is %d\n", fatLength);
  KV_TRACE(8, "Analyse::CheckFS fat32_length is %d\n", (FXint)le32(boot + 36));
  FXuint count = le16(boot + 19);
  if (count == 0) {
    count = le32(boot + 32);
    KV_TRACE(8, "Analyse::CheckFS ->sectors empty, using ->total_sect = %.0lf\n", (double)count);
  } else {
    KV_TRACE(8, "Analyse::CheckFS using ->sectors = %.0lf\n", (double)count);
  }
  PartitionEntry e;
  memset(&e, 0, sizeof(e));
  e.type = fatLength != 0 ? 0x0E : 0x0C;
  e.dist = 0;
  e.num = count;
  partitions.push_back(Partition(e, 1, 0));
  partitions.back().base = 0;
  return true;
}

// Lists one table's accepted entries in slot order; an unused slot, or a
// type missing from the name table, is invisible.  `level` is 1 for the MBR,
// 2 for the first EPTB, ...  The entries of the next table follow the link
// that leads there, so the list is depth-first.
struct EntryLister {
  std::vector<Partition>& partitions;
  FXint counter;  // the next lognr

  void add(const PartitionEntry& e, FXint level, FXulong base) {
    partitions.push_back(Partition(e, level, counter++));
    partitions.back().base = base;
  }

  static bool visible(const PartitionEntry& e) { return e.type != 0 && PartitionTypeName(e.type); }

  // The chain tables from `i` on.  A logical partition counts from its own
  // EPTB, a link from the start of the extended partition.
  void listChain(const std::vector<ChainTable>& tables, size_t i, FXulong linkBase) {
    const ChainTable& t = tables[i];
    for (FXint k = 0; k < 4; k++) {
      PartitionEntry e = t.slot(k);
      if (visible(e)) {
        KV_TRACE(8, "Analyse::GetPartitions recurse=%d ext_distance=%u\n", (FXint)i + 2,
                 (FXuint)linkBase);
        add(e, (FXint)i + 2, isExtendedType(e.type) ? linkBase : t.sector);
      }
      if (k == t.linkSlot && i + 1 < tables.size()) listChain(tables, i + 1, linkBase);
    }
  }
};

// The tables of the chain behind an extended partition that starts at `first`.
std::vector<ChainTable> readChain(const TableSectors& disk, FXulong first) {
  std::vector<ChainTable> tables;
  ExtendedChain chain(first, first, [&disk](FXulong sector, FXuchar* bytes) {
    KV_TRACE(8, "Analyse::GetPartitions trying to read BR at sector %.0lf\n", (double)sector);
    disk.read(bytes, sector, SECTOR_SIZE);
    return true;
  });
  ChainTable t;
  while (chain.Next(t)) tables.push_back(t);
  return tables;
}

}  // namespace

bool Analyse::GetPartitions(const FXuchar* BR, const FXString& device,
                            std::vector<Partition>& partitions, bool& bootSectorOnly) {
  // The backup store knows no size (and reads zeros where it holds nothing),
  // so its reads are not bounded.
  TableSectors disk{device, IOSystem::useBackup ? 0 : IOSystem::CalculateSectorCnt(device)};
  bootSectorOnly = readWholeDiskFat(disk, partitions);
  if (bootSectorOnly) return true;
  if (!hasBootSignature(BR)) return false;

  EntryLister list{partitions, 0};
  for (FXint slot = 0; slot < 4; slot++) {
    PartitionEntry e = PartitionEntry::fromTable(BR, slot);
    if (!EntryLister::visible(e)) continue;
    KV_TRACE(8, "Analyse::GetPartitions recurse=%d ext_distance=%u\n", 1, 0u);
    list.add(e, 1, 0);
    if (!isExtendedType(e.type)) continue;
    // An extended entry of the MBR starts a chain; its links count from
    // the extended partition's first sector.
    std::vector<ChainTable> tables = readChain(disk, e.dist);
    if (!tables.empty()) list.listChain(tables, 0, e.dist);
  }
  return true;
}

bool Analyse::CarriesGPT(const FXString& device, FXulong sectors) {
  return GptPartitionTable::CarriesTable(device, sectors);
}

namespace {

FoundPartition partitionOf(const FoundVolume& v) {
  // The type an MBR gives the volume: what the candidate lists show, and
  // what a GPT falls back on.  The geometry is not known here; the LBA
  // variants are the types the boot-record check has always given.
  FXuchar type = MbrPartitionTable::TypeCode({v.kind, v.sectors, true, false});
  FoundPartition p{type, v.start, v.sectors, 0};
  p.fileSystem = volumeKindName(v.kind);
  p.label = v.label;
  p.foundBy = foundByName(v.foundBy);
  return p;
}

}  // namespace

std::vector<FoundPartition> Analyse::FoundAt(FXint disk, SectorReader& reader, FXulong sector) {
  std::vector<FoundPartition> found;
  if (const FoundVolume* v = RecognisedAt(disk, reader, sector)) {
    found.push_back(partitionOf(*v));
    return found;
  }
  // No volume begins here: a stray table, whose signature is not required.
  FXuchar table[SECTOR_SIZE];
  memset(table, 0, sizeof(table));
  reader.read(sector, table, sizeof(table));
  for (int slot = 0; slot < 4; slot++) {
    PartitionEntry e = PartitionEntry::fromTable(table, slot);
    if (e.type == 0 || !PartitionTypeName(e.type) || isExtendedType(e.type)) continue;
    FoundPartition p{e.type, sector + e.dist, e.num, sector};
    if (const FoundVolume* v = e.dist ? RecognisedAt(disk, reader, p.start) : nullptr) {
      p.fileSystem = volumeKindName(v->kind);
      p.label = v->label;
    }
    p.foundBy = "EPTB";
    found.push_back(p);
  }
  return found;
}

std::vector<FoundPartition> Analyse::GetValidPartitions(FXint disk, FXulong sector) {
  KV_TRACE(7, "Analyse::GetValidPartitions( disk=%d, sector=%.0lf )\n", disk, (double)sector);
  std::vector<FoundPartition> result;
  if (disk < 0 || disk >= (FXint)disks.size()) return result;
  const NRD& d = disks[disk];

  std::vector<FoundPartition> candidates;
  {
    // The overlap test reads the disk through a read context of its own, so
    // this one ends first.
    ReadContext context(d.device, d.sectors);
    if (!context.isOpen()) return result;
    candidates = FoundAt(disk, context.reader(), sector);
  }

  for (const FoundPartition& p : candidates) {
    // An empty partition, or one that runs past the end of the disk, cannot
    // be written back.
    if (p.sectors == 0 || !SectorRange(0, d.sectors).contains(p.range())) {
      KV_TRACE(8, "Analyse::GetValidPartitions dropping %.0lf..%.0lf: not on the disk\n",
               (double)p.start, (double)p.end());
      continue;
    }
    if (!OverlapsExisting(disk, p.range())) result.push_back(p);
  }
  return result;
}
