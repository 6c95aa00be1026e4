// Found partitions as the user chooses among them, without any widget.
//
// A search reports sectors that hold a recognisable boot record.  Each such
// sector becomes one or more candidate partitions (a boot record gives one,
// a stray partition table gives its entries), those that collide with the
// disk's layout are dropped, and a chosen candidate becomes the RecoverPart
// record the fit check and the writer take.  The recovery chooser on the
// wizard's pages and the command-line front end both build on this, so a
// sector turns into the same candidates wherever it is shown.
#ifndef KV_CANDIDATES_H
#define KV_CANDIDATES_H

#include <fx.h>

#include <vector>

#include "Records.h"

class Analyse;

// A stretch of free space that can be searched: one gap of one disk.
struct Stretch {
  FXint disk;      // index in the analyser's disks
  FXint number;    // 1-based number of the gap among the disk's searchable gaps
  FXulong start;   // first sector
  FXulong end;     // first sector after the stretch
  FXulong sectors() const { return end - start; }
  SectorRange range() const { return SectorRange(start, end); }
};

// One partition the search turned up.
struct Candidate {
  FXint disk;                // index in the analyser's disks
  FXulong foundAt;           // the sector holding its boot record or table
  FXint slot;                // 1-based position among the candidates found at foundAt
  FoundPartition partition;  // its true position and size
  FXchar letter;             // proposed drive letter, 0 when none
  PlacementRole role = PlacementRole::AUTO;  // how the user wants it placed
  bool efiSystem = false;  // the user marked this FAT volume as the EFI system partition

  Candidate(FXint disk, FXulong foundAt, FXint slot, const FoundPartition& p, FXchar letter);

  FXulong start() const { return partition.start; }
  FXulong sectors() const { return partition.sectors; }
  FXulong end() const { return partition.end(); }  // exclusive
  SectorRange range() const { return partition.range(); }
  FXulong bytes() const { return (FXulong)partition.sectors * SECTOR_SIZE; }
  FXuchar type() const { return partition.type; }
  // Found through an extended partition table block, so it belongs into an
  // extended chain and needs no MBR slot.
  bool logical() const { return partition.logical(); }
  // Whether a table entry can hold it; one that starts or ends beyond 2^32
  // sectors is shown but cannot be written.
  bool withinTableReach() const { return WithinTableReach(start(), sectors()); }
  // The type's name, or empty when the type-name table lacks it.
  FXString typeName() const;
  // Whether choosing one of the two drops the other: they lie on the same
  // disk and share a sector.
  bool overlaps(const Candidate& other) const;
  // The record the fit check and the writer take.
  RecoverPart toRecoverPart(const Analyse& analyser) const;
  // The volume the writer keeps its new tables out of, chosen or not.
  VolumeSpan toFoundVolume(const Analyse& analyser) const;
};

// Every candidate as the writer's list of found volumes.
std::vector<VolumeSpan> FoundVolumes(const Analyse& analyser, const std::vector<Candidate>& found);

// Turns found sectors into candidates.  Drive letters are proposed in the
// order candidates are placed, from the first free one on, and start over
// with clear().
class CandidateFinder {
public:
  explicit CandidateFinder(Analyse& analyser);

  void clear() { lastLetter = 0; }
  // The candidates at the given sectors of `disk`, in order.  A sector that
  // lies in none of the disk's gaps places nothing: the search only ever
  // reports sectors of the gaps it was given.  The analyser has already
  // left out candidates that are empty, run past the end of the disk or
  // collide with its partitions.
  std::vector<Candidate> place(FXint disk, const std::vector<FXulong>& sectors);

private:
  Analyse& analyser;
  FXchar lastLetter;
};

// Every gap of every disk that a search can be given, in disk order and,
// within a disk, by position.  Gaps of size 0 are left out, and a gap is cut
// at the end of its disk, so a search never runs past it.
std::vector<Stretch> SearchableStretches(const Analyse& analyser);

// The gap of `disk` that holds `sector`, or null.
const Stretch* StretchContaining(const std::vector<Stretch>& stretches, FXint disk,
                                 FXulong sector);

// The progress total of a search over `chosen`: a quick search probes once
// per cylinder, a full search every sector.
FXulong SearchProgressTotal(const Analyse& analyser, const std::vector<Stretch>& chosen,
                            bool quick);

// A byte count as people read it: "1.50 GB", "700.00 MB", "3.00 kB",
// "512 Bytes".  The steps are powers of 1024.
FXString SizeText(FXulong bytes);

#endif
