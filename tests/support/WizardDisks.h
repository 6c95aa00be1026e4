// Disk images whose partition table has lost real file systems, made with
// the real mkfs tools, for tests that search and recover them.
#ifndef KV_TEST_WIZARDDISKS_H
#define KV_TEST_WIZARDDISKS_H

#include <string>
#include <vector>

namespace kvtest {

struct LostPartition {
  unsigned long long start;  // first sector
  unsigned long long size;   // sectors
  std::string type;          // sfdisk type of the partition as it was
  std::string fsck;          // command that checks a copy of it, "%s" for the file
};

struct LostDisk {
  std::string image;
  std::string chs;  // "C/H/S" for -chs
  unsigned long long sectors;
  std::vector<LostPartition> partitions;
};

// 10 cylinders of 255 heads and 63 sectors (82 MiB): a FAT32 file system at
// sector 63 and an NTFS one on the fifth cylinder boundary; the table's four
// slots wiped (boot code area and signature kept).  False when a tool fails.
bool makeLostFatNtfsDisk(const std::string& image, LostDisk& disk);

// An empty disk of `cylinders` cylinders with the same geometry and no
// table at all: a search finds nothing on it.
bool makeBlankDisk(const std::string& image, unsigned cylinders, LostDisk& disk);

// A disk of `cylinders` cylinders (sparse) with one FAT32 file system at
// sector 63 whose table entry is lost; for long searches.
bool makeLostFatDisk(const std::string& image, unsigned cylinders, LostDisk& disk);

// The partition lines of sfdisk -d of the image, without the file name:
// "start=..., size=..., type=..." one per partition, empty for none.
std::string tableListing(const std::string& image);

}  // namespace kvtest

#endif
