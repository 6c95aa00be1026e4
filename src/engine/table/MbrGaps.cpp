// The MBR driver's free space and collisions: unallocated stretches around
// the MBR's partitions and inside the extended partition, and whether a
// partition found by a search collides with the MBR and its chain.
#include <algorithm>

#include "ExtendedChain.h"
#include "ReadContext.h"
#include "compat/Assert.h"
#include "recognise/Scan.h"
#include "table/MbrPartitionTable.h"

namespace {

// Whether a table entry's dist is the first-track value: the partition then
// starts right after its table's first track, and that track is not free.
bool isFirstTrack(FXulong dist, const NRD& d) {
  return d.physical.sectors >= 0 && dist == (FXulong)d.physical.sectors;
}

// A stretch [start, end) as table entries give it; when entries overlap,
// end lies before start.
struct FreeStretch {
  FXulong start, end;
  SectorRange range() const { return SectorRange(start, end); }
};

// The free space one table of a chain leaves: in front of its logical
// partition (the table's own sector included), unless the partition starts
// right after the first track, and behind the partition up to the next
// table.  A table that links from slot 0 leaves free what lies up to the
// table it leads to.
std::vector<FreeStretch> tableFreeSpace(const NRD& d, const ChainTable& t) {
  std::vector<FreeStretch> free;
  PartitionEntry logical = t.slot(0);
  if (t.linkSlot == 0) {
    KV_TRACE(8, "Analyse::FindGaps EPTB is linked with empty space\n");
    if (!isFirstTrack(logical.dist, d)) free.push_back({t.sector, t.next});
    return free;
  }
  if (logical.type == 0) return free;
  if (!isFirstTrack(logical.dist, d)) {
    KV_TRACE(8, "Analyse::FindGaps EPTB has empty space on beginning\n");
    free.push_back({t.sector, t.sector + logical.dist});
  }
  FXulong logicalEnd = t.sector + logical.dist + logical.num;
  if (t.hasLink() && logicalEnd < t.next) {
    KV_TRACE(8, "Analyse::FindGaps EPTB has empty space on end\n");
    KV_TRACE(8, "Analyse::FindGaps table is %.0lf\n", (double)t.sector);
    KV_TRACE(8, "Analyse::FindGaps pr1->dist is %.0lf\n", (double)logical.dist);
    KV_TRACE(8, "Analyse::FindGaps pr1->num is %.0lf\n", (double)logical.num);
    KV_TRACE(8, "Analyse::FindGaps next table is %.0lf\n", (double)t.next);
    free.push_back({logicalEnd, t.next});
  }
  return free;
}

// The free space behind the last table of a chain (at `at`, its slot 0
// `logical`) up to the end of the extended partition: all of it when the
// table holds no logical partition.  False when there is none.
bool chainEndFree(FXulong at, const PartitionEntry& logical, FXulong X, FreeStretch& free) {
  if (logical.type == 0) {
    KV_TRACE(8, "Analyse::FindGaps EPTB is empty\n");
    free = {at, X};
    return true;
  }
  FXulong logicalEnd = at + logical.dist + logical.num;
  if (isExtendedType(logical.type) || logicalEnd >= X) return false;
  KV_TRACE(8, "Analyse::FindGaps EPTB has empty space on end of chain\n");
  free = {logicalEnd, X};
  return true;
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

// The gaps inside the extended partition [E, X).  A chain that loops or goes
// on too long is taken as ending at the last table passed; one that leads to
// a sector without a table ends in an empty table there.
void findChainGaps(NRD& d, FXulong E, FXulong X) {
  ChainTable t;
  FXulong at = E;
  PartitionEntry logical = PartitionEntry();
  // A disk that cannot be opened reads no table: its chain ends at once.
  ReadContext context(d.device, d.sectors);
  ExtendedChain chain(E, E, ExtendedChain::ReadWith(context.reader()));
  while (chain.Next(t)) {
    for (const FreeStretch& f : tableFreeSpace(d, t)) addGap(d, f.start, f.end);
    at = t.sector;
    logical = t.slot(0);
  }
  if (chain.end() == ExtendedChain::NO_TABLE) {
    at = chain.stoppedAt();
    logical = PartitionEntry();
  }
  FreeStretch rest;
  if (chainEndFree(at, logical, X, rest)) addGap(d, rest.start, rest.end);
}

bool startsBefore(const Partition* a, const Partition* b) { return a->entry.dist < b->entry.dist; }

// Whether a candidate that lies inside the extended partition Q is blocked by
// Q's chain: it is free only when it lies wholly in free space one of the
// chain's tables leaves.  A chain that does not end properly (it loops, goes
// on too long or leads to a sector without a table) blocks the candidate.
bool chainBlocks(const NRD& d, const Partition& Q, const SectorRange& C, SectorReader& reader) {
  FXulong chainBase = Q.base != 0 ? Q.base : Q.entry.dist;  // links count from here
  ExtendedChain chain(Q.start(), chainBase, ExtendedChain::ReadWith(reader));
  ChainTable t;
  while (chain.Next(t)) {
    KV_TRACE(8, "Analyse::OverlapsExisting checking table at %.0lf\n", (double)t.sector);
    for (const FreeStretch& f : tableFreeSpace(d, t)) {
      if (f.range().contains(C)) {
        KV_TRACE(8, "Analyse::OverlapsExisting extended partition has gap there\n");
        return false;
      }
    }
    FreeStretch rest;
    if (!t.hasLink() && chainEndFree(t.sector, t.slot(0), Q.end(), rest) &&
        rest.range().contains(C)) {
      KV_TRACE(8, "Analyse::OverlapsExisting extended partition has gap on end\n");
      return false;
    }
  }
  if (!chain.endsProperly()) KV_TRACE(8, "Analyse::OverlapsExisting chain does not end properly\n");
  return true;
}

}  // namespace

void MbrPartitionTable::FindGaps(NRD& d) const {
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

bool MbrPartitionTable::Blocks(const NRD& d, const SectorRange& C) const {
  for (const Partition& Q : d.partitions) {
    SectorRange q = Q.range();
    KV_TRACE(8, "Analyse::OverlapsExisting checking between %.0lf and %.0lf\n", (double)q.first,
             (double)q.end);
    if (!q.overlaps(C)) continue;
    KV_TRACE(8, "Analyse::OverlapsExisting partition overlaps!\n");
    if (!Q.isExtended()) return true;

    KV_TRACE(8, "Analyse::OverlapsExisting overlapped partition is an extended partition\n");
    // A partition goes into the MBR's extended partition only as a whole,
    // and behind the table at its start: the writer can place nothing else.
    if (Q.l == 1 && !SectorRange(q.first + 1, q.end).contains(C)) {
      KV_TRACE(8, "Analyse::OverlapsExisting candidate crosses the extended partition's border\n");
      return true;
    }
    ReadContext context(d.device, d.sectors);
    if (!context.isOpen()) return true;
    if (volumesStartingAt(context.reader(), q.first).empty()) {
      KV_TRACE(8, "Analyse::OverlapsExisting extended partition is invalid or empty\n");
    } else if (chainBlocks(d, Q, C, context.reader())) {
      return true;
    }
  }
  return false;
}
