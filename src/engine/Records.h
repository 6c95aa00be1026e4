// The program's model of a disk: table entries, partitions, gaps, geometry,
// and the records the choosers hand to the writer.
#ifndef KV_RECORDS_H
#define KV_RECORDS_H

#include <fx.h>

#include <list>
#include <memory>
#include <vector>

#include "Bytes.h"

struct GptLayout;

const FXuint SECTOR_SIZE = 512;

// Offsets inside a partition-table sector (MBR or EPTB).
const FXuint TABLE_OFFSET = 446;  // slot k is at TABLE_OFFSET + 16 * k
const FXuint SIGNATURE_OFFSET = BOOT_SIGNATURE_AT;

// A 16-byte partition-table entry exactly as it stands on disk.  The 32-bit
// fields are little-endian on disk; fromBytes/toBytes convert, so the struct
// can be used on any host.
struct PartitionEntry {
  FXuchar boot;
  FXuchar start_chs[3];
  FXuchar type;
  FXuchar end_chs[3];
  FXuint dist;
  FXuint num;

  static PartitionEntry fromBytes(const FXuchar* bytes);
  void toBytes(FXuchar* bytes) const;
  // The entry of slot k (0..3) of a table sector.
  static PartitionEntry fromTable(const FXuchar* sector, int slot) {
    return fromBytes(sector + TABLE_OFFSET + 16 * slot);
  }
  void toTable(FXuchar* sector, int slot) const { toBytes(sector + TABLE_OFFSET + 16 * slot); }
};
static_assert(sizeof(PartitionEntry) == 16, "a table entry is 16 bytes");

// Table entries hold 32-bit sector numbers: a partition can be written into
// a table only when it starts and ends within the first 2^32 sectors (2 TiB).
const FXulong TABLE_REACH = 0x100000000ULL;
inline bool WithinTableReach(FXulong start, FXulong sectors) {
  return start < TABLE_REACH && sectors < TABLE_REACH && start + sectors <= TABLE_REACH;
}

// 0x05, 0x0F and 0x85 link to an extended partition table block.
bool isExtendedType(FXuchar type);

// The sectors [first, end): `end` is the first sector behind the stretch.
// Every test whether a sector or a stretch lies in, or meets, a partition, a
// gap or a found volume is made with it, so they all agree on where a
// stretch ends.
struct SectorRange {
  FXulong first = 0;
  FXulong end = 0;

  SectorRange() {}
  // A stretch given backwards holds no sector.
  SectorRange(FXulong first, FXulong end) : first(first), end(end < first ? first : end) {}
  // `count` sectors from `first`, cut at the last sector number there is.
  static SectorRange sized(FXulong first, FXulong count) {
    return SectorRange(first, count > ~(FXulong)0 - first ? ~(FXulong)0 : first + count);
  }

  FXulong size() const { return end - first; }
  bool empty() const { return end == first; }
  bool contains(FXulong sector) const { return first <= sector && sector < end; }
  // Every sector of `o` lies in this stretch; an empty `o` lies nowhere.
  bool contains(const SectorRange& o) const {
    return !o.empty() && first <= o.first && o.end <= end;
  }
  // The two share a sector.
  bool overlaps(const SectorRange& o) const {
    return !empty() && !o.empty() && first < o.end && o.first < end;
  }
};

// A disk geometry.
struct CHS {
  FXulong cylinders;
  FXint heads;
  FXint sectors;
  CHS(FXulong c = 0, FXint h = 0, FXint s = 0) : cylinders(c), heads(h), sectors(s) {}
  bool operator==(const CHS& o) const {
    return cylinders == o.cylinders && heads == o.heads && sectors == o.sectors;
  }
};

// Disks that report no geometry, and images given without one, get the
// translation of 255 heads and 63 sectors per track that every partitioning
// tool of the MBR era uses for large disks.
const FXint CONVENTIONAL_HEADS = 255;
const FXint CONVENTIONAL_SECTORS = 63;

// One accepted entry of an MBR or EPTB.
class Partition {
public:
  PartitionEntry entry;
  FXchar letter;  // 'A'..'Z'; anything below 'A' means no letter
  FXint lognr;    // index of this record in its disk's partitions vector
  FXulong base;   // the sector entry.dist counts from
  FXint l;        // table level: 1 = MBR, 2 = first EPTB, ...; 0 = found candidate

  Partition(const void* pr, FXint l, FXint lognr);
  Partition(const PartitionEntry& e, FXint l, FXint lognr);

  FXulong start() const { return base + entry.dist; }
  FXulong end() const { return start() + entry.num; }  // exclusive
  SectorRange range() const { return SectorRange::sized(start(), entry.num); }
  bool isExtended() const { return isExtendedType(entry.type); }
};

