// The partition-table writer.  For each partition the user chose it reads
// again what the search found (a file-system boot record, or the extended
// partition table block (EPTB) of a lost logical partition), turns it into a
// table entry, places the entries of each disk into its MBR or its extended
// chain, links found EPTBs into a chain, sets the active partition and asks
// the system to re-read the tables.  Every sector goes through
// IOSystem::WriteBR, and so into the disk's undo database.
#ifndef KV_RECOVER_H
#define KV_RECOVER_H

#include <fx.h>

#include <functional>
#include <vector>

#include "ExtendedChain.h"
#include "Information.h"
#include "Records.h"
#include "table/PartitionTable.h"

// Where the writer reports its progress: the total is the number of chosen
// partitions, one step each.
class RecoverProgress {
public:
  virtual ~RecoverProgress() {}
  virtual void setProgress(FXuint value) = 0;
  virtual void setTotal(FXuint total) = 0;
  virtual FXuint getTotal() = 0;
  virtual void increment(FXuint step) = 0;
  // Called once every question is answered, right before the first write.
  virtual void starting() {}
};

class Analyse;

// What became of one chosen partition: done, or the reason it was not.
struct RecoverResult {
  RecoverPart part;
  Reason reason;
  FXulong args[2] = {0, 0};  // the numbers the reason's text is formatted with
  bool done() const { return reason.done(); }
};

// A recovery as the user chose it.
struct RecoveryChoice {
  std::vector<RecoverPart> chosen;
  // Every volume the search found, chosen or not: no new table goes into one.
  std::vector<VolumeSpan> foundVolumes;
  bool writeBootCode = false;
  // Per disk: empty, or the first sector of the partition to make active.
  std::vector<std::vector<FXulong>> activeStarts;
  std::vector<FXString> devices;  // in the order of activeStarts
  // Per disk, in the order of devices: the table a disk without one gets
  // (NONE, or none given: see TableToWrite).
  std::vector<TableKind> newTables;
};

class Recover : public Information {
public:
  // One partition to place on the disk being handled.
  struct NewPart {
    PartitionEntry entry;
    FXulong start;  // where the search found its boot record or EPTB
    bool logical;   // the structure found is an EPTB
    size_t result = ~(size_t)0;  // its place in `results`; none yet
    PlacementRole role = PlacementRole::AUTO;
    // The volume's own sectors.
    SectorRange volume() const {
      return SectorRange::sized(logical ? start + entry.dist : (FXulong)entry.dist, entry.num);
    }
  };

  static const FXuint BOOT_PROGRAM_SIZE = 352;
  // A conventional boot loader that starts the active partition
  // (src/boot/mbr.asm).
  static const FXuchar standardBootProgram[BOOT_PROGRAM_SIZE];

  // Per disk: empty to leave the boot indicators alone, else the first
  // sector of the partition to make active.
  std::vector<std::vector<FXulong>> activeStarts;
  std::vector<FXString> devices;  // in the order of activeStarts
  // Every volume the search found on any disk, chosen or not: no new table
  // goes into one.
  std::vector<VolumeSpan> foundVolumes;
  // Per chosen partition, in the order chosen: done, or why not.
  std::vector<RecoverResult> results;
  // The disks whose table the system could not re-read because they are in
  // use: their new partitions show after a restart.
  std::vector<FXString> busyDevices;

  // Runs the whole recovery.  `progress` may be null.
  Recover(const std::vector<RecoverPart>& recoverList, const std::vector<VolumeSpan>& foundVolumes,
          RecoverProgress* progress, bool writeBootCode,
          const std::vector<std::vector<FXulong>>& activeStarts,
          const std::vector<FXString>& devices);
  // Runs nothing: for driving the steps one by one.
  Recover() {}

  // True when every chosen partition was written; `results` says which were.
  bool DoRecover(const std::vector<RecoverPart>& recoverList, RecoverProgress* progress,
                 bool writeBootCode);
  bool RecoverOne(const FXString& device, FXuchar* MBR, std::vector<NewPart>& newparts,
                  bool writeBootCode, FXint heads, FXint sectorsPerTrack);
  bool FixExtended(const FXString& device, FXulong distance, FXint heads, FXint sectorsPerTrack,
                   FXulong inc_dist, FXulong inc_size);
  bool FixExtendedChain(const FXString& device, FXulong first);
  // The packed CHS bytes of the first and last sector of a stretch; false
  // (and the outputs of the failing address untouched) when the geometry
  // cannot express it.
  static bool ConvertLBA(FXuint LBA_s, FXuint LBA_c, FXuint HPS, FXuint SPT,
                         FXuchar& startCylinder, FXuchar& startHead, FXuchar& startSector,
                         FXuchar& endCylinder, FXuchar& endHead, FXuchar& endSector);
  bool SetActive();

