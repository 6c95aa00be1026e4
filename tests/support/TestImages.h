// Helpers for tests: temporary folders, disk images made with real tools,
// shell commands.
#ifndef KV_TEST_IMAGES_H
#define KV_TEST_IMAGES_H

#include <fx.h>

#include <string>
#include <vector>

namespace kvtest {

// Runs a shell command; returns its exit status and, if given, its standard output.
int sh(const std::string& command, std::string* output = nullptr);

// True when `tool` is on the PATH.
bool haveTool(const std::string& tool);

// A temporary folder, removed with everything in it when the object dies.
class TempDir {
public:
  TempDir();
  ~TempDir();
  std::string path(const std::string& name = "") const;

private:
  std::string dir;
};

// Creates a sparse image file of `bytes` bytes filled with zeros.
void makeImage(const std::string& file, unsigned long long bytes);

// Applies an sfdisk script to an image file.
bool sfdisk(const std::string& file, const std::string& script);

// A "mkfs" for mkfsAt that makes an LVM2 physical volume.  pvcreate wants a
// block device: the volume's file is attached to a loop device for it, and
// detached again whatever pvcreate says.  It fails where no loop device can
// be attached.
extern const char* const PVCREATE;

// Makes a file system of `sectors` sectors with `mkfs` (a command line that
// takes the target file as its last argument) and copies it into `image` at
// `startSector`, keeping the image sparse.  False when mkfs fails.
bool mkfsAt(const std::string& image, unsigned long long startSector, unsigned long long sectors,
            const std::string& mkfs);

// Clears the four slots of the table at `sector`, keeping its boot code and
// signature; at sector 0 the disk's partitions are lost.
void clearTable(const std::string& image, unsigned long long sector = 0);

// Copies `size` sectors from `start` of the image into `file`.
bool extractSectors(const std::string& image, unsigned long long start, unsigned long long size,
                    const std::string& file);

// One partition as `sfdisk -d` lists it.
struct SfdiskPartition {
  int number;  // 1-4 primary, 5.. logical
  unsigned long long start, size;
  unsigned type;
  std::string name;  // its device as sfdisk names it, without the folder ("disk.img5")
};
std::vector<SfdiskPartition> sfdiskDump(const std::string& image);

// The same as lines "start size type" (type in hex, as sfdisk prints it).
std::vector<std::string> sfdiskPartitions(const std::string& image);

// The contents of a file.
std::string readFile(const std::string& file);

// Writes `length` bytes at byte `offset` of a file.
void patchFile(const std::string& file, unsigned long long offset, const void* data, size_t length);

// A loop device attached over an image, detached when the object dies;
// a read-only one refuses every write, as a write-protected disk does.
// `device` stays empty when the machine cannot attach loop devices.
class LoopDevice {
public:
  explicit LoopDevice(const std::string& image, unsigned sectorSize = 512, bool readOnly = false);
  ~LoopDevice();
  std::string device;
};

// What blkid finds in partition `number` of the image's table: through a
// loop device and its partitions, or at the partition's start when no loop
// device can be attached.  "vfat\n", ...
std::string typeThroughEntry(const std::string& image, int number, unsigned long long start);

}  // namespace kvtest

#endif
