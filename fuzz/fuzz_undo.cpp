// The undo database's reader and the undo itself over any first track: the
// input is the image.  Every run is a simulation, so the undo's writes land
// in memory only.
#include "EngineRun.h"
#include "FuzzSupport.h"
#include "IOSystem.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvfuzz::quiet();
  std::string image = kvfuzz::put("undo.img", data, size);
  std::unique_ptr<Analyse> analyser = kvfuzz::simulatedAnalyser({"-file", image});
  for (const NRD& disk : analyser->disks) {
    FXulong database = IOSystem::IsUndoAvailable(disk.device);
    if (!database) continue;
    IOSystem::CheckUndoDBPartitionChkSum(disk.device, database);
    FXulong changed = 0;
    if (!IOSystem::UndoWouldOverwrite(disk.device, database, changed))
      IOSystem::Undo(disk.device, database);
  }
  return 0;
}
