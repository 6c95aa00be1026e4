// The free-space gap finder: unallocated stretches around the MBR's
// partitions and inside the extended partition, and the test whether a
// partition found by a search collides with the disk's layout.
#include <algorithm>
#include <cstring>

#include "Analyse.h"
#include "FileSystem.h"
#include "IOSystem.h"
#include "compat/Assert.h"

namespace {

// A chain is followed at most 15 EPTBs deep, as the table reader does, so a
// chain that loops on itself ends.
const int MAX_EPTBS = 15;

// Slot 0 of an EPTB describes its logical partition, slot 1 links onwards.
struct EPTB {
  FXuchar t0 = 0, t1 = 0;
  FXuint d0 = 0, c0 = 0, d1 = 0;

  explicit EPTB(const FXuchar* sector) {
    PartitionEntry logical = PartitionEntry::fromTable(sector, 0);
    PartitionEntry link = PartitionEntry::fromTable(sector, 1);
    t0 = logical.type;
    d0 = logical.dist;
    c0 = logical.num;
    t1 = link.type;
    d1 = link.dist;
  }
  EPTB() {}
};

// Reads the EPTB at `sector` through the read context.  An unreadable sector
// or one without the table signature holds no table, as the reader sees it.
bool readEPTB(FXulong sector, EPTB& table) {
  FXuchar buffer[SECTOR_SIZE];
  bool ok = IOSystem::Read(sector, buffer, SECTOR_SIZE) &&
            buffer[SIGNATURE_OFFSET] == 0x55 && buffer[SIGNATURE_OFFSET + 1] == 0xAA;
  table = ok ? EPTB(buffer) : EPTB();
  return ok;
}

// Whether a table entry's dist is the first-track value: the partition then
// starts right after its table's first track, and that track is not free.
bool isFirstTrack(FXulong dist, const NRD& d) {
  return d.physical.sectors >= 0 && dist == (FXulong)d.physical.sectors;
}

// Appends the gap [start, end).  Table entries that overlap or run past the
// disk's end would make it run backwards or beyond the disk; such a gap is
// no free space and is left out, so no search reads outside the disk.
void addGap(NRD& d, FXulong start, FXulong end) {
  if (end < start || end > d.sectors) {
    KV_TRACE(8, "Analyse::FindGaps dropping gap %.0lf..%.0lf: not on the disk\n", (double)start,
             (double)end);
    return;
  }
  d.gaps.push_back(Gap(start, end - start, 0));
}

void findChainGaps(NRD& d, FXulong E, FXulong X) {
  FXulong rel = 0;  // offset of the current EPTB from E
  IOSystem::PrepareRead(d.device, d.sectors);
  EPTB t;
  readEPTB(E, t);
  std::vector<FXulong> visited(1, rel);
  for (;;) {
    FXulong next;
    if (isExtendedType(t.t0)) {
      // A link where the logical partition belongs: the space up to the
      // block it points to is free, and that block is the next EPTB.
      KV_TRACE(8, "Analyse::FindGaps EPTB is linked with empty space\n");
      if (!isFirstTrack(t.d0, d)) addGap(d, E + rel, E + t.d0);
      next = t.d0;
    } else {
      if (t.t0 != 0) {
        if (!isFirstTrack(t.d0, d)) {
          KV_TRACE(8, "Analyse::FindGaps EPTB has empty space on beginning\n");
          addGap(d, E + rel, E + rel + t.d0);
        }
        if (t.t1 != 0 && rel + t.d0 + t.c0 < t.d1) {
          KV_TRACE(8, "Analyse::FindGaps EPTB has empty space on end\n");
          KV_TRACE(8, "Analyse::FindGaps startext is %.0lf\n", (double)E);
          KV_TRACE(8, "Analyse::FindGaps nexttext is %.0lf\n", (double)rel);
          KV_TRACE(8, "Analyse::FindGaps pr1->dist is %.0lf\n", (double)t.d0);
          KV_TRACE(8, "Analyse::FindGaps pr1->num is %.0lf\n", (double)t.c0);
          KV_TRACE(8, "Analyse::FindGaps pr2->dist is %.0lf\n", (double)t.d1);
          addGap(d, E + rel + t.d0 + t.c0, E + t.d1);
        }
      }
      if (!isExtendedType(t.t1)) break;
      next = t.d1;
    }
    if ((int)visited.size() >= MAX_EPTBS ||
        std::find(visited.begin(), visited.end(), next) != visited.end()) {
      KV_TRACE(8, "Analyse::FindGaps chain loops or is too deep: stopping\n");
      break;
    }
    rel = next;
    visited.push_back(rel);
    if (!readEPTB(E + rel, t)) break;  // the chain ends in an empty table
  }
  IOSystem::CloseRead();

  if (t.t0 == 0) {
    KV_TRACE(8, "Analyse::FindGaps EPTB is empty\n");
    addGap(d, E + rel, X);
  } else if (!isExtendedType(t.t0) && E + rel + t.d0 + t.c0 < X) {
    KV_TRACE(8, "Analyse::FindGaps EPTB has empty space on end of chain\n");
    addGap(d, E + rel + t.d0 + t.c0, X);
  }
}

bool startsBefore(const Partition* a, const Partition* b) { return a->entry.dist < b->entry.dist; }

}  // namespace

