// The recovery fit check: does every disk's MBR have a slot for each chosen
// partition that must become a primary entry, can table entries hold them
// at all, and does every disk's sector 0 start with boot code.
#include <cstring>

#include "Analyse.h"
#include "IOSystem.h"
#include "Placement.h"
#include "compat/Assert.h"
#include "table/PartitionTable.h"

bool Analyse::CheckMBRFit(const std::vector<RecoverPart>& rp) {
  FXString reason;
  return CheckMBRFit(rp, {}, reason);
}

LayoutPlan PlanChosen(const NRD& d, const std::vector<RecoverPart>& rp,
                      const std::vector<VolumeSpan>& found, std::vector<size_t>* which) {
  // A table whose entries are all alike (a GPT) has no layout of primaries
  // and logicals to plan.
  if (!PartitionTable::Of(d).PlacesByRole()) return LayoutPlan();
  std::vector<PlacementRequest> chosen;
  for (size_t i = 0; i < rp.size(); i++) {
    const RecoverPart& r = rp[i];
    if (r.device != d.device) continue;
    PlacementRequest request;
    // A record that names only where it was found stands for that sector.
    FXulong sectors = r.size / SECTOR_SIZE;
    request.volume = sectors ? SectorRange::sized(r.first, sectors) : SectorRange::sized(r.sector, 1);
    request.foundEptb = r.logical ? r.sector : 0;
    request.role = r.role;
    chosen.push_back(request);
    if (which) which->push_back(i);
  }
  if (chosen.empty()) return LayoutPlan();
  FXuchar mbr[SECTOR_SIZE] = {0};
  if (!IOSystem::ReadBR(d.device, mbr, 0, SECTOR_SIZE)) memset(mbr, 0, sizeof(mbr));
  return PlanOnDisk(d, mbr, chosen, found);
}

// Every disk's choice must be laid out as primaries and logicals that its
// MBR and chain can hold; the first that cannot names its volume and why.
bool Analyse::CheckMBRFit(const std::vector<RecoverPart>& rp, const std::vector<VolumeSpan>& found,
                          FXString& reason) {
  KV_TRACE(7, "Analyse::CheckMBRFit RecoverPart initial size %u\n", (FXuint)rp.size());
  for (const NRD& d : disks) {
    LayoutPlan plan = PlanChosen(d, rp, found, nullptr);
    KV_TRACE(8, "Analyse::CheckMBRFit device = %s: %s\n", d.device.text(),
             plan.ok() ? "fits" : plan.refusal);
    if (!plan.ok()) {
      reason = Format("Placement.PlanLayout.007", (double)plan.refusedAt, GetString(plan.refusal).text());
      return false;
    }
  }
  return true;
}

bool Analyse::CheckTableReach(const std::vector<RecoverPart>& rp, FXString& reason) {
  for (const RecoverPart& r : rp) {
    if (r.withinTableReach()) continue;
    KV_TRACE(8, "Analyse::CheckTableReach partition at %.0lf is beyond a table's reach\n",
             (double)r.first);
    reason = Format("Kelvarin.onCmd_Next.010", (double)r.first,
                    (double)(r.first + r.size / SECTOR_SIZE));
    return false;
  }
  return true;
}

bool Analyse::CheckMBRCode() {
  for (const NRD& d : disks) {
    FXuchar sector[SECTOR_SIZE] = {0};
    // A failed read leaves zeros: no boot code.
    if (!IOSystem::ReadBR(d.device, sector, 0, SECTOR_SIZE)) sector[0] = 0;
    if (!startsWithBootCode(sector)) return false;
  }
  return true;
}
