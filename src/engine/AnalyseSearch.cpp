// The lost-partition search.  A first pass reads the stretch, every sector
// in a full search, the places where partitions begin in a quick one, and
// hands what it reads to the file-system recognisers; it also notes the
// sectors that look like an extended partition table block (EPTB).  A second
// pass makes one result of each volume, however many of its structures were
// met, and keeps the EPTBs that lead to a volume the recognisers confirm:
// that volume is then reported through its table, as a logical partition.
#include <algorithm>
#include <set>

#include "Analyse.h"
#include "FileSystem.h"
#include "ReadContext.h"
#include "compat/Assert.h"
#include "recognise/Scan.h"

namespace {

// Of a stretch's share of the progress bar, the first pass covers 70 parts
// and the second 30.
const FXulong FIRST_PASS_PARTS = 70;
const FXulong SECOND_PASS_PARTS = 30;

// Partitions made in the last fifteen years begin on 1 MiB boundaries.
const FXulong MIB_SECTORS = 2048;
const FXuint SCAN_BLOCK_SECTORS = 256;  // 128 KiB

FXulong atLeastOne(FXulong v) { return v ? v : 1; }

FXulong mulDiv(FXulong a, FXulong b, FXulong c) {
  return (FXulong)((unsigned __int128)a * b / c);
}

// The first multiple of `m` at or after `x`; the last sector number when
// there is none.
FXulong roundUp(FXulong x, FXulong m) {
  FXulong r = x % m;
  if (r == 0) return x;
  return x > ~(FXulong)0 - (m - r) ? ~(FXulong)0 : x + (m - r);
}

// Whether a sector is an EPTB that lists a partition: the signature, boot
// flags that are flags, a first slot holding a partition that starts
// behind the table, a second slot empty or linking on, and nothing after.
bool looksLikeTable(const FXuchar* sector) {
  if (sector[SIGNATURE_OFFSET] != 0x55 || sector[SIGNATURE_OFFSET + 1] != 0xAA) return false;
  for (int k = 0; k < 4; k++) {
    FXuchar boot = sector[TABLE_OFFSET + 16 * k];
    if (boot != 0 && boot != 0x80) return false;
  }
  PartitionEntry logical = PartitionEntry::fromTable(sector, 0);
  PartitionEntry link = PartitionEntry::fromTable(sector, 1);
  if (logical.type == 0 || isExtendedType(logical.type) || !PartitionTypeName(logical.type) ||
      logical.dist == 0 || logical.num == 0)
    return false;
  if (link.type != 0 && !isExtendedType(link.type)) return false;
  for (FXuint b = TABLE_OFFSET + 32; b < SIGNATURE_OFFSET; b++)
    if (sector[b] != 0) return false;
  return true;
}

// Moves the bar through one pass: `share` units spread evenly over `steps`
// probes, reported every `granularity` probes.  A report skipped while the
// bar stands at 100 is carried into the next one, and finish() sends what
// is left, so a pass adds exactly its share.
class PassProgress {
public:
  PassProgress(SearchProgress* bar, FXulong share, FXulong steps, FXulong granularity)
      : bar(bar), share(share), steps(atLeastOne(steps)), granularity(atLeastOne(granularity)) {}

  // `n` probes are done.
  void step(FXulong n = 1) {
    done += n;
    counter += n;
    if (counter < granularity) return;
    counter %= granularity;
    if (bar->getProgress() != 100) send(mulDiv(share, done < steps ? done : steps, steps));
  }
  void finish() { send(share); }

private:
  void send(FXulong upTo) {
    if (upTo <= sent) return;
    bar->post(2, upTo - sent);
    sent = upTo;
  }

  SearchProgress* bar;
  FXulong share, steps, granularity;
  FXulong done = 0, counter = 0, sent = 0;
};

// Where a quick search probes: the stretch's start, every cylinder boundary
// and the sector one track into it, every 1 MiB boundary, and right behind
// every volume found (its end rounded up to a track and to 1 MiB).
class ProbePlan {
public:
  ProbePlan(FXulong Q, FXulong spt) : Q(Q), spt(spt) {}

