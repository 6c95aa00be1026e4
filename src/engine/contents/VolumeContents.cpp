// Which file system a found volume holds, and what the listings share.
#include "contents/VolumeContents.h"

#include <cstring>
#include <ctime>
#include <vector>

namespace {

bool magicsMatch(SectorReader& reader, FXulong structure, const Recogniser& r) {
  for (FXuint i = 0; i < r.magicCount; i++) {
    const Magic& m = r.magics[i];
    FXuint sector = m.offset / 512, skip = m.offset % 512;
    std::vector<FXuchar> span((skip + m.length + 511) / 512 * 512);
    if (!reader.read(structure + sector, span.data(), (FXuint)span.size()))
      continue;
    if (memcmp(span.data() + skip, m.bytes, m.length) == 0) return true;
  }
  return false;
}

// The recognisers decide what the volume is, so the listing and the search
// never disagree: a structure at the volume's first sector, or the ext
// superblock two sectors in, that places a volume starting at sector 0.
bool recognise(VolumeView& view, VolumeKind& kind) {
  for (FXulong structure : {(FXulong)0, (FXulong)2}) {
    for (const Recogniser* r : allRecognisers()) {
      FoundVolume found;
      if (!magicsMatch(view, structure, *r) || !r->probe(view, structure, found)) continue;
      if (found.start != 0 || found.isCopy()) continue;
      kind = found.kind;
      return true;
    }
  }
  return false;
}

ContentsOpener* openerFor(VolumeKind kind) {
  switch (kind) {
    case VolumeKind::FAT12:
    case VolumeKind::FAT16:
    case VolumeKind::FAT32:
      return OpenFatContents;
    case VolumeKind::EXFAT:
      return OpenExfatContents;
    case VolumeKind::EXT2:
    case VolumeKind::EXT3:
    case VolumeKind::EXT4:
      return OpenExtContents;
    case VolumeKind::NTFS:
      return OpenNtfsContents;
    default:
      return nullptr;
  }
}

}  // namespace

std::unique_ptr<VolumeContents> OpenVolumeContents(SectorReader& disk, FXulong start,
                                                   FXulong sectors, ContentsNote& why) {
  std::unique_ptr<VolumeView> view(new VolumeView(disk, start, sectors));
  VolumeKind kind;
  if (view->sectors() == 0 || !recognise(*view, kind)) {
    why = ContentsNote("Contents.Open.001");
    return nullptr;
  }
  ContentsOpener* open = openerFor(kind);
  if (!open) {
    why = ContentsNote("Contents.Open.002", volumeKindName(kind));
    return nullptr;
  }
  return open(std::move(view), kind, why);
}

std::vector<FXString> PathParts(const FXString& path) {
  std::vector<FXString> parts;
  FXint n = path.contains('/') + 1;
  for (FXint i = 0; i < n; i++) {
    FXString part = path.section('/', i);
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

namespace contents {

FXString printableName(const FXString& name, bool& replaced) {
  FXString out(name);
  for (FXint i = 0; i < out.length(); i++) {
    FXuchar c = (FXuchar)out[i];
    if (c < 0x20 || c == 0x7F) {
      out[i] = '?';
      replaced = true;
    }
  }
  return out;
}

void addNote(Listing& listing, const ContentsNote& note) {
  for (const ContentsNote& n : listing.notes)
    if (n.key == note.key) return;
  listing.notes.push_back(note);
}

bool Pager::take(const DirEntry& entry) {
  if (index >= first && index - first >= count) {
    listing.more = true;
    return false;
  }
  if (index >= first) listing.entries.push_back(entry);
  index++;
  return true;
}

FXlong dosTime(FXuint date, FXuint time) {
  FXuint day = date & 31, month = (date >> 5) & 15, year = 1980 + (date >> 9);
  if (date == 0 || day == 0 || month == 0 || month > 12) return -1;
  struct tm t = {};
  t.tm_year = (int)year - 1900;
  t.tm_mon = (int)month - 1;
  t.tm_mday = (int)day;
  t.tm_hour = (int)((time >> 11) & 31);
  t.tm_min = (int)((time >> 5) & 63);
  t.tm_sec = (int)((time & 31) * 2);
  return (FXlong)timegm(&t);
}

}  // namespace contents
