#include "PartitionNames.h"

#include <algorithm>
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

PartitionNumbers::PartitionNumbers(const std::vector<Partition>& partitions) {
  FXint primary = 0, logical = 4;
  for (const Partition& p : partitions) {
    FXint number = 0;
    if (p.l == 1) {
      number = ++primary;
    } else if (!p.isExtended()) {
      number = ++logical;
    }
    numbers.push_back(number);
  }
}

std::vector<FXint> PlannedNumbers(const NRD& disk, const LayoutPlan& plan,
                                  const std::vector<FXulong>& firsts) {
  std::vector<FXulong> entries, chain;
  for (const Partition& p : disk.partitions) {
    if (p.l == 1)
      entries.push_back(p.start());
    else if (!p.isExtended())
      chain.push_back(p.start());
  }
  if (plan.newExtended) entries.push_back(plan.extended.first);
  for (const PlacedVolume& v : plan.volumes) (v.logical ? chain : entries).push_back(firsts[v.request]);
  std::sort(entries.begin(), entries.end());
  std::sort(chain.begin(), chain.end());
  auto place = [](const std::vector<FXulong>& all, FXulong first) {
    return (FXint)(std::lower_bound(all.begin(), all.end(), first) - all.begin());
  };
  std::vector<FXint> numbers;
  for (const PlacedVolume& v : plan.volumes) {
    FXulong first = firsts[v.request];
    numbers.push_back(v.logical ? 5 + place(chain, first) : 1 + place(entries, first));
  }
  return numbers;
}
