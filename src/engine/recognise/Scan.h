// The search's first pass over a stretch of sectors: every sector is
// compared against the magics of all recognisers in one go, and a probe runs
// only where a magic matches.
#ifndef KV_RECOGNISE_SCAN_H
#define KV_RECOGNISE_SCAN_H

#include <fx.h>

#include <functional>
#include <vector>

#include "recognise/Recogniser.h"
#include "recognise/SectorReader.h"

// A probe's answer is dropped when the volume would run past the end of
// `reader`: it cannot be a partition of this disk.
//
// `count` consecutive sectors are in `sectors`, the first being absolute
// sector `first`.  Appends to `hits` what the probes accept, in the order of
// the sectors the magics lie in.  Probes read what else they need through
// `reader`, which must show the same disk.
void scanSectors(const FXuchar* sectors, FXulong first, FXuint count, SectorReader& reader,
                 std::vector<FoundVolume>& hits);

// Whether the scan looks for every magic of the table; false only when the
// table has outgrown the scan's windows.
bool scanCoversEveryMagic();

// Scans `count` sectors of `reader` from `first` on, 128 KiB at a time;
// unreadable blocks are skipped.
void scanRange(SectorReader& reader, FXulong first, FXulong count, std::vector<FoundVolume>& hits);
// The same over all of `reader`.
std::vector<FoundVolume> scanAll(SectorReader& reader);

// Scans the sectors where a volume that begins at `start` keeps its first
// structure, whatever its format, in three small reads; what the probes
// accept is appended, a copy of a volume that begins elsewhere included.
// False when the volume's first sectors cannot be read.
// `eachSector`, when given, is shown every sector of the volume's first
// 8 KiB and the one before it, with its number.
typedef std::function<void(const FXuchar* sector, FXulong number)> SectorVisitor;
bool scanHead(SectorReader& reader, FXulong start, std::vector<FoundVolume>& hits,
              const SectorVisitor& eachSector = nullptr);
// The volumes that begin at `start`, as the structures at their head show.
std::vector<FoundVolume> volumesStartingAt(SectorReader& reader, FXulong start);

#endif
