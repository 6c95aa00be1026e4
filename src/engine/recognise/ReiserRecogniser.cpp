// ReiserFS 3.5 and 3.6: the superblock lies 64 KiB into the volume.  The
// format keeps no copy of it.
#include <cstring>

#include "recognise/OnDisk.h"

using namespace ondisk;

namespace {

const FXulong SUPERBLOCK_SECTOR = 128;  // 64 KiB in
const FXuint SUPERBLOCK_BYTES = 512;

const FXuint BLOCK_COUNT = 0x00;
const FXuint FREE_BLOCKS = 0x04;
const FXuint ROOT_BLOCK = 0x08;
const FXuint JOURNAL_FIRST_BLOCK = 0x0C;
const FXuint JOURNAL_DEVICE = 0x10;
const FXuint BLOCK_SIZE = 0x2C;
const FXuint OID_MAX = 0x2E;
const FXuint OID_CURRENT = 0x30;
const FXuint UMOUNT_STATE = 0x32;
const FXuint MAGIC = 0x34;
const FXuint TREE_HEIGHT = 0x44;
const FXuint BITMAP_COUNT = 0x46;
const FXuint UUID = 0x54;
const FXuint LABEL = 0x64;

const FXuint MAX_TREE_HEIGHT = 8;
// States the last unmount may have left: clean, or with errors.
const FXuint STATE_VALID = 1, STATE_ERROR = 2;

// The 3.5 format ends before the UUID and label fields.
bool hasLabelFields(const FXuchar* sb) { return memcmp(sb + MAGIC, "ReIsErFs", 9) != 0; }

bool hasMagic(const FXuchar* sb) {
  return memcmp(sb + MAGIC, "ReIsErFs", 9) == 0 || memcmp(sb + MAGIC, "ReIsEr2Fs", 10) == 0 ||
         memcmp(sb + MAGIC, "ReIsEr3Fs", 10) == 0;
}

bool fieldsFit(const FXuchar* sb) {
  FXulong blockSize = le16(sb + BLOCK_SIZE);
  if (!isPowerOfTwoIn(blockSize, 512, 65536)) return false;
  FXulong blocks = le32(sb + BLOCK_COUNT);
  FXulong superblockBlock = SUPERBLOCK_SECTOR * 512 / blockSize;
  FXulong root = le32(sb + ROOT_BLOCK);
  if (blocks <= superblockBlock + 1 || le32(sb + FREE_BLOCKS) > blocks) return false;
  if (root <= superblockBlock || root >= blocks) return false;
  // A journal on this volume lies inside it.
  if (le32(sb + JOURNAL_DEVICE) == 0 && le32(sb + JOURNAL_FIRST_BLOCK) >= blocks) return false;
  FXuint height = le16(sb + TREE_HEIGHT);
  if (height == 0 || height > MAX_TREE_HEIGHT) return false;
  if (le16(sb + OID_CURRENT) > le16(sb + OID_MAX)) return false;
  FXuint state = le16(sb + UMOUNT_STATE);
  if (state != STATE_VALID && state != STATE_ERROR) return false;
  // One bitmap block per 8 × block-size blocks; volumes too large for the
  // 16-bit field keep 0 there.
  FXulong bitmaps = (blocks + blockSize * 8 - 1) / (blockSize * 8);
  FXuint stored = le16(sb + BITMAP_COUNT);
  return stored == bitmaps || (stored == 0 && bitmaps > 0xFFFF);
}

bool probeReiser(SectorReader& reader, FXulong structure, FoundVolume& found) {
  FXuchar sb[SUPERBLOCK_BYTES];
  if (!reader.read(structure, sb, sizeof(sb)) || !hasMagic(sb) || !fieldsFit(sb)) return false;
  if (!startBefore(structure, SUPERBLOCK_SECTOR, found.start)) return false;
  if (!sectorsOf(le32(sb + BLOCK_COUNT), le16(sb + BLOCK_SIZE), found.sectors)) return false;
  found.kind = VolumeKind::REISERFS;
  found.foundBy = FoundBy::SUPERBLOCK;
  if (hasLabelFields(sb)) {
    found.label = asciiField(sb + LABEL, 16);
    found.uuid = uuidText(sb + UUID);
  }
  return true;
}

}  // namespace

const Recogniser reiserRecogniser = {
    "ReiserFS",
    {{"ReIsErFs", 9, MAGIC}, {"ReIsEr2Fs", 10, MAGIC}, {"ReIsEr3Fs", 10, MAGIC}},
    3,
    probeReiser};
