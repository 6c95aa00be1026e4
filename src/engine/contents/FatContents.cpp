// FAT12, FAT16 and FAT32 read directly: the boot sector's parameter block,
// the FAT, and 32-byte directory entries with their long-name chains.
#include <cstring>

#include "contents/VolumeContents.h"
#include "recognise/OnDisk.h"

using namespace ondisk;
using contents::addNote;

namespace {

const FXuint ENTRY = 32;
const FXuchar ATTR_LONG_NAME = 0x0F, ATTR_VOLUME = 0x08, ATTR_FOLDER = 0x10;
const FXuchar NAME_END = 0x00, NAME_DELETED = 0xE5;
// A long name holds at most 255 characters, 13 per entry.
const FXuint MAX_LONG_PARTS = 20;
// The FATs are compared and counted up to this many bytes each, so a huge
// volume's summary stays quick; FAT32 keeps its free count in FSInfo.
const FXulong FAT_BYTES_CHECKED = 16 << 20;

struct Geometry {
  FXuint sectorBytes = 512, clusterBytes = 0;
  FXulong fatStart = 0, fatBytes = 0, fats = 0;  // bytes from the volume's start
  FXulong rootStart = 0, rootBytes = 0;          // FAT12/16's fixed root folder
  FXulong dataStart = 0, clusters = 0;
  FXuint rootCluster = 0;                        // FAT32's root folder
  FXuint bits = 16;
};

// One directory entry as the walk sees it.
struct FatEntry {
  DirEntry shown;
  FXuint place = 0;  // first cluster
};

class FatContents : public VolumeContents {
public:
  FatContents(std::unique_ptr<VolumeView> view, VolumeKind kind, const FXuchar* boot);
  VolumeSummary summary() override;
  Listing list(const FXString& path, FXuint first, FXuint count) override;
  bool valid() const { return g.clusters > 0; }

private:
  VolumeKind kind;
  FXuchar boot[512];
  Geometry g;

  bool fat32() const { return kind == VolumeKind::FAT32; }
  bool nextCluster(FXuint cluster, FXuint& next);
  FXulong clusterOffset(FXuint c) const { return g.dataStart + (FXulong)(c - 2) * g.clusterBytes; }
  // Calls `visit` for each entry of the folder at `cluster` (0: the root)
  // until it returns false.
  template <typename Visit>
  void walk(FXuint cluster, Listing& listing, Visit visit);
  template <typename Visit>
  bool walkBlock(const std::vector<FXuchar>& block, Listing& listing, Visit& visit);
  bool countFree(FXulong& free);
  ContentsNote checkFats();

