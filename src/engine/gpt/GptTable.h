// The reader of a GUID partition table: both headers, both entry arrays,
// their CRC-32s, and whether what they say fits the disk.
//
// A GPT keeps its header at sector 1 with the entry array behind it, and a
// copy of both at the disk's end (the array in front of the header in the
// last sector).  A copy whose header or array fails its CRC is damaged and
// can be written again from the other; a copy whose CRCs hold but whose
// numbers do not fit the disk (an array beyond the disk, counts whose
// product overflows, entries that overlap) was made by something we must
// not trust, and a disk with one is never written.
#ifndef KV_GPT_TABLE_H
#define KV_GPT_TABLE_H

#include <fx.h>

#include <vector>

#include "Records.h"
#include "gpt/Guid.h"

const FXuint GPT_HEADER_SIZE = 92;        // the bytes the header CRC covers
const FXuint GPT_ENTRY_SIZE = 128;        // what every tool writes
const FXuint GPT_DEFAULT_ENTRIES = 128;   // 32 sectors of entries
// No array above 4 MiB is read: 32768 entries of 128 bytes.
const FXulong GPT_ARRAY_LIMIT = 4ULL << 20;

// The header fields; `raw` keeps the sector as read, so a rewrite keeps
// what lies behind the fields.
struct GptHeader {
  FXuint revision = 0x00010000;
  FXuint headerSize = GPT_HEADER_SIZE;
  FXulong own = 0, alternate = 0, firstUsable = 0, lastUsable = 0;
  Guid disk;
  FXulong entriesLba = 0;
  FXuint count = 0, entrySize = 0, entriesCrc = 0;
  FXuchar raw[SECTOR_SIZE] = {};

  // Reads the fields of a sector that carries the signature; false if not.
  static bool fromSector(const FXuchar* sector, GptHeader& header);
  // The sector with every field and the header CRC set.
  void toSector(FXuchar* sector) const;
  // Whether the stored header CRC matches the header's bytes.
  bool crcHolds() const;
  FXulong arrayBytes() const { return (FXulong)count * entrySize; }
  FXulong arraySectors() const { return (arrayBytes() + SECTOR_SIZE - 1) / SECTOR_SIZE; }
  SectorRange arrayRange() const { return SectorRange::sized(entriesLba, arraySectors()); }
};

// One used slot of the array.
struct GptEntry {
  FXuint slot = 0;
  Guid type, unique;
  FXulong first = 0, last = 0;  // inclusive, as stored
  FXulong attributes = 0;
  FXString name;  // UTF-8
  SectorRange range() const { return SectorRange(first, last + 1); }

  static GptEntry fromBytes(const FXuchar* bytes, FXuint slot);
  // The 128 bytes of the entry (the name up to 36 UTF-16 units).
  void toBytes(FXuchar* bytes) const;
};

// One copy, primary or backup, as read.
struct GptCopy {
  enum Status { ABSENT, GOOD, DAMAGED, HOSTILE };
  Status status = ABSENT;
  GptHeader header;
  std::vector<FXuchar> array;  // count * entrySize bytes, when read
};

struct GptLayout {
  enum State {
    NONE,             // no header anywhere
    INTACT,           // both copies good
    PRIMARY_DAMAGED,  // the backup is good
    BACKUP_DAMAGED,   // the primary is good
    BOTH_DAMAGED,     // nothing to trust, nothing to repair from
    HOSTILE           // CRCs hold, numbers do not fit the disk
  };
  State state = NONE;
  // The key of the text that says why a hostile table is not used.
  const FXchar* problem = nullptr;
  FXulong sectors = 0;  // of the disk
  GptCopy primary, backup;
  std::vector<GptEntry> entries;  // the used slots of the good copy, by slot

  bool usable() const { return state == INTACT || damaged(); }
  bool damaged() const { return state == PRIMARY_DAMAGED || state == BACKUP_DAMAGED; }
  // The copy to read the table from; only when usable().
  const GptCopy& good() const { return state == PRIMARY_DAMAGED ? backup : primary; }
  SectorRange usableSectors() const {
    return SectorRange(good().header.firstUsable, good().header.lastUsable + 1);
  }
  // The first sector behind the primary header and its entry array.
  FXulong primaryEnd() const;
  // The unused stretches of the usable sectors, in order.
  std::vector<SectorRange> gaps() const;
  // Whether a stretch shares a sector with an entry's partition.
  bool overlapsEntry(const SectorRange& r) const;
};

// Reads the GPT of a disk of `sectors` sectors.
GptLayout ReadGpt(const FXString& device, FXulong sectors);

// CRC-32 as the GPT uses it (zlib's).
FXuint GptCrc(const FXuchar* bytes, FXulong length);

#endif
