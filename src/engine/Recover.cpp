// The partition-table writer.
//
// Table values are 32-bit on disk; positions are worked out in 64 bits and
// an entry is only written when its values fit.  Before a sector is written
// the writer checks that what it writes is a layout a reader follows: a new
// EPTB never lands inside a partition or a volume the search found, a
// logical partition never overlaps the next EPTB of its chain, and it only
// adds to a chain that ends properly.
#include "Recover.h"

#include <algorithm>
#include <cstring>

#include "Analyse.h"
#include "FileSystem.h"
#include "IOSystem.h"
#include "ReadContext.h"
#include "TrialRun.h"
#include "table/PartitionTable.h"
#include "compat/Assert.h"

namespace {

const FXuchar EXTENDED = 0x05;
const FXuint BR_SIZE = 2048;
// Table values are 32-bit.
const FXulong TABLE_LIMIT = 0x100000000ULL;

// Why a chosen partition was not written.
const Reason MBR_UNREADABLE = {"Recover.DoRecover.001", true};
const Reason GPT_DISK = {"IOSystem.WriteBR.002", false};
const Reason FOUND_UNREADABLE = {"Recover.DoRecover.002", true};
const Reason BEYOND_REACH = {"Recover.DoRecover.003", false};
const Reason NOT_ON_DISK = {"Recover.DoRecover.004", false};
const Reason NO_FREE_SLOT = {"Recover.DoRecover.005", false};
const Reason OVERLAPS_PARTITION = {"Recover.DoRecover.006", false};
const Reason NO_ROOM_IN_CHAIN = {"Recover.DoRecover.007", false};
const Reason CHAIN_TOO_LONG = {"Recover.DoRecover.008", false};
const Reason NO_SECTOR_FOR_EPTB = {"Recover.DoRecover.009", false};
const Reason TABLE_UNREADABLE = {"Recover.DoRecover.010", true};
const Reason ACTIVE_NOT_SET = {"Recover.DoRecover.011", false};

bool readTable(const FXString& device, FXulong sector, FXuchar* table) {
  return IOSystem::ReadBR(device, table, sector * SECTOR_SIZE, SECTOR_SIZE);
}

// An entry built by the writer.  Its CHS bytes start as the recogniser sets
// them ("address by LBA") and keep that value when the geometry cannot
// express the stretch.
PartitionEntry newEntry(FXuchar type, FXulong dist, FXulong num) {
  PartitionEntry e;
  e.boot = 0;
  e.start_chs[0] = e.end_chs[0] = 0xFF;
  e.start_chs[1] = e.end_chs[1] = 0xFF;
  e.start_chs[2] = e.end_chs[2] = 0xFE;
  e.type = type;
  e.dist = (FXuint)dist;
  e.num = (FXuint)num;
  return e;
}

void setCHS(PartitionEntry& e, FXulong first, FXulong count, FXint heads, FXint sectors) {
  Recover::ConvertLBA((FXuint)first, (FXuint)count, (FXuint)heads, (FXuint)sectors, e.start_chs[2],
                      e.start_chs[0], e.start_chs[1], e.end_chs[2], e.end_chs[0], e.end_chs[1]);
}

// The sectors of a table entry whose dist counts from `base`.
SectorRange sectorsOf(const PartitionEntry& e, FXulong base = 0) {
  return SectorRange::sized(base + e.dist, e.num);
}

bool fitsTable(FXulong first, FXulong count) {
  return SectorRange(0, TABLE_LIMIT).contains(SectorRange::sized(first, count));
}

bool CheckExtended(FXuchar type) { return isExtendedType(type); }

bool isTaken(const std::vector<SectorRange>& taken, FXulong sector) {
  for (const SectorRange& r : taken)
    if (r.contains(sector)) return true;
  return false;
}

// Where a new EPTB goes in front of a logical partition starting at `n0`:
// one track before it when that sector is free, else the sector right before
// it.  It must lie behind the table it follows (at `after`), behind that
// table's logical partition (which ends before `freeFrom`) and outside every
// stretch `taken`.  0 when neither sector qualifies.
FXulong placeForNewTable(FXulong n0, FXulong after, FXulong freeFrom, FXint sectorsPerTrack,
                         const std::vector<SectorRange>& taken) {
  FXulong track = sectorsPerTrack > 0 ? (FXulong)sectorsPerTrack : 0;
  for (FXulong gap : {track, (FXulong)1}) {
    if (gap == 0 || gap > n0) continue;
    FXulong q = n0 - gap;
    if (q > after && q >= freeFrom && !isTaken(taken, q)) return q;
    KV_TRACE(8, "Recover::RecoverOne sector %.0lf takes no new EPTB\n", (double)q);
  }
  return 0;
}

// The sector just past the logical partition of the table at `sector`
// (the table itself when slot 0 holds none).
FXulong logicalEnd(FXulong sector, const PartitionEntry& slot0) {
  if (slot0.type == 0 || isExtendedType(slot0.type)) return sector + 1;
  return sector + slot0.dist + slot0.num;
}

}  // namespace

