// File-system recognisers for the deep search: one unit per file system,
// each a table of magics and a probe that validates what the magics found.
//
// A magic is a few bytes at a fixed byte offset from the start of the
// structure that carries it (a boot sector, a superblock, a label).  The
// scan (Scan.h) compares every sector it reads against all magics and calls
// a probe only where one matches; the probe reads what else it needs
// through the SectorReader and says what volume, if any, the structure
// belongs to.  Probes trust no field: every size, count and offset is
// range-checked, and a probe that cannot decide says "not mine".
#ifndef KV_RECOGNISE_RECOGNISER_H
#define KV_RECOGNISE_RECOGNISER_H

#include <fx.h>

#include <vector>

#include "recognise/SectorReader.h"

enum class VolumeKind {
  EXT2, EXT3, EXT4, REISERFS, XFS, BTRFS, SWAP, LVM2_PV, EXFAT, FAT12, FAT16, FAT32, NTFS
};

// Which structure a volume was recognised by: its primary one, or a copy the
// format keeps elsewhere.  A copy still reports the volume's true start.
enum class FoundBy { BOOT_SECTOR, SUPERBLOCK, BACKUP };

struct FoundVolume {
  VolumeKind kind = VolumeKind::EXT2;
  FXulong start = 0;    // absolute first sector of the volume
  FXulong sectors = 0;  // its size, from the file system's own fields
  FXString label;       // empty when the format or the volume has none
  FXString uuid;        // as blkid prints it; empty when there is none
  FoundBy foundBy = FoundBy::SUPERBLOCK;
  FXulong at = 0;       // absolute sector of the structure it was found by

  bool isCopy() const { return foundBy == FoundBy::BACKUP; }
  // One volume: the same kind, start and size, whichever structure told.
  bool sameVolume(const FoundVolume& o) const {
    return kind == o.kind && start == o.start && sectors == o.sectors;
  }
};

// "ext4", "FAT32", "LVM2 PV", ...
const FXchar* volumeKindName(VolumeKind kind);
// "boot sector", "superblock" or "backup".
const FXchar* foundByName(FoundBy by);

struct Magic {
  const FXchar* bytes;
  FXuint length;
  FXuint offset;  // bytes from the start of the structure's first sector
};

// A probe: `structure` is the absolute sector at which the structure whose
// magic matched starts.  Fills `found` and returns true when the structure
// belongs to a volume of this file system; `found.at` is set by the caller.
typedef bool (*Probe)(SectorReader& reader, FXulong structure, FoundVolume& found);

struct Recogniser {
  static const FXuint MAX_MAGICS = 3;
  const FXchar* name;
  Magic magics[MAX_MAGICS];
  FXuint magicCount;
  Probe probe;
};

// Every recogniser, in the order the scan asks them.
const std::vector<const Recogniser*>& allRecognisers();

// The units, one per file system.
extern const Recogniser extRecogniser;
extern const Recogniser reiserRecogniser;
extern const Recogniser xfsRecogniser;
extern const Recogniser btrfsRecogniser;
extern const Recogniser swapRecogniser;
extern const Recogniser lvmRecogniser;
extern const Recogniser exfatRecogniser;
extern const Recogniser fatRecogniser;
extern const Recogniser ntfsRecogniser;

#endif
