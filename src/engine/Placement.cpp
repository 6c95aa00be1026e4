#include "Placement.h"

#include <algorithm>
#include <numeric>

#include "ExtendedChain.h"

namespace {

// A logical partition at a 1 MiB boundary gets its table block 1 MiB in
// front, as partitioning tools of today lay it out; any other gets the track
// in front, as tools of the CHS era did.
const FXulong MIB_SECTORS = 2048;

// The 8 GB a CHS address reaches with 255 heads and 63 sectors: beyond it an
// extended partition is marked as addressed by LBA only.
const FXulong CONVENTIONAL_CHS_REACH = 1024ULL * CONVENTIONAL_HEADS * CONVENTIONAL_SECTORS;

std::vector<size_t> inDiskOrder(const std::vector<PlacementRequest>& chosen) {
  std::vector<size_t> order(chosen.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return chosen[a].volume.first < chosen[b].volume.first;
  });
  return order;
}

struct Planner {
  const DiskPicture& disk;
  const std::vector<PlacementRequest>& chosen;
  bool useHints;
  LayoutPlan plan;
  bool demoted = false;  // volumes that could have been primary were made logical

  // Tools of the CHS era start a primary partition at a cylinder boundary
  // (the first one a track in) and a logical one a track past the boundary,
  // behind its table block: a volume there with that track free was most
  // likely logical.
  bool looksLogical(const SectorRange& volume) const {
    FXulong track = (FXulong)disk.sectorsPerTrack;
    FXulong cylinder = track * (FXulong)disk.heads;
    return useHints && volume.first > cylinder && volume.first % cylinder == track &&
           firstFreeBefore(volume) <= volume.first - track;
  }

  bool refuse(const FXchar* key, FXulong at) {
    if (!plan.refusal) {
      plan.refusal = key;
      plan.refusedAt = at;
    }
    return false;
  }

  bool insideExisting(const PlacementRequest& r) const { return disk.extended.contains(r.volume); }

  // First pass: who must be logical, who must be primary, who may be either.
  bool assignRoles() {
    int explicitPrimaries = 0, autoPrimaries = 0;
    bool anyNewLogical = false;
    for (size_t i : inDiskOrder(chosen)) {
      const PlacementRequest& r = chosen[i];
      PlacedVolume v;
      v.request = i;
      if (insideExisting(r)) {
        if (r.role == PlacementRole::PRIMARY) return refuse("Placement.PlanLayout.001", r.volume.first);
        v.logical = true;
      } else if (r.role == PlacementRole::PRIMARY) {
        explicitPrimaries++;
      } else if (r.role == PlacementRole::LOGICAL ||
                 (r.role == PlacementRole::AUTO && disk.extended.empty() &&
                  (r.foundEptb || looksLogical(r.volume)))) {
        if (!disk.extended.empty()) return refuse("Placement.PlanLayout.002", r.volume.first);
        v.logical = true;
        anyNewLogical = true;
      } else {
        autoPrimaries++;
      }
      plan.volumes.push_back(v);
    }
    // Slots left for primaries once a new extended partition has its own.
    int slots = disk.freeSlots;
    if (explicitPrimaries + autoPrimaries + (anyNewLogical ? 1 : 0) <= slots) return true;
    if (!disk.extended.empty()) return refuse("Placement.PlanLayout.003", firstPrimaryBeyond(slots));
    int keep = slots - 1 - explicitPrimaries;
    if (keep < 0) return refuse("Placement.PlanLayout.003", firstPrimaryBeyond(slots));
    // The leading volumes stay primary, the rest go into the new chain.  A
    // volume behind one that must be logical goes there too: as a primary it
    // would split the chain.
    bool behindLogical = false;
    for (PlacedVolume& v : plan.volumes) {
      const PlacementRequest& r = chosen[v.request];
      behindLogical = behindLogical || v.logical;
      if (v.logical || r.role == PlacementRole::PRIMARY) continue;
      if (keep > 0 && !behindLogical) {
        keep--;
      } else {
        v.logical = true;
        demoted = true;
      }
    }
    return true;
  }

  // The first chosen primary that finds no slot, for the refusal's text.
  FXulong firstPrimaryBeyond(int slots) const {
    int used = 0;
    for (size_t i : inDiskOrder(chosen)) {
      if (insideExisting(chosen[i])) continue;
      if (++used > slots) return chosen[i].volume.first;
    }
    return chosen.empty() ? 0 : chosen[inDiskOrder(chosen).back()].volume.first;
  }

  // The first sector in front of `volume` that no partition, table block or
  // found volume takes; `volume.first` itself when there is none.
  FXulong firstFreeBefore(const SectorRange& volume) const {
    // The first track holds the MBR and the undo log.
    FXulong free = std::max<FXulong>(1, (FXulong)disk.sectorsPerTrack);
    auto pushPast = [&](const SectorRange& r) {
      if (r.first < volume.first && !(r.first == volume.first && r.end == volume.end))
        free = std::max(free, r.end);
    };
    for (const SectorRange& r : disk.taken) pushPast(r);
    for (const PlacedVolume& v : plan.volumes) {
      const SectorRange& other = chosen[v.request].volume;
      if (other.first < volume.first) free = std::max(free, other.end);
      if (v.eptb && v.eptb < volume.first) free = std::max(free, v.eptb + 1);
    }
    return free;
  }

