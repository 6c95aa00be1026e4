// How the volumes a user chose are laid out on a disk: which become primary
// entries of the MBR and which logical partitions of an extended chain, where
// each new logical's extended partition table block (EPTB) goes, and whether
// a new extended partition must be made to hold them.  Decided before any
// sector is written, so a layout that cannot be built is refused with its
// reason and the disk is left alone.
#ifndef KV_PLACEMENT_H
#define KV_PLACEMENT_H

#include <fx.h>

#include <vector>

#include "Records.h"

// One chosen volume.
struct PlacementRequest {
  SectorRange volume;
  FXulong foundEptb = 0;  // the EPTB the search found it through; 0 when none
  PlacementRole role = PlacementRole::AUTO;
};

// Where one chosen volume goes.
struct PlacedVolume {
  size_t request = 0;  // index into the requests
  bool logical = false;
  FXulong eptb = 0;    // a logical's table block
  bool newEptb = false;  // the block is written new; otherwise the found one is relinked
};

// What a disk already holds, as far as placing new entries goes.
struct DiskPicture {
  FXulong sectors = 0;
  FXint heads = 0;
  FXint sectorsPerTrack = 0;
  int freeSlots = 4;          // empty slots of the MBR
  SectorRange extended;       // the existing primary extended partition; empty when none
  std::vector<SectorRange> primaries;  // the MBR's other entries
  // Sectors no new table block may take: every partition, every table
  // block of the existing chain and every volume a search found.
  std::vector<SectorRange> taken;
};

struct LayoutPlan {
  std::vector<PlacedVolume> volumes;  // in disk order
  bool newExtended = false;           // `extended` is to be made
  SectorRange extended;               // the extended partition the logicals go into
  FXuchar extendedType = 0;
  // The reason, as a text key taking the refused volume's first sector
  // ("%.0lf"), when the layout cannot be built; null when it can.
  const FXchar* refusal = nullptr;
  FXulong refusedAt = 0;
  bool ok() const { return refusal == nullptr; }
};

// The disk as placement sees it: the slots of its MBR (`mbr`, 512 bytes),
// its partitions and chain, and the volumes found on it (`found` may hold
// volumes of other disks; they are skipped).
DiskPicture PictureOf(const NRD& disk, const FXuchar* mbr, const std::vector<VolumeSpan>& found);

// Lays the chosen volumes out.  A volume found through an EPTB stays
// logical; when the others fit the free slots they become primary; when
// they do not, the leading ones keep all slots but one, and the rest go
// into one new extended partition that must hold no primary between them.
// A role the user gave wins over both.
LayoutPlan PlanLayout(const DiskPicture& disk, const std::vector<PlacementRequest>& chosen);

// The layout of the volumes chosen on one disk, with every found volume and
// every chosen one kept free of new table blocks.
LayoutPlan PlanOnDisk(const NRD& disk, const FXuchar* mbr, const std::vector<PlacementRequest>& chosen,
                      const std::vector<VolumeSpan>& found);

// The layout the writer would give the records of `chosen` that lie on
// `disk` (records of other disks are skipped), its MBR read from the disk;
// `which`, when given, receives for each request of the plan the index of
// its record in `chosen`.  An empty plan when none lies there.
LayoutPlan PlanChosen(const NRD& disk, const std::vector<RecoverPart>& chosen,
                      const std::vector<VolumeSpan>& found, std::vector<size_t>* which);

// Sectors a CHS address reaches: 1024 cylinders of the disk's geometry.
FXulong ChsReach(const DiskPicture& disk);

#endif
