// The GPT driver: the analyser's view of a GPT disk (gpt/GptDisk) and the
// GPT writer (GptWriter) behind the table interface.  A disk's chosen
// volumes become new entries of its GPT, or of a new GPT on a disk without
// a table.
#ifndef KV_TABLE_GPTPARTITIONTABLE_H
#define KV_TABLE_GPTPARTITIONTABLE_H

#include "gpt/GptWriter.h"
#include "table/PartitionTable.h"

class GptPartitionTable : public PartitionTable {
public:
  TableKind kind() const override { return TableKind::GPT; }
  bool Carries(const NRD& disk) const override;
  void Read(NRD& disk) const override;
  void FindGaps(NRD& disk) const override;
  bool Blocks(const NRD& disk, const SectorRange& candidate) const override;
  bool Usable(const NRD& disk) const override;
  bool PlacesByRole() const override { return false; }
  bool BoundsUndoArea(const Partition& partition) const override;
  EntryType typeFor(const VolumeTraits& volume) const override;
  std::vector<FXString> DisksTheLogCannotHold(Analyse& analyser,
                                              const RecoveryChoice& choice) override;
  std::vector<RecoverResult> Write(Analyse& analyser, const RecoveryChoice& choice,
                                   RecoverProgress* progress,
                                   std::vector<FXString>& busyDevices) override;

  // The type of the MBR entry that guards a GPT.
  static const FXuchar PROTECTIVE_TYPE = 0xEE;
  // Whether the disk `device` of `sectors` sectors carries a GPT.
  static bool CarriesTable(const FXString& device, FXulong sectors);

  // The type GUID of a volume of this kind.
  static Guid TypeGuid(const VolumeTraits& volume);
  // The entry of its GPT (0 is the first) each chosen volume of `disk`
  // would take, in the order `choice` lists them; empty when they would
  // not be written.
  static std::vector<FXuint> EntrySlots(Analyse& analyser, const NRD& disk,
                                        const RecoveryChoice& choice);

private:
  // The plan that puts the chosen volumes `parts` of `disk` into its GPT.
  static GptPlan PlanFor(Analyse& analyser, const NRD& disk, const RecoveryChoice& choice,
                         const std::vector<size_t>& parts);
};

#endif
