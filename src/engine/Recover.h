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

#include <vector>

#include "ExtendedChain.h"
#include "Information.h"
#include "Records.h"

// Where the writer reports its progress: the total is the number of chosen
// partitions, one step each.
class RecoverProgress {
public:
  virtual ~RecoverProgress() {}
  virtual void setProgress(FXuint value) = 0;
  virtual void setTotal(FXuint total) = 0;
  virtual FXuint getTotal() = 0;
  virtual void increment(FXuint step) = 0;
};

class Recover : public Information {
public:
  // One partition to place on the disk being handled.
  struct NewPart {
    PartitionEntry entry;
    FXulong start;  // where the search found its boot record or EPTB
    bool logical;   // the structure found is an EPTB
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
  void SetActive();

  // The disks on which logging is on but whose undo log could not hold the
  // whole of this recovery.  The recovery is tried out first (TrialRun), so
  // nothing is written.
  static std::vector<FXString> DisksTheLogCannotHold(
      const std::vector<RecoverPart>& recoverList, const std::vector<VolumeSpan>& foundVolumes,
      bool writeBootCode, const std::vector<std::vector<FXulong>>& activeStarts,
      const std::vector<FXString>& devices);

private:
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

  // On the disk being handled: the found volumes and the partitions chosen
  // for it, which a new table must keep out of.
  std::vector<SectorRange> taken;
};

#endif