  // The disks on which logging is on but whose undo log could not hold the
  // whole of this recovery.  The recovery is tried out first (TrialRun), so
  // nothing is written.
  static std::vector<FXString> DisksTheLogCannotHold(
      const std::vector<RecoverPart>& recoverList, const std::vector<VolumeSpan>& foundVolumes,
      bool writeBootCode, const std::vector<std::vector<FXulong>>& activeStarts,
      const std::vector<FXString>& devices);

  // Applies a recovery the way every front end does, each disk's chosen
  // partitions through the driver of the table it gets (TableToWrite): an
  // MBR through this writer, a GPT through the GPT writer.  Tries it out first,
  // and where the undo log of a disk cannot hold it asks `goOnUnlogged`
  // whether to write that disk without logging (no question: refuse); then
  // writes it with logging on, reads the tables back and stores each logged
  // disk's new checksum.  A refusal writes nothing and gives every chosen
  // partition the reason.
  static std::vector<RecoverResult> Apply(
      Analyse& analyser, const RecoveryChoice& choice, RecoverProgress* progress,
      const std::function<bool(const NRD& disk)>& goOnUnlogged = nullptr,
      std::vector<FXString>* busyDevices = nullptr);
  // Whether Apply refused the recovery for a disk whose undo log cannot hold it.
  static bool RefusedForTheLog(const RecoverResult& result);
  static const Reason LOG_CANNOT_HOLD;

private:
  std::vector<size_t> PlaceOnDisk(const FXString& device, FXuchar* MBR,
                                  std::vector<NewPart>& newparts, bool writeBootCode, FXint heads,
                                  FXint sectorsPerTrack);
  bool ReadChosen(const RecoverPart& chosen, FXint heads, FXint sectorsPerTrack, NewPart& part);
  bool PlaceEntry(const FXString& device, FXuchar* MBR, PartitionEntry P, FXint heads,
                  FXint sectorsPerTrack, FXuint chainLength);
  bool AppendChain(const FXString& device, const PartitionEntry& extended, PartitionEntry P,
                   FXuint chainLength);
  bool InsertLogical(const FXString& device, const FXuchar* MBR, const PartitionEntry& extended,
                     PartitionEntry P, FXint heads, FXint sectorsPerTrack);
  bool InsertWithNewTable(const FXString& device, const FXuchar* MBR, FXulong E0,
                          const std::vector<ChainTable>& tables, ChainTable& T, PartitionEntry e,
                          FXint heads, FXint sectorsPerTrack);
  std::vector<SectorRange> OccupiedSectors(const FXuchar* MBR,
                                           const std::vector<ChainTable>& tables) const;
  bool ReadChain(const FXString& device, FXulong E0, std::vector<ChainTable>& tables);
  // Where the disk has no extended partition and the layout of the chosen
  // volumes makes some of them logical: writes their chain and takes them
  // out of `newparts`; `extended` is then the entry for the MBR and
  // `owners` the partitions it holds.  False, with every partition of the
  // disk given the reason, when that chain cannot be built.
  bool PlaceNewChain(const FXString& device, const FXuchar* MBR, std::vector<NewPart>& newparts,
                     FXint heads, FXint sectorsPerTrack, PartitionEntry& extended,
                     std::vector<size_t>& owners);
  // Writes a table sector with its signature; on failure the reason is the
  // write's.
  bool WriteTable(const FXString& device, FXulong sector, FXuchar* table);
  // False, after noting `why` as the reason of the step at hand unless it
  // has one already, when `ok` is false.
  bool Check(bool ok, const Reason& why);
  // Gives the chosen partitions `owners` the reason of the step that failed.
  void Fail(const std::vector<size_t>& owners);

  // On the disk being handled: the found volumes and the partitions chosen
  // for it, which a new table must keep out of.
  std::vector<SectorRange> taken;
  // Why the step at hand failed.
  Reason reason = DONE;
};

#endif
