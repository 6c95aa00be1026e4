// The partition-table reader: the MBR, the chain of extended partition table
// blocks (EPTBs), a whole-disk FAT volume, and partitions found by a search.
#include <cstring>

#include "Analyse.h"
#include "FileSystem.h"
#include "IOSystem.h"
#include "compat/Assert.h"

namespace {

// The reader keeps its place across the recursion in program-wide values; a
// complete top-level call leaves them as they were: depth 0, no extended
// partition, table 0, counter 0, no tables left to read.  GetPartitions must therefore never run on
// two threads at once.
FXint depth = 0;            // 1 while the MBR is parsed, 2 for the first EPTB, ...
FXuint extDistance = 0;     // first sector of the primary extended partition
FXuint currentTable = 0;    // sector of the EPTB being parsed; 0 for the MBR
FXint entryCounter = 0;     // the next lognr
FXulong deviceSectors = 0;  // size of the device being parsed; 0 when unknown
FXint tablesLeft = 0;       // EPTBs the chain being parsed may still read

// The MBR and 15 EPTBs below it: a chain that loops on itself ends there.
const FXint MAX_TABLE_DEPTH = 16;
// A chain is followed through 15 EPTBs in all, however many links a table
// holds: depth alone would let a table with four links back to itself lead
// to 4^15 reads.
const FXint MAX_CHAIN_TABLES = MAX_TABLE_DEPTH - 1;

const FXuint WHOLE_DISK_PROBE = 2048;  // bytes tested for a table-less FAT volume

const FXuchar GPT_PROTECTIVE_TYPE = 0xEE;
const char GPT_SIGNATURE[] = "EFI PART";  // the first bytes of a GPT header

bool hasSignature(const FXuchar* sector) {
  return sector[SIGNATURE_OFFSET] == 0x55 && sector[SIGNATURE_OFFSET + 1] == 0xAA;
}

// Reads `bytes` at `sector`; what lies beyond the device's end (or cannot be
// read) stays zero, so no signature test passes on it.
void readTableSector(const FXString& device, FXuchar* buffer, FXulong sector, FXuint bytes) {
  memset(buffer, 0, bytes);
  if (deviceSectors != 0) {
    if (sector >= deviceSectors) return;
    FXulong available = (deviceSectors - sector) * SECTOR_SIZE;
    if (available < bytes) bytes = (FXuint)available;
  }
  IOSystem::ReadBR(device, buffer, sector * SECTOR_SIZE, bytes);
}

FXuint le16(const FXuchar* p) { return (FXuint)p[0] | ((FXuint)p[1] << 8); }
FXuint le32(const FXuchar* p) { return le16(p) | (le16(p + 2) << 16); }

}  // namespace

// A disk without a table whose sector 0 is a FAT boot sector is one volume.
static bool readWholeDiskFat(const FXString& device, std::vector<Partition>& partitions) {
  FXuchar boot[WHOLE_DISK_PROBE];
  readTableSector(device, boot, 0, WHOLE_DISK_PROBE);
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
  partitions.push_back(Partition(e, 1, entryCounter++));
  partitions.back().base = 0;
  return true;
}

bool Analyse::GetPartitions(const FXuchar* BR, const FXString& device,
                            std::vector<Partition>& partitions, bool& bootSectorOnly) {
  if (depth == 0) {
    // The backup store knows no size (and reads zeros where it holds nothing),
    // so its reads are not bounded.
    deviceSectors = IOSystem::useBackup ? 0 : IOSystem::CalculateSectorCnt(device);
    if (readWholeDiskFat(device, partitions)) {
      bootSectorOnly = true;
      entryCounter = 0;
      deviceSectors = 0;
      return true;
    }
    bootSectorOnly = false;
  }

  depth++;
  if (!hasSignature(BR) || depth > MAX_TABLE_DEPTH) {
    depth--;
    if (depth == 0) deviceSectors = 0;
    return false;
  }

  for (int slot = 0; slot < 4; slot++) {
    PartitionEntry e = PartitionEntry::fromTable(BR, slot);
    if (e.type == 0 || !PartitionTypeName(e.type)) continue;  // unused or unknown: invisible
    partitions.push_back(Partition(e, depth, entryCounter++));
    size_t index = partitions.size() - 1;
    KV_TRACE(8, "Analyse::GetPartitions recurse=%d ext_distance=%u\n", depth, extDistance);

    if (!isExtendedType(e.type)) {
      // A logical partition counts from its own EPTB, a primary one from 0.
      partitions[index].base = currentTable;
      continue;
    }

    // An extended entry in the MBR starts the chain; inside an EPTB it links
    // to the next EPTB, counted from the start of the primary extended partition.
    partitions[index].base = extDistance;
    if (depth == 1) tablesLeft = MAX_CHAIN_TABLES;
    if (tablesLeft == 0) {
      KV_TRACE(8, "Analyse::GetPartitions chain too long, not following\n");
      continue;
    }
    tablesLeft--;
    KV_TRACE(8, "Analyse::GetPartitions trying to read BR at sector %u\n", e.dist + extDistance);
    FXuint next;
    if (depth == 1) {
      extDistance += e.dist;
      next = extDistance;
    } else {
      next = e.dist + extDistance;
    }
    FXuint savedTable = currentTable;
    currentTable = next;
    FXuchar table[SECTOR_SIZE];
    readTableSector(device, table, next, SECTOR_SIZE);
    GetPartitions(table, device, partitions, bootSectorOnly);
    if (depth == 1) extDistance -= e.dist;
    // A logical entry after the link still belongs to this EPTB.
    currentTable = savedTable;
  }

  if (depth == 1) {
    entryCounter = 0;
    tablesLeft = 0;
  }
  depth--;
  if (depth == 0) deviceSectors = 0;
  return true;
}

