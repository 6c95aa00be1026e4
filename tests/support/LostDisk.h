// Disk images whose partitions were lost, made with the real mkfs tools and
// sfdisk, for tests that search and recover them; and a way to run
// kelvarin-cli on them.
#ifndef KV_TEST_LOSTDISK_H
#define KV_TEST_LOSTDISK_H

#include <string>
#include <vector>

namespace kvtest {

// One file system inside an image: "fat16", "fat32", "ntfs" or "ext2"; an
// extended partition has none ("").
struct Volume {
  unsigned long long start;
  unsigned long long sectors;
  std::string fs;
  int type;  // the type byte of its table entry
};

// Makes `image` of `sectors` sectors, writes an MBR holding the volumes
// (when `withTable`; otherwise an empty table with its signature) and
// fills each volume with its file system.  `heads` and `spt` are the
// geometry the file systems are told about.
bool makeDisk(const std::string& image, unsigned long long sectors,
              const std::vector<Volume>& volumes, bool withTable, int heads = 16, int spt = 63);

// Copies one volume out of the image and checks it with its fsck in
// no-change mode ("fat16", "fat32", "ntfs", "reiserfs"; any other name is
// checked as ext2/3/4); true when it is clean.
bool fsckVolume(const std::string& image, unsigned long long start, unsigned long long sectors,
                const std::string& fs);

// The EPTBs of the chain the MBR's extended entry leads to, in chain order
// (at most 16).
std::vector<unsigned long long> chainTables(const std::string& image);

// kelvarin-cli run from the build directory.
struct CliResult {
  int status;
  std::string out;
  std::string err;
};
CliResult runCli(const std::string& args, const std::string& input = "");
// Any program with its arguments, run the same way.
CliResult runProgram(const std::string& command, const std::string& input = "");

// Shell-quotes one argument.
std::string quote(const std::string& text);

// The English text of a translation key, as kelvarin-cli shows it.
std::string englishText(const char* key);

struct LostDisk {
  std::string image;
  std::string chs;  // "C/H/S" for -chs
  unsigned long long sectors;
  std::vector<Volume> partitions;
  std::vector<unsigned long long> tables;  // the extended chain's EPTBs, in chain order
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

// 80 cylinders of 16 heads and 63 sectors (39 MiB): a FAT16 file system at
// sector 63, then an extended partition whose chain holds a FAT16, an NTFS
// and an ext2 file system, 20 cylinders each; the MBR's four slots wiped,
// the chain's tables (in `tables`) kept.
bool makeLostChainDisk(const std::string& image, LostDisk& disk);

// A FAT16 volume of `sectors` sectors labelled `label`, holding hello.txt
// ("hello\n") and sub/inner.bin (`innerBytes` zero bytes), made by mkfs.fat
// and filled by mcopy, written at `start` of the existing `image`.  False
// when a tool fails.
bool writeFilledFat16(const std::string& image, unsigned long long start, unsigned long long sectors,
                      const std::string& label, unsigned innerBytes);

// The EPTBs of the chain the MBR's extended entry leads to, in chain order
// (at most 16).
std::vector<unsigned long long> chainTables(const std::string& image);


}  // namespace kvtest

#endif
