// The lost-partition search: a first pass collects the sectors of a stretch
// that end with the boot signature 0x55 0xAA, a second pass keeps those that
// hold a recognisable file-system boot record.

#include "Analyse.h"
#include "FileSystem.h"
#include "IOSystem.h"
#include "compat/Assert.h"

namespace {

// Of a stretch's share of the progress bar, the first pass covers 70 parts
// and the second 30.
const FXulong FIRST_PASS_PARTS = 70;
const FXulong SECOND_PASS_PARTS = 30;

FXulong atLeastOne(FXulong v) { return v ? v : 1; }

FXulong mulDiv(FXulong a, FXulong b, FXulong c) {
  return (FXulong)((unsigned __int128)a * b / c);
}

// Moves the bar through one pass: `share` units spread evenly over `steps`
// probes, reported every `granularity` probes.  A report skipped while the
// bar stands at 100 is carried into the next one, and finish() sends what
// is left, so a pass adds exactly its share.
class PassProgress {
public:
  PassProgress(SearchProgress* bar, FXulong share, FXulong steps, FXulong granularity)
      : bar(bar), share(share), steps(atLeastOne(steps)), granularity(atLeastOne(granularity)) {}

  // One probe is done.
  void step() {
    done++;
    if (++counter < granularity) return;
    counter = 0;
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

// The probe positions of a quick search of [start, end): the start itself and
// every multiple of Q after it.
FXulong quickPositions(FXulong start, FXulong end, FXulong Q) {
  return start < end ? 1 + (end - 1) / Q - start / Q : 0;
}

// The first pass: collects the sectors of a stretch that end with the boot
// signature.
class SignatureScan {
public:
  SignatureScan(const NRD& disk, volatile bool& stop, PassProgress& progress)
      : disk(disk), stop(stop), progress(progress) {}

  // Both return false when the disk cannot be opened again after a read
  // error; what was found up to there is kept.

  // Every sector of [start, end).  The signatures are looked up where the
  // read-ahead holds them; each block is fetched by reading its first sector.
  bool full(FXulong start, FXulong end) {
    for (FXulong pos = start; pos < end && !stop; pos++) {
      FXuchar buffer[SECTOR_SIZE];
      const FXuchar* sector = cached(pos);
      if (!sector) {
        if (!IOSystem::Read(pos, buffer, SECTOR_SIZE)) {
          if (!reopen(pos)) return false;
          continue;  // an unreadable sector is skipped and not counted
        }
        sector = buffer;  // the read-ahead holds the following ones
      }
      if (hasBootSignature(sector)) found.push_back(pos);
      progress.step();
    }
    return true;
  }

  // The start of [start, end) and every cylinder boundary in it, each with
  // the sector one track further on: where a partition or its table starts
  // on a cylinder-aligned disk.
  bool quick(FXulong start, FXulong end, FXulong Q, FXulong spt) {
    for (FXulong pos = start; pos < end && !stop;) {
      Probe p = probe(pos, pos);
      if (p == READ && pos + spt < end) {
        // On an unaligned start, one track into the cylinder that holds it.
        FXulong s2 = pos == start && start % Q != 0 ? start - start % Q + spt : pos + spt;
        if (s2 != pos) p = probe(s2, pos + spt);
      }
      if (p == LOST) return false;
      if (p == READ) progress.step();  // an unreadable probe is not counted
      pos += Q - pos % Q;
      if (pos < Q) break;  // wrapped past the last sector number
    }
    return true;
  }

  std::vector<FXulong> found;

private:
  enum Probe { READ, SKIPPED, LOST };

  // The sector as the read-ahead holds it, or null when it does not.
  static const FXuchar* cached(FXulong sector) {
    FXulong ofs = sector * SECTOR_SIZE;
    if (!IOSystem::cache || ofs < IOSystem::cacheStart ||
        ofs - IOSystem::cacheStart + SECTOR_SIZE > IOSystem::cacheBytes)
      return nullptr;
    return IOSystem::cache + (ofs - IOSystem::cacheStart);
  }

  Probe probe(FXulong sector, FXulong named) {
    FXuchar buffer[SECTOR_SIZE];
    if (IOSystem::Read(sector, buffer, SECTOR_SIZE)) {
      if (hasBootSignature(buffer)) found.push_back(sector);
      return READ;
    }
    return reopen(named) ? SKIPPED : LOST;
  }

  // After a read error the disk is opened afresh.
  bool reopen(FXulong named) {
    KV_TRACE(8, "Analyse::Search IO error (sector = %.0lf, size = 512)\n", (double)named);
    IOSystem::CloseRead();
    return IOSystem::PrepareRead(disk.device, disk.sectors);
  }

  const NRD& disk;
  volatile bool& stop;
  PassProgress& progress;
};

}  // namespace

bool Analyse::CheckOne(FXulong sector, SearchText* text) {
  FXuchar BR[FileSystem::BR_SIZE];
  if (!IOSystem::Read(sector, BR, sizeof(BR))) {
    KV_TRACE(8, "Analyse::CheckOne IO error\n");
    return false;
  }
  FXint code = FileSystem::CheckFS(BR, sector, nullptr);
  if (code == FileSystem::UNKNOWN) return false;
  const FXchar* name = FileSystem::GetName(code);
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
  if (!IOSystem::PrepareRead(d.device, d.sectors)) {
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
  FXulong positions = quick ? quickPositions(start_sec, end, Q) : (start_sec < end ? end - start_sec : 0);
  PassProgress first(progress, firstShare, positions, step1);
  stopSearch = false;

  SignatureScan scan(d, stopSearch, first);
  if (!(quick ? scan.quick(start_sec, end, Q, spt) : scan.full(start_sec, end))) {
    KV_TRACE(8, "Analyse::Search IO error opening device\n");
    progress->post(1, 100);
    return scan.found;
  }
  first.finish();

  const std::vector<FXulong>& found = scan.found;
  FXulong n = found.size();
  KV_TRACE(8, "Analyse::Search first pass found %u valid boot signatures\n", (FXuint)n);
  if (text) {
    text->appendText(Format("Analyse.CheckOne.010", (FXuint)n));
    if (n) text->appendText(GetString("Analyse.CheckOne.011"));
  }

  FXulong step2 = atLeastOne(B / SECOND_PASS_PARTS / perArea / atLeastOne(n));
  KV_TRACE(8, "Analyse::Search second pass procent is %d\n", (FXint)step2);
  PassProgress second(progress, secondShare, n, step2);
  for (FXulong s : found) {
    if (CheckOne(s, text)) result.push_back(s);
    second.step();
  }
  second.finish();

  IOSystem::CloseRead();
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