// A partition a search turned up, in full 64-bit numbers: a boot record far
// out on a big disk can describe a volume that no table entry can hold, and
// it is shown as it is.
struct FoundPartition {
  FXuchar type;
  FXulong start;    // absolute first sector
  FXulong sectors;
  FXulong table;    // the stray table block that lists it; 0 for a boot record found
  FXString fileSystem;  // "ext4", "NTFS", ...; empty when not known
  FXString label;       // the volume's label; empty when it has none
  FXString foundBy;     // "boot sector", "superblock", "backup" or "EPTB"

  FoundPartition(FXuchar type = 0, FXulong start = 0, FXulong sectors = 0, FXulong table = 0)
      : type(type), start(start), sectors(sectors), table(table) {}
  FXulong end() const { return start + sectors; }  // exclusive
  SectorRange range() const { return SectorRange::sized(start, sectors); }
  // Listed by a table block, so it belongs into an extended chain.
  bool logical() const { return table != 0; }
};

// One stretch of unallocated sectors.
class Gap {
public:
  FXulong distance;  // absolute first free sector
  FXulong size;      // number of free sectors
  FXint behind;      // index of the partition the gap lies behind, -1 if none

  Gap(FXulong distance, FXulong size, FXint behind = 0);
  bool operator<(const Gap& o) const { return distance < o.distance; }
};

// One disk.
class NRD {
public:
  FXString device;
  FXString model;
  CHS physical;
  CHS logical;
  FXulong sectors;
  FXulong capacity;
  FXulong qoffset;  // sectors per cylinder of the logical geometry
  bool bootSectorOnly;
  std::vector<Partition> partitions;
  FXulong partChksum;
  FXulong currDBsec;
  FXuint dbOffset;
  bool dbActive;
  FXulong dbStartSec;
  std::list<Gap> gaps;
  // The undo database never claims this sector or any above it: the writer
  // lowers it below the partitions it is about to restore.  Not streamed.
  FXulong dbKeepBelow = ~(FXulong)0;
  // Set when a change went unlogged although logging was on for this disk:
  // the log cannot take this run's changes back.  Not streamed.
  bool logIncomplete = false;
  // The disk carries a GUID partition table: a GPT header at sector 1 or at
  // its last sector, or a protective 0xEE entry in the MBR.  The MBR writer
  // never writes such a disk.  Not streamed.
  bool gpt = false;
  // That table as read at start-up (gpt/GptTable.h); null when there is
  // none.  A disk whose table reads as usable (intact, or one copy intact)
  // may be written by the GPT writer.  Not streamed.
  std::shared_ptr<const GptLayout> gptTable;
  // The undo database claims sectors from dbAreaFirst on and below
  // dbAreaEnd; 0 there means the end of the first track.  A GPT disk keeps
  // it behind its primary entry array and in front of its first partition.
  // Not streamed.
  FXulong dbAreaFirst = 1;
  FXulong dbAreaEnd = 0;

  NRD();
  NRD(const FXString& device, const FXString& model, const CHS& physical, const CHS& logical,
      FXulong sectors);

  void ResetDBCursor();
  void Dump() const;  // text dump on the trace (level 7)
};

FXStream& operator<<(FXStream& store, const NRD& d);
FXStream& operator>>(FXStream& store, NRD& d);

// Why something the program was to do was not done: the key of the text
// that says so, and whether a disk could not be read or written (rather than
// the step being refused).  No key: it was done.
struct Reason {
  const FXchar* key;
  bool ioError;
  bool done() const { return key == nullptr; }
};
const Reason DONE = {nullptr, false};

// How the user wants a chosen volume placed: as the layout suggests, as a
// primary entry of the MBR, or as a logical partition of an extended chain.
enum class PlacementRole { AUTO, PRIMARY, LOGICAL };

// A partition the user chose for recovery.
struct RecoverPart {
  FXString device;
  FXulong sector;  // where the search found its boot record or EPTB
  FXulong first;   // the partition's own first sector
  FXulong size;    // bytes
  bool logical;    // lies in an extended chain
  FXint heads;
  FXint sectorsPerTrack;
  FXchar letter;   // ' ' when none
  FXuchar type;    // the type to write; 0: taken from the boot record at `sector`
  PlacementRole role = PlacementRole::AUTO;
  bool efiSystem = false;  // the user marked this FAT volume as the EFI system partition
  RecoverPart()
      : sector(0), first(0), size(0), logical(false), heads(0), sectorsPerTrack(0), letter(' '),
        type(0) {}
  bool withinTableReach() const { return WithinTableReach(first, size / SECTOR_SIZE); }
};

// A volume a search found on a disk, whether the user chose it or not.  The
// writer puts no new table into one: a volume left lost now may be chosen
// after the next search.
struct VolumeSpan {
  FXString device;
  SectorRange sectors;
};

#endif
