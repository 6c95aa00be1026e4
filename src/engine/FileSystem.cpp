// File-system boot-record recognition: FAT12/16/32, NTFS, ReiserFS, ext3 and
// ext2, tested in that order.
#include "FileSystem.h"

#include <cstring>

#include "IOSystem.h"
#include "compat/Assert.h"

namespace {

// Boot records and superblocks are little-endian whatever the host.
FXuint u8(const FXuchar* p, FXuint at) { return p[at]; }
FXuint u16(const FXuchar* p, FXuint at) { return le16(p + at); }
FXint s16(const FXuchar* p, FXuint at) { return (FXshort)u16(p, at); }
FXuint u32(const FXuchar* p, FXuint at) { return le32(p + at); }
FXint s32(const FXuchar* p, FXuint at) { return (FXint)u32(p, at); }
FXulong u64(const FXuchar* p, FXuint at) { return le64(p + at); }

bool isPowerOfTwo(FXuint v) { return v != 0 && (v & (v - 1)) == 0; }

// FAT boot sector.
const FXuint FAT_BYTES_PER_SECTOR = 0x0B;
const FXuint FAT_SECTORS_PER_CLUSTER = 0x0D;
const FXuint FAT_RESERVED = 0x0E;
const FXuint FAT_COUNT = 0x10;
const FXuint FAT_ROOT_ENTRIES = 0x11;
const FXuint FAT_SMALL_TOTAL = 0x13;
const FXuint FAT_MEDIA = 0x15;
const FXuint FAT_LENGTH = 0x16;
const FXuint FAT_LARGE_TOTAL = 0x20;
const FXuint FAT32_LENGTH = 0x24;
const FXuint FAT32_BACKUP_BOOT = 0x32;

// Volumes below these cluster counts are FAT12 and FAT16.
const FXuint FAT12_CLUSTER_LIMIT = 4085;
const FXuint FAT16_CLUSTER_LIMIT = 65525;

// NTFS boot sector.
const FXuint NTFS_OEM = 0x03;
const FXuint NTFS_TOTAL_SECTORS = 0x28;
const FXuint NTFS_MFT_RECORD = 0x40;
const FXuint NTFS_INDEX_RECORD = 0x44;
const FXuint NTFS_CHECKSUM = 0x50;

// ext2/ext3 superblock, 1024 bytes into the partition.
const FXuint EXT_SUPERBLOCK = 1024;
const FXuint EXT_MAGIC_AT = EXT_SUPERBLOCK + 0x38;
const FXuint EXT_MAGIC = 0xEF53;
const FXuint EXT_BLOCKS = 0x04;
const FXuint EXT_LOG_BLOCK_SIZE = 0x18;
const FXuint EXT_CREATOR_OS = 0x48;
const FXuint EXT_REVISION = 0x4C;
const FXuint EXT_COMPAT_FEATURES = 0x5C;
const FXuint EXT_HAS_JOURNAL = 0x04;

// ReiserFS superblock: old location 8 KiB in, current one 64 KiB in.
const FXulong REISER_OLD_SECTOR = 16;
const FXulong REISER_SECTOR = 128;
const FXuint REISER_BLOCKS = 0x00;
const FXuint REISER_BLOCK_SIZE = 0x2C;
const FXuint REISER_MAGIC = 0x34;

// Sectors per FAT of FAT12/16; 0 on FAT32, which keeps it at 0x24.
FXuint fatLength16(const FXuchar* BR) { return u16(BR, FAT_LENGTH); }

FXuint fatSmallOrLargeTotal(const FXuchar* BR) {
  FXuint small = u16(BR, FAT_SMALL_TOTAL);
  return small ? small : u32(BR, FAT_LARGE_TOTAL);
}

// The size in sectors of a file system of `blocks` blocks of `blockSize` bytes.
FXulong sectorsOf(FXulong blockSize, FXulong blocks) { return blockSize * blocks / SECTOR_SIZE; }

bool hasReiserMagic(const FXuchar* sb) {
  const FXchar* magic = (const FXchar*)sb + REISER_MAGIC;
  return memcmp(magic, "ReIsErFs", 8) == 0 || memcmp(magic, "ReIsEr2Fs", 9) == 0 ||
         memcmp(magic, "ReIsEr3Fs", 9) == 0;
}

// Bytes 0x40 and 0x44 give a record size either as a cluster count or, when
// negative, as a power of two in bytes.
bool validNtfsRecordSize(FXuint v) {
  return (v >= 0xE1 && v <= 0xF7) || (v <= 64 && isPowerOfTwo(v));
}

FXulong extSectors(const FXuchar* sb) {
  FXuint log = u32(sb, EXT_LOG_BLOCK_SIZE);
  // Block sizes beyond 2^31 bytes do not exist; a garbled shift gives no size.
  FXulong blockSize = log < 22 ? (FXulong)1024 << log : 0;
  return sectorsOf(blockSize, u32(sb, EXT_BLOCKS));
}

}  // namespace

