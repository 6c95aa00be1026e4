// Linux swap areas with 4 KiB pages: the first page ends with the magic.
// Version 1 ("SWAPSPACE2") keeps a header after the first 1024 bytes; the
// old version 0 ("SWAP-SPACE") keeps a bitmap of the usable pages instead.
// Neither keeps a copy.
#include <cstring>

#include "recognise/OnDisk.h"

using namespace ondisk;

namespace {

const FXuint PAGE_BYTES = 4096;
const FXuint MAGIC_AT = PAGE_BYTES - 10;
const FXuint VERSION = 1024;
const FXuint LAST_PAGE = 1028;
const FXuint BAD_PAGE_COUNT = 1032;
const FXuint UUID = 1036;
const FXuint LABEL = 1052;
const FXuint BAD_PAGES = 1536;

// mkswap makes no area of fewer pages.
const FXulong MIN_PAGES = 10;
// What fits between the bad-page list's start and the magic.
const FXuint MAX_BAD_PAGES = (MAGIC_AT - BAD_PAGES) / 4;

bool headerFits(const FXuchar* page, FXulong& pages) {
  FXulong last = le32(page + LAST_PAGE);
  FXuint bad = le32(page + BAD_PAGE_COUNT);
  if (le32(page + VERSION) != 1 || last + 1 < MIN_PAGES || bad > MAX_BAD_PAGES) return false;
  for (FXuint i = 0; i < bad; i++) {
    FXulong b = le32(page + BAD_PAGES + 4 * i);
    if (b == 0 || b > last) return false;
  }
  pages = last + 1;
  return true;
}

// Bit n set: page n is usable.  Page 0 holds the bitmap itself; every page
// after it up to the last is usable but for the bad ones.
bool bitmapFits(const FXuchar* page, FXulong& pages) {
  if (page[0] & 1) return false;
  FXuint at = MAGIC_AT;
  while (at > 0 && page[at - 1] == 0) at--;
  if (at == 0) return false;
  FXuint top = 7;
  while (!(page[at - 1] & (1u << top))) top--;
  pages = (FXulong)(at - 1) * 8 + top + 1;
  FXulong unusable = 0;
  for (FXulong n = 1; n < pages; n++) unusable += !(page[n / 8] >> (n % 8) & 1);
  return pages >= MIN_PAGES && unusable <= MAX_BAD_PAGES;
}

bool probeSwap(SectorReader& reader, FXulong structure, FoundVolume& found) {
  FXuchar page[PAGE_BYTES];
  if (!reader.read(structure, page, sizeof(page))) return false;
  bool version1 = memcmp(page + MAGIC_AT, "SWAPSPACE2", 10) == 0;
  bool version0 = memcmp(page + MAGIC_AT, "SWAP-SPACE", 10) == 0;
  FXulong pages = 0;
  if (!(version1 ? headerFits(page, pages) : version0 && bitmapFits(page, pages))) return false;
  if (!sectorsOf(pages, PAGE_BYTES, found.sectors)) return false;
  found.start = structure;
  found.kind = VolumeKind::SWAP;
  found.foundBy = FoundBy::SUPERBLOCK;
  if (version1) {
    found.label = asciiField(page + LABEL, 16);
    found.uuid = uuidText(page + UUID);
  }
  return true;
}

}  // namespace

const Recogniser swapRecogniser = {
    "swap", {{"SWAPSPACE2", 10, MAGIC_AT}, {"SWAP-SPACE", 10, MAGIC_AT}}, 2, probeSwap};
