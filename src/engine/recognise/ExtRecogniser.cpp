// ext2, ext3 and ext4: the superblock lies 1024 bytes into the volume, and
// copies of it start block groups further on; each copy names its group.
#include "recognise/OnDisk.h"

using namespace ondisk;

namespace {

const FXuint SUPERBLOCK_BYTES = 1024;
const FXuint PRIMARY_SECTOR = 2;  // 1024 bytes in

// Superblock fields.
const FXuint INODES_COUNT = 0x00;
const FXuint BLOCKS_COUNT = 0x04;
const FXuint FREE_BLOCKS = 0x0C;
const FXuint FREE_INODES = 0x10;
const FXuint FIRST_DATA_BLOCK = 0x14;
const FXuint LOG_BLOCK_SIZE = 0x18;
const FXuint BLOCKS_PER_GROUP = 0x20;
const FXuint INODES_PER_GROUP = 0x28;
const FXuint CREATOR_OS = 0x48;
const FXuint REVISION = 0x4C;
const FXuint INODE_SIZE = 0x58;
const FXuint BLOCK_GROUP_NR = 0x5A;
const FXuint COMPAT = 0x5C;
const FXuint INCOMPAT = 0x60;
const FXuint RO_COMPAT = 0x64;
const FXuint UUID = 0x68;
const FXuint VOLUME_NAME = 0x78;
const FXuint BLOCKS_COUNT_HI = 0x150;
const FXuint FREE_BLOCKS_HI = 0x158;
const FXuint CHECKSUM = 0x3FC;

const FXuint COMPAT_HAS_JOURNAL = 0x4;
const FXuint INCOMPAT_FILETYPE = 0x2;
const FXuint INCOMPAT_RECOVER = 0x4;
const FXuint INCOMPAT_JOURNAL_DEV = 0x8;
const FXuint INCOMPAT_META_BG = 0x10;
const FXuint INCOMPAT_64BIT = 0x80;
// Every incompatible feature a Linux ext file system may carry; any other
// bit means the bytes are no superblock.
const FXuint INCOMPAT_KNOWN = 0x3F7DF;
const FXuint RO_COMPAT_SPARSE_SUPER = 0x1;
const FXuint RO_COMPAT_LARGE_FILE = 0x2;
const FXuint RO_COMPAT_BTREE_DIR = 0x4;
const FXuint RO_COMPAT_METADATA_CSUM = 0x400;

// A journal device carries an ext superblock but holds no file system.
bool featuresFit(const FXuchar* sb) {
  FXuint incompat = le32(sb + INCOMPAT);
  return (incompat & ~INCOMPAT_KNOWN) == 0 && (incompat & INCOMPAT_JOURNAL_DEV) == 0;
}

bool checksumFits(const FXuchar* sb) {
  if (!(le32(sb + RO_COMPAT) & RO_COMPAT_METADATA_CSUM)) return true;
  return crc32cUpdate(~0u, sb, CHECKSUM) == le32(sb + CHECKSUM);
}

// ext3 is ext2 with a journal; a feature beyond what ext3 knows makes ext4.
VolumeKind kindOf(const FXuchar* sb) {
  const FXuint ext3Incompat = INCOMPAT_FILETYPE | INCOMPAT_RECOVER | INCOMPAT_META_BG;
  const FXuint ext3RoCompat = RO_COMPAT_SPARSE_SUPER | RO_COMPAT_LARGE_FILE | RO_COMPAT_BTREE_DIR;
  if ((le32(sb + INCOMPAT) & ~ext3Incompat) || (le32(sb + RO_COMPAT) & ~ext3RoCompat))
    return VolumeKind::EXT4;
  return (le32(sb + COMPAT) & COMPAT_HAS_JOURNAL) ? VolumeKind::EXT3 : VolumeKind::EXT2;
}

FXulong wide(const FXuchar* sb, FXuint lo, FXuint hi) {
  bool is64 = le32(sb + INCOMPAT) & INCOMPAT_64BIT;
  return le32(sb + lo) | (is64 ? (FXulong)le32(sb + hi) << 32 : 0);
}

// The geometry a superblock describes, each value checked against the others.
struct Geometry {
  FXulong blockSize, blocks, groups, firstDataBlock, blocksPerGroup;
};

bool readGeometry(const FXuchar* sb, Geometry& g) {
  FXuint log = le32(sb + LOG_BLOCK_SIZE);
  if (log > 6) return false;  // blocks are 1 KiB to 64 KiB
  g.blockSize = (FXulong)1024 << log;
  g.firstDataBlock = le32(sb + FIRST_DATA_BLOCK);
  if (g.firstDataBlock != (g.blockSize == 1024 ? 1u : 0u)) return false;
  g.blocksPerGroup = le32(sb + BLOCKS_PER_GROUP);
  FXulong inodesPerGroup = le32(sb + INODES_PER_GROUP);
  if (g.blocksPerGroup < 8 || g.blocksPerGroup > 8 * g.blockSize || g.blocksPerGroup % 8) return false;
  if (inodesPerGroup == 0 || inodesPerGroup > 8 * g.blockSize) return false;
  g.blocks = wide(sb, BLOCKS_COUNT, BLOCKS_COUNT_HI);
  if (g.blocks <= g.firstDataBlock || wide(sb, FREE_BLOCKS, FREE_BLOCKS_HI) > g.blocks) return false;
  g.groups = (g.blocks - g.firstDataBlock + g.blocksPerGroup - 1) / g.blocksPerGroup;
  FXulong inodes = le32(sb + INODES_COUNT);
  return inodes == inodesPerGroup * g.groups && le32(sb + FREE_INODES) <= inodes;
}

bool headerFits(const FXuchar* sb) {
  if (le16(sb + 0x38) != 0xEF53) return false;
  if (le32(sb + CREATOR_OS) > 4 || le32(sb + REVISION) > 1) return false;
  if (le32(sb + REVISION) == 1) {
    FXuint inodeSize = le16(sb + INODE_SIZE);
    FXuint blockSize = 1024u << (le32(sb + LOG_BLOCK_SIZE) & 7);
    if (!isPowerOfTwoIn(inodeSize, 128, blockSize)) return false;
  }
  return featuresFit(sb) && checksumFits(sb);
}

bool probeExt(SectorReader& reader, FXulong structure, FoundVolume& found) {
  FXuchar sb[SUPERBLOCK_BYTES];
  Geometry g;
  if (!reader.read(structure, sb, sizeof(sb)) || !headerFits(sb) || !readGeometry(sb, g)) return false;

  // A copy lies at the first block of its group; the primary at byte 1024.
  FXulong group = le16(sb + BLOCK_GROUP_NR);
  if (group >= g.groups) return false;
  FXulong into = PRIMARY_SECTOR;
  if (group > 0 && !sectorsOf(g.firstDataBlock + group * g.blocksPerGroup, g.blockSize, into)) return false;
  if (!sectorsOf(g.blocks, g.blockSize, found.sectors) || into >= found.sectors) return false;
  if (!startBefore(structure, into, found.start)) return false;

  found.kind = kindOf(sb);
  found.foundBy = group == 0 ? FoundBy::SUPERBLOCK : FoundBy::BACKUP;
  found.label = asciiField(sb + VOLUME_NAME, 16);
  found.uuid = uuidText(sb + UUID);
  return true;
}

}  // namespace

const Recogniser extRecogniser = {"ext", {{"\x53\xEF", 2, 0x38}}, 1, probeExt};