// The tables of the chain behind the extended partition at `E0`.  The writer
// only adds to a chain that ends properly: one that loops, goes on too long
// or leads to a sector without a table is left alone.  An extended partition
// whose first sector holds no table yet has an empty chain, and that sector
// becomes its first table.
bool Recover::ReadChain(const FXString& device, FXulong E0, std::vector<ChainTable>& tables) {
  ExtendedChain chain(E0, E0, ExtendedChain::ReadFrom(device));
  ChainTable t;
  while (chain.Next(t)) tables.push_back(t);
  if (chain.end() == ExtendedChain::NO_TABLE && tables.empty()) {
    if (!Check(readTable(device, E0, t.bytes), TABLE_UNREADABLE)) return false;
    memset(t.bytes + TABLE_OFFSET, 0, 4 * 16);
    t.sector = E0;
    t.linkSlot = -1;
    tables.push_back(t);
    return true;
  }
  return Check(chain.endsProperly(), NO_ROOM_IN_CHAIN);
}

bool Recover::WriteTable(const FXString& device, FXulong sector, FXuchar* table) {
  putBootSignature(table);
  if (IOSystem::WriteBR(device, table, sector * SECTOR_SIZE)) return true;
  return Check(false, IOSystem::writeFailure);
}

bool Recover::Check(bool ok, const Reason& why) {
  if (ok) return true;
  KV_TRACE(7, "Recover: not done: %s\n", why.key);
  if (reason.done()) reason = why;
  return false;
}

void Recover::Fail(const std::vector<size_t>& owners) {
  // Every failing step names its reason; a step that did not is a fault of
  // the writer, and the partition is still reported as not written.
  Reason why = reason.done() ? IOSystem::writeFailure : reason;
  for (size_t i : owners)
    if (i < results.size() && results[i].done()) results[i].reason = why;
  reason = DONE;
}

Recover::Recover(const std::vector<RecoverPart>& recoverList,
                 const std::vector<VolumeSpan>& foundVolumes, RecoverProgress* progress,
                 bool writeBootCode, const std::vector<std::vector<FXulong>>& activeStarts,
                 const std::vector<FXString>& devices)
    : activeStarts(activeStarts), devices(devices), foundVolumes(foundVolumes) {
  DoRecover(recoverList, progress, writeBootCode);
}

bool Recover::ConvertLBA(FXuint LBA_s, FXuint LBA_c, FXuint HPS, FXuint SPT, FXuchar& sc,
                         FXuchar& sh, FXuchar& ss, FXuchar& ec, FXuchar& eh, FXuchar& es) {
  KV_TRACE(7, "Recover::ConvertLBA( LBA_s = %u, LBA_c = %u, HPS = %u, SPT = %u )\n", LBA_s, LBA_c,
           HPS, SPT);
  // The sector number has six bits; no geometry, no address.
  if (HPS == 0 || SPT == 0 || SPT > 63) return false;
  FXulong perCylinder = (FXulong)HPS * SPT;
  auto convert = [&](FXuint L, FXuchar& c, FXuchar& h, FXuchar& s) {
    FXulong cyl = L / perCylinder;
    FXulong r = L - cyl * perCylinder;
    FXulong hd = r / SPT;
    FXulong sec = r - hd * SPT + 1;
    if (hd > 255 || sec > SPT) return false;
    // Cylinder bits 8 and 9 go to the sector byte; higher bits are dropped.
    c = (FXuchar)cyl;
    h = (FXuchar)hd;
    s = (FXuchar)(sec | ((cyl >> 2) & 0xC0));
    return true;
  };
  if (!convert(LBA_s, sc, sh, ss)) return false;
  FXuint last = LBA_c ? LBA_s + LBA_c - 1 : LBA_s;
  if (!convert(last, ec, eh, es)) return false;
  KV_TRACE(8, "Recover::ConvertLBA Start CHS = %d/%d/%d\n", sc, sh, ss);
  KV_TRACE(8, "Recover::ConvertLBA End CHS = %d/%d/%d\n", ec, eh, es);
  return true;
}

// ---------------------------------------------------------------------------

