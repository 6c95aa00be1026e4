// exFAT read directly: the boot region, the FAT, the allocation bitmap and
// directory entry sets (a file entry, a stream extension, name entries).
#include <cstring>

#include "contents/VolumeContents.h"
#include "recognise/OnDisk.h"

using namespace ondisk;
using contents::addNote;

namespace {

const FXuint ENTRY = 32;
const FXuchar TYPE_END = 0x00, TYPE_BITMAP = 0x81, TYPE_LABEL = 0x83, TYPE_FILE = 0x85;
const FXuchar TYPE_STREAM = 0xC0, TYPE_NAME = 0xC1;
const FXuint ATTR_FOLDER = 0x10;
const FXuchar NO_FAT_CHAIN = 0x02;
const FXuint END_MARK = 0xFFFFFFF7;  // bad-cluster mark and above end a chain
const FXulong BITMAP_BYTES_COUNTED = 16 << 20;
// The main boot region is 12 sectors: boot sector, 8 extended boot sectors,
// OEM parameters, a reserved sector and the checksum sector.  Its copy
// follows it.
const FXuint BOOT_REGION = 12;

// Where a folder's entries are: a chain of clusters, or (NoFatChain) a run
// of contiguous ones of a known length.
struct Place {
  FXuint cluster = 0;
  bool contiguous = false;
  FXulong bytes = 0;
};

struct ExfatEntry {
  DirEntry shown;
  Place place;
};

class ExfatContents : public VolumeContents {
public:
  ExfatContents(std::unique_ptr<VolumeView> view, const FXuchar* boot);
  VolumeSummary summary() override;
  Listing list(const FXString& path, FXuint first, FXuint count) override;
  bool valid() const { return clusters > 0 && sectorBytes >= 512 && clusterBytes <= (32u << 20); }

private:
  FXuchar boot[512];
  FXuint sectorBytes, clusterBytes;
  FXulong fatStart, heapStart, clusters;
  Place root;

