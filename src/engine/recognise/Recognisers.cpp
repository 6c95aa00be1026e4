// The table of recognisers, the names of what they find, and the partition
// types those volumes get.
#include "recognise/Recogniser.h"

namespace {

// Below 32 MiB a FAT16 partition has its own type.
const FXulong SMALL_FAT16_SECTORS = 65536;

}  // namespace

const std::vector<const Recogniser*>& allRecognisers() {
  static const std::vector<const Recogniser*> table = {
      &fatRecogniser,   &ntfsRecogniser, &exfatRecogniser, &extRecogniser, &reiserRecogniser,
      &xfsRecogniser,   &btrfsRecogniser, &swapRecogniser, &lvmRecogniser,
  };
  return table;
}

const FXchar* volumeKindName(VolumeKind kind) {
  switch (kind) {
    case VolumeKind::EXT2: return "ext2";
    case VolumeKind::EXT3: return "ext3";
    case VolumeKind::EXT4: return "ext4";
    case VolumeKind::REISERFS: return "ReiserFS";
    case VolumeKind::XFS: return "XFS";
    case VolumeKind::BTRFS: return "btrfs";
    case VolumeKind::SWAP: return "swap";
    case VolumeKind::LVM2_PV: return "LVM2 PV";
    case VolumeKind::EXFAT: return "exFAT";
    case VolumeKind::FAT12: return "FAT12";
    case VolumeKind::FAT16: return "FAT16";
    case VolumeKind::FAT32: return "FAT32";
    case VolumeKind::NTFS: return "NTFS";
  }
  return "unknown";
}

const FXchar* foundByName(FoundBy by) {
  switch (by) {
    case FoundBy::BOOT_SECTOR: return "boot sector";
    case FoundBy::SUPERBLOCK: return "superblock";
    case FoundBy::BACKUP: return "backup";
  }
  return "unknown";
}

FXuchar mbrTypeFor(VolumeKind kind, FXulong sectors, bool needsLba) {
  switch (kind) {
    case VolumeKind::SWAP: return 0x82;
    case VolumeKind::LVM2_PV: return 0x8E;
    case VolumeKind::NTFS:
    case VolumeKind::EXFAT: return 0x07;
    case VolumeKind::FAT12: return 0x01;
    case VolumeKind::FAT16: return needsLba ? 0x0E : sectors < SMALL_FAT16_SECTORS ? 0x04 : 0x06;
    case VolumeKind::FAT32: return needsLba ? 0x0C : 0x0B;
    default: return 0x83;  // the Linux file systems
  }
}
