// The names Linux gives partitions ("sdb5", "nvme0n1p2", "image.img5"):
// the wizard shows them where a Windows program would show drive letters.
#ifndef KV_PARTITIONNAMES_H
#define KV_PARTITIONNAMES_H

#include <fx.h>

#include <vector>

#include "Placement.h"
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
// chain order.
class PartitionNumbers {
public:
  explicit PartitionNumbers(const std::vector<Partition>& partitions);
  // The number of partitions[index]; 0 for a link of the extended chain.
  FXint numberOf(size_t index) const { return index < numbers.size() ? numbers[index] : 0; }

private:
  std::vector<FXint> numbers;
};

// The numbers the kernel gives the volumes of `plan` once the MBR writer has
// put them on `disk`, one per volume of the plan, in its order; `firsts`
// holds each request's first sector.  The writer leaves the MBR's entries
// in disk order, so a primary is numbered by its place among them (the
// extended entry, old or new, counted); logical partitions count from 5 in
// chain order, which is disk order.
std::vector<FXint> PlannedNumbers(const NRD& disk, const LayoutPlan& plan,
                                  const std::vector<FXulong>& firsts);

#endif
