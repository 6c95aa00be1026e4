// Drive letters: which partition the system mounts under which letter, and
// which letter to propose for a partition about to be restored.  Only shown
// and proposed; nothing here changes the system's mounts.
#include <algorithm>

#include "Analyse.h"
#include "compat/Assert.h"
#include "platform/DiskAccess.h"

static const FXuint SECTOR_SHIFT = 9;

bool Analyse::AssignLetters() {
  KV_TRACE(7, "Analyse::AssignLetters()\n");
  bool result = true;
  DiskAccess& access = DiskAccess::current();
  FXuint mask = access.logicalDriveMask();
  KV_TRACE(8, "Analyse::AssignLetters MaxDriveSet is 0x%08x\n", mask);
  if (mask == 0) return result;
  std::vector<DiskAccess::FixedVolume> volumes = access.fixedVolumes();

  for (FXint i = 0; i < 32; i++) {
    if (!(mask & (1u << i))) continue;
    FXchar letter = (FXchar)('A' + i);
    auto volume = std::find_if(volumes.begin(), volumes.end(),
                               [letter](const DiskAccess::FixedVolume& v) { return v.letter == letter; });
    if (volume == volumes.end()) continue;  // not a fixed drive
    KV_TRACE(8, "Analyse::AssignLetters opening FIXED device \\\\.\\%c:\n", letter);
    if (!volume->known) {
      result = false;
      continue;
    }
    KV_TRACE(8, "Analyse::AssignLetters got %.0lf offset and %.0lf size\n", (double)volume->offset,
             (double)volume->length);
    FXulong start = (FXulong)volume->offset >> SECTOR_SHIFT;
    FXulong length = (FXulong)volume->length >> SECTOR_SHIFT;
    KV_TRACE(8, "Analyse::AssignLetters calculated offset in sectors is %0.lf\n", (double)start);
    KV_TRACE(8, "Analyse::AssignLetters calculated length in sectors is %0.lf\n", (double)length);

    bool matched = false;
    for (NRD& d : disks) {
      for (Partition& p : d.partitions) {
        KV_TRACE(8, "Analyse::AssignLetters matching with %0.lf, %.0lf\n", (double)p.start(),
                 (double)p.entry.num);
        if (p.start() == start && p.entry.num == length && p.letter == 0) {
          p.letter = letter;
          matched = true;
          break;
        }
      }
      if (matched) break;
    }
  }
  return result;
}

FXchar Analyse::GetLastLogical(FXchar from, FXchar limit) {
  KV_TRACE(7, "Analyse::GetLastLogical testing '%c', default is '%c'\n", from, limit);
  FXchar result = limit;
  if ((signed char)from < (signed char)limit) {
    FXuint mask = DiskAccess::current().logicalDriveMask();
    KV_TRACE(8, "Analyse::GetLastLogical MaxDriveSet is 0x%08x\n", mask);
    FXint i = from - 'A';
    // Letters below 'A' are never in use.
    while (i < limit - 'A' && i >= 0 && i < 32 && (mask & (1u << i))) i++;
    result = (FXchar)('A' + i);
  }
  KV_TRACE(8, "Analyse::GetLastLogical returning '%c'\n", result);
  return result;
}

FXchar Analyse::GetLastLetter(FXchar behind) {
  KV_TRACE(7, "Analyse::GetLastLetter behind '%c'\n", behind ? behind : '?');
  std::vector<FXchar> used;
  for (const NRD& d : disks)
    for (const Partition& p : d.partitions)
      if (p.letter != 0) used.push_back(p.letter);

  if (used.empty()) {
    KV_TRACE(8, "Analyse::GetLastLetter no letters defined\n");
    FXchar start = (signed char)behind < 'C' ? 'C' : (FXchar)(behind + 1);
    return GetLastLogical(start, 'Z');
  }
  std::sort(used.begin(), used.end());
  FXchar c = 'C';
  for (; c < 'Z'; c++) {
    if (std::binary_search(used.begin(), used.end(), c)) continue;
    KV_TRACE(8, "Analyse::GetLastLetter found gap '%c'\n", c);
    if (GetLastLogical(c, (FXchar)(c + 1)) == c && (signed char)c > (signed char)behind) break;
  }
  KV_TRACE(8, "Analyse::GetLastLetter returning '%c'\n", c);
  return c;
}