  // The first probe position at or after `x`.
  FXulong next(FXulong x) const {
    FXulong p = std::min(roundUp(x, Q), roundUp(x, MIB_SECTORS));
    if (spt > 0) p = std::min(p, x <= spt ? spt : roundUp(x - spt, Q) + spt);
    auto behind = after.lower_bound(x);
    return behind != after.end() ? std::min(p, *behind) : p;
  }
  void behindVolume(FXulong end) {
    if (spt > 0) after.insert(roundUp(end, spt));
    after.insert(roundUp(end, MIB_SECTORS));
  }

private:
  FXulong Q, spt;
  std::set<FXulong> after;
};

// How many probes a quick search of [start, end) makes on an empty disk.
FXulong quickPositions(FXulong start, FXulong end, FXulong Q, FXulong spt) {
  if (start >= end) return 0;
  FXulong n = 1 + (end - 1) / Q - start / Q + (end - 1) / MIB_SECTORS - start / MIB_SECTORS;
  return spt > 0 ? n + (end - 1) / Q - start / Q : n;
}

// The first pass: the volumes the recognisers accept, copies included, and
// the sectors that look like an EPTB.
class VolumeScan {
public:
  VolumeScan(ReadContext& context, volatile bool& stop, PassProgress& progress)
      : context(context), stop(stop), progress(progress) {}

  // Both return false when the disk cannot be opened again after a read
  // error; what was found up to there is kept.

  // Every sector of [start, end), read in blocks of 128 KiB.
  bool full(FXulong start, FXulong end) {
    std::vector<FXuchar> block(SCAN_BLOCK_SECTORS * SECTOR_SIZE);
    for (FXulong pos = start; pos < end && !stop;) {
      FXuint n = (FXuint)std::min<FXulong>(SCAN_BLOCK_SECTORS, end - pos);
      if (context.reader().readBlock(pos, block.data(), n * SECTOR_SIZE)) {
        examine(block.data(), pos, n);
        progress.step(n);
      } else if (!sectorBySector(pos, n, block.data())) {
        return false;
      }
      pos += n;
    }
    return true;
  }

  // The probe positions of the plan in [start, end), never inside a volume
  // already found.
  bool quick(FXulong start, FXulong end, FXulong Q, FXulong spt) {
    ProbePlan plan(Q, spt);
    FXulong skipTo = 0;  // the end of the volumes found so far that cover what comes next
    // On an unaligned start, also one track into the cylinder that holds it.
    FXulong first = start % Q != 0 && spt > 0 && start - start % Q + spt < end ? start - start % Q + spt : start;
    if (first != start && !probe(first, plan, skipTo)) return false;
    for (FXulong pos = start; pos < end && !stop;) {
      if (!probe(pos, plan, skipTo)) return false;
      if (pos == ~(FXulong)0) break;
      pos = plan.next(std::max(pos + 1, skipTo));
    }
    return true;
  }

  std::vector<FoundVolume> volumes;
  std::vector<FXulong> tables;

private:
  void examine(const FXuchar* sectors, FXulong first, FXuint count) {
    scanSectors(sectors, first, count, context.reader(), volumes);
    for (FXuint i = 0; i < count; i++)
      if (looksLikeTable(sectors + (size_t)i * SECTOR_SIZE)) tables.push_back(first + i);
  }

  // A block that could not be read as one: its sectors one at a time, an
  // unreadable one skipped and not counted.
  bool sectorBySector(FXulong pos, FXuint n, FXuchar* sector) {
    for (FXuint i = 0; i < n; i++) {
      if (!context.reader().read(pos + i, sector, SECTOR_SIZE)) {
        if (!reopen(pos + i)) return false;
        continue;
      }
      examine(sector, pos + i, 1);
      progress.step();
    }
    return true;
  }

