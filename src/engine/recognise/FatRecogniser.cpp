// FAT12, FAT16 and FAT32: a boot sector with the BIOS parameter block.  The
// FAT type follows from the number of clusters, except that a 16-bit FAT
// length of zero marks FAT32.  FAT32 keeps a copy of its boot sector a few
// sectors on (the field at 0x32 says how many; mkfs makes it 6).
#include "recognise/OnDisk.h"

using namespace ondisk;

namespace {

const FXuint BYTES_PER_SECTOR = 0x0B;
const FXuint SECTORS_PER_CLUSTER = 0x0D;
const FXuint RESERVED = 0x0E;
const FXuint FAT_COUNT = 0x10;
const FXuint ROOT_ENTRIES = 0x11;
const FXuint SMALL_TOTAL = 0x13;
const FXuint MEDIA = 0x15;
const FXuint FAT_LENGTH = 0x16;
const FXuint LARGE_TOTAL = 0x20;
const FXuint FAT32_LENGTH = 0x24;
const FXuint FAT32_ROOT_CLUSTER = 0x2C;
const FXuint FAT32_INFO_SECTOR = 0x30;
const FXuint FAT32_BACKUP_BOOT = 0x32;
// The extended parameter block: signature, serial number, label.
const FXuint EXTENDED_AT = 0x26, FAT32_EXTENDED_AT = 0x42;
const FXuint SERIAL_AFTER = 1, LABEL_AFTER = 5;
const FXuchar EXTENDED_WITH_SERIAL = 0x28, EXTENDED_WITH_LABEL = 0x29;

const FXulong FAT12_CLUSTER_LIMIT = 4085;
const FXulong FAT16_CLUSTER_LIMIT = 65525;
const FXuint NO_SECTOR = 0xFFFF;  // an absent FSInfo or backup sector

struct Layout {
  VolumeKind kind;
  FXulong scale;  // 512-byte sectors per FAT sector
  FXulong reserved, fats, fatLength, total, clusters;
};

bool jumpFits(const FXuchar* bs) { return (bs[0] == 0xEB && bs[2] == 0x90) || bs[0] == 0xE9; }

bool basicsFit(const FXuchar* bs) {
  FXuint media = bs[MEDIA], fats = bs[FAT_COUNT];
  return jumpFits(bs) && isPowerOfTwoIn(le16(bs + BYTES_PER_SECTOR), 512, 4096) &&
         isPowerOfTwoIn(bs[SECTORS_PER_CLUSTER], 1, 128) && le16(bs + RESERVED) >= 1 &&
         fats >= 1 && fats <= 2 && (media == 0xF0 || media >= 0xF8);
}

// Bits per FAT entry.
FXulong entryBits(VolumeKind kind) {
  return kind == VolumeKind::FAT12 ? 12 : kind == VolumeKind::FAT16 ? 16 : 32;
}

bool layoutFits(const FXuchar* bs, Layout& l) {
  FXulong bytesPerSector = le16(bs + BYTES_PER_SECTOR), rootEntries = le16(bs + ROOT_ENTRIES);
  bool fat32 = le16(bs + FAT_LENGTH) == 0;
  if (fat32 && (rootEntries != 0 || le16(bs + SMALL_TOTAL) != 0)) return false;
  l.scale = bytesPerSector / 512;
  l.reserved = le16(bs + RESERVED);
  l.fats = bs[FAT_COUNT];
  l.fatLength = fat32 ? le32(bs + FAT32_LENGTH) : le16(bs + FAT_LENGTH);
  l.total = le16(bs + SMALL_TOTAL) ? le16(bs + SMALL_TOTAL) : le32(bs + LARGE_TOTAL);
  FXulong rootSectors = (rootEntries * 32 + bytesPerSector - 1) / bytesPerSector;
  FXulong metadata = l.reserved + l.fats * l.fatLength + rootSectors;
  if (l.fatLength == 0 || metadata >= l.total) return false;
  l.clusters = (l.total - metadata) / bs[SECTORS_PER_CLUSTER];
  if (fat32) l.kind = VolumeKind::FAT32;
  else if (l.clusters < FAT12_CLUSTER_LIMIT) l.kind = VolumeKind::FAT12;
  else if (l.clusters < FAT16_CLUSTER_LIMIT) l.kind = VolumeKind::FAT16;
  else return false;  // too many clusters for a 16-bit FAT
  // The FAT has an entry for every cluster, after the two reserved ones.
  return l.clusters > 0 && l.fatLength * bytesPerSector * 8 / entryBits(l.kind) >= l.clusters + 2;
}

bool fat32FieldsFit(const FXuchar* bs, const Layout& l) {
  if (l.kind != VolumeKind::FAT32) return true;
  FXulong root = le32(bs + FAT32_ROOT_CLUSTER);
  FXuint info = le16(bs + FAT32_INFO_SECTOR), backup = le16(bs + FAT32_BACKUP_BOOT);
  return root >= 2 && root < l.clusters + 2 && (info == 0 || info == NO_SECTOR || info < l.reserved) &&
         (backup == 0 || backup == NO_SECTOR || backup < l.reserved);
}

// Sectors from the primary boot sector to its copy; 0 when there is none.
FXulong copyDistance(const FXuchar* bs, const Layout& l) {
  FXuint backup = le16(bs + FAT32_BACKUP_BOOT);
  if (l.kind != VolumeKind::FAT32 || backup == 0 || backup == NO_SECTOR) return 0;
  return backup * l.scale;
}

// A FAT begins with the media byte in its first entry, the rest of which,
// and the next entry's first byte, are all ones.
bool fatStartsAt(SectorReader& reader, FXulong sector, FXuchar media) {
  const FXuchar start[2] = {media, 0xFF};
  return sectorStartsWith(reader, sector, start, sizeof(start));
}

bool fatFollows(SectorReader& reader, FXulong start, const FXuchar* bs, const Layout& l) {
  for (FXulong copy = 0; copy < l.fats; copy++)
    if (fatStartsAt(reader, start + (l.reserved + copy * l.fatLength) * l.scale, bs[MEDIA])) return true;
  return false;
}

void describe(const FXuchar* bs, VolumeKind kind, FoundVolume& found) {
  const FXuchar* ext = bs + (kind == VolumeKind::FAT32 ? FAT32_EXTENDED_AT : EXTENDED_AT);
  found.label = FXString::null;
  found.uuid = FXString::null;
  if (ext[0] != EXTENDED_WITH_SERIAL && ext[0] != EXTENDED_WITH_LABEL) return;
  found.uuid = serialText(le32(ext + SERIAL_AFTER));
  FXString label = asciiField(ext + LABEL_AFTER, 11);
  if (ext[0] == EXTENDED_WITH_LABEL && label != "NO NAME") found.label = label;
}

bool probeFat(SectorReader& reader, FXulong structure, FoundVolume& found) {
  FXuchar bs[512];
  Layout l;
  if (!reader.read(structure, bs, sizeof(bs)) || !basicsFit(bs) || !layoutFits(bs, l) ||
      !fat32FieldsFit(bs, l))
    return false;
  auto confirms = [&](FXulong start) { return fatFollows(reader, start, bs, l); };
  if (!placeByConfirmation(structure, copyDistance(bs, l), FoundBy::BOOT_SECTOR, confirms, found))
    return false;
  if (!sectorsOf(l.total, l.scale * 512, found.sectors)) return false;
  found.kind = l.kind;
  describe(bs, l.kind, found);
  return true;
}

}  // namespace

const Recogniser fatRecogniser = {"FAT", {{"\x55\xAA", 2, 510}}, 1, probeFat};
