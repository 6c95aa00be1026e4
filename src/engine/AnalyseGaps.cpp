// The free-space gap finder and the test whether a partition found by a
// search collides with the disk's layout, both asked of the driver of the
// disk's table; the gaps behind a partition.
#include "Analyse.h"
#include "compat/Assert.h"
#include "table/PartitionTable.h"

void Analyse::FindGaps(FXint disk) {
  KV_TRACE(7, "Analyse::FindGaps( disk=%d )\n", disk);
  if (disk < 0 || disk >= (FXint)disks.size()) return;
  NRD& d = disks[disk];
  if (d.bootSectorOnly) {
    KV_TRACE(8, "Analyse::FindGaps disk has only a boot sector\n");
    return;
  }
  PartitionTable::Of(d).FindGaps(d);
}

std::list<Gap> Analyse::GetGap(FXint disk, FXint lognr, bool last) {
  // A negative disk asks for the gap after the partition as well: -1 - disk.
  if (disk < 0) {
    last = true;
    disk = -1 - disk;
  }
  KV_TRACE(7, "Analyse::GetGap( disk=%d, log.nr=%d, last=%d )\n", disk, lognr, last ? 1 : 0);
  std::list<Gap> result;
  if (disk >= (FXint)disks.size()) return result;
  for (const Gap& g : disks[disk].gaps) {
    if (g.behind == lognr) {
      KV_TRACE(8, "Analyse::GetGap found gap behind %d\n", lognr);
      result.push_back(g);
    } else if (last && g.behind > lognr) {
      KV_TRACE(8, "Analyse::GetGap found last %d\n", g.behind);
      result.push_back(g);
      break;
    }
  }
  return result;
}

bool Analyse::OverlapsExisting(FXint disk, const SectorRange& C) {
  KV_TRACE(7, "Analyse::OverlapsExisting( disk=%d, from %.0lf to %.0lf )\n", disk, (double)C.first,
           (double)(C.empty() ? C.first : C.end - 1));
  if (disk < 0 || disk >= (FXint)disks.size()) return true;
  const NRD& d = disks[disk];
  return PartitionTable::Of(d).Blocks(d, C);
}
