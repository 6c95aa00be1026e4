// The partition-table reader: MBR, extended chain and found sectors.
#include "Analyse.h"

bool Analyse::GetPartitions(const FXuchar*, const FXString&, std::vector<Partition>&,
                            bool& bootSectorOnly) {
  bootSectorOnly = false;
  return false;
}

std::vector<Partition> Analyse::GetValidPartitions(FXint, FXulong) { return {}; }
