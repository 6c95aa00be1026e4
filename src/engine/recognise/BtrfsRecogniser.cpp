// btrfs: the superblock lies 64 KiB into the device, with mirrors at 64 MiB
// and 256 GiB (and 1 PiB) when the device reaches that far.  Each copy
// records its own byte offset, so any of them tells where the volume begins.
#include <cstring>

#include "recognise/OnDisk.h"

using namespace ondisk;

namespace {

const FXuint SUPERBLOCK_BYTES = 4096;
const FXuint CHECKSUM = 0x00;
const FXuint CHECKED_FROM = 0x20;
const FXuint FSID = 0x20;
const FXuint OWN_OFFSET = 0x30;
const FXuint TOTAL_BYTES = 0x70;
const FXuint DEVICE_COUNT = 0x88;
const FXuint SECTOR_SIZE_FIELD = 0x90;
const FXuint NODE_SIZE = 0x94;
const FXuint CHECKSUM_TYPE = 0xC4;
const FXuint DEVICE_TOTAL_BYTES = 0xC9 + 8;  // in the device item, after its id
const FXuint LABEL = 0x12B;
const FXuint LABEL_BYTES = 256;

const FXuint CHECKSUM_CRC32C = 0;
const FXuint LAST_CHECKSUM_TYPE = 3;  // crc32c, xxhash, sha256, blake2b

const FXulong PRIMARY_OFFSET = 64ull << 10;
const FXulong MIRROR_OFFSETS[] = {PRIMARY_OFFSET, 64ull << 20, 256ull << 30, 1ull << 50};

bool isSuperblockOffset(FXulong offset) {
  for (FXulong o : MIRROR_OFFSETS)
    if (offset == o) return true;
  return false;
}

// Only the crc32c sums are checked; the other kinds are told by their fields.
bool checksumFits(const FXuchar* sb) {
  if (le16(sb + CHECKSUM_TYPE) != CHECKSUM_CRC32C) return true;
  FXuint crc = ~crc32cUpdate(~0u, sb + CHECKED_FROM, SUPERBLOCK_BYTES - CHECKED_FROM);
  return crc == le32(sb + CHECKSUM);
}

bool fieldsFit(const FXuchar* sb) {
  FXulong sectorSize = le32(sb + SECTOR_SIZE_FIELD), nodeSize = le32(sb + NODE_SIZE);
  FXulong deviceBytes = le64(sb + DEVICE_TOTAL_BYTES);
  return memcmp(sb + 0x40, "_BHRfS_M", 8) == 0 && isSuperblockOffset(le64(sb + OWN_OFFSET)) &&
         isPowerOfTwoIn(sectorSize, 4096, 65536) && isPowerOfTwoIn(nodeSize, sectorSize, 65536) &&
         le64(sb + DEVICE_COUNT) >= 1 && le16(sb + CHECKSUM_TYPE) <= LAST_CHECKSUM_TYPE &&
         deviceBytes > le64(sb + OWN_OFFSET) && deviceBytes <= le64(sb + TOTAL_BYTES);
}

bool probeBtrfs(SectorReader& reader, FXulong structure, FoundVolume& found) {
  FXuchar sb[SUPERBLOCK_BYTES];
  if (!reader.read(structure, sb, sizeof(sb)) || !fieldsFit(sb) || !checksumFits(sb)) return false;
  FXulong offset = le64(sb + OWN_OFFSET);
  if (!startBefore(structure, offset / 512, found.start)) return false;
  if (!sectorsOf(le64(sb + DEVICE_TOTAL_BYTES), 1, found.sectors)) return false;
  found.kind = VolumeKind::BTRFS;
  found.foundBy = offset == PRIMARY_OFFSET ? FoundBy::SUPERBLOCK : FoundBy::BACKUP;
  found.label = asciiField(sb + LABEL, LABEL_BYTES);
  found.uuid = uuidText(sb + FSID);
  return true;
}

}  // namespace

const Recogniser btrfsRecogniser = {"btrfs", {{"_BHRfS_M", 8, 0x40}}, 1, probeBtrfs};
