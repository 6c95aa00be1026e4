// Found partitions as the user chooses among them.
#include "Candidates.h"

#include "Analyse.h"
#include "FileSystem.h"
#include "compat/Assert.h"

Candidate::Candidate(FXint disk, FXulong foundAt, FXint slot, const FoundPartition& p,
                     FXchar letter)
    : disk(disk), foundAt(foundAt), slot(slot), partition(p), letter(letter) {}

FXString Candidate::typeName() const {
  const FXchar* name = PartitionTypeName(partition.type);
  return name ? FXString(name) : FXString::null;
}

bool Candidate::overlaps(const Candidate& o) const {
  return disk == o.disk && range().overlaps(o.range());
}

RecoverPart Candidate::toRecoverPart(const Analyse& analyser) const {
  const NRD& d = analyser.disks[disk];
  RecoverPart r;
  r.device = d.device;
  r.sector = foundAt;
  r.first = start();
  r.size = bytes();
  r.logical = logical();
  r.heads = d.logical.heads;
  r.sectorsPerTrack = d.logical.sectors;
  r.letter = letter >= 'A' ? letter : ' ';
  r.role = role;
  r.efiSystem = efiSystem;
  // The writer of an MBR takes a logical partition's type from its own
  // table; a GPT takes it from here.
  r.type = type();
  return r;
}

VolumeSpan Candidate::toFoundVolume(const Analyse& analyser) const {
  return VolumeSpan{analyser.disks[disk].device, range()};
}

std::vector<VolumeSpan> FoundVolumes(const Analyse& analyser, const std::vector<Candidate>& found) {
  std::vector<VolumeSpan> volumes;
  for (const Candidate& c : found) volumes.push_back(c.toFoundVolume(analyser));
  return volumes;
}

CandidateFinder::CandidateFinder(Analyse& analyser) : analyser(analyser), lastLetter(0) {}

std::vector<Candidate> CandidateFinder::place(FXint disk, const std::vector<FXulong>& sectors) {
  KV_TRACE(7, "CandidateFinder::place( disk=%d sectors cnt=%u )\n", disk, (FXuint)sectors.size());
  std::vector<Candidate> result;
  if (disk < 0 || disk >= (FXint)analyser.disks.size()) return result;
  std::vector<Stretch> stretches = SearchableStretches(analyser);
  for (FXulong s : sectors) {
    if (!StretchContaining(stretches, disk, s)) {
      KV_TRACE(8, "CandidateFinder::place sector %.0lf lies in no gap\n", (double)s);
      continue;
    }
    std::vector<FoundPartition> parts = analyser.GetValidPartitions(disk, s);
    FXint slot = 1;
    for (const FoundPartition& p : parts) {
      lastLetter = analyser.GetLastLetter(lastLetter);
      result.push_back(Candidate(disk, s, slot++, p, lastLetter));
      KV_TRACE(8, "CandidateFinder::place found at %.0lf: start %.0lf, %.0lf sectors, type %02x\n",
               (double)s, (double)p.start, (double)p.sectors, p.type);
    }
  }
  return result;
}

std::vector<Stretch> SearchableStretches(const Analyse& analyser) {
  std::vector<Stretch> result;
  for (FXint d = 0; d < (FXint)analyser.disks.size(); d++) {
    const NRD& disk = analyser.disks[d];
    FXint number = 0;
    for (const Gap& g : disk.gaps) {
      if (g.size == 0 || g.distance >= disk.sectors) continue;
      // A gap whose size wrapped (entries that overlap or run past the end)
      // must not send a search beyond the disk.
      FXulong end = g.size > disk.sectors - g.distance ? disk.sectors : g.distance + g.size;
      result.push_back(Stretch{d, ++number, g.distance, end});
    }
  }
  return result;
}

const Stretch* StretchContaining(const std::vector<Stretch>& stretches, FXint disk,
                                 FXulong sector) {
  for (const Stretch& s : stretches)
    if (s.disk == disk && s.range().contains(sector)) return &s;
  return nullptr;
}

FXulong SearchProgressTotal(const Analyse& analyser, const std::vector<Stretch>& chosen,
                            bool quick) {
  FXulong sum = 0;
  for (const Stretch& s : chosen) {
    FXulong perCylinder = analyser.disks[s.disk].qoffset;
    if (!quick) {
      sum += s.sectors();
    } else {
      // A disk without a logical geometry is probed like one sector per cylinder.
      sum += s.sectors() / (perCylinder ? perCylinder : 1) + 1;
    }
  }
  return sum;
}

FXString SizeText(FXulong bytes) {
  const double KB = 1024.0, MB = KB * 1024.0, GB = MB * 1024.0;
  FXString text;
  if (bytes > (FXulong)GB) {
    text.format("%.2lf GB", (double)bytes / GB);
  } else if (bytes > (FXulong)MB) {
    text.format("%.2lf MB", (double)bytes / MB);
  } else if (bytes > (FXulong)KB) {
    text.format("%.2lf kB", (double)bytes / KB);
  } else {
    text.format("%.0lf Bytes", (double)bytes);
  }
  return text;
}
