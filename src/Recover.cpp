// The partition-table writer.
//
// Table values are 32-bit on disk; positions are worked out in 64 bits and
// an entry is only written when its values fit.  Before a sector is written
// the writer checks that what it writes is a layout a reader follows: a new
// EPTB never lands inside a partition, a logical partition never overlaps
// the next EPTB of its chain, and a chain walk ends even when the chain on
// disk loops.
#include "Recover.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "Analyse.h"
#include "FileSystem.h"
#include "IOSystem.h"
#include "compat/Assert.h"

// A failed check is reported the way FXASSERT reports one, under this unit's
// name, and the writer goes on without the step it guards.
#define RECOVER_CHECK(ok, text) \
  ((ok) ? true : (kv::assertFailed((text), "src/Recover", __LINE__), false))

namespace {

const FXuchar EXTENDED = 0x05;
const FXuint BR_SIZE = 2048;
// An extended chain is followed at most this many tables deep, as the
// reader does, so a chain that loops ends.
const int MAX_CHAIN_DEPTH = 15;
// Table values are 32-bit.
const FXulong TABLE_LIMIT = 0x100000000ULL;

bool readTable(const FXString& device, FXulong sector, FXuchar* table) {
  return IOSystem::ReadBR(device, table, sector * SECTOR_SIZE, SECTOR_SIZE);
}

bool writeTable(const FXString& device, FXulong sector, FXuchar* table) {
  table[SIGNATURE_OFFSET] = 0x55;
  table[SIGNATURE_OFFSET + 1] = 0xAA;
  return IOSystem::WriteBR(device, table, sector * SECTOR_SIZE);
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

bool fitsTable(FXulong first, FXulong count) {
  return first < TABLE_LIMIT && count < TABLE_LIMIT && first + count <= TABLE_LIMIT;
}

bool CheckExtended(FXuchar type) { return isExtendedType(type); }

// Two stretches share a sector.
bool overlaps(const PartitionEntry& a, const PartitionEntry& b) {
  if (a.num == 0 || b.num == 0) return false;
  FXulong a1 = (FXulong)a.dist + a.num - 1, b1 = (FXulong)b.dist + b.num - 1;
  return a.dist <= b1 && b.dist <= a1;
}

// Where a new EPTB goes in front of a logical partition starting at `n0`:
// one track before it when that sector is free, else the sector right before
// it.  It must lie behind the table it follows (at `after`) and behind that
// table's logical partition (which ends before `freeFrom`).  0 when neither
// sector qualifies.
FXulong placeForNewTable(FXulong n0, FXulong after, FXulong freeFrom, FXint sectorsPerTrack) {
  FXulong track = sectorsPerTrack > 0 ? (FXulong)sectorsPerTrack : 0;
  for (FXulong gap : {track, (FXulong)1}) {
    if (gap == 0 || gap > n0) continue;
    FXulong q = n0 - gap;
    if (q > after && q >= freeFrom) return q;
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

Recover::Recover(const std::vector<RecoverPart>& recoverList, RecoverProgress* progress,
                 bool writeBootCode, const std::vector<std::vector<FXulong>>& activeStarts,
                 const std::vector<FXString>& devices)
    : activeStarts(activeStarts), devices(devices) {
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
  // Each disk's records must follow one another; by position within a disk.
  std::vector<RecoverPart> chosen(recoverList);
  std::stable_sort(chosen.begin(), chosen.end(), [](const RecoverPart& a, const RecoverPart& b) {
    if (a.device != b.device) return compare(a.device, b.device) < 0;
    return a.sector < b.sector;
  });
  if (progress) progress->setTotal((FXuint)chosen.size());

  // The undo database must not land on what is about to be restored.
  // (A table the writer adds in front of a partition lies inside an
  // existing extended partition, which the database keeps clear of anyway.)
  for (const RecoverPart& r : chosen) IOSystem::KeepDBBelow(r.device, r.sector);

  FXString current;
  FXuchar MBR[SECTOR_SIZE];
  bool mbrRead = false;
  std::vector<NewPart> newparts;
  std::vector<FXString> handled;
  FXint heads = 0, sectorsPerTrack = 0;
  auto finishDisk = [&]() {
    if (newparts.empty()) return;
    RecoverOne(current, MBR, newparts, writeBootCode, heads, sectorsPerTrack);
    IOSystem::WriteBR(current, MBR, 0);
  };

  for (const RecoverPart& r : chosen) {
    if (r.device != current) {
      finishDisk();
      newparts.clear();
      // Without the disk's own MBR nothing can be placed on it: writing a
      // fresh one would drop every entry it holds.
      mbrRead = RECOVER_CHECK(IOSystem::ReadBR(r.device, MBR, 0, SECTOR_SIZE),
                              "ReadBR( device, MBR, 0, 512 )");
      // An MBR written over a GPT disk's would hide its partitions.
      if (const NRD* target = Analyse::FindNRD(r.device))
        mbrRead = mbrRead && RECOVER_CHECK(!target->gpt, "disk without a GUID partition table");
      current = r.device;
      heads = r.heads;
      sectorsPerTrack = r.sectorsPerTrack;
      handled.push_back(current);
    }
    NewPart part;
    if (mbrRead && ReadChosen(r, heads, sectorsPerTrack, part)) newparts.push_back(part);
    if (progress) progress->increment(1);
  }
  finishDisk();

  SetActive();
  // A simulation changed nothing for the system to see.
  if (!IOSystem::simulationMode)
    for (const FXString& device : handled) IOSystem::RereadTable(device);
  if (progress) progress->setProgress(std::min<FXuint>(100, progress->getTotal()));
  return true;
}

// Reads what the search found at a chosen record and makes its entry.
bool Recover::ReadChosen(const RecoverPart& r, FXint heads, FXint sectorsPerTrack, NewPart& part) {
  FXuchar BR[BR_SIZE];
  if (!RECOVER_CHECK(IOSystem::ReadBR(r.device, BR, r.sector * (FXulong)SECTOR_SIZE, BR_SIZE),
                     "ReadBR( (*iter).device, BR, (*iter).start * (FXulong) 512, 2048 )"))
    return false;
  if (!RECOVER_CHECK(r.sector < TABLE_LIMIT, "(*iter).start < 0x100000000"))
    return false;  // a table entry cannot address it

  // A partition is only written where the disk has it all.
  const NRD* disk = Analyse::FindNRD(r.device);
  auto onDisk = [disk](FXulong first, FXulong count) {
    return fitsTable(first, count) && (!disk || first + count <= disk->sectors);
  };

  part.start = r.sector;
  part.logical = r.logical;
  if (r.logical) {
    // Slot 0 of the EPTB found there is the lost logical partition.
    part.entry = PartitionEntry::fromTable(BR, 0);
    return RECOVER_CHECK(part.entry.type != 0 && !isExtendedType(part.entry.type) &&
                             part.entry.num != 0 &&
                             onDisk(r.sector + part.entry.dist, part.entry.num),
                         "EPTB slot 0 holds a logical partition on the disk");
  }
  PartitionEntry pr;
  memset(&pr, 0, sizeof(pr));
  IOSystem::PrepareRead(r.device, ~(FXulong)0);
  FXint code = FileSystem::CheckFS(BR, r.sector, &pr);
  IOSystem::CloseRead();
  // Without a file system there is no type and no size to write.
  if (!RECOVER_CHECK(code != 0, "CheckFS( BR, (*iter).start, &pr )")) return false;
  if (!RECOVER_CHECK(pr.num != 0 && onDisk(pr.dist, pr.num), "partition lies on the disk"))
    return false;
  setCHS(pr, pr.dist, pr.num, heads, sectorsPerTrack);
  part.entry = pr;
  return true;
}

// ---------------------------------------------------------------------------

bool Recover::RecoverOne(const FXString& device, FXuchar* MBR, std::vector<NewPart>& newparts,
                         bool writeBootCode, FXint H, FXint S) {
  KV_TRACE(7, "Recover::RecoverOne( device = %s, newpart cnt = %u )\n", device.text(),
           (FXuint)newparts.size());
  std::stable_sort(newparts.begin(), newparts.end(),
                   [](const NewPart& a, const NewPart& b) { return a.start > b.start; });

  // Found EPTBs, from the highest down, become a chain: each links to the one
  // above it.  A run of them closes into one extended entry for the MBR.
  std::vector<PartitionEntry> placeList;
  std::vector<FXuint> chainLengths;  // per placeList entry: EPTBs of its chain
  FXint new_ext_pos = -1;
  bool pending = false;
  FXulong chainEnd = 0;  // the sector past the highest logical partition
  FXuint chainLength = 0;
  const NewPart* last = nullptr;

  auto closeChain = [&]() {
    FXulong size = chainEnd - last->start;
    PartitionEntry E = newEntry(EXTENDED, last->start, size);
    setCHS(E, last->start, size, H, S);
    RECOVER_CHECK(new_ext_pos == -1, "new_ext_pos == -1");
    new_ext_pos = (FXint)placeList.size();
    if (RECOVER_CHECK(fitsTable(last->start, size), "extended entry fits the table")) {
      placeList.push_back(E);
      chainLengths.push_back(chainLength);
    }
    FixExtendedChain(device, last->start);
    pending = false;
  };

  for (const NewPart& p : newparts) {
    KV_TRACE(8, "Recover::RecoverOne partition to recover [%.0lf,%d]\n", (double)p.start,
             p.logical);
    if (p.logical) {
      KV_TRACE(8, "Recover::RecoverOne partition is extended, fixing\n");
      if (!pending) {
        // This EPTB ends the chain.
        if (!FixExtended(device, p.start, H, S, 0, 0)) continue;
        pending = true;
        chainEnd = p.start + p.entry.dist + p.entry.num;
        chainLength = 1;
      } else {
        // This EPTB links to the one above it; the link covers that table's
        // logical partition from the table on.
        FXulong size = (FXulong)last->entry.dist + last->entry.num;
        if (!FixExtended(device, p.start, H, S, last->start, size)) continue;
        chainLength++;
      }
      last = &p;
    } else {
      KV_TRACE(8, "Recover::RecoverOne partition is filesystem\n");
      if (pending) {
        KV_TRACE(8, "Recover::RecoverOne extended already defined, pushing them first\n");
        closeChain();
      }
      KV_TRACE(8, "Recover::RecoverOne pushing partition information\n");
      placeList.push_back(p.entry);
      chainLengths.push_back(0);
    }
  }
  if (pending) {
    KV_TRACE(8, "Recover::RecoverOne extended still defined!, pushing\n");
    closeChain();
  }

  // The lowest partitions first.
  for (FXint k = (FXint)placeList.size() - 1; k >= 0; k--)
    PlaceEntry(device, MBR, placeList[k], H, S, chainLengths[k]);

  if (writeBootCode && MBR[0] != 0xEB && MBR[0] != 0xFA && MBR[0] != 0x33)
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
  if (!used.empty() || writeBootCode) {
    MBR[SIGNATURE_OFFSET] = 0x55;
    MBR[SIGNATURE_OFFSET + 1] = 0xAA;
  }
  return true;
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
    if (!overlaps(X, P)) continue;
    const PartitionEntry* pr = &X;
    // Only an extended partition's first sector is an EPTB.
    if (!RECOVER_CHECK(CheckExtended( pr->type ), "CheckExtended( pr->type )")) return false;
    if (extendedSlot < 0) extendedSlot = slot;
  }
  if (extendedSlot >= 0) {
    PartitionEntry X = PartitionEntry::fromTable(MBR, extendedSlot);
    if (isExtendedType(P.type)) return AppendChain(device, X, P, chainLength);
    return InsertLogical(device, X, P, H, S);
  }
  if (!RECOVER_CHECK(freeSlot >= 0, "free MBR slot")) return false;
  P.toTable(MBR, freeSlot);
  return true;
}

// A chain of found EPTBs that lies inside the disk's extended partition
// becomes the continuation of its chain.  Its links counted from its own
// first EPTB; in the existing chain they count from the extended partition's
// start, and are rebased before the chain is linked in.
bool Recover::AppendChain(const FXString& device, const PartitionEntry& extended, PartitionEntry P,
                          FXuint chainLength) {
  FXulong E0 = extended.dist, extendedEnd = E0 + extended.num;
  FXulong n0 = P.dist;
  if (!RECOVER_CHECK(n0 > E0 && n0 + P.num <= extendedEnd, "found chain inside the extended partition"))
    return false;

  FXuchar T[SECTOR_SIZE];
  FXulong cur = E0;
  for (int depth = 0;; depth++) {
    if (!RECOVER_CHECK(depth < MAX_CHAIN_DEPTH && readTable(device, cur, T), "ReadBR( EPTB )"))
      return false;
    PartitionEntry link = PartitionEntry::fromTable(T, 1);
    if (link.type == 0) break;
    if (!RECOVER_CHECK(isExtendedType(link.type), "EPTB slot 1 is a link")) return false;
    FXulong next = E0 + link.dist;
    if (!RECOVER_CHECK(next != cur, "EPTB links to itself")) return false;
    cur = next;
  }
  PartitionEntry slot0 = PartitionEntry::fromTable(T, 0);
  if (!RECOVER_CHECK(n0 > cur && n0 >= logicalEnd(cur, slot0), "found chain behind the last EPTB"))
    return false;

  FXuchar C[SECTOR_SIZE];
  FXulong at = n0;
  for (FXuint i = 0; i < chainLength && readTable(device, at, C); i++) {
    PartitionEntry link = PartitionEntry::fromTable(C, 1);
    if (!isExtendedType(link.type)) break;
    FXulong next = n0 + link.dist;
    link.dist = (FXuint)(next - E0);
    link.toTable(C, 1);
    writeTable(device, at, C);
    at = next;
  }

  // The link goes into the empty slot 1 of the last EPTB, where every reader
  // looks for it; the EPTB's logical partition stays in slot 0.
  P.boot = 0;
  P.dist = (FXuint)(n0 - E0);
  P.toTable(T, 1);
  return writeTable(device, cur, T);
}

// A file-system partition that lies inside the disk's extended partition
// becomes a logical partition of its chain, in front of the first EPTB that
// lies behind it.
bool Recover::InsertLogical(const FXString& device, const PartitionEntry& extended, PartitionEntry P,
                            FXint H, FXint S) {
  KV_TRACE(8, "Recover::RecoverOne filesystem partition overlaps extended\n");
  FXulong E0 = extended.dist, extendedEnd = E0 + extended.num;
  FXulong n0 = P.dist, n1 = n0 + P.num - 1;
  if (!RECOVER_CHECK(n0 > E0 && n1 < extendedEnd, "partition inside the extended partition"))
    return false;

  FXuchar T[SECTOR_SIZE];
  FXulong cur = 0;
  for (int depth = 0;; depth++) {
    FXulong at = E0 + cur;
    if (!RECOVER_CHECK(depth < MAX_CHAIN_DEPTH && readTable(device, at, T), "ReadBR( EPTB )"))
      return false;
    PartitionEntry s0 = PartitionEntry::fromTable(T, 0), s1 = PartitionEntry::fromTable(T, 1);
    FXulong next = 0;
    enum { EMPTY, FIRST, LAST, CHAIN, ONWARD } how;
    if (s0.type == 0) {
      // An EPTB without a logical partition: use it, unless the chain goes
      // on to a table that still lies in front of the partition.
      how = isExtendedType(s1.type) && E0 + s1.dist <= n0 ? ONWARD : EMPTY;
      next = E0 + s1.dist;
    } else if (s1.type == 0) {
      if (isExtendedType(s0.type)) {
        next = E0 + s0.dist;
        how = next > n0 ? FIRST : ONWARD;
      } else {
        how = LAST;
      }
    } else {
      if (!RECOVER_CHECK(isExtendedType(s1.type), "EPTB slot 1 is a link")) return false;
      next = E0 + s1.dist;
      how = next > n0 ? CHAIN : ONWARD;
    }
    if (how == ONWARD) {
      if (!RECOVER_CHECK(next != at, "EPTB links to itself")) return false;
      cur = next - E0;
      continue;
    }

    PartitionEntry e = P;
    if (how == EMPTY) {
      KV_TRACE(8, "Recover::RecoverOne inserting into empty\n");
      bool linked = isExtendedType(s1.type);
      if (!RECOVER_CHECK(n0 > at && (!linked || n1 < next), "room in the empty EPTB")) return false;
      e.dist = (FXuint)(n0 - at);
      setCHS(e, n0, e.num, H, S);
      e.toTable(T, 0);
      return writeTable(device, at, T);
    }
    if (how == FIRST) {
      KV_TRACE(8, "Recover::RecoverOne inserting into first\n");
      if (!RECOVER_CHECK(n0 > at && n1 < next, "room in front of the next EPTB")) return false;
      PartitionEntry link = s0;
      setCHS(link, E0 + link.dist, link.num, H, S);
      link.toTable(T, 1);
      e.dist = (FXuint)(n0 - at);
      setCHS(e, n0, e.num, H, S);
      e.toTable(T, 0);
      return writeTable(device, at, T);
    }

    // A new EPTB in front of the partition: behind this table and its
    // logical partition, and, inside a chain, with the partition ending in
    // front of the next table.
    FXulong q = placeForNewTable(n0, at, logicalEnd(at, s0), S);
    if (!RECOVER_CHECK(q != 0, "room for a new EPTB")) return false;
    FXuchar N[SECTOR_SIZE];
    if (how == LAST) {
      KV_TRACE(8, "Recover::RecoverOne inserting into last\n");
      memset(N, 0, sizeof(N));
    } else {
      KV_TRACE(8, "Recover::RecoverOne inserting into chain\n");
      if (!RECOVER_CHECK(n1 < next, "room in front of the next EPTB")) return false;
      // N takes over this table's link to the next one.
      memcpy(N, T, sizeof(N));
      memset(N + TABLE_OFFSET + 32, 0, 32);
      PartitionEntry link = PartitionEntry::fromTable(N, 1);
      setCHS(link, E0 + link.dist, link.num, H, S);
      link.toTable(N, 1);
    }
    e.dist = (FXuint)(n0 - q);
    setCHS(e, n0, e.num, H, S);
    e.toTable(N, 0);
    // The new table is written before anything points at it.
    if (!writeTable(device, q, N)) return false;

    PartitionEntry link = s1;
    if (how == LAST) {
      link = newEntry(EXTENDED, q - E0, n0 - q + e.num);
      link.boot = s1.boot;
    } else {
      link.num = (FXuint)(link.num + (next - q));
      link.dist = (FXuint)(q - E0);
      setCHS(s0, at + s0.dist, s0.num, H, S);
      s0.toTable(T, 0);
    }
    setCHS(link, E0 + link.dist, link.num, H, S);
    link.toTable(T, 1);
    return writeTable(device, at, T);
  }
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
  if (!RECOVER_CHECK(readTable(device, distance, T), "ReadBR( EPTB )")) return false;
  memset(T + TABLE_OFFSET + 16, 0, 3 * 16);  // slot 0, the logical partition, stays
  if (inc_dist != 0) {
    KV_TRACE(8, "Recover::FixExtended( including dist=%.0lf, size=%.0lf )\n", (double)inc_dist,
             (double)inc_size);
    // Counts from this EPTB until FixExtendedChain rebases it.
    PartitionEntry link = newEntry(EXTENDED, inc_dist - distance, inc_size);
    setCHS(link, inc_dist, inc_size, H, S);
    link.toTable(T, 1);
  }
  return writeTable(device, distance, T);
}

bool Recover::FixExtendedChain(const FXString& device, FXulong first) {
  KV_TRACE(7, "Recover::FixExtendedChain( device = %s, first = %.0lf )\n", device.text(),
           (double)first);
  FXuchar T[SECTOR_SIZE];
  if (!readTable(device, first, T)) return true;
  PartitionEntry link = PartitionEntry::fromTable(T, 1);
  if (link.type != EXTENDED) return true;
  KV_TRACE(8, "Recover::FixExtendedChain root is extended to sector %.0lf\n", (double)link.dist);
  FXulong cur = first + link.dist;
  if (!readTable(device, cur, T)) return true;
  KV_TRACE(8, "Recover::FixExtendedChain read at sector %.0lf\n", (double)cur);
  // The chain was built upward from `first`: each link leads higher, and it
  // is no longer than the disk has EPTBs to find.
  const int MAX_FOUND_CHAIN = 4096;
  link = PartitionEntry::fromTable(T, 1);
  for (int n = 0; n < MAX_FOUND_CHAIN && link.type == EXTENDED && link.dist != 0;
       n++, link = PartitionEntry::fromTable(T, 1)) {
    FXulong d = link.dist;
    FXulong rebased = d + cur - first;
    KV_TRACE(8, "Recover::FixExtendedChain old dist = %.0lf real_sector = %.0lf\n", (double)d,
             (double)rebased);
    FXulong next = cur + d;
    KV_TRACE(8, "Recover::FixExtendedChain next sector = %.0lf\n", (double)next);
    link.dist = (FXuint)rebased;
    link.toTable(T, 1);
    writeTable(device, cur, T);
    if (!readTable(device, next, T)) break;
    cur = next;
  }
  return true;
}

void Recover::SetActive() {
  for (size_t i = 0; i < activeStarts.size() && i < devices.size(); i++) {
    if (activeStarts[i].empty()) continue;
    FXulong chosen = activeStarts[i][0];
    FXuchar MBR[SECTOR_SIZE];
    if (!RECOVER_CHECK(readTable(devices[i], 0, MBR), "ReadBR( devices[i], MBR, 0, 512 )"))
      continue;
    int match = -1;
    for (int slot = 0; slot < 4 && match < 0; slot++) {
      PartitionEntry e = PartitionEntry::fromTable(MBR, slot);
      if (e.type != 0 && (chosen >> 32) == 0 && e.dist == chosen) match = slot;
    }
    // When the chosen partition is not in the table, the disk keeps the
    // active partition it has rather than losing it.
    if (!RECOVER_CHECK(match >= 0, "active partition in the MBR")) continue;
    for (int slot = 0; slot < 4; slot++) MBR[TABLE_OFFSET + 16 * slot] = slot == match ? 0x80 : 0x00;
    writeTable(devices[i], 0, MBR);
  }
}
