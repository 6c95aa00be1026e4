// Disk images whose partitions were lost, made with the real tools, and a
// way to run kelvarin-cli on them.
#ifndef KV_TEST_LOSTDISK_H
#define KV_TEST_LOSTDISK_H

#include <string>
#include <vector>

namespace kvtest {

// One file system inside an image: "fat16", "fat32", "ntfs" or "ext2".
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
// no-change mode; true when it is clean.
bool fsckVolume(const std::string& image, unsigned long long start, unsigned long long sectors,
                const std::string& fs);

// kelvarin-cli run from the build directory.
struct CliResult {
  int status;
  std::string out;
  std::string err;
};
CliResult runCli(const std::string& args, const std::string& input = "");

// Shell-quotes one argument.
std::string quote(const std::string& text);

}  // namespace kvtest

#endif
