// The type each table writes for a volume the recognisers know: an MBR's
// type byte from the kind, the size and whether the volume needs LBA; a
// GPT's type GUID from the kind; the EFI system types only for a FAT volume
// the user marked so.  Both drivers answer through the one interface.
#include <gtest/gtest.h>

#include "table/GptPartitionTable.h"
#include "table/MbrPartitionTable.h"

namespace {

const FXulong SMALL = 32768;     // 16 MiB: below the 32 MiB a FAT16 type tells apart
const FXulong LARGE = 4194304;   // 2 GiB

struct Case {
  VolumeKind kind;
  FXulong sectors;
  bool needsLba;
  bool efiSystem;
  FXuchar mbr;
  const char* gpt;
};

const char* const LINUX = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";
const char* const MICROSOFT = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
const char* const SWAP = "0657FD6D-A4AB-43C4-84E5-0933C84B4F4F";
const char* const LVM = "E6D6D379-F507-44C2-A23C-238F2A3DF928";
const char* const ESP = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";

const Case CASES[] = {
    {VolumeKind::FAT12, 4096, false, false, 0x01, MICROSOFT},
    {VolumeKind::FAT12, 4096, true, false, 0x01, MICROSOFT},
    {VolumeKind::FAT16, SMALL, false, false, 0x04, MICROSOFT},
    {VolumeKind::FAT16, 65535, false, false, 0x04, MICROSOFT},
    {VolumeKind::FAT16, 65536, false, false, 0x06, MICROSOFT},
    {VolumeKind::FAT16, LARGE, false, false, 0x06, MICROSOFT},
    {VolumeKind::FAT16, SMALL, true, false, 0x0E, MICROSOFT},
    {VolumeKind::FAT16, LARGE, true, false, 0x0E, MICROSOFT},
    {VolumeKind::FAT32, LARGE, false, false, 0x0B, MICROSOFT},
    {VolumeKind::FAT32, LARGE, true, false, 0x0C, MICROSOFT},
    {VolumeKind::NTFS, LARGE, true, false, 0x07, MICROSOFT},
    {VolumeKind::EXFAT, LARGE, true, false, 0x07, MICROSOFT},
    {VolumeKind::EXT2, SMALL, true, false, 0x83, LINUX},
    {VolumeKind::EXT3, SMALL, false, false, 0x83, LINUX},
    {VolumeKind::EXT4, LARGE, true, false, 0x83, LINUX},
    {VolumeKind::XFS, LARGE, true, false, 0x83, LINUX},
    {VolumeKind::BTRFS, LARGE, true, false, 0x83, LINUX},
    {VolumeKind::REISERFS, LARGE, true, false, 0x83, LINUX},
    {VolumeKind::SWAP, SMALL, true, false, 0x82, SWAP},
    {VolumeKind::LVM2_PV, LARGE, true, false, 0x8E, LVM},
    // The EFI system mark: types of its own for FAT, ignored otherwise.
    {VolumeKind::FAT12, 4096, true, true, 0xEF, ESP},
    {VolumeKind::FAT16, SMALL, false, true, 0xEF, ESP},
    {VolumeKind::FAT32, LARGE, true, true, 0xEF, ESP},
    {VolumeKind::NTFS, LARGE, true, true, 0x07, MICROSOFT},
    {VolumeKind::EXT4, LARGE, true, true, 0x83, LINUX},
};

}  // namespace

TEST(TableTypes, EachTableGivesEveryKindItsType) {
  const PartitionTable& mbr = PartitionTable::Of(TableKind::MBR);
  const PartitionTable& gpt = PartitionTable::Of(TableKind::GPT);
  ASSERT_EQ(TableKind::MBR, mbr.kind());
  ASSERT_EQ(TableKind::GPT, gpt.kind());
  for (const Case& c : CASES) {
    VolumeTraits v{c.kind, c.sectors, c.needsLba, c.efiSystem};
    SCOPED_TRACE(std::string(volumeKindName(c.kind)) + " of " + std::to_string(c.sectors) +
                 " sectors" + (c.needsLba ? ", LBA" : "") + (c.efiSystem ? ", EFI system" : ""));
    EXPECT_EQ(c.mbr, mbr.typeFor(v).code);
    EXPECT_EQ(std::string(c.gpt), gpt.typeFor(v).guid.text().text());
  }
}