FXint FileSystem::CheckFS(const FXuchar* BR, FXulong start, PartitionEntry* pr) {
  FoundVolume volume;
  FXint code = Recognise(BR, start, pr ? &volume : nullptr);
  if (!pr) return code;
  pr->boot = 0;
  pr->start_chs[0] = pr->end_chs[0] = 0xFF;
  pr->start_chs[1] = pr->end_chs[1] = 0xFF;
  pr->start_chs[2] = pr->end_chs[2] = 0xFE;
  pr->dist = (FXuint)start;
  if (code == UNKNOWN) return code;
  pr->type = volume.type;
  pr->num = (FXuint)volume.sectors;
  if (!WithinTableReach(start, volume.sectors)) {
    // An entry cut to 32 bits would describe another stretch of the disk:
    // it is left empty, and an empty entry is never written.
    KV_TRACE(8, "FileSystem::CheckFS %.0lf sectors at sector %.0lf do not fit a table entry\n",
             (double)volume.sectors, (double)start);
    pr->dist = 0;
    pr->num = 0;
  }
  return code;
}

FXint FileSystem::Recognise(const FXuchar* BR, FXulong start, FoundVolume* volume) {
  if (CheckFAT(BR, start)) {
    FXulong num = 0;
    const FXchar* bits = "";
    if (volume) {
      KV_TRACE(8, "FileSystem::CheckFS fat_length is %d\n", s16(BR, FAT_LENGTH));
      KV_TRACE(8, "FileSystem::CheckFS fat32_length is %d\n", (FXint)u32(BR, FAT32_LENGTH));
      num = fatSmallOrLargeTotal(BR);
      if (u16(BR, FAT_SMALL_TOTAL) == 0)
        KV_TRACE(8, "FileSystem::CheckFS ->sectors empty, using ->total_sect = %.0lf\n", (double)num);
      else
        KV_TRACE(8, "FileSystem::CheckFS using ->sectors = %.0lf\n", (double)num);
      volume->sectors = num;
      volume->type = fatLength16(BR) ? 0x0E : 0x0C;
      bits = volume->type == 0x0C ? "32" : "16";
    }
    KV_TRACE(8, "FileSystem::CheckFS found FS_FAT%s at sector %.0lf (%.0lf)\n", bits, (double)start,
             (double)num);
    return FAT;
  }

  if (CheckNTFS(BR)) {
    FXulong num = 0;
    if (volume) {
      FXulong total = u64(BR, NTFS_TOTAL_SECTORS);
      num = total + 1;  // the total leaves out the backup boot sector at the end
      volume->type = 0x07;
      volume->sectors = num;
      KV_TRACE(8, "FileSystem::CheckFS NTFS sectors are %.0lf\n", (double)total);
      KV_TRACE(8, "FileSystem::CheckFS NTFS pr->num is %.0lf\n", (double)num);
      KV_TRACE(8, "FileSystem::CheckFS bpb->bytes_per_sector are %.0lf\n",
               (double)s16(BR, FAT_BYTES_PER_SECTOR));
    }
    KV_TRACE(8, "FileSystem::CheckFS found FS_NTFS at sector %.0lf (%.0lf)\n", (double)start,
             (double)num);
    return NTFS;
  }

  FXuchar reiser[REISER_SB];
  if (CheckREISER(start, reiser)) {
    FXulong num = 0;
    if (volume) {
      num = sectorsOf(u16(reiser, REISER_BLOCK_SIZE), u32(reiser, REISER_BLOCKS));
      volume->type = 0x83;
      volume->sectors = num;
    }
    KV_TRACE(8, "FileSystem::CheckFS found FS_REIS at sector %.0lf (%.0lf)\n", (double)start,
             (double)num);
    return REISER;
  }

  if (u16(BR, EXT_MAGIC_AT) != EXT_MAGIC) return UNKNOWN;
  const FXuchar* sb = BR + EXT_SUPERBLOCK;
  FXint code = CheckEXT3(sb) ? EXT3 : CheckEXT2(sb) ? EXT2 : UNKNOWN;
  if (code == UNKNOWN) return UNKNOWN;
  FXulong num = 0;
  if (volume) {
    num = extSectors(sb);
    volume->type = 0x83;
    volume->sectors = num;
  }
  KV_TRACE(8, "FileSystem::CheckFS found FS_%s at sector %.0lf (%.0lf)\n", GetName(code),
           (double)start, (double)num);
  return code;
}

