// The table of recognisers and the names of what they find.
#include "recognise/Recogniser.h"

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