  FXulong clusterOffset(FXuint c) const { return heapStart + (FXulong)(c - 2) * clusterBytes; }
  bool nextCluster(FXuint cluster, FXuint& next) {
    FXuchar raw[4];
    if (!view->readBytes(fatStart + (FXulong)cluster * 4, raw, 4)) return false;
    next = le32(raw);
    return true;
  }
  // The bytes of a folder, as far as they can be read.
  std::vector<FXuchar> readFolder(const Place& place, Listing& listing);
  template <typename Visit>
  void walk(const Place& place, Listing& listing, Visit visit);
  ContentsNote checkBootRegion();
};

ExfatContents::ExfatContents(std::unique_ptr<VolumeView> v, const FXuchar* bs)
    : VolumeContents(std::move(v)) {
  memcpy(boot, bs, sizeof(boot));
  FXuint sectorShift = bs[0x6C], clusterShift = bs[0x6D];
  sectorBytes = sectorShift >= 9 && sectorShift <= 12 ? 1u << sectorShift : 0;
  clusterBytes = clusterShift <= 25 - sectorShift ? sectorBytes << clusterShift : 0;
  fatStart = (FXulong)le32(bs + 0x50) * sectorBytes;
  heapStart = (FXulong)le32(bs + 0x58) * sectorBytes;
  clusters = clusterBytes ? le32(bs + 0x5C) : 0;
  root.cluster = le32(bs + 0x60);
}

std::vector<FXuchar> ExfatContents::readFolder(const Place& place, Listing& listing) {
  std::vector<FXuint> chain;
  const FXulong maxBytes = (FXulong)contents::MAX_ENTRIES * ENTRY;
  if (place.contiguous) {
    FXulong bytes = place.bytes < maxBytes ? place.bytes : maxBytes;
    for (FXulong done = 0; done < bytes; done += clusterBytes) chain.push_back(place.cluster + (FXuint)(done / clusterBytes));
    for (FXuint c : chain) {
      if (c < 2 || c - 2 >= clusters) {
        addNote(listing, ContentsNote("Contents.List.002"));
        chain.clear();
      }
    }
  } else {
    auto next = [this](FXuint c, FXuint& n) { return nextCluster(c, n); };
    if (!contents::followChain(place.cluster, clusters, END_MARK, maxBytes / clusterBytes + 1, next, chain))
      addNote(listing, ContentsNote("Contents.List.002"));
  }
  std::vector<FXuchar> bytes(chain.size() * clusterBytes);
  for (size_t i = 0; i < chain.size(); i++) {
    if (!view->readBytes(clusterOffset(chain[i]), bytes.data() + i * clusterBytes, clusterBytes)) {
      addNote(listing, ContentsNote("Contents.List.005"));
      bytes.resize(i * clusterBytes);
      break;
    }
  }
  return bytes;
}

FXlong exfatTime(FXuint stamp) { return contents::dosTime(stamp >> 16, stamp & 0xFFFF); }

template <typename Visit>
void ExfatContents::walk(const Place& place, Listing& listing, Visit visit) {
  std::vector<FXuchar> bytes = readFolder(place, listing);
  size_t count = bytes.size() / ENTRY;
  for (size_t i = 0; i < count; i++) {
    const FXuchar* e = bytes.data() + i * ENTRY;
    if (e[0] == TYPE_END) return;
    if (e[0] != TYPE_FILE) continue;
    // A file entry set: the stream extension and the name entries follow.
    FXuint secondaries = e[1];
    if (secondaries < 2 || i + secondaries >= count || bytes[(i + 1) * ENTRY] != TYPE_STREAM) {
      addNote(listing, ContentsNote("Contents.List.004"));
      continue;
    }
    const FXuchar* stream = e + ENTRY;
    FXuint nameLength = stream[3];
    ExfatEntry entry;
    FXString name;
    for (FXuint k = 2; k <= secondaries && name.length() < (FXint)nameLength * 3; k++) {
      const FXuchar* n = e + k * ENTRY;
      if (n[0] != TYPE_NAME) break;
      name += utf16Field(n + 2, 15);
    }
    if (name.empty()) {
      addNote(listing, ContentsNote("Contents.List.004"));
      continue;
    }
    i += secondaries;
    bool replaced = false;
    entry.shown.name = contents::printableName(name, replaced);
    if (replaced) addNote(listing, ContentsNote("Contents.List.003"));
    entry.shown.folder = (le16(e + 4) & ATTR_FOLDER) != 0;
    entry.shown.modified = exfatTime(le32(e + 12));
    entry.place.cluster = le32(stream + 20);
    entry.place.contiguous = (stream[1] & NO_FAT_CHAIN) != 0;
    entry.place.bytes = le64(stream + 24);
    entry.shown.size = entry.shown.folder ? 0 : entry.place.bytes;
    if (entry.shown.size > view->bytes()) addNote(listing, ContentsNote("Contents.List.006"));
    if (!visit(entry)) return;
  }
}

Listing ExfatContents::list(const FXString& path, FXuint first, FXuint count) {
  auto walkFolder = [this](const Place& place, Listing& listing, auto visit) { walk(place, listing, visit); };
  return contents::listFolder(path, first, count, root, walkFolder);
}

// Sector 11 repeats the checksum of sectors 0 to 10 (bytes 106, 107 and
// 112 of the boot sector left out, as they change in use); the copy of
// the region must hold the same bytes.
ContentsNote ExfatContents::checkBootRegion() {
  std::vector<FXuchar> region(2 * BOOT_REGION * sectorBytes);
  if (!view->readBytes(0, region.data(), region.size())) return ContentsNote("Contents.Check.008");
  FXuint sum = 0;
  for (size_t i = 0; i < 11 * (size_t)sectorBytes; i++) {
    if (i == 106 || i == 107 || i == 112) continue;
    sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + region[i];
  }
  const FXuchar* sums = region.data() + 11 * sectorBytes;
  for (FXuint at = 0; at < sectorBytes; at += 4)
    if (le32(sums + at) != sum) return ContentsNote("Contents.Check.003");
  if (memcmp(region.data(), region.data() + BOOT_REGION * sectorBytes, BOOT_REGION * sectorBytes) != 0)
    return ContentsNote("Contents.Check.004");
  return ContentsNote();
}

VolumeSummary ExfatContents::summary() {
  VolumeSummary s;
  s.fileSystem = "exFAT";
  s.uuid = serialText(le32(boot + 0x64));
  s.version.format("%u.%02u", boot[0x69], boot[0x68]);
  s.blockSize = clusterBytes;
  Listing ignored;
  std::vector<FXuchar> bytes = readFolder(root, ignored);
  for (size_t at = 0; at + ENTRY <= bytes.size() && bytes[at] != TYPE_END; at += ENTRY) {
    const FXuchar* e = bytes.data() + at;
    if (e[0] == TYPE_LABEL) s.label = utf16Field(e + 2, e[1] < 11 ? e[1] : 11);
    if (e[0] != TYPE_BITMAP || clusters / 8 > BITMAP_BYTES_COUNTED) continue;
    // The allocation bitmap: one bit per cluster, set when in use.
    std::vector<FXuchar> bitmap((clusters + 7) / 8);
    FXuint first = le32(e + 20);
    if (first < 2 || first - 2 >= clusters || !view->readBytes(clusterOffset(first), bitmap.data(), bitmap.size()))
      continue;
    FXulong used = 0;
    for (FXulong c = 0; c < clusters; c++) used += (bitmap[c / 8] >> (c % 8)) & 1;
    s.spaceKnown = true;
    s.usedBytes = used * clusterBytes;
    s.freeBytes = (clusters - used) * clusterBytes;
  }
  s.damage = checkBootRegion();
  s.intact = !s.damage.set();
  return s;
}

}  // namespace

std::unique_ptr<VolumeContents> OpenExfatContents(std::unique_ptr<VolumeView> view, VolumeKind,
                                                  ContentsNote& why) {
  FXuchar boot[512];
  if (!view->read(0, boot, sizeof(boot))) {
    why = ContentsNote("Contents.Open.003");
    return nullptr;
  }
  std::unique_ptr<ExfatContents> exfat(new ExfatContents(std::move(view), boot));
  if (!exfat->valid()) {
    why = ContentsNote("Contents.Open.003");
    return nullptr;
  }
  return exfat;
}