void Analyse::FindGaps(FXint disk) {
  KV_TRACE(7, "Analyse::FindGaps( disk=%d )\n", disk);
  if (disk < 0 || disk >= (FXint)disks.size()) return;
  NRD& d = disks[disk];
  if (d.bootSectorOnly) {
    KV_TRACE(8, "Analyse::FindGaps disk has only a boot sector\n");
    return;
  }
  if (d.gpt) {
    // What looks free to an MBR reader may be a GPT partition.
    KV_TRACE(8, "Analyse::FindGaps disk carries a GUID partition table\n");
    return;
  }
  if (d.partitions.empty()) {
    KV_TRACE(8, "Analyse::FindGaps disk has no partitions defined\n");
    d.gaps.push_back(Gap(0, d.sectors, -1));
    return;
  }

  // The MBR's partitions, in the order they lie on the disk.
  std::vector<const Partition*> primaries;
  const Partition* extended = nullptr;
  for (const Partition& p : d.partitions) {
    if (p.l != 1) continue;
    primaries.push_back(&p);
    if (p.isExtended()) extended = &p;
  }
  std::stable_sort(primaries.begin(), primaries.end(), startsBefore);
  FXulong prevEnd = 0;
  for (const Partition* p : primaries) {
    if (!isFirstTrack(p->entry.dist, d)) addGap(d, prevEnd, p->entry.dist);
    prevEnd = (FXulong)p->entry.dist + p->entry.num;
  }
  if (prevEnd != d.sectors) addGap(d, prevEnd, d.sectors);

  if (extended && extended->entry.dist != 0) {
    FXulong E = extended->entry.dist;
    findChainGaps(d, E, E + extended->entry.num);
  }

  for (Gap& g : d.gaps) {
    g.behind = -1;
    for (size_t i = 0; i < d.partitions.size(); i++)
      if (d.partitions[i].start() <= g.distance) g.behind = (FXint)i;
  }
  d.gaps.sort();  // stable: gaps at the same sector keep their order
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

// Whether a candidate that lies partly inside the extended partition Q is
// blocked by the partitions of Q's chain.  Walks at most 15 EPTBs; a chain
// that goes deeper, or a table that cannot be read, blocks the candidate.
static bool chainBlocks(const NRD& d, const Partition& Q, FXulong S, FXulong L) {
  FXulong chainBase = Q.base != 0 ? Q.base : Q.entry.dist;  // links count from here
  FXulong Qe = Q.end();
  FXulong cur = Q.start();
  for (int tables = 0; tables < MAX_EPTBS; tables++) {
    FXuchar buffer[SECTOR_SIZE];
    if (!IOSystem::Read(cur, buffer, SECTOR_SIZE)) return true;
    EPTB t(buffer);
    if (!isFirstTrack(t.d0, d) && S < cur + t.d0 && L < cur + t.d0) {
      KV_TRACE(8, "Analyse::OverlapsExisting extended partition has gap on begin\n");
      return false;
    }
    FXulong logicalEnd = cur + t.d0 + t.c0;
    KV_TRACE(8, "Analyse::OverlapsExisting checking between %.0lf and %.0lf\n", (double)cur,
             (double)logicalEnd);
    if (t.t1 == 0) {
      if (logicalEnd < Qe && logicalEnd <= S && L < Qe) {
        KV_TRACE(8, "Analyse::OverlapsExisting extended partition has gap on end\n");
        return false;
      }
      return true;
    }
    if (logicalEnd <= S && L < chainBase + t.d1) {
      KV_TRACE(8, "Analyse::OverlapsExisting extended partition has gap on end\n");
      return false;
    }
    cur = chainBase + t.d1;
  }
  KV_TRACE(8, "Analyse::OverlapsExisting chain loops or is too deep\n");
  return true;
}

bool Analyse::OverlapsExisting(FXint disk, const Partition& candidate) {
  FXulong S = candidate.start();
  FXulong L = candidate.entry.num ? S + candidate.entry.num - 1 : S;  // last sector
  KV_TRACE(7, "Analyse::OverlapsExisting( disk=%d, from %.0lf to %.0lf )\n", disk, (double)S,
           (double)L);
  if (disk < 0 || disk >= (FXint)disks.size()) return true;
  const NRD& d = disks[disk];

  for (const Partition& Q : d.partitions) {
    FXulong Qs = Q.start(), Qe = Q.end();
    KV_TRACE(8, "Analyse::OverlapsExisting checking between %.0lf and %.0lf\n", (double)Qs,
             (double)Qe);
    bool hit = (Qs <= S && S < Qe) || (Qs <= L && L < Qe);
    if (!hit) continue;
    KV_TRACE(8, "Analyse::OverlapsExisting partition overlaps!\n");
    if (!Q.isExtended()) return true;

    KV_TRACE(8, "Analyse::OverlapsExisting overlapped partition is an extended partition\n");
    if (!IOSystem::PrepareRead(d.device, d.sectors)) return true;
    bool blocks = false;
    if (!CheckOne(Qs, nullptr)) {
      KV_TRACE(8, "Analyse::OverlapsExisting extended partition is invalid or empty\n");
    } else {
      blocks = chainBlocks(d, Q, S, L);
    }
    IOSystem::CloseRead();
    if (blocks) return true;
  }
  return false;
}
