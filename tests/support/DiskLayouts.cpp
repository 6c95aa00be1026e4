#include "support/DiskLayouts.h"

#include <cstring>
#include <sstream>

#include "support/CountingDisk.h"
#include "support/TestImages.h"

namespace kvtest {

bool mkfsAt(const std::string& image, unsigned long long startSector, unsigned long long sectors,
            const std::string& mkfs) {
  std::string fs = image + ".fs";
  makeImage(fs, sectors * 512);
  bool ok = sh(mkfs + " '" + fs + "' >/dev/null 2>&1") == 0 &&
            sh("dd if='" + fs + "' of='" + image + "' bs=64K conv=notrunc,sparse oflag=seek_bytes seek=" +
               std::to_string(startSector * 512) + " status=none") == 0;
  sh("rm -f '" + fs + "'");
  return ok;
}

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

std::unique_ptr<Analyse> analyseImage(const std::string& image, const std::string& chs) {
  std::vector<std::string> args = {"kelvarin", "-chs", chs, "-file", image};
  std::vector<FXchar*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  return std::unique_ptr<Analyse>(new Analyse(nullptr, (FXint)argv.size(), argv.data()));
}

void putEntry(const std::string& image, unsigned long long tableSector, int slot, unsigned type,
              unsigned dist, unsigned num) {
  unsigned char entry[16] = {0};
  entry[4] = (unsigned char)type;
  for (int i = 0; i < 4; i++) {
    entry[8 + i] = (unsigned char)(dist >> (8 * i));
    entry[12 + i] = (unsigned char)(num >> (8 * i));
  }
  patchFile(image, tableSector * 512 + 446 + 16 * slot, entry, sizeof(entry));
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

void clearTable(const std::string& image, unsigned long long sector) {
  unsigned char zeros[64];
  memset(zeros, 0, sizeof(zeros));
  patchFile(image, sector * 512 + 446, zeros, sizeof(zeros));
}

}  // namespace kvtest
