// The MBR driver: the reader of the MBR and its extended chain, the gaps and
// collisions they make, and the writer (Recover) behind the table interface.
#ifndef KV_TABLE_MBRPARTITIONTABLE_H
#define KV_TABLE_MBRPARTITIONTABLE_H

#include "table/PartitionTable.h"

class MbrPartitionTable : public PartitionTable {
public:
  TableKind kind() const override { return TableKind::MBR; }
  bool Carries(const NRD&) const override { return true; }
  void Read(NRD& disk) const override;
  void FindGaps(NRD& disk) const override;
  bool Blocks(const NRD& disk, const SectorRange& candidate) const override;
  bool Usable(const NRD&) const override { return true; }
  bool PlacesByRole() const override { return true; }
  bool BoundsUndoArea(const Partition&) const override { return true; }
  EntryType typeFor(const VolumeTraits& volume) const override;
  std::vector<FXString> DisksTheLogCannotHold(Analyse& analyser,
                                              const RecoveryChoice& choice) override;
  std::vector<RecoverResult> Write(Analyse& analyser, const RecoveryChoice& choice,
                                   RecoverProgress* progress,
                                   std::vector<FXString>& busyDevices) override;

  // The type byte of a volume of this kind and size.
  static FXuchar TypeCode(const VolumeTraits& volume);
};

#endif
