// Building and writing GPT plans.
#include "gpt/GptWriter.h"

#include <algorithm>
#include <cstring>

#include "Analyse.h"
#include "IOSystem.h"
#include "compat/Assert.h"
#include "gpt/GptDisk.h"

namespace {

const FXuchar PROTECTIVE_TYPE = 0xEE;

// The undo log, as IOSystemUndo lays it out: a database sector holds records
// from byte 24 (the first) or 16 (the others), and a record is placed only
// where it ends before the sector's last byte.
const FXuint LOG_FIRST_AT = 24, LOG_LATER_AT = 16;
const FXuint SECTOR_RECORD = 12, BYTE_RECORD = 5;

std::vector<FXuchar> readSector(const FXString& device, FXulong sector) {
  std::vector<FXuchar> s(SECTOR_SIZE, 0);
  IOSystem::ReadBR(device, s.data(), sector * SECTOR_SIZE, SECTOR_SIZE);
  return s;
}

void refuse(GptPlan& plan, const FXchar* key, FXulong a = 0, FXulong b = 0) {
  if (plan.refused()) return;
  plan.refusal = key;
  plan.args[0] = a;
  plan.args[1] = b;
  plan.writes.clear();
  plan.slots.clear();
}

// The array bytes as whole sectors, the last one padded with zeros.
void addArray(GptPlan& plan, const std::vector<FXuchar>& array, FXulong lba) {
  for (size_t at = 0; at < array.size(); at += SECTOR_SIZE) {
    GptPlan::Write w{lba + at / SECTOR_SIZE, std::vector<FXuchar>(SECTOR_SIZE, 0)};
    memcpy(w.bytes.data(), &array[at], std::min((size_t)SECTOR_SIZE, array.size() - at));
    plan.writes.push_back(w);
  }
}

void addHeader(GptPlan& plan, const GptHeader& h) {
  GptPlan::Write w{h.own, std::vector<FXuchar>(SECTOR_SIZE, 0)};
  h.toSector(w.bytes.data());
  plan.writes.push_back(w);
}

// The primary copy's header for `h`'s table, its array at `entriesLba`.
GptHeader primaryHeader(GptHeader h, FXulong sectors, FXulong entriesLba) {
  h.own = 1;
  h.alternate = sectors - 1;
  h.entriesLba = entriesLba;
  return h;
}

GptHeader backupHeader(GptHeader h, FXulong sectors) {
  h.own = sectors - 1;
  h.alternate = 1;
  h.entriesLba = sectors - 1 - h.arraySectors();
  return h;
}

// Whether sector 0 holds no partition table at all, so that a protective
// MBR may go there; an MBR with entries (a hybrid one) stays as it is.
bool lacksTable(const FXuchar* mbr) {
  bool signed55AA = mbr[SIGNATURE_OFFSET] == 0x55 && mbr[SIGNATURE_OFFSET + 1] == 0xAA;
  for (int slot = 0; slot < 4; slot++)
    if (signed55AA && PartitionEntry::fromTable(mbr, slot).type != 0) return false;
  return true;
}

// The protective MBR: one entry of type 0xEE from sector 1 over the whole
// disk (as far as 32 bits reach), the boot code kept.
void addProtectiveMbr(GptPlan& plan, const NRD& disk) {
  std::vector<FXuchar> mbr = readSector(disk.device, 0);
  if (!lacksTable(mbr.data())) return;
  memset(&mbr[TABLE_OFFSET], 0, 4 * 16);
  PartitionEntry e = PartitionEntry();
  e.type = PROTECTIVE_TYPE;
  e.start_chs[1] = 0x02;  // head 0, sector 2, cylinder 0: sector 1
  e.end_chs[0] = e.end_chs[1] = e.end_chs[2] = 0xFF;
  e.dist = 1;
  e.num = (FXuint)std::min(disk.sectors - 1, (FXulong)0xFFFFFFFF);
  e.toTable(mbr.data(), 0);
  mbr[SIGNATURE_OFFSET] = 0x55;
  mbr[SIGNATURE_OFFSET + 1] = 0xAA;
  plan.writes.push_back({0, mbr});
}

// Both copies of the table `h` with the entry array `array`: the backup
// first.  The primary keeps its array where its header put it.
void addBothCopies(GptPlan& plan, const NRD& disk, GptHeader h, const std::vector<FXuchar>& array,
                   FXulong primaryEntriesLba) {
  h.entriesCrc = GptCrc(array.data(), array.size());
  GptHeader backup = backupHeader(h, disk.sectors);
  addArray(plan, array, backup.entriesLba);
  addHeader(plan, backup);
  GptHeader primary = primaryHeader(h, disk.sectors, primaryEntriesLba);
  addArray(plan, array, primary.entriesLba);
  addHeader(plan, primary);
}

// Puts the volumes into free slots of `array`; refuses when one does not
// fit the table or there are fewer free slots than volumes.
void addEntries(GptPlan& plan, const GptHeader& h, const std::vector<GptEntry>& existing,
                std::vector<FXuchar>& array, const std::vector<GptVolume>& volumes) {
  SectorRange usable(h.firstUsable, h.lastUsable + 1);
  FXuint slot = 0;
  for (size_t i = 0; i < volumes.size(); i++) {
    const GptVolume& v = volumes[i];
    bool meets = false;
    for (const GptEntry& e : existing) meets = meets || e.range().overlaps(v.range());
    for (size_t j = 0; j < i; j++) meets = meets || volumes[j].range().overlaps(v.range());
    if (v.sectors == 0 || !usable.contains(v.range()) || meets)
      return refuse(plan, "Gpt.write.002", v.start, v.start + v.sectors);
    while (slot < h.count && !GptEntry::fromBytes(&array[(size_t)slot * h.entrySize], slot).type.isZero())
      slot++;
    if (slot == h.count) return refuse(plan, "Gpt.write.001", volumes.size() - i);
    GptEntry e;
    plan.slots.push_back(slot);
    e.slot = slot;
    e.type = v.type;
    e.unique = Guid::random();
    e.first = v.start;
    e.last = v.start + v.sectors - 1;
    e.name = GptType::name(e.type);
    FXuchar bytes[GPT_ENTRY_SIZE];
    e.toBytes(bytes);
    memset(&array[(size_t)slot * h.entrySize], 0, h.entrySize);
    memcpy(&array[(size_t)slot * h.entrySize], bytes, GPT_ENTRY_SIZE);
  }
}

// A plan for the disk as it is, its undo database where it now lives.
GptPlan planOn(const NRD& disk) {
  GptPlan plan;
  plan.undoArea = SectorRange(disk.dbAreaFirst, disk.dbAreaEnd);
  return plan;
}

GptPlan refusal(const FXchar* key) {
  GptPlan plan;
  refuse(plan, key);
  return plan;
}

}  // namespace

