// NTFS: a boot sector at the start of the volume and its copy in the sector
// just past the ones the boot sector counts, at the end of the partition.
// The label lives in the $Volume record of the master file table.
#include <cstring>
#include <vector>

#include "FileSystem.h"
#include "recognise/OnDisk.h"

using namespace ondisk;

namespace {

const FXuint BYTES_PER_SECTOR = 0x0B;
const FXuint SECTORS_PER_CLUSTER = 0x0D;
const FXuint TOTAL_SECTORS = 0x28;
const FXuint MFT_CLUSTER = 0x30;
const FXuint MFT_MIRROR_CLUSTER = 0x38;
const FXuint MFT_RECORD_SIZE = 0x40;
const FXuint SERIAL = 0x48;

// An MFT record: "FILE", its fix-up array, then attributes.
const FXuint FIXUP_OFFSET = 0x04;
const FXuint FIXUP_COUNT = 0x06;
const FXuint FIRST_ATTRIBUTE = 0x14;
const FXuint BYTES_IN_USE = 0x18;
const FXuint ATTRIBUTE_LENGTH = 0x04;
const FXuint ATTRIBUTE_NON_RESIDENT = 0x08;
const FXuint VALUE_LENGTH = 0x10;
const FXuint VALUE_OFFSET = 0x14;
const FXuint RESIDENT_HEADER_BYTES = 0x18;

const FXulong VOLUME_RECORD = 3;  // $Volume
const FXuint VOLUME_NAME = 0x60;
const FXuint END_OF_ATTRIBUTES = 0xFFFFFFFF;

struct Layout {
  FXulong scale;           // 512-byte sectors per NTFS sector
  FXulong sectorBytes;
  FXulong clusterSectors;  // in 512-byte sectors
  FXulong total;           // NTFS sectors, the copy of the boot sector not counted
  FXulong mft, mirror;     // clusters
  FXulong recordBytes;
};

// A record size byte counts clusters, or when negative gives 2^-n bytes.
FXulong recordBytesOf(FXuint field, FXulong clusterBytes) {
  if (field < 0x80) return field * clusterBytes;
  FXuint shift = 256 - field;
  return shift < 32 ? 1ull << shift : 0;
}

bool layoutFits(const FXuchar* bs, Layout& l) {
  l.sectorBytes = le16(bs + BYTES_PER_SECTOR);
  if (!FileSystem::CheckNTFS(bs) || !isPowerOfTwoIn(l.sectorBytes, 512, 4096) ||
      bs[SECTORS_PER_CLUSTER] == 0 || !hasBootSignature(bs))
    return false;
  l.scale = l.sectorBytes / 512;
  l.clusterSectors = l.scale * bs[SECTORS_PER_CLUSTER];
  l.total = le64(bs + TOTAL_SECTORS);
  l.mft = le64(bs + MFT_CLUSTER);
  l.mirror = le64(bs + MFT_MIRROR_CLUSTER);
  l.recordBytes = recordBytesOf(bs[MFT_RECORD_SIZE], l.sectorBytes * bs[SECTORS_PER_CLUSTER]);
  FXulong clusters = l.total / bs[SECTORS_PER_CLUSTER];
  return l.total > 0 && l.total < (~0ull >> 12) && l.mft < clusters && l.mirror < clusters &&
         isPowerOfTwoIn(l.recordBytes, 512, 65536);
}

bool recordAt(SectorReader& reader, FXulong sector) {
  return sectorStartsWith(reader, sector, (const FXuchar*)"FILE", 4);
}

// The master file table, or its mirror, where the boot sector says.
bool mftFollows(SectorReader& reader, FXulong start, const Layout& l) {
  return recordAt(reader, start + l.mft * l.clusterSectors) ||
         recordAt(reader, start + l.mirror * l.clusterSectors);
}

// Puts back the last two bytes of every sector of a record, which the
// fix-up array holds while the record is on disk.
bool applyFixups(std::vector<FXuchar>& r, FXulong sectorBytes) {
  FXuint at = le16(&r[FIXUP_OFFSET]), count = le16(&r[FIXUP_COUNT]);
  if (count != r.size() / sectorBytes + 1 || at + 2 * count > r.size()) return false;
  for (FXuint i = 1; i < count; i++) {
    FXuchar* tail = &r[i * sectorBytes - 2];
    if (memcmp(tail, &r[at], 2) != 0) return false;
    memcpy(tail, &r[at + 2 * i], 2);
  }
  return true;
}

FXString volumeName(const std::vector<FXuchar>& r) {
  FXulong used = le32(&r[BYTES_IN_USE]);
  if (used > r.size()) return FXString::null;
  for (FXulong at = le16(&r[FIRST_ATTRIBUTE]); at + RESIDENT_HEADER_BYTES <= used;) {
    FXuint type = le32(&r[at]), length = le32(&r[at + ATTRIBUTE_LENGTH]);
    if (type == END_OF_ATTRIBUTES || length < RESIDENT_HEADER_BYTES || length > used - at) break;
    if (type == VOLUME_NAME && r[at + ATTRIBUTE_NON_RESIDENT] == 0) {
      FXulong valueLength = le32(&r[at + VALUE_LENGTH]), valueAt = le16(&r[at + VALUE_OFFSET]);
      if (valueAt + valueLength > length) break;
      return utf16Field(&r[at + valueAt], (FXuint)(valueLength / 2));
    }
    at += length;
  }
  return FXString::null;
}

FXString labelOf(SectorReader& reader, FXulong start, const Layout& l) {
  std::vector<FXuchar> record(l.recordBytes);
  FXulong sector = start + l.mft * l.clusterSectors + VOLUME_RECORD * l.recordBytes / 512;
  if (!reader.read(sector, record.data(), (FXuint)record.size()) || memcmp(record.data(), "FILE", 4) != 0 ||
      !applyFixups(record, l.sectorBytes))
    return FXString::null;
  return volumeName(record);
}

FXString serialOf(const FXuchar* bs) {
  FXString text;
  text.format("%016llX", (unsigned long long)le64(bs + SERIAL));
  return text;
}

bool probeNtfs(SectorReader& reader, FXulong structure, FoundVolume& found) {
  FXuchar bs[512];
  Layout l;
  if (!reader.read(structure, bs, sizeof(bs)) || !layoutFits(bs, l)) return false;
  auto confirms = [&](FXulong start) { return mftFollows(reader, start, l); };
  if (!placeByConfirmation(structure, l.total * l.scale, FoundBy::BOOT_SECTOR, confirms, found)) return false;
  // The partition holds the counted sectors and the copy after them.
  if (!sectorsOf(l.total + 1, l.sectorBytes, found.sectors)) return false;
  found.kind = VolumeKind::NTFS;
  found.label = labelOf(reader, found.start, l);
  found.uuid = serialOf(bs);
  return true;
}

}  // namespace

const Recogniser ntfsRecogniser = {"NTFS", {{"NTFS    ", 8, 3}}, 1, probeNtfs};
