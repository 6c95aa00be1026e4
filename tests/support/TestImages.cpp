#include "support/TestImages.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kvtest {

int sh(const std::string& command, std::string* output) {
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) text.append(buffer, n);
  int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool haveTool(const std::string& tool) {
  return sh("command -v " + tool + " >/dev/null") == 0;
}

TempDir::TempDir() {
  char pattern[] = "/tmp/kvtest.XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  dir = pattern;
}

TempDir::~TempDir() { sh("rm -rf '" + dir + "'"); }

std::string TempDir::path(const std::string& name) const {
  return name.empty() ? dir : dir + "/" + name;
}

void makeImage(const std::string& file, unsigned long long bytes) {
  int fd = open(file.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd < 0 || ftruncate(fd, (off_t)bytes) != 0) throw std::runtime_error("cannot make " + file);
  close(fd);
}

bool sfdisk(const std::string& file, const std::string& script) {
  std::string command = "printf '%s' '" + script + "' | sfdisk --no-reread --no-tell-kernel -q '" +
                        file + "' >/dev/null";
  return sh(command) == 0;
}

const char* const PVCREATE =
    "sh -c 'd=$(losetup --find --show \"$0\") && pvcreate -qq --config \"devices{use_devicesfile=0}\" \"$d\";"
    " r=$?; [ -n \"$d\" ] && losetup -d \"$d\"; exit $r'";

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

void clearTable(const std::string& image, unsigned long long sector) {
  unsigned char zeros[64];
  memset(zeros, 0, sizeof(zeros));
  patchFile(image, sector * 512 + 446, zeros, sizeof(zeros));
}

bool extractSectors(const std::string& image, unsigned long long start, unsigned long long size,
                    const std::string& file) {
  return sh("dd if='" + image + "' of='" + file + "' bs=512 skip=" + std::to_string(start) +
            " count=" + std::to_string(size) + " conv=sparse status=none") == 0;
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
    std::string device = line.substr(0, line.find_last_not_of(' ', colon) + 1);
    p.name = device.substr(device.rfind('/') + 1);
    parts.push_back(p);
  }
  return parts;
}

std::vector<std::string> sfdiskPartitions(const std::string& image) {
  std::vector<std::string> lines;
  char type[16];
  for (const SfdiskPartition& p : sfdiskDump(image)) {
    snprintf(type, sizeof(type), "%x", p.type);
    lines.push_back(std::to_string(p.start) + " " + std::to_string(p.size) + " " + type);
  }
  return lines;
}

std::string readFile(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void patchFile(const std::string& file, unsigned long long offset, const void* data,
               size_t length) {
  int fd = open(file.c_str(), O_WRONLY);
  if (fd < 0 || pwrite(fd, data, length, (off_t)offset) != (ssize_t)length)
    throw std::runtime_error("cannot patch " + file);
  close(fd);
}

LoopDevice::LoopDevice(const std::string& image, unsigned sectorSize, bool readOnly) {
  std::string out;
  if (sh("losetup --find --show --sector-size " + std::to_string(sectorSize) +
             (readOnly ? " --read-only '" : " '") + image + "'",
         &out) == 0) {
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    device = out;
  }
}

LoopDevice::~LoopDevice() {
  if (!device.empty()) sh("losetup -d '" + device + "'");
}

std::string typeThroughEntry(const std::string& image, int number, unsigned long long start) {
  LoopDevice loop(image);
  std::string type;
  std::string quoted = "'" + image + "'";
  if (loop.device.empty()) {
    sh("blkid -p -o value -s TYPE -O " + std::to_string(start * 512) + " " + quoted, &type);
  } else {
    sh("partx -a '" + loop.device + "' 2>/dev/null; blkid -p -o value -s TYPE '" + loop.device + "p" +
           std::to_string(number) + "'",
       &type);
  }
  return type;
}

}  // namespace kvtest