  // Reads the probe position once for every recogniser.  Of the volumes its
  // first structures show, those that begin here count, and those a copy
  // shows wherever they begin; a table close by (one sector before, where
  // sfdisk puts a logical partition's) is noted too.
  bool probe(FXulong pos, ProbePlan& plan, FXulong& skipTo) {
    std::vector<FoundVolume> hits;
    auto noteTable = [this](const FXuchar* sector, FXulong number) {
      if (looksLikeTable(sector)) tables.push_back(number);
    };
    if (!scanHead(context.reader(), pos, hits, noteTable)) return reopen(pos);
    for (const FoundVolume& v : hits) {
      if (v.start != pos && !v.isCopy()) continue;
      volumes.push_back(v);
      plan.behindVolume(v.start + v.sectors);
      if (v.start <= pos) skipTo = std::max(skipTo, v.start + v.sectors);
    }
    progress.step();
    return true;
  }

  // After a read error the disk is opened afresh.
  bool reopen(FXulong named) {
    KV_TRACE(8, "Analyse::Search IO error (sector = %.0lf, size = 512)\n", (double)named);
    return context.reopen();
  }

  ReadContext& context;
  volatile bool& stop;
  PassProgress& progress;
};

// One entry per volume: copies of a structure, and structures met twice,
// name a volume already listed.  A primary structure stands for the volume
// rather than a copy.
void addVolume(std::vector<FoundVolume>& list, const FoundVolume& v) {
  for (FoundVolume& known : list) {
    if (!known.sameVolume(v)) continue;
    if (known.isCopy() && !v.isCopy()) known = v;
    return;
  }
  list.push_back(v);
}

// A table inside an extended partition the disk lists belongs to that
// partition's chain, which the writer extends by the volume's own start.
bool insideListedExtended(const NRD& d, FXulong sector) {
  for (const Partition& p : d.partitions)
    if (p.isExtended() && p.range().contains(sector)) return true;
  return false;
}

const FoundVolume* volumeAt(const std::vector<FoundVolume>& list, FXulong start) {
  for (const FoundVolume& v : list)
    if (v.start == start) return &v;
  return nullptr;
}

}  // namespace

const FoundVolume* Analyse::RecognisedAt(FXint disk, SectorReader& reader, FXulong sector) {
  std::vector<FoundVolume>& known = recognised[disk];
  if (const FoundVolume* v = volumeAt(known, sector)) return v;
  for (const FoundVolume& v : volumesStartingAt(reader, sector)) addVolume(known, v);
  return volumeAt(known, sector);
}

bool Analyse::CheckOne(SectorReader& reader, FXulong sector, SearchText* text) {
  std::vector<FoundVolume> found = volumesStartingAt(reader, sector);
  if (found.empty()) return false;
  const FXchar* name = volumeKindName(found.front().kind);
  KV_TRACE(8, "Analyse::CheckOne this is valid %s boot sector\n", name);
  if (text) text->appendText(Format("Analyse.CheckOne.001", name, (double)sector));
  return true;
}