  // The long-name chain gathered so far, for the short entry that ends it.
  std::vector<FXString> longParts;
  FXuint longChecksum = 0, longExpected = 0;
};

FatContents::FatContents(std::unique_ptr<VolumeView> v, VolumeKind kind, const FXuchar* bs)
    : VolumeContents(std::move(v)), kind(kind) {
  memcpy(boot, bs, sizeof(boot));
  g.sectorBytes = le16(bs + 0x0B);
  g.clusterBytes = g.sectorBytes * bs[0x0D];
  g.bits = kind == VolumeKind::FAT12 ? 12 : kind == VolumeKind::FAT16 ? 16 : 32;
  FXulong fatSectors = le16(bs + 0x16) ? le16(bs + 0x16) : le32(bs + 0x24);
  FXulong total = le16(bs + 0x13) ? le16(bs + 0x13) : le32(bs + 0x20);
  g.fats = bs[0x10];
  g.fatStart = (FXulong)le16(bs + 0x0E) * g.sectorBytes;
  g.fatBytes = fatSectors * g.sectorBytes;
  g.rootStart = g.fatStart + g.fats * g.fatBytes;
  g.rootBytes = (FXulong)le16(bs + 0x11) * ENTRY;
  g.dataStart = g.rootStart + (g.rootBytes + g.sectorBytes - 1) / g.sectorBytes * g.sectorBytes;
  g.rootCluster = fat32() ? le32(bs + 0x2C) : 0;
  FXulong totalBytes = total * g.sectorBytes;
  if (g.clusterBytes == 0 || totalBytes <= g.dataStart) return;
  g.clusters = (totalBytes - g.dataStart) / g.clusterBytes;
  // A FAT cannot describe more clusters than it has entries for.
  FXulong entries = g.fatBytes * 8 / g.bits;
  if (entries < 2) g.clusters = 0;
  else if (g.clusters > entries - 2) g.clusters = entries - 2;
}

bool FatContents::nextCluster(FXuint cluster, FXuint& next) {
  FXulong bitOffset = (FXulong)cluster * g.bits;
  FXuchar raw[4] = {};
  if (!view->readBytes(g.fatStart + bitOffset / 8, raw, g.bits == 12 ? 2 : g.bits / 8)) return false;
  if (g.bits == 12) {
    FXuint v = le16(raw);
    next = (cluster & 1) ? v >> 4 : v & 0xFFF;
  } else if (g.bits == 16) {
    next = le16(raw);
  } else {
    next = le32(raw) & 0x0FFFFFFF;
  }
  return true;
}

// A short 8.3 name: blanks dropped, the lower-case flags of byte 12 heeded.
FXString shortName(const FXuchar* e) {
  FXString base = asciiField(e, 8), ext = asciiField(e + 8, 3);
  if (!base.empty() && (FXuchar)base[0] == 0x05) base[0] = (FXchar)0xE5;
  if (e[12] & 0x08) base.lower();
  if (e[12] & 0x10) ext.lower();
  FXString name = ext.empty() ? base : base + "." + ext;
  // Short names are in the machine's code page; what is not ASCII is shown
  // as '?' rather than guessed.
  for (FXint i = 0; i < name.length(); i++)
    if ((FXuchar)name[i] >= 0x80) name[i] = '?';
  return name;
}

FXuint shortNameChecksum(const FXuchar* e) {
  FXuint sum = 0;
  for (int i = 0; i < 11; i++) sum = (((sum & 1) << 7) | (sum >> 1)) + e[i], sum &= 0xFF;
  return sum;
}

FXString longPart(const FXuchar* e) {
  FXuchar chars[26];
  memcpy(chars, e + 1, 10);
  memcpy(chars + 10, e + 14, 12);
  memcpy(chars + 22, e + 28, 4);
  FXString part = utf16Field(chars, 13);
  return part;
}

template <typename Visit>
bool FatContents::walkBlock(const std::vector<FXuchar>& block, Listing& listing, Visit& visit) {
  for (size_t at = 0; at + ENTRY <= block.size(); at += ENTRY) {
    const FXuchar* e = block.data() + at;
    if (e[0] == NAME_END) return false;
    if (e[0] == NAME_DELETED) {
      longParts.clear();
      continue;
    }
    if (e[11] == ATTR_LONG_NAME) {
      FXuint order = e[0] & 0x1F;
      if (e[0] & 0x40) {
        longParts.assign(order, FXString::null);
        longExpected = order;
        longChecksum = e[13];
      }
      if (order == 0 || order > MAX_LONG_PARTS || order != longExpected || e[13] != longChecksum) {
        if (!longParts.empty() || order > MAX_LONG_PARTS) addNote(listing, ContentsNote("Contents.List.004"));
        longParts.clear();
        longExpected = 0;
        continue;
      }
      longParts[order - 1] = longPart(e);
      longExpected--;
      continue;
    }
    FatEntry entry;
    bool chainComplete = !longParts.empty() && longExpected == 0;
    if (chainComplete && shortNameChecksum(e) == longChecksum) {
      for (const FXString& p : longParts) entry.shown.name += p;
    } else {
      if (!longParts.empty()) addNote(listing, ContentsNote("Contents.List.004"));
      entry.shown.name = shortName(e);
    }
    longParts.clear();
    longExpected = 0;
    if (e[11] & ATTR_VOLUME) continue;
    if (entry.shown.name == "." || entry.shown.name == "..") continue;
    bool replaced = false;
    entry.shown.name = contents::printableName(entry.shown.name, replaced);
    if (replaced) addNote(listing, ContentsNote("Contents.List.003"));
    entry.shown.folder = (e[11] & ATTR_FOLDER) != 0;
    entry.shown.size = entry.shown.folder ? 0 : le32(e + 28);
    if (entry.shown.size > view->bytes()) addNote(listing, ContentsNote("Contents.List.006"));
    entry.shown.modified = contents::dosTime(le16(e + 24), le16(e + 22));
    entry.place = le16(e + 26) | (fat32() ? le16(e + 20) << 16 : 0);
    if (!visit(entry)) return false;
  }
  return true;
}

template <typename Visit>
void FatContents::walk(FXuint cluster, Listing& listing, Visit visit) {
  longParts.clear();
  longExpected = 0;
  std::vector<FXuchar> block;
  if (cluster == 0 && !fat32()) {
    block.resize(g.rootBytes);
    if (!view->readBytes(g.rootStart, block.data(), block.size())) {
      addNote(listing, ContentsNote("Contents.List.005"));
      return;
    }
    walkBlock(block, listing, visit);
    return;
  }
  if (cluster == 0) cluster = g.rootCluster;
  // A chain that loops or leaves the data area is read as far as it goes.
  std::vector<FXuint> chain;
  FXuint endMark = g.bits == 12 ? 0xFF8 : g.bits == 16 ? 0xFFF8 : 0x0FFFFFF8;
  size_t limit = contents::MAX_ENTRIES / (g.clusterBytes / ENTRY) + 1;
  auto next = [this](FXuint c, FXuint& n) { return nextCluster(c, n); };
  if (!contents::followChain(cluster, g.clusters, endMark, limit, next, chain))
    addNote(listing, ContentsNote("Contents.List.002"));
  block.resize(g.clusterBytes);
  for (FXuint c : chain) {
    if (!view->readBytes(clusterOffset(c), block.data(), block.size())) {
      addNote(listing, ContentsNote("Contents.List.005"));
      return;
    }
    if (!walkBlock(block, listing, visit)) return;
  }
}

Listing FatContents::list(const FXString& path, FXuint first, FXuint count) {
  auto walkFolder = [this](FXuint cluster, Listing& listing, auto visit) { walk(cluster, listing, visit); };
  return contents::listFolder(path, first, count, (FXuint)0, walkFolder);
}

bool FatContents::countFree(FXulong& free) {
  if (fat32()) {
    // FSInfo's count, when it is recorded and can be true.
    FXuchar info[512];
    FXulong at = (FXulong)le16(boot + 0x30) * g.sectorBytes;
    if (view->readBytes(at, info, sizeof(info)) && le32(info) == 0x41615252 &&
        le32(info + 484) == 0x61417272 && le32(info + 488) <= g.clusters) {
      free = (FXulong)le32(info + 488) * g.clusterBytes;
      return true;
    }
  }
  if (g.clusters * g.bits / 8 > FAT_BYTES_CHECKED) return false;
  FXulong clusters = 0;
  for (FXuint c = 2; c - 2 < g.clusters; c++) {
    FXuint next;
    if (!nextCluster(c, next)) return false;
    if (next == 0) clusters++;
  }
  free = clusters * g.clusterBytes;
  return true;
}

// The FATs must hold the same bytes, and the first entry the media byte.
ContentsNote FatContents::checkFats() {
  FXulong bytes = g.fatBytes < FAT_BYTES_CHECKED ? g.fatBytes : FAT_BYTES_CHECKED;
  std::vector<FXuchar> one(bytes), other(bytes);
  if (!view->readBytes(g.fatStart, one.data(), bytes)) return ContentsNote("Contents.Check.008");
  if (one[0] != boot[0x15]) return ContentsNote("Contents.Check.002");
  for (FXulong f = 1; f < g.fats; f++) {
    if (!view->readBytes(g.fatStart + f * g.fatBytes, other.data(), bytes))
      return ContentsNote("Contents.Check.008");
    if (one != other) return ContentsNote("Contents.Check.001");
  }
  return ContentsNote();
}

VolumeSummary FatContents::summary() {
  VolumeSummary s;
  s.fileSystem = volumeKindName(kind);
  FXuint ext = fat32() ? 0x42 : 0x26;
  if (boot[ext] == 0x29) s.label = asciiField(boot + ext + 5, 11);
  if (s.label == "NO NAME") s.label = FXString::null;
  if (boot[ext] == 0x28 || boot[ext] == 0x29) s.uuid = serialText(le32(boot + ext + 1));
  if (fat32()) s.version.format("%u.%u", boot[0x2B], boot[0x2A]);
  s.blockSize = g.clusterBytes;
  FXulong free;
  if (countFree(free)) {
    s.spaceKnown = true;
    s.freeBytes = free;
    s.usedBytes = g.clusters * g.clusterBytes - free;
  }
  s.damage = checkFats();
  s.intact = !s.damage.set();
  return s;
}

}  // namespace

std::unique_ptr<VolumeContents> OpenFatContents(std::unique_ptr<VolumeView> view, VolumeKind kind,
                                                ContentsNote& why) {
  FXuchar boot[512];
  if (!view->read(0, boot, sizeof(boot))) {
    why = ContentsNote("Contents.Open.003");
    return nullptr;
  }
  std::unique_ptr<FatContents> fat(new FatContents(std::move(view), kind, boot));
  if (!fat->valid()) {
    why = ContentsNote("Contents.Open.003");
    return nullptr;
  }
  return fat;
}
