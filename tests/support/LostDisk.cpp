#include "support/LostDisk.h"

#include <sstream>

#include "Information.h"
#include "Records.h"
#include "support/Engine.h"
#include "support/TestImages.h"

namespace kvtest {

std::string quote(const std::string& text) {
  std::string q = "'";
  for (char c : text) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

std::string englishText(const char* key) {
  Information::ReadTranslations();
  Information info;
  return info.GetString(key, "EN").text();
}

static std::string mkfsCommand(const Volume& v, int heads, int spt) {
  if (v.fs == "fat16") return "mkfs.vfat -F 16 -h " + std::to_string(v.start);
  if (v.fs == "fat32") return "mkfs.vfat -F 32 -s 1 -h " + std::to_string(v.start);
  if (v.fs == "ntfs")
    return "mkfs.ntfs -Q -F -p " + std::to_string(v.start) + " -H " + std::to_string(heads) +
           " -S " + std::to_string(spt);
  if (v.fs == "ext2") return "mke2fs -q -F -t ext2";
  return "false";
}

bool makeDisk(const std::string& image, unsigned long long sectors,
              const std::vector<Volume>& volumes, bool withTable, int heads, int spt) {
  makeImage(image, sectors * 512);
  std::ostringstream script;
  script << "label: dos\nlabel-id: 0x4b564c31\n";
  if (withTable) {
    for (const Volume& v : volumes) {
      char type[8];
      snprintf(type, sizeof(type), "%x", v.type);
      script << "start=" << v.start << ", size=" << v.sectors << ", type=" << type << "\n";
    }
  }
  if (!sfdisk(image, script.str())) return false;
  for (const Volume& v : volumes) {
    if (!v.fs.empty() && !mkfsAt(image, v.start, v.sectors, mkfsCommand(v, heads, spt)))
      return false;
  }
  return true;
}

bool fsckVolume(const std::string& image, unsigned long long start, unsigned long long sectors,
                const std::string& fs) {
  std::string part = image + ".check";
  if (!extractSectors(image, start, sectors, part)) return false;
  std::string check;
  if (fs == "fat16" || fs == "fat32") {
    check = "fsck.vfat -n ";
  } else if (fs == "ntfs") {
    check = "ntfsfix -n ";
  } else if (fs == "reiserfs") {
    check = "printf 'Yes\\n' | reiserfsck --check -q ";  // it asks before it starts
  } else {
    check = "e2fsck -n -f ";
  }
  int status = sh(check + quote(part) + " >/dev/null");
  sh("rm -f " + quote(part));
  return status == 0;
}

CliResult runCli(const std::string& args, const std::string& input) {
  return runProgram("./kelvarin-cli " + args, input);
}

CliResult runProgram(const std::string& command, const std::string& input) {
  TempDir io;
  std::string in = io.path("in"), out = io.path("out"), err = io.path("err");
  {
    FILE* f = fopen(in.c_str(), "w");
    if (f) {
      fputs(input.c_str(), f);
      fclose(f);
    }
  }
  std::string status;
  // A run that hangs (a FIFO read, say) ends with status 124, not with the test.
  sh("timeout -k 5 240 " + command + " <" + quote(in) + " >" + quote(out) + " 2>" + quote(err) +
         "; echo $?",
     &status);
  CliResult r;
  r.status = atoi(status.c_str());
  r.out = readFile(out);
  r.err = readFile(err);
  return r;
}

namespace {
const unsigned long long CYLINDER = 255ull * 63;
// Five cylinders less the first track, rounded down to the multiple of 8
// sectors that mkfs.vfat makes the file system: the table entry and the
// file system then agree on the size.
const unsigned long long FAT_SECTORS = (5 * CYLINDER - 63) / 8 * 8;

// Describes a disk of `cylinders` cylinders of 255 x 63 holding `volumes`,
// makes it, and wipes its table's four slots (boot code and signature kept).
bool makeLost(const std::string& image, unsigned cylinders, std::vector<Volume> volumes,
              LostDisk& disk) {
  disk.image = image;
  disk.chs = std::to_string(cylinders) + "/255/63";
  disk.sectors = cylinders * CYLINDER;
  disk.partitions = volumes;
  if (volumes.empty()) {
    makeImage(image, disk.sectors * 512);
    return true;
  }
  if (!makeDisk(image, disk.sectors, volumes, true, 255, 63)) return false;
  clearTable(image);
  return true;
}
}  // namespace

bool makeLostFatNtfsDisk(const std::string& image, LostDisk& disk) {
  return makeLost(image, 10, {{63, FAT_SECTORS, "fat32", 0x0c}, {5 * CYLINDER, 3 * CYLINDER, "ntfs", 0x07}},
                  disk);
}

std::vector<unsigned long long> chainTables(const std::string& image) {
  std::vector<unsigned long long> tables;
  std::string mbr = readSector(image, 0);
  unsigned long long first = 0;
  for (int slot = 0; slot < 4 && first == 0; slot++) {
    PartitionEntry e = PartitionEntry::fromTable((const FXuchar*)mbr.data(), slot);
    if (isExtendedType(e.type)) first = e.dist;
  }
  for (unsigned long long at = first; at != 0 && tables.size() < 16;) {
    tables.push_back(at);
    std::string table = readSector(image, at);
    PartitionEntry link = PartitionEntry::fromTable((const FXuchar*)table.data(), 1);
    at = isExtendedType(link.type) ? first + link.dist : 0;
  }
  return tables;
}

bool makeLostChainDisk(const std::string& image, LostDisk& disk) {
  const unsigned long long cylinder = 16 * 63, volume = 20 * cylinder - 63;
  disk.image = image;
  disk.chs = "80/16/63";
  disk.sectors = 80 * cylinder;
  disk.partitions = {{63, volume, "fat16", 0x06},
                     {20 * cylinder, 60 * cylinder, "", 0x05},
                     {20 * cylinder + 63, volume, "fat16", 0x06},
                     {40 * cylinder + 63, volume, "ntfs", 0x07},
                     {60 * cylinder + 63, volume, "ext2", 0x83}};
  if (!makeDisk(image, disk.sectors, disk.partitions, true, 16, 63)) return false;
  disk.tables = chainTables(image);
  clearTable(image);
  return disk.tables.size() == 3;
}

bool writeFilledFat16(const std::string& image, unsigned long long start, unsigned long long sectors,
                      const std::string& label, unsigned innerBytes) {
  TempDir dir;
  const std::string volume = dir.path("volume.img"), files = dir.path("files");
  sh("mkdir -p " + files + "/sub && printf 'hello\\n' > " + files + "/hello.txt && head -c " +
     std::to_string(innerBytes) + " /dev/zero > " + files + "/sub/inner.bin");
  makeImage(volume, sectors * 512);
  return sh("mkfs.fat -F 16 -n " + label + " " + volume + " >/dev/null") == 0 &&
         sh("mcopy -s -i " + volume + " " + files + "/* ::/") == 0 &&
         sh("dd if=" + volume + " of=" + quote(image) + " bs=512 seek=" + std::to_string(start) +
            " conv=notrunc status=none") == 0;
}

bool makeBlankDisk(const std::string& image, unsigned cylinders, LostDisk& disk) {
  return makeLost(image, cylinders, {}, disk);
}

bool makeLostFatDisk(const std::string& image, unsigned cylinders, LostDisk& disk) {
  return makeLost(image, cylinders, {{63, FAT_SECTORS, "fat32", 0x0c}}, disk);
}

}  // namespace kvtest