bool Recover::DoRecover(const std::vector<RecoverPart>& recoverList, RecoverProgress* progress,
                        bool writeBootCode) {
  KV_TRACE(7, "Recover::DoRecover( recover count = %u )\n", (FXuint)recoverList.size());
  if (progress) progress->setProgress(0);
  results.clear();
  for (const RecoverPart& r : recoverList) results.push_back(RecoverResult{r, DONE});
  // Each disk's records must follow one another; by position within a disk.
  std::vector<size_t> order;
  for (size_t i = 0; i < recoverList.size(); i++) order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&recoverList](size_t a, size_t b) {
    const RecoverPart &x = recoverList[a], &y = recoverList[b];
    if (x.device != y.device) return compare(x.device, y.device) < 0;
    return x.sector < y.sector;
  });
  if (progress) progress->setTotal((FXuint)order.size());

  // The undo database must not land on what is about to be restored.
  // (A table the writer adds in front of a partition lies inside an
  // existing extended partition, which the database keeps clear of anyway.)
  for (const RecoverPart& r : recoverList) IOSystem::KeepDBBelow(r.device, r.sector);

  FXString current;
  FXuchar MBR[SECTOR_SIZE];
  bool mbrRead = false;
  std::vector<NewPart> newparts;
  std::vector<FXString> handled;
  FXint heads = 0, sectorsPerTrack = 0;
  auto finishDisk = [&]() {
    if (newparts.empty()) return;
    std::vector<size_t> inMBR = PlaceOnDisk(current, MBR, newparts, writeBootCode, heads,
                                            sectorsPerTrack);
    // The MBR goes back with the signature only where it has entries or
    // boot code.
    if (!IOSystem::WriteBR(current, MBR, 0)) {
      Check(false, IOSystem::writeFailure);
      Fail(inMBR);
    }
  };

  for (size_t i : order) {
    const RecoverPart& r = recoverList[i];
    if (r.device != current) {
      finishDisk();
      newparts.clear();
      reason = DONE;
      // Without the disk's own MBR nothing can be placed on it: writing a
      // fresh one would drop every entry it holds.
      mbrRead = Check(IOSystem::ReadBR(r.device, MBR, 0, SECTOR_SIZE), MBR_UNREADABLE);
      // An MBR written over a GPT disk's would hide its partitions.
      if (const NRD* target = Analyse::FindNRD(r.device))
        mbrRead = mbrRead && Check(PartitionTable::Of(*target).kind() == TableKind::MBR, GPT_DISK);
      current = r.device;
      heads = r.heads;
      sectorsPerTrack = r.sectorsPerTrack;
      handled.push_back(current);
    }
    NewPart part;
    part.result = i;
    if (mbrRead && ReadChosen(r, heads, sectorsPerTrack, part)) {
      newparts.push_back(part);
    } else {
      Fail({i});
      if (!mbrRead) reason = results[i].reason;  // the disk's other records share it
    }
    if (progress) progress->increment(1);
  }
  finishDisk();
  reason = DONE;

  SetActive();
  // The last logged write still waits for its flush: until it is on the
  // medium, nothing written is reported done.
  if (!IOSystem::FlushWrites()) {
    std::vector<size_t> all;
    for (size_t i = 0; i < results.size(); i++) all.push_back(i);
    Fail(all);
  }
  // A simulation changed nothing for the system to see.
  if (!IOSystem::simulationMode)
    for (const FXString& device : handled) {
      bool busy = false;
      if (!IOSystem::RereadTable(device, &busy) && busy) busyDevices.push_back(device);
    }
  if (progress) progress->setProgress(progress->getTotal());
  for (const RecoverResult& r : results)
    if (!r.done()) return false;
  return true;
}

// Reads what the search found at a chosen record and makes its entry.
bool Recover::ReadChosen(const RecoverPart& r, FXint heads, FXint sectorsPerTrack, NewPart& part) {
  FXuchar BR[BR_SIZE];
  if (!Check(IOSystem::ReadBR(r.device, BR, r.sector * (FXulong)SECTOR_SIZE, BR_SIZE),
             FOUND_UNREADABLE))
    return false;
  if (!Check(r.sector < TABLE_LIMIT, BEYOND_REACH))
    return false;  // a table entry cannot address it

  // A partition is only written where the disk has it all.
  const NRD* disk = Analyse::FindNRD(r.device);
  auto onDisk = [disk](FXulong first, FXulong count) {
    return fitsTable(first, count) &&
           (!disk || SectorRange(0, disk->sectors).contains(SectorRange::sized(first, count)));
  };

  part.start = r.sector;
  part.logical = r.logical;
  part.role = r.role;
  if (r.logical) {
    // Slot 0 of the EPTB found there is the lost logical partition.
    part.entry = PartitionEntry::fromTable(BR, 0);
    return Check(part.entry.type != 0 && !isExtendedType(part.entry.type) &&
                     part.entry.num != 0 && onDisk(r.sector + part.entry.dist, part.entry.num),
                 NOT_ON_DISK);
  }
  PartitionEntry pr;
  memset(&pr, 0, sizeof(pr));
  if (r.type != 0) {
    // The search recognised the volume, by its first structure or a copy of
    // it, and said what it is.
    FXulong sectors = r.size / SECTOR_SIZE;
    if (!Check(r.first == r.sector && sectors != 0 && onDisk(r.first, sectors), NOT_ON_DISK))
      return false;
    pr.type = r.type;
    pr.dist = (FXuint)r.first;
    pr.num = (FXuint)sectors;
    setCHS(pr, pr.dist, pr.num, heads, sectorsPerTrack);
    part.entry = pr;
    return true;
  }
  // A ReiserFS superblock lies beyond the boot record: the check reads it
  // through the read context.
  ReadContext context(r.device, ~(FXulong)0);
  FXint code = FileSystem::CheckFS(BR, r.sector, &pr);
  // Without a file system there is no type and no size to write.
  if (!Check(code != 0, NOT_ON_DISK)) return false;
  if (!Check(pr.num != 0 && onDisk(pr.dist, pr.num), NOT_ON_DISK))
    return false;
  setCHS(pr, pr.dist, pr.num, heads, sectorsPerTrack);
  part.entry = pr;
  return true;
}

// ---------------------------------------------------------------------------

