#include "support/Engine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <stdexcept>

#include "Candidates.h"
#include "IOSystem.h"

namespace kvtest {

FreshIOSystem::FreshIOSystem() { IOSystem::Reset(); }
FreshIOSystem::~FreshIOSystem() { IOSystem::Reset(); }

std::unique_ptr<Analyse> analyseArgs(std::vector<std::string> args) {
  args.insert(args.begin(), "kelvarin");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  return std::unique_ptr<Analyse>(new Analyse((FXint)argv.size(), argv.data()));
}

std::unique_ptr<Analyse> analyseImage(const std::string& image, const std::string& chs,
                                      std::vector<std::string> options) {
  options.insert(options.begin(), {"-chs", chs, "-file", image});
  return analyseArgs(options);
}

ImageAnalyser::ImageAnalyser(const std::string& image, const std::string& chs,
                             std::vector<std::string> options)
    : analyser(analyseImage(image, chs, std::move(options)).release()) {
  sharedAnalyser = analyser;
}

ImageAnalyser::~ImageAnalyser() {
  delete analyser;
  sharedAnalyser = nullptr;
}

std::string readSector(const std::string& image, unsigned long long sector) {
  std::string data(512, '\0');
  int fd = open(image.c_str(), O_RDONLY);
  if (fd < 0 || pread(fd, &data[0], 512, (off_t)(sector * 512)) != 512)
    throw std::runtime_error("cannot read " + image);
  close(fd);
  return data;
}

void writeSector(const std::string& image, unsigned long long sector, const std::string& data) {
  patchFile(image, sector * 512, data.data(), data.size());
}

OldSectorImages::OldSectorImages(const TempDir& dir)
    : image(dir.path("disk.img")), other(dir.path("other.img")) {
  makeImage(image, 64 * 512);
  makeImage(other, 64 * 512);
  for (unsigned long long s : {4ull, 5ull, 6ull}) writeSector(image, s, old);
  writeSector(other, 5, old);
}

std::string entryBytes(unsigned char type, unsigned dist, unsigned num, unsigned char boot) {
  std::string e(16, '\0');
  e[0] = (char)boot;
  e[4] = (char)type;
  for (int i = 0; i < 4; i++) {
    e[8 + i] = (char)(dist >> (8 * i));
    e[12 + i] = (char)(num >> (8 * i));
  }
  return e;
}

std::string ntfsBootSector(unsigned long long total) {
  std::string b(512, '\0');
  const unsigned char jump[3] = {0xEB, 0x52, 0x90};
  memcpy(&b[0], jump, 3);
  memcpy(&b[3], "NTFS    ", 8);
  b[0x0C] = 2;           // 512 bytes per sector
  b[0x0D] = 8;           // sectors per cluster
  b[0x15] = (char)0xF8;  // media
  for (int i = 0; i < 8; i++) b[0x28 + i] = (char)(total >> (8 * i));
  b[0x30] = 1;           // the MFT in the second cluster
  b[0x40] = (char)0xF6;  // MFT records of 1 KiB
  b[0x44] = 1;           // one cluster per index record
  b[510] = (char)0x55;
  b[511] = (char)0xAA;
  return b;
}

void writeNtfsStart(const std::string& image, unsigned long long sector, unsigned long long total) {
  writeSector(image, sector, ntfsBootSector(total));
  std::string record(512, '\0');
  memcpy(&record[0], "FILE", 4);
  writeSector(image, sector + 8, record);
}

std::string tableSector(const std::vector<std::string>& entries) {
  std::string s(512, '\0');
  for (size_t k = 0; k < entries.size(); k++) s.replace(446 + 16 * k, 16, entries[k]);
  s[510] = (char)0x55;
  s[511] = (char)0xAA;
  return s;
}

std::vector<RecoverPart> chooseAll(Analyse& analyser, int disk, const std::vector<FXulong>& sectors) {
  std::vector<RecoverPart> chosen;
  const NRD& d = analyser.disks.at(disk);
  for (FXulong s : sectors) {
    for (const FoundPartition& p : analyser.GetValidPartitions(disk, s)) {
      RecoverPart r;
      r.device = d.device;
      r.sector = s;
      r.first = p.start;
      r.size = p.sectors * 512;
      r.logical = p.logical();
      r.heads = d.logical.heads;
      r.sectorsPerTrack = d.logical.sectors;
      chosen.push_back(r);
    }
  }
  return chosen;
}

std::vector<VolumeSpan> foundVolumes(Analyse& analyser, int disk, const std::vector<FXulong>& sectors) {
  CandidateFinder finder(analyser);
  return FoundVolumes(analyser, finder.place(disk, sectors));
}

std::vector<FXulong> searchAllGaps(Analyse& analyser, int disk) {
  const NRD& d = analyser.disks.at(disk);
  FXulong sectors = 0;
  for (const Gap& g : d.gaps) sectors += g.size;
  RecordingProgress progress((FXuint)sectors);
  std::vector<FXulong> found;
  for (const Gap& g : std::list<Gap>(d.gaps)) {
    std::vector<FXulong> part = analyser.Search(&progress, nullptr, disk, false, g.distance,
                                                g.distance + g.size, (FXint)d.gaps.size());
    found.insert(found.end(), part.begin(), part.end());
  }
  return found;
}

bool sameFile(const std::string& a, const std::string& b) {
  return sh("cmp -s '" + a + "' '" + b + "'") == 0;
}

std::vector<SfdiskFree> sfdiskFree(const std::string& image) {
  std::string out;
  sh("sfdisk -F '" + image + "'", &out);
  std::vector<SfdiskFree> stretches;
  std::istringstream lines(out);
  std::string line;
  bool table = false;
  while (std::getline(lines, line)) {
    if (line.find("Start") != std::string::npos && line.find("End") != std::string::npos) {
      table = true;
      continue;
    }
    if (!table) continue;
    std::istringstream fields(line);
    SfdiskFree f;
    if (fields >> f.start >> f.end) stretches.push_back(f);
  }
  return stretches;
}

void putEntry(const std::string& image, unsigned long long tableSector, int slot, unsigned type,
              unsigned dist, unsigned num) {
  const std::string entry = entryBytes((unsigned char)type, dist, num);
  patchFile(image, tableSector * 512 + 446 + 16 * slot, entry.data(), entry.size());
  const unsigned char signature[2] = {0x55, 0xAA};
  patchFile(image, tableSector * 512 + 510, signature, 2);
}

std::unique_ptr<Analyse> analyserWithoutDisks() {
  CountingDisk noDisks;
  noDisks.fakeDiskList = true;
  return std::unique_ptr<Analyse>(new Analyse());
}

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
  std::unique_ptr<Analyse> reader = analyseImage(file, chs);
  sharedAnalyser = analyse;
  if (reader->disks.size() != 1) return -1;
  return addRecord(reader->disks[0]);
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
