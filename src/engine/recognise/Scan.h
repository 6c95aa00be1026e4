// The search's first pass over a stretch of sectors: every sector is
// compared against the magics of all recognisers in one go, and a probe runs
// only where a magic matches.
#ifndef KV_RECOGNISE_SCAN_H
#define KV_RECOGNISE_SCAN_H

#include <fx.h>

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

#endif
