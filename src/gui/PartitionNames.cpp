#include "PartitionNames.h"

#include <cctype>

#include "FileSystem.h"

FXString DeviceShortName(const FXString& device) { return FXPath::name(device); }

FXString LinuxPartitionName(const FXString& device, FXint number) {
  if (number < 1) return FXString::null;
  FXString base = DeviceShortName(device);
  bool endsInDigit = !base.empty() && isdigit((unsigned char)base[base.length() - 1]);
  return base + (endsInDigit ? "p" : "") + FXStringVal(number);
}

FXString PartitionTypeText(FXuchar type) {
  const FXchar* name = PartitionTypeName(type);
  if (name) return FXString(name);
  FXString hex;
  hex.format("0x%02X", type);
  return hex;
}

std::vector<FXString> PrimaryPartitionNames(const NRD& disk) {
  PartitionNumbers numbers(disk.partitions);
  std::vector<FXString> names;
  for (size_t i = 0; i < disk.partitions.size(); i++) {
    const Partition& p = disk.partitions[i];
    if (p.l != 1 || p.isExtended()) continue;
    names.push_back(LinuxPartitionName(disk.device, numbers.numberOf(i)) + " " + PartitionTypeText(p.entry.type));
  }
  return names;
}

PartitionNumbers::PartitionNumbers(const std::vector<Partition>& partitions) : nextLogical(5) {
  FXint primary = 0;
  for (const Partition& p : partitions) {
    FXint number = 0;
    if (p.l == 1) {
      number = ++primary;
      takenPrimary.insert(number);
    } else if (!p.isExtended()) {
      number = nextLogical++;
    }
    numbers.push_back(number);
  }
}

FXint PartitionNumbers::propose(bool logical) {
  if (logical) return nextLogical++;
  for (FXint n = 1; n <= 4; n++)
    if (takenPrimary.insert(n).second) return n;
  return 0;
}