bool FileSystem::CheckFAT(const FXuchar* BR, FXulong start) {
  FXuint reserved = u16(BR, FAT_RESERVED);
  FXuint fats = u8(BR, FAT_COUNT);
  if (reserved == 0 || fats == 0) return false;
  KV_TRACE(8, "FileSystem::CheckFAT fats && reserved okay\n");

  FXuint media = u8(BR, FAT_MEDIA);
  if (media != 0xF0 && media < 0xF8) return false;
  KV_TRACE(8, "FileSystem::CheckFAT valid media descriptor\n");

  FXint bytesPerSector = s16(BR, FAT_BYTES_PER_SECTOR);
  if (bytesPerSector < 512 || !isPowerOfTwo((FXuint)bytesPerSector)) return false;
  KV_TRACE(8, "FileSystem::CheckFAT logical sector size okay\n");

  FXuint sectorsPerCluster = u8(BR, FAT_SECTORS_PER_CLUSTER);
  if (!isPowerOfTwo(sectorsPerCluster)) return false;
  KV_TRACE(8, "FileSystem::CheckFAT valid FAT boot sector\n");

  // The FAT type follows from the number of clusters, nothing else.
  FXint rootSectors = (s16(BR, FAT_ROOT_ENTRIES) * 32 + bytesPerSector - 1) / bytesPerSector;
  FXuint fatSize = fatLength16(BR) ? fatLength16(BR) : u32(BR, FAT32_LENGTH);
  FXuint overhead = reserved + fats * fatSize + (FXuint)rootSectors;
  FXuint clusters = (fatSmallOrLargeTotal(BR) - overhead) / sectorsPerCluster;
  if (clusters < FAT12_CLUSTER_LIMIT) {
    KV_TRACE(8, "FileSystem::CheckFAT FAT12 detected\n");
    return true;
  }
  if (clusters < FAT16_CLUSTER_LIMIT) {
    KV_TRACE(8, "FileSystem::CheckFAT FAT16 detected\n");
    return true;
  }
  KV_TRACE(8, "FileSystem::CheckFAT FAT32 detected\n");

  // A FAT32 volume keeps a copy of its boot sector a few sectors after the
  // real one, and a search meets both: the copy is the one whose sector that
  // many sectors earlier holds the same bytes.  A field of 0 or less names no
  // copy (it would compare the sector with itself).
  FXint backup = s16(BR, FAT32_BACKUP_BOOT);
  if (backup <= 0) {
    KV_TRACE(8, "FileSystem::CheckFAT FAT32: valid (this is no backup bootsec)\n");
    return true;
  }
  FXuchar original[SECTOR_SIZE];
  memset(original, 0, sizeof(original));
  if (start >= (FXulong)backup) IOSystem::Read(start - backup, original, SECTOR_SIZE);
  if (memcmp(original, BR, SECTOR_SIZE) == 0) {
    KV_TRACE(8, "FileSystem::CheckFAT FAT32: invalid (this is a backup bootsec)\n");
    return false;
  }
  KV_TRACE(8, "FileSystem::CheckFAT FAT32: valid (this is no backup bootsec)\n");
  return true;
}