// The caller hands over a stretch as its first and its last sector
// (`end_sec`); probes stay below `end_sec`.  The bar's total B is the sum of
// the stretches' shares: a stretch of n sectors counts n in a full search
// and n / Q + 1 in a quick one.  This stretch adds exactly its share.
std::vector<FXulong> Analyse::Search(SearchProgress* progress, SearchText* text, FXint disk,
                                     bool quick, FXulong start_sec, FXulong end_sec,
                                     FXint areas) {
  KV_TRACE(7, "Analyse::Search( disk=%d, quick=%d, start_sec=%.0lf end_sec=%.0lf )\n", disk,
           quick ? 1 : 0, (double)start_sec, (double)end_sec);
  std::vector<FXulong> result;
  if (disk < 0 || disk + 1 > (FXint)disks.size()) {
    KV_TRACE(8, "Analyse::Search disk out of range\n");
    progress->post(1, 100);
    return result;
  }
  const NRD& d = disks[disk];
  ReadContext context(d.device, d.sectors);
  if (!context.isOpen()) {
    KV_TRACE(8, "Analyse::Search IO error opening device\n");
    progress->post(1, 100);
    return result;
  }
  if (text) text->appendText(GetString("Analyse.CheckOne.009"));

  const FXulong Q = atLeastOne(d.qoffset);
  const FXulong spt = d.physical.sectors > 0 ? (FXulong)d.physical.sectors : 0;
  const FXulong B = progress->getTotal();
  const FXulong perArea = areas > 0 ? (FXulong)areas : 1;
  // A stretch of no sectors comes as its start and the sector before it.
  const FXulong stretch = end_sec + 1 - start_sec;
  // Probes never leave the disk, whatever the caller passes.
  const FXulong end = stretch == 0 ? start_sec : end_sec < d.sectors ? end_sec : d.sectors;

  const FXulong share = quick ? stretch / Q + 1 : stretch;
  const FXulong secondShare = share / 10 * 3 + share % 10 * 3 / 10;
  const FXulong firstShare = share - secondShare;

  FXulong step1 = atLeastOne(B / FIRST_PASS_PARTS / perArea);
  KV_TRACE(8, "Analyse::Search first pass procent is %d\n", (FXint)step1);
  FXulong positions = quick ? quickPositions(start_sec, end, Q, spt) : (start_sec < end ? end - start_sec : 0);
  PassProgress first(progress, firstShare, positions, step1);
  stopSearch = false;

  VolumeScan scan(context, stopSearch, first);
  if (!(quick ? scan.quick(start_sec, end, Q, spt) : scan.full(start_sec, end))) {
    KV_TRACE(8, "Analyse::Search IO error opening device\n");
    progress->post(1, 100);
    return result;
  }
  first.finish();

  FXulong n = scan.volumes.size() + scan.tables.size();
  KV_TRACE(8, "Analyse::Search first pass found %u valid boot signatures\n", (FXuint)n);
  if (text) {
    text->appendText(Format("Analyse.CheckOne.010", (FXuint)n));
    if (n) text->appendText(GetString("Analyse.CheckOne.011"));
  }

  FXulong step2 = atLeastOne(B / SECOND_PASS_PARTS / perArea / atLeastOne(n));
  KV_TRACE(8, "Analyse::Search second pass procent is %d\n", (FXint)step2);
  PassProgress second(progress, secondShare, n, step2);
  std::vector<FoundVolume> volumes;
  for (const FoundVolume& v : scan.volumes) {
    addVolume(volumes, v);
    addVolume(recognised[disk], v);
    second.step();
  }
  // A volume listed by a table in free space is reported as that table's
  // logical partition.
  std::set<FXulong> listed;
  for (FXulong t : scan.tables) {
    second.step();
    if (insideListedExtended(d, t)) continue;
    FXuchar sector[SECTOR_SIZE];
    if (!context.reader().read(t, sector, SECTOR_SIZE)) continue;
    PartitionEntry e = PartitionEntry::fromTable(sector, 0);
    const FoundVolume* v = RecognisedAt(disk, context.reader(), t + e.dist);
    if (!v || v->sectors > e.num || listed.count(v->start)) continue;
    KV_TRACE(8, "Analyse::Search table at %.0lf lists the %s volume at %.0lf\n", (double)t,
             volumeKindName(v->kind), (double)v->start);
    listed.insert(v->start);
    result.push_back(t);
  }
  for (const FoundVolume& v : volumes) {
    if (listed.count(v.start)) continue;
    KV_TRACE(8, "Analyse::Search %s volume at %.0lf, %.0lf sectors, found by its %s at %.0lf\n",
             volumeKindName(v.kind), (double)v.start, (double)v.sectors, foundByName(v.foundBy), (double)v.at);
    if (text) text->appendText(Format("Analyse.CheckOne.001", volumeKindName(v.kind), (double)v.start));
    result.push_back(v.start);
  }
  second.finish();
  std::sort(result.begin(), result.end());
  result.erase(std::unique(result.begin(), result.end()), result.end());
  return result;
}

std::vector<FXulong> Analyse::SearchQuick(SearchProgress* progress, SearchText* text, FXint disk,
                                          FXulong start_sec, FXulong end_sec, FXint areas) {
  return sharedAnalyser->Search(progress, text, disk, true, start_sec, end_sec, areas);
}

std::vector<FXulong> Analyse::SearchFull(SearchProgress* progress, SearchText* text, FXint disk,
                                         FXulong start_sec, FXulong end_sec, FXint areas) {
  return sharedAnalyser->Search(progress, text, disk, false, start_sec, end_sec, areas);
}
