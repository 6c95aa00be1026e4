// The GPT writer: repairs a damaged copy from the intact one, adds found
// volumes as new entries, and lays a new GPT on a disk without a table.
//
// Every change is worked out in memory first, as a plan of whole sectors;
// nothing is written while any check of the plan fails.  A plan is written
// through IOSystem::WriteBR, so every sector it changes is logged in the
// disk's undo database (and a simulation writes nothing).  Both copies are
// always written with fresh CRCs: the backup first, then the primary, then
// the protective MBR, so a run cut short leaves one intact copy to repair
// the other from.
#ifndef KV_GPT_WRITER_H
#define KV_GPT_WRITER_H

#include <fx.h>

#include <vector>

#include "Records.h"
#include "gpt/GptTable.h"

// Sectors to write, in order, or why nothing may be written.
struct GptPlan {
  struct Write {
    FXulong sector;
    std::vector<FXuchar> bytes;  // one sector
  };
  std::vector<Write> writes;
  // Per volume, in the order given: the entry it takes (0 is the first).
  std::vector<FXuint> slots;
  // The key of the text that says why nothing is written (null: go on),
  // and the numbers it is formatted with.
  const FXchar* refusal = nullptr;
  FXulong args[2] = {0, 0};
  // Where the undo database is to live once the plan is written.
  SectorRange undoArea;

  bool refused() const { return refusal != nullptr; }
};

// A found volume that is to become an entry.
struct GptVolume {
  FXulong start = 0, sectors = 0;
  Guid type;  // the type GUID its entry gets
  SectorRange range() const { return SectorRange::sized(start, sectors); }
};

namespace GptWriter {
// Writes the damaged copy again from the intact one, and the protective MBR
// when sector 0 holds no partition table.
GptPlan PlanRepair(const NRD& disk);
// The volumes as new entries of the disk's GPT.
GptPlan PlanAdd(const NRD& disk, const std::vector<GptVolume>& volumes);
// A new GPT holding the volumes, on a disk that has no partition table;
// `found` are the volumes the search found there, chosen or not, which the
// undo database keeps out of.
GptPlan PlanNewTable(const NRD& disk, const std::vector<GptVolume>& volumes,
                     const std::vector<SectorRange>& found);
// Whether the disk's undo database, if logging is on, has room for the log
// of the whole plan.  Placed where the plan says it lives.
bool LogCanHold(NRD& disk, const GptPlan& plan);
// Writes the plan; false at the first write that fails.
bool Write(NRD& disk, const GptPlan& plan);

enum Outcome { WRITTEN, REFUSED, NO_ROOM_FOR_LOG, WRITE_FAILED };
// The whole change as a front end makes it: the plan's own refusal, the
// log's room when `log` is set, the writes (logged when `log` is set), and
// the disk's GPT read again.  The front end then reads the MBRs again.
Outcome Apply(NRD& disk, const GptPlan& plan, bool log);
}  // namespace GptWriter

#endif
