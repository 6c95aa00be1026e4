// Reading and checking both copies of a GUID partition table.
#include "gpt/GptTable.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "IOSystem.h"
#include "compat/Assert.h"

namespace {

const char SIGNATURE[] = "EFI PART";
const FXuint NAME_AT = 56, NAME_UNITS = 36;

FXulong le(const FXuchar* p, int bytes) {
  FXulong v = 0;
  for (int i = bytes - 1; i >= 0; i--) v = (v << 8) | p[i];
  return v;
}

void put(FXuchar* p, FXulong v, int bytes) {
  for (int i = 0; i < bytes; i++) p[i] = (FXuchar)(v >> (8 * i));
}

// A UTF-16LE name as UTF-8; a unit outside the basic plane becomes '?'.
FXString nameFromUtf16(const FXuchar* p) {
  FXString out;
  for (FXuint i = 0; i < NAME_UNITS; i++) {
    FXuint c = (FXuint)le(p + 2 * i, 2);
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xE000) c = '?';
    if (c < 0x80) {
      out.append((FXchar)c);
    } else if (c < 0x800) {
      out.append((FXchar)(0xC0 | (c >> 6)));
      out.append((FXchar)(0x80 | (c & 0x3F)));
    } else {
      out.append((FXchar)(0xE0 | (c >> 12)));
      out.append((FXchar)(0x80 | ((c >> 6) & 0x3F)));
      out.append((FXchar)(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// UTF-8 to UTF-16LE, at most NAME_UNITS units; the rest stays zero.
void nameToUtf16(const FXString& name, FXuchar* p) {
  memset(p, 0, 2 * NAME_UNITS);
  FXuint unit = 0;
  for (FXint i = 0; i < name.length() && unit < NAME_UNITS; unit++) {
    FXuchar c = (FXuchar)name[i];
    FXuint code = c;
    FXint length = c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
    if (length == 2 && i + 1 < name.length()) code = ((c & 0x1F) << 6) | (name[i + 1] & 0x3F);
    if (length == 3 && i + 2 < name.length())
      code = ((c & 0x0F) << 12) | ((name[i + 1] & 0x3F) << 6) | (name[i + 2] & 0x3F);
    put(p + 2 * unit, code, 2);
    i += length;
  }
}

bool readSectors(const FXString& device, FXulong sector, FXuchar* buffer, FXulong bytes) {
  return IOSystem::ReadBR(device, buffer, sector * SECTOR_SIZE, (FXuint)bytes);
}

bool startsBefore(const GptEntry& a, const GptEntry& b) { return a.first < b.first; }

// The used slots of a copy's array, or the key of what makes them unfit.
const FXchar* readEntries(const GptCopy& copy, std::vector<GptEntry>& entries) {
  const GptHeader& h = copy.header;
  entries.clear();
  for (FXuint slot = 0; slot < h.count; slot++) {
    GptEntry e = GptEntry::fromBytes(&copy.array[(size_t)slot * h.entrySize], slot);
    if (e.type.isZero()) continue;
    if (e.first > e.last || e.first < h.firstUsable || e.last > h.lastUsable)
      return "Gpt.problem.004";
    entries.push_back(e);
  }
  std::vector<GptEntry> sorted = entries;
  std::sort(sorted.begin(), sorted.end(), startsBefore);
  for (size_t i = 1; i < sorted.size(); i++)
    if (sorted[i].first <= sorted[i - 1].last) return "Gpt.problem.005";
  return nullptr;
}

// Whether a header whose CRC holds describes a table that fits a disk of
// `sectors` sectors; the key of what does not fit, or null.
const FXchar* unfitHeader(const GptHeader& h, FXulong sectors, bool primary) {
  if (h.entrySize < GPT_ENTRY_SIZE || h.entrySize % 8 != 0 || h.count == 0 ||
      h.arrayBytes() > GPT_ARRAY_LIMIT)
    return "Gpt.problem.001";
  if (h.firstUsable > h.lastUsable || h.lastUsable >= sectors || h.alternate >= sectors ||
      h.alternate == 0)
    return "Gpt.problem.002";
  SectorRange array = h.arrayRange();
  // The array lies in front of the usable sectors (primary) or between
  // them and its header (backup), so never beyond the disk.
  if (h.entriesLba < 2) return "Gpt.problem.003";
  if (primary && (array.first <= h.own || array.end > h.firstUsable)) return "Gpt.problem.003";
  if (!primary && (array.first <= h.lastUsable || array.end > h.own)) return "Gpt.problem.003";
  return nullptr;
}

// Reads the copy whose header lies at `at`.  `problem` gets the key of what
// makes a hostile copy unfit.
GptCopy readCopy(const FXString& device, FXulong sectors, FXulong at, bool primary,
                 const FXchar*& problem) {
  GptCopy copy;
  FXuchar s[SECTOR_SIZE];
  if (at == 0 || at >= sectors || !readSectors(device, at, s, SECTOR_SIZE) ||
      !GptHeader::fromSector(s, copy.header)) {
    KV_TRACE(8, "ReadGpt: no header at %.0lf\n", (double)at);
    return copy;
  }
  GptHeader& h = copy.header;
  copy.status = GptCopy::DAMAGED;
  if (h.headerSize < GPT_HEADER_SIZE || h.headerSize > SECTOR_SIZE || !h.crcHolds() ||
      h.own != at) {
    KV_TRACE(8, "ReadGpt: header at %.0lf fails its CRC or names another sector\n", (double)at);
    return copy;
  }
  problem = unfitHeader(h, sectors, primary);
  if (problem) {
    KV_TRACE(8, "ReadGpt: header at %.0lf does not fit the disk: %s\n", (double)at, problem);
    copy.status = GptCopy::HOSTILE;
    return copy;
  }
  copy.array.assign(h.arrayBytes(), 0);
  if (!readSectors(device, h.entriesLba, copy.array.data(), h.arrayBytes()) ||
      GptCrc(copy.array.data(), h.arrayBytes()) != h.entriesCrc) {
    KV_TRACE(8, "ReadGpt: entry array of the header at %.0lf fails its CRC\n", (double)at);
    copy.array.clear();
    return copy;
  }
  std::vector<GptEntry> entries;
  problem = readEntries(copy, entries);
  copy.status = problem ? GptCopy::HOSTILE : GptCopy::GOOD;
  return copy;
}

GptLayout::State combine(GptCopy::Status primary, GptCopy::Status backup) {
  if (primary == GptCopy::HOSTILE || backup == GptCopy::HOSTILE) return GptLayout::HOSTILE;
  if (primary == GptCopy::GOOD)
    return backup == GptCopy::GOOD ? GptLayout::INTACT : GptLayout::BACKUP_DAMAGED;
  if (backup == GptCopy::GOOD) return GptLayout::PRIMARY_DAMAGED;
  if (primary == GptCopy::ABSENT && backup == GptCopy::ABSENT) return GptLayout::NONE;
  return GptLayout::BOTH_DAMAGED;
}

}  // namespace

FXuint GptCrc(const FXuchar* bytes, FXulong length) {
  uLong crc = crc32(0, Z_NULL, 0);
  // zlib takes at most 4 GiB at a time; an array is far below that.
  return (FXuint)crc32(crc, bytes, (uInt)length);
}

bool GptHeader::fromSector(const FXuchar* s, GptHeader& h) {
  if (memcmp(s, SIGNATURE, 8) != 0) return false;
  memcpy(h.raw, s, SECTOR_SIZE);
  h.revision = (FXuint)le(s + 8, 4);
  h.headerSize = (FXuint)le(s + 12, 4);
  h.own = le(s + 24, 8);
  h.alternate = le(s + 32, 8);
  h.firstUsable = le(s + 40, 8);
  h.lastUsable = le(s + 48, 8);
  memcpy(h.disk.bytes, s + 56, 16);
  h.entriesLba = le(s + 72, 8);
  h.count = (FXuint)le(s + 80, 4);
  h.entrySize = (FXuint)le(s + 84, 4);
  h.entriesCrc = (FXuint)le(s + 88, 4);
  return true;
}

void GptHeader::toSector(FXuchar* s) const {
  memcpy(s, raw, SECTOR_SIZE);
  memcpy(s, SIGNATURE, 8);
  put(s + 8, revision, 4);
  put(s + 12, headerSize, 4);
  put(s + 16, 0, 4);
  put(s + 20, 0, 4);
  put(s + 24, own, 8);
  put(s + 32, alternate, 8);
  put(s + 40, firstUsable, 8);
  put(s + 48, lastUsable, 8);
  memcpy(s + 56, disk.bytes, 16);
  put(s + 72, entriesLba, 8);
  put(s + 80, count, 4);
  put(s + 84, entrySize, 4);
  put(s + 88, entriesCrc, 4);
  FXuint size = headerSize >= GPT_HEADER_SIZE && headerSize <= SECTOR_SIZE ? headerSize
                                                                             : GPT_HEADER_SIZE;
  put(s + 16, GptCrc(s, size), 4);
}

bool GptHeader::crcHolds() const {
  FXuchar s[SECTOR_SIZE];
  memcpy(s, raw, SECTOR_SIZE);
  put(s + 16, 0, 4);
  return GptCrc(s, headerSize) == (FXuint)le(raw + 16, 4);
}

GptEntry GptEntry::fromBytes(const FXuchar* p, FXuint slot) {
  GptEntry e;
  e.slot = slot;
  memcpy(e.type.bytes, p, 16);
  memcpy(e.unique.bytes, p + 16, 16);
  e.first = le(p + 32, 8);
  e.last = le(p + 40, 8);
  e.attributes = le(p + 48, 8);
  e.name = nameFromUtf16(p + NAME_AT);
  return e;
}

void GptEntry::toBytes(FXuchar* p) const {
  memset(p, 0, GPT_ENTRY_SIZE);
  memcpy(p, type.bytes, 16);
  memcpy(p + 16, unique.bytes, 16);
  put(p + 32, first, 8);
  put(p + 40, last, 8);
  put(p + 48, attributes, 8);
  nameToUtf16(name, p + NAME_AT);
}

FXulong GptLayout::primaryEnd() const {
  if (primary.status == GptCopy::GOOD) return primary.header.arrayRange().end;
  // A primary written again from the backup gets its array at sector 2.
  return 2 + good().header.arraySectors();
}

std::vector<SectorRange> GptLayout::gaps() const {
  std::vector<SectorRange> free;
  if (!usable()) return free;
  std::vector<GptEntry> sorted = entries;
  std::sort(sorted.begin(), sorted.end(), startsBefore);
  SectorRange all = usableSectors();
  FXulong at = all.first;
  for (const GptEntry& e : sorted) {
    if (e.first > at) free.push_back(SectorRange(at, e.first));
    at = std::max(at, e.last + 1);
  }
  if (at < all.end) free.push_back(SectorRange(at, all.end));
  return free;
}

bool GptLayout::overlapsEntry(const SectorRange& r) const {
  for (const GptEntry& e : entries)
    if (e.range().overlaps(r)) return true;
  return false;
}

GptLayout ReadGpt(const FXString& device, FXulong sectors) {
  KV_TRACE(7, "ReadGpt( device=%s )\n", device.text());
  GptLayout g;
  g.sectors = sectors;
  const FXchar* primaryProblem = nullptr;
  const FXchar* backupProblem = nullptr;
  g.primary = readCopy(device, sectors, 1, true, primaryProblem);
  g.backup = readCopy(device, sectors, sectors - 1, false, backupProblem);
  g.state = combine(g.primary.status, g.backup.status);
  g.problem = primaryProblem ? primaryProblem : backupProblem;
  if (g.usable()) readEntries(g.good(), g.entries);
  KV_TRACE(8, "ReadGpt: state %d, %u entries\n", (int)g.state, (FXuint)g.entries.size());
  return g;
}