bool Recover::RecoverOne(const FXString& device, FXuchar* MBR, std::vector<NewPart>& newparts,
                         bool writeBootCode, FXint H, FXint S) {
  PlaceOnDisk(device, MBR, newparts, writeBootCode, H, S);
  for (const NewPart& p : newparts)
    if (!results[p.result].done()) return false;
  return true;
}

// Places one disk's partitions; returns the chosen partitions whose entries
// went into the MBR buffer, which the caller writes.
std::vector<size_t> Recover::PlaceOnDisk(const FXString& device, FXuchar* MBR,
                                         std::vector<NewPart>& newparts, bool writeBootCode,
                                         FXint H, FXint S) {
  KV_TRACE(7, "Recover::RecoverOne( device = %s, newpart cnt = %u )\n", device.text(),
           (FXuint)newparts.size());
  // Results are kept for the chosen partitions; a writer driven step by step
  // gets one per partition here.
  for (NewPart& p : newparts) {
    if (p.result < results.size()) continue;
    p.result = results.size();
    RecoverPart r;
    r.device = device;
    r.sector = p.start;
    r.logical = p.logical;
    results.push_back(RecoverResult{r, DONE});
  }
  std::stable_sort(newparts.begin(), newparts.end(),
                   [](const NewPart& a, const NewPart& b) { return a.start > b.start; });

  // A new table keeps out of every found volume and every chosen partition,
  // a found EPTB included.
  taken.clear();
  for (const VolumeSpan& v : foundVolumes)
    if (v.device == device) taken.push_back(v.sectors);
  for (const NewPart& p : newparts) {
    if (!p.logical) {
      taken.push_back(sectorsOf(p.entry));
      continue;
    }
    taken.push_back(SectorRange::sized(p.start, 1));
    taken.push_back(sectorsOf(p.entry, p.start));
  }

  // Volumes that become logical where the disk has no extended partition
  // get a new chain of their own.
  PartitionEntry newExtended;
  std::vector<size_t> newChainOwners;
  if (!PlaceNewChain(device, MBR, newparts, H, S, newExtended, newChainOwners)) return {};

  // Found EPTBs, from the highest down, become a chain: each links to the one
  // above it.  A run of them closes into one extended entry for the MBR.
  struct Placement {
    PartitionEntry entry;
    FXuint chainLength;          // EPTBs of its chain; 0 for a file system
    std::vector<size_t> owners;  // the chosen partitions it places
  };
  std::vector<Placement> placeList;
  bool chainClosed = false;
  bool pending = false;
  FXulong chainEnd = 0;  // the sector past the highest logical partition
  FXuint chainLength = 0;
  std::vector<size_t> chainOwners;
  const NewPart* last = nullptr;

  auto closeChain = [&]() {
    FXulong size = chainEnd - last->start;
    PartitionEntry E = newEntry(EXTENDED, last->start, size);
    setCHS(E, last->start, size, H, S);
    // A second chain on one disk becomes a second extended entry; the fit
    // check keeps a choice from needing one.
    if (chainClosed) KV_TRACE(8, "Recover::RecoverOne a second found chain on %s\n", device.text());
    chainClosed = true;
    if (Check(fitsTable(last->start, size), BEYOND_REACH) &&
        FixExtendedChain(device, last->start)) {
      placeList.push_back(Placement{E, chainLength, chainOwners});
    } else {
      Fail(chainOwners);
    }
    chainOwners.clear();
    pending = false;
  };

  for (const NewPart& p : newparts) {
    KV_TRACE(8, "Recover::RecoverOne partition to recover [%.0lf,%d]\n", (double)p.start,
             p.logical);
    if (p.logical) {
      KV_TRACE(8, "Recover::RecoverOne partition is extended, fixing\n");
      if (!pending) {
        // This EPTB ends the chain.
        if (!FixExtended(device, p.start, H, S, 0, 0)) {
          Fail({p.result});
          continue;
        }
        pending = true;
        chainEnd = p.start + p.entry.dist + p.entry.num;
        chainLength = 1;
      } else {
        // This EPTB links to the one above it; the link covers that table's
        // logical partition from the table on.  A reader follows no more
        // tables than a chain may have.
        FXulong size = (FXulong)last->entry.dist + last->entry.num;
        if (!Check(chainLength < (FXuint)ExtendedChain::MAX_TABLES, CHAIN_TOO_LONG) ||
            !FixExtended(device, p.start, H, S, last->start, size)) {
          Fail({p.result});
          continue;
        }
        chainLength++;
      }
      chainOwners.push_back(p.result);
      last = &p;
    } else {
      KV_TRACE(8, "Recover::RecoverOne partition is filesystem\n");
      if (pending) {
        KV_TRACE(8, "Recover::RecoverOne extended already defined, pushing them first\n");
        closeChain();
      }
      KV_TRACE(8, "Recover::RecoverOne pushing partition information\n");
      placeList.push_back(Placement{p.entry, 0, {p.result}});
    }
  }
  if (pending) {
    KV_TRACE(8, "Recover::RecoverOne extended still defined!, pushing\n");
    closeChain();
  }
  if (!newChainOwners.empty()) placeList.push_back(Placement{newExtended, 1, newChainOwners});

  // The lowest partitions first.  An entry that went into a slot of the MBR
  // is only written with it.
  std::vector<size_t> inMBR;
  for (auto p = placeList.rbegin(); p != placeList.rend(); ++p) {
    FXuchar before[4 * 16];
    memcpy(before, MBR + TABLE_OFFSET, sizeof(before));
    if (!PlaceEntry(device, MBR, p->entry, H, S, p->chainLength)) {
      Fail(p->owners);
      continue;
    }
    if (memcmp(before, MBR + TABLE_OFFSET, sizeof(before)) != 0)
      inMBR.insert(inMBR.end(), p->owners.begin(), p->owners.end());
  }

  if (writeBootCode && !startsWithBootCode(MBR))
    memcpy(MBR, standardBootProgram, BOOT_PROGRAM_SIZE);

  // The MBR lists its entries by position.
  std::vector<PartitionEntry> used;
  for (int slot = 0; slot < 4; slot++) {
    PartitionEntry e = PartitionEntry::fromTable(MBR, slot);
    if (e.type != 0) used.push_back(e);
  }
  std::stable_sort(used.begin(), used.end(),
                   [](const PartitionEntry& a, const PartitionEntry& b) { return a.dist < b.dist; });
  memset(MBR + TABLE_OFFSET, 0, 4 * 16);
  for (size_t slot = 0; slot < used.size(); slot++) used[slot].toTable(MBR, (int)slot);
  // Entries are only read from a table that carries the signature.
  if (!used.empty() || writeBootCode) putBootSignature(MBR);
  return inMBR;
}