namespace GptWriter {

GptPlan PlanRepair(const NRD& disk) {
  const GptLayout* g = UsableGpt(disk);
  if (!g) return refusal("Gpt.write.003");
  GptPlan plan = planOn(disk);
  if (g->damaged()) {
    const GptCopy& good = g->good();
    bool primary = g->state == GptLayout::PRIMARY_DAMAGED;
    GptHeader h = primary ? primaryHeader(good.header, disk.sectors, 2)
                          : backupHeader(good.header, disk.sectors);
    // The array written again must keep out of the usable sectors.
    if (primary ? h.arrayRange().end > h.firstUsable : h.entriesLba <= h.lastUsable)
      return refusal("Gpt.write.003");
    addArray(plan, good.array, h.entriesLba);
    addHeader(plan, h);
  }
  addProtectiveMbr(plan, disk);
  if (plan.writes.empty()) refuse(plan, "Gpt.write.004");
  return plan;
}

GptPlan PlanAdd(const NRD& disk, const std::vector<GptVolume>& volumes) {
  const GptLayout* g = UsableGpt(disk);
  if (!g) return refusal("Gpt.write.003");
  GptPlan plan = planOn(disk);
  const GptHeader& h = g->good().header;
  std::vector<FXuchar> array = g->good().array;
  addEntries(plan, h, g->entries, array, volumes);
  FXulong primaryLba = g->primary.status == GptCopy::GOOD ? g->primary.header.entriesLba : 2;
  if (!plan.refused()) addBothCopies(plan, disk, h, array, primaryLba);
  if (!plan.refused()) addProtectiveMbr(plan, disk);
  return plan;
}

GptPlan PlanNewTable(const NRD& disk, const std::vector<GptVolume>& volumes,
                     const std::vector<SectorRange>& found) {
  if (disk.gpt || !disk.partitions.empty() || disk.bootSectorOnly) return refusal("Gpt.write.005");
  GptPlan plan;
  GptHeader h;
  // Room for every volume, and never fewer entries than every tool expects.
  FXulong wanted = std::max((FXulong)GPT_DEFAULT_ENTRIES, (volumes.size() + 3) / 4 * 4);
  h.count = (FXuint)std::min(wanted, GPT_ARRAY_LIMIT / GPT_ENTRY_SIZE);
  h.entrySize = GPT_ENTRY_SIZE;
  h.disk = Guid::random();
  h.firstUsable = 2 + h.arraySectors();
  if (disk.sectors < 2 * h.firstUsable + 1) {
    refuse(plan, "Gpt.write.006", disk.sectors);
    return plan;
  }
  h.lastUsable = disk.sectors - 2 - h.arraySectors();
  std::vector<FXuchar> array(h.arrayBytes(), 0);
  addEntries(plan, h, {}, array, volumes);
  if (plan.refused()) return plan;
  addBothCopies(plan, disk, h, array, 2);
  addProtectiveMbr(plan, disk);
  FXulong end = h.lastUsable + 1;
  for (const GptVolume& v : volumes) end = std::min(end, v.start);
  for (const SectorRange& r : found)
    if (r.end > h.firstUsable) end = std::min(end, r.first);
  plan.undoArea = SectorRange(h.firstUsable, std::min(end, GPT_DB_AREA_LIMIT));
  return plan;
}

bool LogCanHold(NRD& disk, const GptPlan& plan) {
  if (!disk.dbActive) return true;
  // Records as the log will place them.
  FXulong needed = 1, at = LOG_FIRST_AT;
  auto place = [&](FXuint size) {
    if (at + size < SECTOR_SIZE) {
      at += size;
      return;
    }
    needed++;
    at = LOG_LATER_AT + size;
  };
  for (const GptPlan::Write& w : plan.writes) {
    std::vector<FXuchar> now = readSector(disk.device, w.sector);
    FXuint changed = 0;
    for (FXuint i = 0; i < SECTOR_SIZE; i++) changed += now[i] != w.bytes[i];
    if (changed == 0) continue;
    place(SECTOR_RECORD);
    for (FXuint i = 0; i <= changed; i++) place(BYTE_RECORD);  // and the witness
  }
  // Free sectors of the area the plan leaves the database, below what the
  // writer keeps it from.
  SectorRange area(plan.undoArea.first, std::min(plan.undoArea.end, disk.dbKeepBelow));
  FXulong free = 0;
  for (FXulong s = area.first; s < area.end && free < needed; s++) {
    bool planned = false;
    for (const GptPlan::Write& w : plan.writes) planned = planned || w.sector == s;
    std::vector<FXuchar> bytes = readSector(disk.device, s);
    bool uniform = std::all_of(bytes.begin(), bytes.end(), [&](FXuchar b) { return b == bytes[0]; });
    bool database = bytes[1] == 0xDB && bytes[2] == 0xDB && bytes[3] == 0xDB;
    if (!planned && (uniform || database)) free++;
  }
  KV_TRACE(8, "GptWriter::LogCanHold: %.0lf log sectors needed, %.0lf free\n", (double)needed,
           (double)free);
  return free >= needed;
}

bool Write(NRD& disk, const GptPlan& plan) {
  if (plan.refused()) return false;
  PlaceGptUndoArea(disk, plan.undoArea.first, plan.undoArea.end);
  for (const GptPlan::Write& w : plan.writes) {
    KV_TRACE(8, "GptWriter::Write: sector %.0lf\n", (double)w.sector);
    if (!IOSystem::WriteBR(disk.device, w.bytes.data(), w.sector * SECTOR_SIZE)) return false;
  }
  return true;
}

Outcome Apply(NRD& disk, const GptPlan& plan, bool log) {
  if (plan.refused()) return REFUSED;
  if (log) {
    disk.dbActive = true;
    if (!LogCanHold(disk, plan)) return NO_ROOM_FOR_LOG;
  }
  bool saved = IOSystem::disableWriteLog;
  IOSystem::disableWriteLog = !log;
  // A logged write waits for a later flush: the last one is made here.
  bool written = Write(disk, plan) && IOSystem::FlushWrites();
  IOSystem::disableWriteLog = saved;
  disk.gpt = Analyse::CarriesGPT(disk.device, disk.sectors);
  AttachGpt(disk);
  return written && UsableGpt(disk) ? WRITTEN : WRITE_FAILED;
}

}  // namespace GptWriter
