// The analyser's view of a GPT disk.
#include "gpt/GptDisk.h"

#include <algorithm>

#include "compat/Assert.h"

void AttachGpt(NRD& disk) {
  disk.gptTable.reset();
  if (!disk.gpt) return;
  auto layout = std::make_shared<GptLayout>(ReadGpt(disk.device, disk.sectors));
  disk.gptTable = layout;
  if (!layout->usable()) {
    KV_TRACE(8, "AttachGpt: the GPT of %s cannot be used\n", disk.device.text());
    return;
  }
  FXulong end = layout->usableSectors().end;
  for (const GptEntry& e : layout->entries) end = std::min(end, e.first);
  PlaceGptUndoArea(disk, layout->primaryEnd(), end);
}

const GptLayout* UsableGpt(const NRD& disk) {
  return disk.gptTable && disk.gptTable->usable() ? disk.gptTable.get() : nullptr;
}

void FindGptGaps(NRD& disk) {
  const GptLayout* g = UsableGpt(disk);
  if (!g) return;
  // No MBR partition holds a GPT gap: none lies behind an MBR record.
  for (const SectorRange& r : g->gaps()) disk.gaps.push_back(Gap(r.first, r.size(), -1));
}

bool GptBlocks(const NRD& disk, const SectorRange& volume) {
  const GptLayout* g = UsableGpt(disk);
  return !g || !g->usableSectors().contains(volume) || g->overlapsEntry(volume);
}

bool ProtectiveMbrMissing(const NRD& disk) {
  for (const Partition& p : disk.partitions)
    if (p.l == 1 && p.entry.type == 0xEE) return false;
  return true;
}

void PlaceGptUndoArea(NRD& disk, FXulong first, FXulong end) {
  disk.dbAreaFirst = std::max(first, (FXulong)1);
  disk.dbAreaEnd = std::max(disk.dbAreaFirst, std::min(end, GPT_DB_AREA_LIMIT));
  KV_TRACE(8, "PlaceGptUndoArea: %s keeps its undo database in %.0lf..%.0lf\n", disk.device.text(),
           (double)disk.dbAreaFirst, (double)disk.dbAreaEnd);
}