// Puts one entry into the MBR: into the extended partition it lies in, or
// into a free slot.  An occupied slot is never overwritten, and an entry that
// overlaps a partition other than the extended one is not placed at all.
bool Recover::PlaceEntry(const FXString& device, FXuchar* MBR, PartitionEntry P, FXint H, FXint S,
                         FXuint chainLength) {
  int freeSlot = -1, extendedSlot = -1;
  for (int slot = 0; slot < 4; slot++) {
    PartitionEntry X = PartitionEntry::fromTable(MBR, slot);
    KV_TRACE(8, "Recover::RecoverOne check type %02x, dist %.0lf, num %.0lf\n", X.type,
             (double)X.dist, (double)X.num);
    if (X.type == 0) {
      if (freeSlot < 0) freeSlot = slot;
      continue;
    }
    KV_TRACE(8, "Recover::RecoverOne check with NEW dist %.0lf, num %.0lf\n", (double)P.dist,
             (double)P.num);
    if (!sectorsOf(X).overlaps(sectorsOf(P))) continue;
    // Only an extended partition's first sector is an EPTB.
    if (!Check(CheckExtended(X.type), OVERLAPS_PARTITION)) return false;
    if (extendedSlot < 0) extendedSlot = slot;
  }
  if (extendedSlot >= 0) {
    PartitionEntry X = PartitionEntry::fromTable(MBR, extendedSlot);
    if (isExtendedType(P.type)) return AppendChain(device, X, P, chainLength);
    return InsertLogical(device, MBR, X, P, H, S);
  }
  if (!Check(freeSlot >= 0, NO_FREE_SLOT)) return false;
  P.toTable(MBR, freeSlot);
  return true;
}

// A chain of found EPTBs that lies inside the disk's extended partition
// becomes the continuation of its chain.  Its links counted from its own
// first EPTB; in the existing chain they count from the extended partition's
// start, and are rebased before the chain is linked in.
bool Recover::AppendChain(const FXString& device, const PartitionEntry& extended, PartitionEntry P,
                          FXuint chainLength) {
  FXulong E0 = extended.dist, n0 = P.dist;
  if (!Check(SectorRange(E0 + 1, sectorsOf(extended).end).contains(sectorsOf(P)),
             OVERLAPS_PARTITION))
    return false;
  std::vector<ChainTable> tables;
  if (!ReadChain(device, E0, tables)) return false;
  ChainTable& T = tables.back();
  if (!Check(n0 > T.sector && n0 >= logicalEnd(T.sector, T.slot(0)) && T.slot(1).type == 0,
             NO_ROOM_IN_CHAIN))
    return false;
  if (!Check(tables.size() + chainLength <= (size_t)ExtendedChain::MAX_TABLES, CHAIN_TOO_LONG))
    return false;

  ExtendedChain found(n0, n0, ExtendedChain::ReadFrom(device));
  ChainTable C;
  for (FXuint i = 0; i < chainLength && found.Next(C) && C.hasLink(); i++) {
    PartitionEntry link = C.slot(C.linkSlot);
    link.dist = (FXuint)(C.next - E0);
    link.toTable(C.bytes, C.linkSlot);
    WriteTable(device, C.sector, C.bytes);
  }

  // The link goes into the empty slot 1 of the last EPTB, where every reader
  // looks for it; the EPTB's logical partition stays in slot 0.
  P.boot = 0;
  P.dist = (FXuint)(n0 - E0);
  P.toTable(T.bytes, 1);
  return WriteTable(device, T.sector, T.bytes);
}

