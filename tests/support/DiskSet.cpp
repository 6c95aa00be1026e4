#include "support/DiskSet.h"

#include <vector>

#include "IOSystem.h"

namespace kvtest {

DiskSet::DiskSet() {
  IOSystem::Reset();
  disk.fakeDiskList = true;
  analyse = new Analyse();
  sharedAnalyser = analyse;
}

DiskSet::~DiskSet() {
  delete analyse;
  sharedAnalyser = nullptr;
  IOSystem::Reset();
}

int DiskSet::addImage(const std::string& name, FXulong sectors, const std::string& script,
                      FXint heads, FXint sectorsPerTrack) {
  std::string file = dir.path(name);
  makeImage(file, sectors * 512);
  if (!script.empty() && !sfdisk(file, script)) return -1;
  return readImage(file, heads, sectorsPerTrack);
}

int DiskSet::readImage(const std::string& file, FXint heads, FXint sectorsPerTrack) {
  FXulong sectors = IOSystem::CalculateSectorCnt(file.c_str());
  std::string chs = std::to_string(sectors / (FXulong)(heads * sectorsPerTrack)) + "/" +
                    std::to_string(heads) + "/" + std::to_string(sectorsPerTrack);
  std::vector<std::string> args = {"kelvarin", "-file", file, "-chs", chs};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  Analyse reader(nullptr, (FXint)argv.size(), argv.data());
  sharedAnalyser = analyse;
  if (reader.disks.size() != 1) return -1;
  return addRecord(reader.disks[0]);
}

int DiskSet::addRecord(const NRD& record) {
  analyse->disks.push_back(record);
  return (int)analyse->disks.size() - 1;
}

NRD diskRecord(const std::string& device, const std::string& model, FXulong sectors, FXint heads,
               FXint sectorsPerTrack) {
  FXulong perCylinder = (FXulong)heads * sectorsPerTrack;
  CHS geometry(perCylinder ? sectors / perCylinder : 0, heads, sectorsPerTrack);
  return NRD(device.c_str(), model.c_str(), geometry, geometry, sectors);
}

Partition partitionRecord(FXuchar type, FXint level, FXulong base, FXuint dist, FXuint num,
                          FXint lognr, FXchar letter) {
  PartitionEntry e{};
  e.type = type;
  e.dist = dist;
  e.num = num;
  Partition p(e, level, lognr);
  p.base = base;
  p.letter = letter;
  return p;
}

}  // namespace kvtest