bool FileSystem::CheckNTFS(const FXuchar* BR) {
  FXuint checksum = u32(BR, NTFS_CHECKSUM);
  if (checksum != 0) {
    FXuint sum = 0;
    for (FXuint at = 0; at < NTFS_CHECKSUM; at += 4) sum += u32(BR, at);
    if (sum != checksum) return false;
    KV_TRACE(8, "FileSystem::CheckNTFS checksum okay\n");
  }
  if (memcmp(BR + NTFS_OEM, "NTFS    ", 8) != 0) return false;
  KV_TRACE(8, "FileSystem::CheckNTFS OEM identifier okay\n");

  FXint bytesPerSector = s16(BR, FAT_BYTES_PER_SECTOR);
  FXuint sectorsPerCluster = u8(BR, FAT_SECTORS_PER_CLUSTER);
  if (bytesPerSector < 256 || bytesPerSector > 4096) return false;
  if (sectorsPerCluster > 128 || !isPowerOfTwo(sectorsPerCluster)) return false;
  if ((FXuint)bytesPerSector * sectorsPerCluster > 65536) return false;
  // The FAT fields that NTFS leaves unused must be zero.
  if (u16(BR, FAT_RESERVED) || u16(BR, FAT_ROOT_ENTRIES) || u16(BR, FAT_SMALL_TOTAL) ||
      u16(BR, FAT_LENGTH) || u8(BR, FAT_COUNT) || u32(BR, FAT_LARGE_TOTAL))
    return false;
  if (!validNtfsRecordSize(u8(BR, NTFS_MFT_RECORD)) || !validNtfsRecordSize(u8(BR, NTFS_INDEX_RECORD)))
    return false;
  KV_TRACE(8, "FileSystem::CheckNTFS valid NTFS boot record\n");
  return true;
}

bool FileSystem::CheckEXT2(const FXuchar* sb) {
  FXint os = s32(sb, EXT_CREATOR_OS);
  if (os < 0 || os > 4) return false;
  KV_TRACE(8, "FileSystem::CheckEXT2 magic && creator_os okay\n");
  FXint revision = s32(sb, EXT_REVISION);
  if (revision < 0 || revision > 1) return false;
  KV_TRACE(8, "FileSystem::CheckEXT2 valid EXT2 super block\n");
  return true;
}

bool FileSystem::CheckEXT3(const FXuchar* sb) {
  FXint os = s32(sb, EXT_CREATOR_OS);
  if (os < 0 || os > 4) return false;
  KV_TRACE(8, "FileSystem::CheckEXT3 magic && creator_os okay\n");
  FXint revision = s32(sb, EXT_REVISION);
  if (revision < 0 || revision > 1) return false;
  KV_TRACE(8, "FileSystem::CheckEXT3 revision level okay\n");
  if (!(u32(sb, EXT_COMPAT_FEATURES) & EXT_HAS_JOURNAL)) return false;
  KV_TRACE(8, "FileSystem::CheckEXT3 valid EXT3 super block\n");
  return true;
}

bool FileSystem::CheckREISER(FXulong start, FXuchar* superblock) {
  // An unreadable location reads as zeros, which carry no magic.
  memset(superblock, 0, REISER_SB);
  IOSystem::Read(start + REISER_OLD_SECTOR, superblock, REISER_SB);
  if (hasReiserMagic(superblock)) {
    KV_TRACE(8, "FileSystem::CheckREISER magic on old disk offset okay\n");
    return true;
  }
  memset(superblock, 0, REISER_SB);
  IOSystem::Read(start + REISER_SECTOR, superblock, REISER_SB);
  if (hasReiserMagic(superblock)) {
    KV_TRACE(8, "FileSystem::CheckREISER magic on disk offset okay\n");
    return true;
  }
  return false;
}

const FXchar* FileSystem::GetName(FXint code) {
  switch (code) {
    case FAT: return "FAT";
    case NTFS: return "NTFS";
    case EXT2: return "EXT2";
    case EXT3: return "EXT3";
    case REISER: return "REISER";
    default: return "UNKNOWN";
  }
}
