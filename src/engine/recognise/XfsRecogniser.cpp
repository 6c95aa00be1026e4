// XFS: the superblock is the first sector of the volume, and every
// allocation group starts with a copy of it.  The group's free-space header
// (AGF) in the next sector gives the group's number, and so where the volume
// begins.  XFS stores its fields big-endian.
#include <cstring>
#include <vector>

#include "recognise/OnDisk.h"

using namespace ondisk;

namespace {

const FXuint BLOCK_SIZE = 0x04;
const FXuint DATA_BLOCKS = 0x08;
const FXuint UUID = 0x20;
const FXuint AG_BLOCKS = 0x54;
const FXuint AG_COUNT = 0x58;
const FXuint VERSION = 0x64;
const FXuint SECTOR_SIZE_FIELD = 0x66;
const FXuint INODE_SIZE = 0x68;
const FXuint INODES_PER_BLOCK = 0x6A;
const FXuint NAME = 0x6C;
const FXuint BLOCK_LOG = 0x78;
const FXuint SECTOR_LOG = 0x79;
const FXuint INODE_LOG = 0x7A;
const FXuint AG_BLOCK_LOG = 0x7C;
const FXuint CHECKSUM = 0xE0;

const FXuint AGF_SEQUENCE = 0x08;
const FXuint AGF_LENGTH = 0x0C;

const FXulong MIN_AG_BLOCKS = 64;
const FXuint VERSION_WITH_CHECKSUMS = 5;

FXuint log2Of(FXulong v) {
  FXuint log = 0;
  while (v > 1) v >>= 1, log++;
  return log;
}

FXuint ceilLog2(FXulong v) { return isPowerOfTwo(v) ? log2Of(v) : log2Of(v) + 1; }

bool sizesFit(const FXuchar* sb) {
  FXulong blockSize = be32(sb + BLOCK_SIZE), sectorSize = be16(sb + SECTOR_SIZE_FIELD);
  FXulong inodeSize = be16(sb + INODE_SIZE);
  return isPowerOfTwoIn(blockSize, 512, 65536) && sb[BLOCK_LOG] == log2Of(blockSize) &&
         isPowerOfTwoIn(sectorSize, 512, 32768) && sb[SECTOR_LOG] == log2Of(sectorSize) &&
         isPowerOfTwoIn(inodeSize, 256, 2048) && sb[INODE_LOG] == log2Of(inodeSize) &&
         inodeSize <= blockSize && be16(sb + INODES_PER_BLOCK) == blockSize / inodeSize;
}

// The data blocks fill every group but the last, which may be shorter.
bool groupsFit(const FXuchar* sb) {
  FXulong agBlocks = be32(sb + AG_BLOCKS), agCount = be32(sb + AG_COUNT);
  FXulong blocks = be64(sb + DATA_BLOCKS);
  if (agBlocks < MIN_AG_BLOCKS || agCount == 0 || sb[AG_BLOCK_LOG] != ceilLog2(agBlocks)) return false;
  unsigned __int128 full = (unsigned __int128)agBlocks * agCount;
  return blocks <= full && blocks > full - agBlocks;
}

bool checksumFits(const FXuchar* sb, FXuint sectorSize) {
  if ((be16(sb + VERSION) & 0xF) != VERSION_WITH_CHECKSUMS) return true;
  const FXuchar zeros[4] = {0, 0, 0, 0};
  FXuint crc = crc32cUpdate(~0u, sb, CHECKSUM);
  crc = crc32cUpdate(crc, zeros, 4);
  crc = crc32cUpdate(crc, sb + CHECKSUM + 4, sectorSize - CHECKSUM - 4);
  return ~crc == le32(sb + CHECKSUM);
}

bool headerFits(const FXuchar* sb) {
  FXuint version = be16(sb + VERSION) & 0xF;
  return memcmp(sb, "XFSB", 4) == 0 && version >= 1 && version <= VERSION_WITH_CHECKSUMS &&
         sizesFit(sb) && groupsFit(sb);
}

// The number of the allocation group whose first sector is `structure`,
// from the group's free-space header.
bool groupNumber(SectorReader& reader, FXulong structure, const FXuchar* sb, FXulong& group) {
  FXuchar agf[512];
  FXulong sectorSize = be16(sb + SECTOR_SIZE_FIELD);
  if (!reader.read(structure + sectorSize / 512, agf, sizeof(agf)) || memcmp(agf, "XAGF", 4) != 0)
    return false;
  group = be32(agf + AGF_SEQUENCE);
  FXulong agBlocks = be32(sb + AG_BLOCKS), agCount = be32(sb + AG_COUNT);
  if (group >= agCount) return false;
  FXulong length = be32(agf + AGF_LENGTH);
  FXulong expected = group + 1 < agCount ? agBlocks : be64(sb + DATA_BLOCKS) - group * agBlocks;
  return length == expected;
}

bool probeXfs(SectorReader& reader, FXulong structure, FoundVolume& found) {
  std::vector<FXuchar> bytes(512);
  if (!reader.read(structure, bytes.data(), 512) || !headerFits(bytes.data())) return false;
  FXuint sectorSize = be16(bytes.data() + SECTOR_SIZE_FIELD);
  bytes.resize(sectorSize);
  const FXuchar* sb = bytes.data();
  if (!reader.read(structure, bytes.data(), sectorSize) || !checksumFits(sb, sectorSize)) return false;
  FXulong group, into = 0;
  if (!groupNumber(reader, structure, sb, group)) return false;
  FXulong blockSize = be32(sb + BLOCK_SIZE);
  if (group > 0 && !sectorsOf(group * be32(sb + AG_BLOCKS), blockSize, into)) return false;
  if (!startBefore(structure, into, found.start)) return false;
  if (!sectorsOf(be64(sb + DATA_BLOCKS), blockSize, found.sectors)) return false;
  found.kind = VolumeKind::XFS;
  found.foundBy = group == 0 ? FoundBy::SUPERBLOCK : FoundBy::BACKUP;
  found.label = asciiField(sb + NAME, 12);
  found.uuid = uuidText(sb + UUID);
  return true;
}

}  // namespace

const Recogniser xfsRecogniser = {"XFS", {{"XFSB", 4, 0}}, 1, probeXfs};
