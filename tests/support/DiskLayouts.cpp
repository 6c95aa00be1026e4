#include "support/DiskLayouts.h"

#include <sstream>

#include "support/CountingDisk.h"
#include "support/TestImages.h"

namespace kvtest {

std::vector<SfdiskPartition> sfdiskDump(const std::string& image) {
  std::string out;
  sh("sfdisk -d '" + image + "'", &out);
  std::vector<SfdiskPartition> parts;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    size_t colon = line.find(" : start=");
    if (colon == std::string::npos) continue;
    size_t digits = line.find_last_not_of("0123456789", colon - 1) + 1;
    SfdiskPartition p;
    p.number = std::stoi(line.substr(digits, colon - digits));
    p.start = std::stoull(line.substr(line.find("start=") + 6));
    p.size = std::stoull(line.substr(line.find("size=") + 5));
    p.type = (unsigned)std::stoul(line.substr(line.find("type=") + 5), nullptr, 16);
    parts.push_back(p);
  }
  return parts;
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

NRD diskRecord(const std::string& device, unsigned long long sectors, int heads, int spt) {
  CHS geometry(sectors / (FXulong)(heads * spt), heads, spt);
  return NRD(device.c_str(), "test disk", geometry, geometry, sectors);
}

}  // namespace kvtest
