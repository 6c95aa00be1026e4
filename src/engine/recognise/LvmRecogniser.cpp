// LVM2 physical volumes: a label in one of the first four sectors names the
// sector it lies in and leads to the PV header with the device's size.
// The label has no copy elsewhere.
#include <cstring>

#include "recognise/OnDisk.h"

using namespace ondisk;

namespace {

const FXuint OWN_SECTOR = 0x08;
const FXuint CHECKSUM = 0x10;
const FXuint CHECKED_FROM = 0x14;
const FXuint HEADER_OFFSET = 0x14;
const FXuint TYPE = 0x18;
const FXuint LABEL_HEADER_BYTES = 32;
const FXuint UUID_CHARS = 32;
const FXuint DEVICE_BYTES = UUID_CHARS;  // after the UUID in the PV header

const FXulong LABEL_SECTORS = 4;
const FXuint CRC_START = 0xF597A6CF;

bool isUuidChar(FXuchar c) {
  FXuchar lower = c | 0x20;
  return (c >= '0' && c <= '9') || (lower >= 'a' && lower <= 'z') || c == '!' || c == '#';
}

// The 32 characters in the groups LVM prints them: 6-4-4-4-4-4-6.
FXString uuidOf(const FXuchar* p) {
  static const int groups[] = {6, 4, 4, 4, 4, 4, 6};
  FXString text;
  for (int g : groups) {
    if (!text.empty()) text.append('-');
    text.append((const FXchar*)p, g);
    p += g;
  }
  return text;
}

bool labelFits(const FXuchar* label) {
  if (memcmp(label, "LABELONE", 8) != 0 || memcmp(label + TYPE, "LVM2 001", 8) != 0) return false;
  if (le64(label + OWN_SECTOR) >= LABEL_SECTORS) return false;
  FXuint crc = crc32Update(CRC_START, label + CHECKED_FROM, 512 - CHECKED_FROM);
  if (crc != le32(label + CHECKSUM)) return false;
  FXuint header = le32(label + HEADER_OFFSET);
  if (header < LABEL_HEADER_BYTES || header > 512 - UUID_CHARS - 8) return false;
  for (FXuint i = 0; i < UUID_CHARS; i++)
    if (!isUuidChar(label[header + i])) return false;
  return true;
}

bool probeLvm(SectorReader& reader, FXulong structure, FoundVolume& found) {
  FXuchar label[512];
  if (!reader.read(structure, label, sizeof(label)) || !labelFits(label)) return false;
  const FXuchar* header = label + le32(label + HEADER_OFFSET);
  if (!startBefore(structure, le64(label + OWN_SECTOR), found.start)) return false;
  if (!sectorsOf(le64(header + DEVICE_BYTES), 1, found.sectors)) return false;
  if (found.sectors <= le64(label + OWN_SECTOR)) return false;
  found.kind = VolumeKind::LVM2_PV;
  found.foundBy = FoundBy::SUPERBLOCK;
  found.label = FXString::null;
  found.uuid = uuidOf(header);
  return true;
}

}  // namespace

const Recogniser lvmRecogniser = {"LVM2", {{"LABELONE", 8, 0}}, 1, probeLvm};