// The sectors a new table must keep out of: every partition of the table
// (the MBR's, the chain's logical ones) and the chain's tables, besides the
// found volumes and chosen partitions of the disk.
std::vector<SectorRange> Recover::OccupiedSectors(const FXuchar* MBR,
                                                  const std::vector<ChainTable>& tables) const {
  std::vector<SectorRange> occupied(taken);
  for (int k = 0; k < 4; k++) {
    PartitionEntry e = PartitionEntry::fromTable(MBR, k);
    if (e.type != 0 && !isExtendedType(e.type)) occupied.push_back(sectorsOf(e));
  }
  for (const ChainTable& t : tables) {
    occupied.push_back(SectorRange::sized(t.sector, 1));
    for (int k = 0; k < 4; k++) {
      PartitionEntry e = t.slot(k);
      if (e.type != 0 && !isExtendedType(e.type)) occupied.push_back(sectorsOf(e, t.sector));
    }
  }
  return occupied;
}

// A file-system partition that lies inside the disk's extended partition
// becomes a logical partition of its chain, in front of the first EPTB that
// lies behind it.
bool Recover::InsertLogical(const FXString& device, const FXuchar* MBR,
                            const PartitionEntry& extended, PartitionEntry P, FXint H, FXint S) {
  KV_TRACE(8, "Recover::RecoverOne filesystem partition overlaps extended\n");
  FXulong E0 = extended.dist;
  SectorRange part = sectorsOf(P);
  FXulong n0 = part.first, n1 = part.end - 1;
  if (!Check(SectorRange(E0 + 1, sectorsOf(extended).end).contains(part), OVERLAPS_PARTITION))
    return false;
  std::vector<ChainTable> tables;
  if (!ReadChain(device, E0, tables)) return false;

  // The table the partition goes behind: the last one that lies in front of it.
  size_t i = 0;
  while (tables[i].hasLink() && tables[i].next <= n0) i++;
  ChainTable& T = tables[i];
  FXulong at = T.sector, next = T.next;
  PartitionEntry s0 = T.slot(0), s1 = T.slot(1);
  setCHS(P, n0, P.num, H, S);
  PartitionEntry e = P;
  e.dist = (FXuint)(n0 - at);

  if (s0.type == 0) {
    // An EPTB without a logical partition takes it.
    KV_TRACE(8, "Recover::RecoverOne inserting into empty\n");
    if (!Check(n0 > at && (!T.hasLink() || n1 < next), NO_ROOM_IN_CHAIN))
      return false;
    e.toTable(T.bytes, 0);
    return WriteTable(device, at, T.bytes);
  }
  if (T.linkSlot == 0) {
    // The link keeps slot 0: it moves to slot 1, the partition takes slot 0.
    KV_TRACE(8, "Recover::RecoverOne inserting into first\n");
    if (!Check(s1.type == 0 && n0 > at && n1 < next, NO_ROOM_IN_CHAIN))
      return false;
    setCHS(s0, E0 + s0.dist, s0.num, H, S);
    s0.toTable(T.bytes, 1);
    e.toTable(T.bytes, 0);
    return WriteTable(device, at, T.bytes);
  }
  return InsertWithNewTable(device, MBR, E0, tables, T, P, H, S);
}

// Puts the partition `e` (its dist the absolute first sector) behind table
// T of the chain at `E0`, with a new EPTB in front of it.  T holds a logical
// partition in slot 0 and its link, if any, in slot 1; the new table takes
// over that link.
bool Recover::InsertWithNewTable(const FXString& device, const FXuchar* MBR, FXulong E0,
                                 const std::vector<ChainTable>& tables, ChainTable& T,
                                 PartitionEntry e, FXint H, FXint S) {
  FXulong at = T.sector, next = T.next, n0 = e.dist, n1 = n0 + e.num - 1;
  PartitionEntry s0 = T.slot(0), s1 = T.slot(1);
  if (!Check(T.hasLink() ? T.linkSlot == 1 : s1.type == 0, NO_ROOM_IN_CHAIN) ||
      !Check(tables.size() < (size_t)ExtendedChain::MAX_TABLES, CHAIN_TOO_LONG) ||
      !Check(!T.hasLink() || n1 < next, NO_ROOM_IN_CHAIN))
    return false;
  FXulong q = placeForNewTable(n0, at, logicalEnd(at, s0), S, OccupiedSectors(MBR, tables));
  if (!Check(q != 0, NO_SECTOR_FOR_EPTB))
    return false;
  FXuchar N[SECTOR_SIZE];
  if (!T.hasLink()) {
    KV_TRACE(8, "Recover::RecoverOne inserting into last\n");
    memset(N, 0, sizeof(N));
  } else {
    KV_TRACE(8, "Recover::RecoverOne inserting into chain\n");
    memcpy(N, T.bytes, sizeof(N));
    memset(N + TABLE_OFFSET + 32, 0, 32);
    setCHS(s1, E0 + s1.dist, s1.num, H, S);
    s1.toTable(N, 1);
  }
  e.dist = (FXuint)(n0 - q);
  e.toTable(N, 0);
  // The new table is written before anything points at it.
  if (!WriteTable(device, q, N)) return false;

  PartitionEntry link = s1;
  if (!T.hasLink()) {
    link = newEntry(EXTENDED, q - E0, n0 - q + e.num);
    link.boot = s1.boot;
  } else {
    link.num = (FXuint)(link.num + (next - q));
    link.dist = (FXuint)(q - E0);
    setCHS(s0, at + s0.dist, s0.num, H, S);
    s0.toTable(T.bytes, 0);
  }
  setCHS(link, E0 + link.dist, link.num, H, S);
  link.toTable(T.bytes, 1);
  return WriteTable(device, at, T.bytes);
}

