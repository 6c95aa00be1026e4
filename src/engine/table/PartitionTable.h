// The partition tables the engine knows, behind one interface: an MBR with
// its extended chain, and a GUID partition table (GPT).  Each disk is seen
// through the driver of the table it has now (`Of`): the driver reads that
// table, finds the free space it leaves, says whether a found volume
// collides with its entries, where the undo log may live beside it and
// whether the disk may be written at all.  A recovery hands each disk's
// chosen volumes to the driver of the table that disk gets; the driver
// decides the type each volume is written with (the recognisers only say
// what a volume is), finds out without writing whether the disk's undo log
// can hold the change, and writes it, one result per volume.
#ifndef KV_TABLE_PARTITIONTABLE_H
#define KV_TABLE_PARTITIONTABLE_H

#include <fx.h>

#include <optional>
#include <vector>

#include "gpt/Guid.h"
#include "recognise/Recogniser.h"

class Analyse;
class RecoverProgress;
class NRD;
struct Partition;
struct RecoverPart;
struct RecoverResult;
struct RecoveryChoice;
struct SectorRange;

// The table a disk has, or gets.
enum class TableKind { NONE, MBR, GPT };

// What a table needs to know of a volume to give it a type.
struct VolumeTraits {
  VolumeKind kind = VolumeKind::EXT2;
  FXulong sectors = 0;
  // The volume reaches past what CHS addressing covers (an MBR's FAT types
  // have variants for that).
  bool needsLba = true;
  // The user marked this FAT volume as the EFI system partition.
  bool efiSystem = false;
};

// What an entry's type field gets: a type byte in an MBR, a GUID in a GPT.
struct EntryType {
  FXuchar code = 0;
  Guid guid;
};

class PartitionTable {
public:
  virtual ~PartitionTable() {}
  virtual TableKind kind() const = 0;

  // --- reading ---
  // Whether `disk` carries this table, read from its sectors.  Every disk
  // carries an MBR (a GPT disk a protective one), even one of zeros.
  virtual bool Carries(const NRD& disk) const = 0;
  // Reads this table of `disk` into its record.
  virtual void Read(NRD& disk) const = 0;
  // Reads every table of a disk just added: its MBR and chain, then the
  // GPT over them if it carries one.
  static void ReadAll(NRD& disk);

  // --- free space and collisions ---
  // Appends the free stretches this table leaves on `disk` to its gaps.
  virtual void FindGaps(NRD& disk) const = 0;
  // Whether a found volume's sectors collide with the disk's layout: it
  // cannot go into this table as it lies.
  virtual bool Blocks(const NRD& disk, const SectorRange& candidate) const = 0;

  // --- the disk as a whole ---
  // Whether this table lets its disk be searched, chosen from and written.
  virtual bool Usable(const NRD& disk) const = 0;
  // Whether the table tells primary from logical partitions (an MBR and its
  // chain), so a chosen volume is placed by its role; a GPT's entries are
  // all alike.
  virtual bool PlacesByRole() const = 0;

  // --- where the undo log may live ---
  // The first sector the undo log may use, and the end of its sectors: the
  // first track behind the MBR, or the area placed on the disk's record (by
  // the GPT driver's Read, behind the entry array and below the first
  // partition; by the GPT writer on a disk about to get a new GPT, before
  // it has one).  The undo database is found at start-up by the same area.
  FXulong UndoAreaFirst(const NRD& disk) const;
  FXulong UndoAreaEnd(const NRD& disk) const;
  // Whether a partition of the disk's MBR keeps the undo log out of its
  // sectors when it starts inside the area.
  virtual bool BoundsUndoArea(const Partition& partition) const = 0;

  // --- writing ---
  // The type a volume of these traits is written with.
  virtual EntryType typeFor(const VolumeTraits& volume) const = 0;
  // The disks of `choice` whose undo log is on but cannot hold the whole
  // change; found out without writing.
  virtual std::vector<FXString> DisksTheLogCannotHold(Analyse& analyser,
                                                      const RecoveryChoice& choice) = 0;
  // Writes the chosen volumes of `choice` into the tables of their disks;
  // one result per chosen volume, in the order chosen.  `busyDevices`
  // gathers the disks whose table the system could not re-read.
  virtual std::vector<RecoverResult> Write(Analyse& analyser, const RecoveryChoice& choice,
                                           RecoverProgress* progress,
                                           std::vector<FXString>& busyDevices) = 0;

  // The driver of a table kind (MBR for NONE).
  static PartitionTable& Of(TableKind kind);
  // The driver of the table `disk` has now: its GPT's when it carries one,
  // else its MBR's.
  static PartitionTable& Of(const NRD& disk);
};

// Whether a FAT kind: only a FAT volume can be the EFI system partition.
bool IsFat(VolumeKind kind);

// What the recognisers say a chosen volume is; nothing for a logical
// partition found through its table, or where no recogniser knows it.
std::optional<VolumeKind> RecognisedKind(Analyse& analyser, const RecoverPart& part);

// Whether a disk holds no partition table: no GPT, no MBR entry, no file
// system over the whole disk.
bool HasNoTable(const NRD& disk);
// Whether a disk has no table at all: none of the above, and no boot
// signature in sector 0 either (an MBR whose entries are all gone is still
// an MBR).  The wizard asks which table such a disk gets.
bool LacksAnyTable(const NRD& disk);

// The table the chosen volumes of `disk` go into: its GPT; else the table
// the choice names for it; else a new GPT where the disk has no table and
// reaches past what an MBR can address; else its MBR.
TableKind TableToWrite(const NRD& disk, const RecoveryChoice& choice);

#endif