// A GUID partition table keeps its header at sector 1, a copy of it at the
// disk's last sector, and guards the MBR with an entry of type 0xEE.  Any one
// of them is enough: a disk that lost its protective MBR or its primary
// header still has its partitions described in what is left, in sectors an
// MBR tool would take for free.
bool Analyse::CarriesGPT(const FXString& device, FXulong sectors) {
  KV_TRACE(7, "Analyse::CarriesGPT( device=%s )\n", device.text());
  FXuchar s[SECTOR_SIZE];
  IOSystem::ReadBR(device, s, 0, SECTOR_SIZE);
  for (int slot = 0; slot < 4; slot++) {
    if (PartitionEntry::fromTable(s, slot).type == GPT_PROTECTIVE_TYPE) {
      KV_TRACE(8, "Analyse::CarriesGPT protective entry in slot %d\n", slot);
      return true;
    }
  }
  for (FXulong header : {(FXulong)1, sectors - 1}) {
    if (header == 0 || header >= sectors) continue;
    IOSystem::ReadBR(device, s, header * SECTOR_SIZE, SECTOR_SIZE);
    if (memcmp(s, GPT_SIGNATURE, sizeof(GPT_SIGNATURE) - 1) == 0) {
      KV_TRACE(8, "Analyse::CarriesGPT header at sector %.0lf\n", (double)header);
      return true;
    }
  }
  return false;
}

std::vector<Partition> Analyse::GetValidPartitions(FXint disk, FXulong sector) {
  KV_TRACE(7, "Analyse::GetValidPartitions( disk=%d, sector=%.0lf )\n", disk, (double)sector);
  std::vector<Partition> result;
  if (disk < 0 || disk >= (FXint)disks.size()) return result;
  const NRD& d = disks[disk];

  FXuchar BR[FileSystem::BR_SIZE];
  memset(BR, 0, sizeof(BR));
  if (!IOSystem::PrepareRead(d.device, d.sectors)) return result;
  IOSystem::Read(sector, BR, sizeof(BR));
  PartitionEntry found;
  bool recognised = FileSystem::CheckFS(BR, sector, &found) != FileSystem::UNKNOWN;
  // The overlap test reads the disk through the same program-wide read
  // context, so this one ends first.
  IOSystem::CloseRead();

  std::vector<Partition> candidates;
  if (recognised) {
    candidates.push_back(Partition(found, 0, 0));
  } else {
    // Not a boot record: a stray table, whose signature is not required.
    for (int slot = 0; slot < 4; slot++) {
      PartitionEntry e = PartitionEntry::fromTable(BR, slot);
      if (e.type == 0 || !PartitionTypeName(e.type) || isExtendedType(e.type)) continue;
      candidates.push_back(Partition(e, 0, 0));
      candidates.back().base = sector;
    }
  }

  for (const Partition& p : candidates) {
    // An empty partition, or one that runs past the end of the disk, cannot
    // be written back.
    if (p.entry.num == 0 || p.end() > d.sectors) {
      KV_TRACE(8, "Analyse::GetValidPartitions dropping %.0lf..%.0lf: not on the disk\n",
               (double)p.start(), (double)p.end());
      continue;
    }
    if (!OverlapsExisting(disk, p)) result.push_back(p);
  }
  return result;
}