// ---------------------------------------------------------------------------

bool Recover::FixExtended(const FXString& device, FXulong distance, FXint H, FXint S,
                          FXulong inc_dist, FXulong inc_size) {
  KV_TRACE(7,
           "Recover::FixExtended( device = %s, distance = %.0lf, inc_dist = %.0lf, inc_size = "
           "%.0lf )\n",
           device.text(), (double)distance, (double)inc_dist, (double)inc_size);
  FXuchar T[SECTOR_SIZE];
  // An unreadable table is not rewritten from zeros.
  if (!Check(readTable(device, distance, T), TABLE_UNREADABLE)) return false;
  memset(T + TABLE_OFFSET + 16, 0, 3 * 16);  // slot 0, the logical partition, stays
  if (inc_dist != 0) {
    KV_TRACE(8, "Recover::FixExtended( including dist=%.0lf, size=%.0lf )\n", (double)inc_dist,
             (double)inc_size);
    // Counts from this EPTB until FixExtendedChain rebases it.
    PartitionEntry link = newEntry(EXTENDED, inc_dist - distance, inc_size);
    setCHS(link, inc_dist, inc_size, H, S);
    link.toTable(T, 1);
  }
  return WriteTable(device, distance, T);
}

bool Recover::FixExtendedChain(const FXString& device, FXulong first) {
  KV_TRACE(7, "Recover::FixExtendedChain( device = %s, first = %.0lf )\n", device.text(),
           (double)first);
  // The chain was built upward from `first`, each link counting from its own
  // table; the first table's link already counts from `first`.
  ExtendedChain chain = ExtendedChain::LinkedFromEachTable(first, ExtendedChain::ReadFrom(device));
  ChainTable t;
  while (chain.Next(t) && t.hasLink()) {
    PartitionEntry link = t.slot(t.linkSlot);
    if (t.index == 0) {
      KV_TRACE(8, "Recover::FixExtendedChain root is extended to sector %.0lf\n", (double)link.dist);
      continue;
    }
    KV_TRACE(8, "Recover::FixExtendedChain read at sector %.0lf\n", (double)t.sector);
    FXulong rebased = t.next - first;
    KV_TRACE(8, "Recover::FixExtendedChain old dist = %.0lf real_sector = %.0lf\n",
             (double)link.dist, (double)rebased);
    KV_TRACE(8, "Recover::FixExtendedChain next sector = %.0lf\n", (double)t.next);
    link.dist = (FXuint)rebased;
    link.toTable(t.bytes, t.linkSlot);
    if (!WriteTable(device, t.sector, t.bytes)) return false;
  }
  return true;
}

bool Recover::SetActive() {
  bool ok = true;
  for (size_t i = 0; i < activeStarts.size() && i < devices.size(); i++) {
    if (activeStarts[i].empty()) continue;
    FXulong chosen = activeStarts[i][0];
    reason = DONE;
    FXuchar MBR[SECTOR_SIZE];
    int match = -1;
    if (Check(readTable(devices[i], 0, MBR), MBR_UNREADABLE)) {
      for (int slot = 0; slot < 4 && match < 0; slot++) {
        PartitionEntry e = PartitionEntry::fromTable(MBR, slot);
        if (e.type != 0 && (chosen >> 32) == 0 && e.dist == chosen) match = slot;
      }
    }
    // When the chosen partition is not in the table, the disk keeps the
    // active partition it has rather than losing it.
    if (match >= 0) {
      for (int slot = 0; slot < 4; slot++)
        MBR[TABLE_OFFSET + 16 * slot] = slot == match ? 0x80 : 0x00;
      if (WriteTable(devices[i], 0, MBR)) continue;
    } else {
      Check(false, ACTIVE_NOT_SET);
    }
    // Said of the chosen partition that was to become active.
    ok = false;
    std::vector<size_t> owners;
    for (size_t k = 0; k < results.size(); k++)
      if (results[k].part.device == devices[i] && results[k].part.first == chosen) owners.push_back(k);
    Fail(owners);
  }
  reason = DONE;
  return ok;
}

std::vector<FXString> Recover::DisksTheLogCannotHold(
    const std::vector<RecoverPart>& recoverList, const std::vector<VolumeSpan>& foundVolumes,
    bool writeBootCode, const std::vector<std::vector<FXulong>>& activeStarts,
    const std::vector<FXString>& devices) {
  KV_TRACE(7, "Recover::DisksTheLogCannotHold( recover count = %u )\n",
           (FXuint)recoverList.size());
  std::vector<FXString> unlogged;
  std::vector<NRD*> logged;
  for (const FXString& device : devices) {
    NRD* d = Analyse::FindNRD(device);
    if (d && d->dbActive) logged.push_back(d);
  }
  if (logged.empty()) return unlogged;  // nothing to try out
  TrialRun trial;
  for (NRD* d : logged) d->logIncomplete = false;
  IOSystem::disableWriteLog = false;
  Recover recover(recoverList, foundVolumes, nullptr, writeBootCode, activeStarts, devices);
  for (NRD* d : logged)
    if (d->logIncomplete) unlogged.push_back(d->device);
  return unlogged;
}

