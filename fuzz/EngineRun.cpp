#include "EngineRun.h"

#include "IOSystem.h"

namespace kvfuzz {

std::unique_ptr<Analyse> simulatedAnalyser(std::vector<std::string> options) {
  IOSystem::useBackup = false;
  IOSystem::simulationMode = false;
  IOSystem::Simulation().forget();
  IOSystem::backupSectors.clear();
  options.insert(options.begin(), {"kelvarin", "-sim"});
  std::vector<char*> argv;
  for (std::string& option : options) argv.push_back(&option[0]);
  return std::unique_ptr<Analyse>(new Analyse((FXint)argv.size(), argv.data()));
}

}  // namespace kvfuzz
