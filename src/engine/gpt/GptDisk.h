// A GUID partition table as the analyser sees a disk through it: read at
// start-up, its free space, the found volumes it can take, and where the
// undo database may live on it.
#ifndef KV_GPT_DISK_H
#define KV_GPT_DISK_H

#include <fx.h>

#include "Records.h"
#include "gpt/GptTable.h"

// The undo database stays below this sector on a GPT disk: 1 MiB-aligned
// disks keep their first partition there, and the start-up scan for a
// database reads no further.
const FXulong GPT_DB_AREA_LIMIT = 2048;

// Reads the GPT of a disk that carries one and places its undo area.
void AttachGpt(NRD& disk);
// The table of a disk when it reads as usable, else null.
const GptLayout* UsableGpt(const NRD& disk);
// The gaps of a GPT disk: its usable sectors outside every entry.
void FindGptGaps(NRD& disk);
// Whether a found volume cannot go into the disk's GPT: it leaves the usable
// sectors or meets a partition (or the table cannot be used at all).
bool GptBlocks(const NRD& disk, const SectorRange& volume);
// Whether sector 0 lacks the protective entry of type 0xEE.
bool ProtectiveMbrMissing(const NRD& disk);
// Keeps the undo database of `disk` in [first, min(end, GPT_DB_AREA_LIMIT)).
void PlaceGptUndoArea(NRD& disk, FXulong first, FXulong end);

#endif