const Reason Recover::LOG_CANNOT_HOLD = {"Recover.Apply.001", false};

bool Recover::RefusedForTheLog(const RecoverResult& result) {
  return !result.done() && strcmp(result.reason.key, LOG_CANNOT_HOLD.key) == 0;
}

namespace {

// The chosen volumes that go into one kind of table, as a choice of their
// own, and where each stands in the whole choice.
struct TableShare {
  PartitionTable* table;
  RecoveryChoice choice;
  std::vector<size_t> places;
};

// The choice split by the table each disk gets.  The MBR's share also sets
// the active partitions of the disks that keep an MBR, chosen volumes or
// not; a disk that gets a GPT is left out of it.
std::vector<TableShare> SharesByTable(const RecoveryChoice& choice) {
  std::vector<TableShare> shares;
  for (TableKind kind : {TableKind::MBR, TableKind::GPT}) {
    TableShare share{&PartitionTable::Of(kind), choice, {}};
    share.choice.chosen.clear();
    auto kindOf = [&](const FXString& device) {
      const NRD* d = Analyse::FindNRD(device);
      return d ? TableToWrite(*d, choice) : TableKind::MBR;
    };
    for (size_t i = 0; i < choice.chosen.size(); i++) {
      if (kindOf(choice.chosen[i].device) != kind) continue;
      share.choice.chosen.push_back(choice.chosen[i]);
      share.places.push_back(i);
    }
    bool setsActive = false;
    for (size_t i = 0; i < share.choice.activeStarts.size() && i < choice.devices.size(); i++) {
      if (kindOf(choice.devices[i]) != kind) share.choice.activeStarts[i].clear();
      setsActive = setsActive || !share.choice.activeStarts[i].empty();
    }
    if (!share.places.empty() || (kind == TableKind::MBR && setsActive)) shares.push_back(share);
  }
  return shares;
}

// One table's share of a recovery on the bar of the whole: each driver
// counts its own volumes from 0, and the bar goes on from where the shares
// before it left off, so it runs once from 0 to every chosen volume.
class ShareProgress : public RecoverProgress {
public:
  ShareProgress(RecoverProgress* whole, FXuint before, FXuint size)
      : whole(whole), before(before), size(size) {}
  void setProgress(FXuint value) override {
    done = std::min(value, size);
    whole->setProgress(before + done);
  }
  // The whole's total is the number of every chosen volume, set once.
  void setTotal(FXuint) override {}
  FXuint getTotal() override { return size; }
  void increment(FXuint step) override { setProgress(done + std::min(step, size - done)); }

private:
  RecoverProgress* whole;
  FXuint before, size, done = 0;
};

}  // namespace

std::vector<RecoverResult> Recover::Apply(Analyse& analyser, const RecoveryChoice& choice,
                                          RecoverProgress* progress,
                                          const std::function<bool(const NRD&)>& goOnUnlogged,
                                          std::vector<FXString>* busyDevices) {
  KV_TRACE(7, "Recover::Apply( recover count = %u )\n", (FXuint)choice.chosen.size());
  std::vector<TableShare> shares = SharesByTable(choice);
  std::vector<FXString> unlogged;
  for (TableShare& share : shares) {
    std::vector<FXString> more = share.table->DisksTheLogCannotHold(analyser, share.choice);
    unlogged.insert(unlogged.end(), more.begin(), more.end());
  }
  for (const FXString& device : unlogged) {
    NRD* d = Analyse::FindNRD(device);
    if (goOnUnlogged && goOnUnlogged(*d)) continue;
    std::vector<RecoverResult> refused;
    for (const RecoverPart& r : choice.chosen) refused.push_back(RecoverResult{r, LOG_CANNOT_HOLD});
    return refused;
  }
  // A log that would give up half way could take nothing back.
  for (const FXString& device : unlogged) Analyse::FindNRD(device)->dbActive = false;

  if (progress) {
    progress->starting();
    progress->setTotal((FXuint)choice.chosen.size());
    progress->setProgress(0);
  }
  std::vector<RecoverResult> results;
  for (const RecoverPart& r : choice.chosen) results.push_back(RecoverResult{r, DONE});
  std::vector<FXString> busy;
  // Every sector written is logged on the disks whose logging is on.
  IOSystem::disableWriteLog = false;
  FXuint before = 0;
  for (TableShare& share : shares) {
    FXuint size = (FXuint)share.places.size();
    ShareProgress steps(progress, before, size);
    before += size;
    std::vector<RecoverResult> written =
        share.table->Write(analyser, share.choice, progress ? &steps : nullptr, busy);
    for (size_t k = 0; k < written.size() && k < share.places.size(); k++)
      results[share.places[k]] = written[k];
  }
  IOSystem::disableWriteLog = true;
  if (busyDevices) *busyDevices = busy;
  analyser.ReReadPartitions();
  analyser.CalcNRDChecksums();
  analyser.WriteNRDChecksums();
  return results;
}
