// The writer's part of laying chosen volumes out: a new extended partition
// and its chain for the volumes that become logical on a disk without one.
// Each table block is written whole: its logical partition in slot 0, the
// link to the next block in slot 1, nothing else.
#include <algorithm>
#include <cstring>

#include "Analyse.h"
#include "IOSystem.h"
#include "Placement.h"
#include "Recover.h"
#include "compat/Assert.h"

namespace {

PartitionEntry tableEntry(FXuchar type, FXulong dist, FXulong count, FXulong first, FXint H, FXint S) {
  PartitionEntry e;
  memset(&e, 0, sizeof(e));
  e.type = type;
  e.dist = (FXuint)dist;
  e.num = (FXuint)count;
  Recover::ConvertLBA((FXuint)first, (FXuint)count, (FXuint)H, (FXuint)S, e.start_chs[2],
                      e.start_chs[0], e.start_chs[1], e.end_chs[2], e.end_chs[0], e.end_chs[1]);
  return e;
}

}  // namespace

bool Recover::PlaceNewChain(const FXString& device, const FXuchar* MBR, std::vector<NewPart>& newparts,
                            FXint H, FXint S, PartitionEntry& extended, std::vector<size_t>& owners) {
  const NRD* disk = Analyse::FindNRD(device);
  if (!disk) return true;  // a writer driven without an analyser places as it always did
  std::vector<PlacementRequest> requests;
  for (const NewPart& p : newparts) {
    PlacementRequest r;
    r.volume = p.volume();
    r.foundEptb = p.logical ? p.start : 0;
    r.role = p.role;
    requests.push_back(r);
  }
  LayoutPlan plan = PlanOnDisk(*disk, MBR, requests, foundVolumes);
  // Entries that fit the MBR, logicals of an existing chain and a chain of
  // found tables alone are placed entry by entry, each with its own reason
  // when it cannot be; only a chain that needs new tables is built here.
  // (A layout that cannot be built at all was refused before writing.)
  bool newTables = false;
  for (const PlacedVolume& v : plan.volumes) newTables = newTables || v.newEptb;
  if (!plan.ok() || !plan.newExtended || !newTables) return true;
  if (plan.extended.end > TABLE_REACH) {
    Check(false, Reason{"Recover.DoRecover.003", false});  // beyond what a table entry reaches
    std::vector<size_t> all;
    for (const NewPart& p : newparts) all.push_back(p.result);
    Fail(all);
    newparts.clear();
    return false;
  }

  std::vector<const PlacedVolume*> logicals;
  for (const PlacedVolume& v : plan.volumes)
    if (v.logical) logicals.push_back(&v);
  bool written = true;
  for (size_t i = 0; i < logicals.size() && written; i++) {
    const NewPart& part = newparts[logicals[i]->request];
    SectorRange volume = part.volume();
    FXulong eptb = logicals[i]->eptb;
    FXuchar table[SECTOR_SIZE];
    memset(table, 0, sizeof(table));
    tableEntry(part.entry.type, volume.first - eptb, volume.size(), volume.first, H, S).toTable(table, 0);
    if (i + 1 < logicals.size()) {
      FXulong next = logicals[i + 1]->eptb;
      SectorRange nextVolume = newparts[logicals[i + 1]->request].volume();
      tableEntry(0x05, next - plan.extended.first, nextVolume.end - next, next, H, S).toTable(table, 1);
    }
    written = WriteTable(device, eptb, table);
  }
  for (const PlacedVolume* v : logicals) owners.push_back(newparts[v->request].result);
  if (!written) Fail(owners);
  extended = tableEntry(plan.extendedType, plan.extended.first, plan.extended.size(),
                        plan.extended.first, H, S);
  // What the chain holds leaves the list the MBR's entries are made from.
  std::vector<bool> inChain(newparts.size(), false);
  for (const PlacedVolume* v : logicals) inChain[v->request] = true;
  std::vector<NewPart> rest;
  for (size_t i = 0; i < newparts.size(); i++)
    if (!inChain[i]) rest.push_back(newparts[i]);
  newparts = rest;
  if (!written) owners.clear();
  return true;
}
