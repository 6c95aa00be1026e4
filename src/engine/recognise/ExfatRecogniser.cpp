// exFAT: a boot region of twelve sectors, the last holding a checksum of the
// others, followed by a backup region of the same twelve sectors.
#include <cstring>
#include <vector>

#include "recognise/OnDisk.h"

using namespace ondisk;

namespace {

const FXuint MUST_BE_ZERO = 0x0B;
const FXuint MUST_BE_ZERO_END = 0x40;
const FXuint VOLUME_LENGTH = 0x48;
const FXuint FAT_OFFSET = 0x50;
const FXuint FAT_LENGTH = 0x54;
const FXuint HEAP_OFFSET = 0x58;
const FXuint CLUSTER_COUNT = 0x5C;
const FXuint ROOT_CLUSTER = 0x60;
const FXuint SERIAL = 0x64;
const FXuint REVISION_MAJOR = 0x69;
const FXuint VOLUME_FLAGS = 0x6A;
const FXuint BYTES_PER_SECTOR_SHIFT = 0x6C;
const FXuint SECTORS_PER_CLUSTER_SHIFT = 0x6D;
const FXuint FAT_COUNT = 0x6E;
const FXuint PERCENT_IN_USE = 0x70;

const FXuint REGION_SECTORS = 12;  // boot region, in the volume's sectors
const FXuint CHECKSUM_SECTOR = 11;
const FXulong MAX_CLUSTERS = 0xFFFFFFF5;
const FXuint LABEL_ENTRY = 0x83;
const FXuint LABEL_MAX_CHARS = 11;
const FXuint DIRECTORY_BYTES_READ = 4096;  // the label entry comes first in practice

// The boot sector's geometry, in units of 512-byte sectors where it says
// "sectors".
struct Layout {
  FXulong scale;  // 512-byte sectors per volume sector
  FXulong fatOffset, heapOffset, clusterSectors, rootCluster;
};

bool geometryFits(const FXuchar* bs, Layout& l) {
  FXuint bytesShift = bs[BYTES_PER_SECTOR_SHIFT], clusterShift = bs[SECTORS_PER_CLUSTER_SHIFT];
  if (bytesShift < 9 || bytesShift > 12 || clusterShift > 25 - bytesShift) return false;
  FXuint fats = bs[FAT_COUNT];
  if (fats < 1 || fats > 2) return false;
  FXulong length = le64(bs + VOLUME_LENGTH), fatOffset = le32(bs + FAT_OFFSET);
  FXulong fatLength = le32(bs + FAT_LENGTH), heap = le32(bs + HEAP_OFFSET);
  FXulong clusters = le32(bs + CLUSTER_COUNT), root = le32(bs + ROOT_CLUSTER);
  FXulong sectorBytes = 1ull << bytesShift;
  if (length < (1ull << 20) / sectorBytes || fatOffset < 2 * REGION_SECTORS) return false;
  if (fatLength * sectorBytes < (clusters + 2) * 4 || heap < fatOffset + fatLength * fats) return false;
  if (heap >= length || clusters > MAX_CLUSTERS || clusters > (length - heap) >> clusterShift) return false;
  if (root < 2 || root > clusters + 1) return false;
  l.scale = sectorBytes / 512;
  l.fatOffset = fatOffset * l.scale;
  l.heapOffset = heap * l.scale;
  l.clusterSectors = l.scale << clusterShift;
  l.rootCluster = root;
  return true;
}

bool headerFits(const FXuchar* bs) {
  static const FXuchar zeros[MUST_BE_ZERO_END - MUST_BE_ZERO] = {};
  return memcmp(bs, "\xEB\x76\x90" "EXFAT   ", 11) == 0 &&
         memcmp(bs + MUST_BE_ZERO, zeros, sizeof(zeros)) == 0 && bs[REVISION_MAJOR] == 1 &&
         hasBootSignature(bs);
}

// The boot region's last sector repeats a checksum of the eleven before it,
// leaving out the fields that change while the volume is in use.
bool checksumFits(SectorReader& reader, FXulong structure, FXulong scale) {
  FXuint sectorBytes = (FXuint)(scale * 512);
  std::vector<FXuchar> region((size_t)sectorBytes * REGION_SECTORS);
  if (!reader.read(structure, region.data(), (FXuint)region.size())) return false;
  FXuint sum = 0;
  for (FXuint i = 0; i < sectorBytes * CHECKSUM_SECTOR; i++) {
    if (i == VOLUME_FLAGS || i == VOLUME_FLAGS + 1 || i == PERCENT_IN_USE) continue;
    sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + region[i];
  }
  const FXuchar* stored = region.data() + (size_t)sectorBytes * CHECKSUM_SECTOR;
  for (FXuint at = 0; at < sectorBytes; at += 4)
    if (le32(stored + at) != sum) return false;
  return true;
}

// The FAT's first two entries: the media type and an end of chain.
bool fatStartsAt(SectorReader& reader, FXulong sector) {
  static const FXuchar start[8] = {0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  return sectorStartsWith(reader, sector, start, sizeof(start));
}

FXString labelOf(SectorReader& reader, FXulong start, const Layout& l) {
  FXulong clusterBytes = l.clusterSectors * 512;
  FXulong bytes = clusterBytes < DIRECTORY_BYTES_READ ? clusterBytes : DIRECTORY_BYTES_READ;
  std::vector<FXuchar> dir(bytes);
  FXulong at = start + l.heapOffset + (l.rootCluster - 2) * l.clusterSectors;
  if (!reader.read(at, dir.data(), (FXuint)bytes)) return FXString::null;
  for (FXulong e = 0; e + 32 <= bytes && dir[e] != 0; e += 32) {
    if (dir[e] == LABEL_ENTRY && dir[e + 1] <= LABEL_MAX_CHARS) return utf16Field(&dir[e + 2], dir[e + 1]);
  }
  return FXString::null;
}

bool probeExfat(SectorReader& reader, FXulong structure, FoundVolume& found) {
  FXuchar bs[512];
  Layout l;
  if (!reader.read(structure, bs, sizeof(bs)) || !headerFits(bs) || !geometryFits(bs, l)) return false;
  if (!checksumFits(reader, structure, l.scale)) return false;
  auto confirms = [&](FXulong start) { return fatStartsAt(reader, start + l.fatOffset); };
  if (!placeByConfirmation(structure, REGION_SECTORS * l.scale, FoundBy::BOOT_SECTOR, confirms, found))
    return false;
  if (!sectorsOf(le64(bs + VOLUME_LENGTH), l.scale * 512, found.sectors)) return false;
  found.kind = VolumeKind::EXFAT;
  found.label = labelOf(reader, found.start, l);
  found.uuid = serialText(le32(bs + SERIAL));
  return true;
}

}  // namespace

const Recogniser exfatRecogniser = {"exFAT", {{"EXFAT   ", 8, 3}}, 1, probeExfat};