  // Second pass: a table block for every logical, in disk order.
  bool placeTableBlocks() {
    for (PlacedVolume& v : plan.volumes) {
      if (!v.logical) continue;
      const PlacementRequest& r = chosen[v.request];
      if (r.foundEptb && !insideExisting(r)) {
        v.eptb = r.foundEptb;
        continue;
      }
      FXulong align = r.volume.first % MIB_SECTORS == 0 ? MIB_SECTORS : (FXulong)disk.sectorsPerTrack;
      FXulong conventional = r.volume.first > align ? r.volume.first - align : 0;
      FXulong eptb = std::max(firstFreeBefore(r.volume), conventional);
      if (insideExisting(r)) eptb = std::max(eptb, disk.extended.first + 1);
      if (eptb >= r.volume.first) return refuse("Placement.PlanLayout.004", r.volume.first);
      v.eptb = eptb;
      v.newEptb = true;
    }
    return true;
  }

  // The new extended partition spans the new logicals and must hold nothing
  // else that has an MBR entry.
  bool spanNewExtended() {
    if (!disk.extended.empty()) {
      plan.extended = disk.extended;
      return true;
    }
    SectorRange span;
    for (const PlacedVolume& v : plan.volumes) {
      if (!v.logical) continue;
      const SectorRange& volume = chosen[v.request].volume;
      FXulong first = std::min(v.eptb, volume.first);
      span = span.empty() ? SectorRange(first, volume.end)
                          : SectorRange(std::min(span.first, first), std::max(span.end, volume.end));
    }
    if (span.empty()) return true;
    for (const PlacedVolume& v : plan.volumes)
      if (!v.logical && span.overlaps(chosen[v.request].volume))
        return refuse("Placement.PlanLayout.005", chosen[v.request].volume.first);
    for (const SectorRange& p : disk.primaries)
      if (span.overlaps(p)) return refuse("Placement.PlanLayout.005", p.first);
    plan.newExtended = true;
    plan.extended = span;
    bool needsLba = span.end > ChsReach(disk) || disk.sectors > CONVENTIONAL_CHS_REACH;
    plan.extendedType = needsLba ? 0x0F : 0x05;
    return true;
  }
};

}  // namespace

LayoutPlan PlanOnDisk(const NRD& disk, const FXuchar* mbr, const std::vector<PlacementRequest>& chosen,
                      const std::vector<VolumeSpan>& found) {
  DiskPicture picture = PictureOf(disk, mbr, found);
  for (const PlacementRequest& r : chosen) picture.taken.push_back(r.volume);
  return PlanLayout(picture, chosen);
}

FXulong ChsReach(const DiskPicture& disk) {
  return 1024ULL * (FXulong)std::max(disk.heads, 1) * (FXulong)std::max(disk.sectorsPerTrack, 1);
}

LayoutPlan PlanLayout(const DiskPicture& disk, const std::vector<PlacementRequest>& chosen) {
  if (disk.sectorsPerTrack <= 0 || disk.heads <= 0) {
    LayoutPlan refused;
    refused.refusal = "Placement.PlanLayout.006";
    refused.refusedAt = chosen.empty() ? 0 : chosen.front().volume.first;
    return refused;
  }
  auto planWith = [&](bool useHints, bool* demoted) {
    Planner planner{disk, chosen, useHints, LayoutPlan()};
    if (planner.assignRoles() && planner.placeTableBlocks()) planner.spanNewExtended();
    if (demoted) *demoted = planner.demoted;
    return planner.plan;
  };
  // Volumes that fit the free slots become primaries.  When they do not,
  // the places of the volumes tell which were logical; where that layout
  // cannot be built, the plain rule's may still be.
  bool demoted = false;
  LayoutPlan plain = planWith(false, &demoted);
  if (plain.ok() && !demoted) return plain;
  LayoutPlan hinted = planWith(true, nullptr);
  return hinted.ok() ? hinted : plain;
}

DiskPicture PictureOf(const NRD& disk, const FXuchar* mbr, const std::vector<VolumeSpan>& found) {
  DiskPicture picture;
  picture.sectors = disk.sectors;
  picture.heads = disk.logical.heads;
  picture.sectorsPerTrack = disk.logical.sectors;
  // A slot counts as used by its type byte: the list of partitions leaves
  // out entries of types it has no name for, and those must not be written over.
  // An MBR that could not be read counts by the entries the disk lists.
  int used = 0, listed = 0;
  for (int slot = 0; slot < 4; slot++)
    if (PartitionEntry::fromTable(mbr, slot).type != 0) used++;
  for (const Partition& p : disk.partitions)
    if (p.l == 1) listed++;
  picture.freeSlots = 4 - std::max(used, listed);
  for (const Partition& p : disk.partitions) {
    bool link = p.isExtended();
    if (p.l == 1 && link && picture.extended.empty()) {
      picture.extended = p.range();
      picture.taken.push_back(SectorRange::sized(p.start(), 1));  // its first table block
    } else if (p.l == 1) {
      picture.primaries.push_back(p.range());
      picture.taken.push_back(p.range());
    } else if (link) {
      picture.taken.push_back(SectorRange::sized(p.start(), 1));  // the next table block
    } else {
      picture.taken.push_back(p.range());
      picture.taken.push_back(SectorRange::sized(p.base, 1));  // the block that lists it
    }
  }
  for (const VolumeSpan& v : found)
    if (v.device == disk.device) picture.taken.push_back(v.sectors);
  return picture;
}
