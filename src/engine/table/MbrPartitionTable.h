// The MBR driver: today's writer (Recover) behind the table interface.
#ifndef KV_TABLE_MBRPARTITIONTABLE_H
#define KV_TABLE_MBRPARTITIONTABLE_H

#include "table/PartitionTable.h"

class MbrPartitionTable : public PartitionTable {
public:
  TableKind kind() const override { return TableKind::MBR; }
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
