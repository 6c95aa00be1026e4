#include "support/WizardDisks.h"

#include "support/TestImages.h"

namespace kvtest {

namespace {

const unsigned long long CYLINDER = 255ull * 63;
// Five cylinders less the first track, rounded down to the multiple of 8
// sectors that mkfs.vfat makes the file system: the table entry and the
// file system then agree on the size.
const unsigned long long FAT_SECTORS = (5 * CYLINDER - 63) / 8 * 8;

}  // namespace

bool makeLostFatNtfsDisk(const std::string& image, LostDisk& disk) {
  disk.image = image;
  disk.chs = "10/255/63";
  disk.sectors = 10 * CYLINDER;
  LostPartition fat{63, FAT_SECTORS, "c", "fsck.vfat -n %s"};
  LostPartition ntfs{5 * CYLINDER, 3 * CYLINDER, "7", "ntfsfix -n %s"};
  disk.partitions = {fat, ntfs};
  makeImage(image, disk.sectors * 512);
  std::string script = "label: dos\nstart=63, size=" + std::to_string(fat.size) +
                       ", type=c\nstart=" + std::to_string(ntfs.start) +
                       ", size=" + std::to_string(ntfs.size) + ", type=7\n";
  if (!sfdisk(image, script)) return false;
  if (!mkfsAt(image, fat.start, fat.size, "mkfs.vfat -F 32 -s 1 -h 63 -n LOSTFAT")) return false;
  if (!mkfsAt(image, ntfs.start, ntfs.size,
            "mkfs.ntfs -Q -F -q -L LostNTFS -p " + std::to_string(ntfs.start) + " -H 255 -S 63"))
    return false;
  clearTable(image);
  return true;
}

bool makeBlankDisk(const std::string& image, unsigned cylinders, LostDisk& disk) {
  disk.image = image;
  disk.chs = std::to_string(cylinders) + "/255/63";
  disk.sectors = cylinders * CYLINDER;
  disk.partitions.clear();
  makeImage(image, disk.sectors * 512);
  return true;
}

bool makeLostFatDisk(const std::string& image, unsigned cylinders, LostDisk& disk) {
  disk.image = image;
  disk.chs = std::to_string(cylinders) + "/255/63";
  disk.sectors = cylinders * CYLINDER;
  LostPartition fat{63, FAT_SECTORS, "c", "fsck.vfat -n %s"};
  disk.partitions = {fat};
  makeImage(image, disk.sectors * 512);
  if (!sfdisk(image, "label: dos\nstart=63, size=" + std::to_string(fat.size) + ", type=c\n"))
    return false;
  if (!mkfsAt(image, fat.start, fat.size, "mkfs.vfat -F 32 -s 1 -h 63 -n LOSTFAT")) return false;
  clearTable(image);
  return true;
}

std::string tableListing(const std::string& image) {
  std::string out;
  sh("sfdisk -d '" + image + "'", &out);
  // Partition lines start with the file name: keep what follows the colon.
  std::string result, line;
  for (size_t i = 0; i <= out.size(); i++) {
    if (i == out.size() || out[i] == '\n') {
      size_t colon = line.find(" : ");
      if (colon != std::string::npos) result += line.substr(colon + 3) + "\n";
      line.clear();
    } else {
      line += out[i];
    }
  }
  return result;
}

}  // namespace kvtest
