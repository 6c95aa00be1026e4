// The names Linux gives partitions ("sdb5", "nvme0n1p2", "image.img5"):
// the wizard shows them where a Windows program would show drive letters.
#ifndef KV_PARTITIONNAMES_H
#define KV_PARTITIONNAMES_H

#include <fx.h>

#include <set>
#include <vector>

#include "Records.h"

// The name of partition `number` of `device` (a path): the last part of the
// path with the number appended, after a "p" when that part ends in a digit
// (nvme0n1p2, loop0p1).  Empty when `number` is below 1.
FXString LinuxPartitionName(const FXString& device, FXint number);

// The last part of a device path: "sdb" for /dev/sdb, "image.img" for an image.
FXString DeviceShortName(const FXString& device);

// The name of a type byte ("W95 FAT32 (LBA)"); its hex value when the
// table of type names does not list it.
FXString PartitionTypeText(FXuchar type);

// The primary partitions of `disk` (those of its MBR, without the extended
// one) as "sdb1 W95 FAT32 (LBA)", in table order.
std::vector<FXString> PrimaryPartitionNames(const NRD& disk);

// Numbers of the partitions of one disk as the kernel counts them: the
// entries of the MBR 1 to 4 in table order, logical partitions from 5 in
// chain order.  Proposes the numbers that partitions written back would get.
class PartitionNumbers {
public:
  explicit PartitionNumbers(const std::vector<Partition>& partitions);
  // The number of partitions[index]; 0 for a link of the extended chain.
  FXint numberOf(size_t index) const { return index < numbers.size() ? numbers[index] : 0; }
  // The next number free for a partition written back: the lowest free MBR
  // entry for a primary one (0 when all four are taken), the one after the
  // last logical partition for a logical one.
  FXint propose(bool logical);

private:
  std::vector<FXint> numbers;
  std::set<FXint> takenPrimary;
  FXint nextLogical;
};

#endif
