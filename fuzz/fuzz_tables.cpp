// The partition-table reader and the gap finder over any first sectors of
// a disk: the input is the image, from sector 0.
#include "Candidates.h"
#include "EngineRun.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvfuzz::quiet();
  std::string image = kvfuzz::put("tables.img", data, size);
  std::unique_ptr<Analyse> analyser = kvfuzz::simulatedAnalyser({"-file", image});
  for (FXint disk = 0; disk < (FXint)analyser->disks.size(); disk++) {
    for (const Partition& p : analyser->GetPartitions(disk))
      analyser->OverlapsExisting(disk, p.range());
  }
  SearchableStretches(*analyser);
  return 0;
}
