#include "recognise/Scan.h"

#include <cstring>

#include "Records.h"

namespace {

const FXuint SCAN_BLOCK_SECTORS = 256;  // 128 KiB, the search's read size

// One magic as the scan looks for it: where in a sector it lies and how many
// sectors after the start of its structure that sector is.
struct Candidate {
  const Magic* magic;
  const Recogniser* recogniser;
  FXuint sectorsIn;
};

// The magics that begin with the same two bytes at the same place in a
// sector; one compare of those two bytes rules all of them out.
struct Filter {
  FXuint at;
  FXushort firstTwo;
  std::vector<Candidate> candidates;
};

FXushort firstTwoBytes(const void* p) {
  FXushort v;
  memcpy(&v, p, 2);
  return v;
}

std::vector<Filter> buildFilters() {
  std::vector<Filter> filters;
  for (const Recogniser* r : allRecognisers()) {
    for (FXuint m = 0; m < r->magicCount; m++) {
      const Magic& magic = r->magics[m];
      Candidate c = {&magic, r, magic.offset / SECTOR_SIZE};
      FXuint at = magic.offset % SECTOR_SIZE;
      FXushort two = firstTwoBytes(magic.bytes);
      Filter* same = nullptr;
      for (Filter& f : filters)
        if (f.at == at && f.firstTwo == two) same = &f;
      if (same) same->candidates.push_back(c);
      else filters.push_back({at, two, {c}});
    }
  }
  return filters;
}

const std::vector<Filter>& filters() {
  static const std::vector<Filter> all = buildFilters();
  return all;
}

void probeCandidate(const Candidate& c, const FXuchar* sector, FXulong number, SectorReader& reader,
                    std::vector<FoundVolume>& hits) {
  FXuint at = c.magic->offset % SECTOR_SIZE;
  if (memcmp(sector + at, c.magic->bytes, c.magic->length) != 0 || number < c.sectorsIn) return;
  FoundVolume found;
  FXulong structure = number - c.sectorsIn;
  if (!c.recogniser->probe(reader, structure, found)) return;
  if (found.start > reader.sectors() || found.sectors > reader.sectors() - found.start) return;
  found.at = structure;
  hits.push_back(found);
}

}  // namespace

void scanSectors(const FXuchar* sectors, FXulong first, FXuint count, SectorReader& reader,
                 std::vector<FoundVolume>& hits) {
  const std::vector<Filter>& all = filters();
  for (FXuint i = 0; i < count; i++) {
    const FXuchar* sector = sectors + (size_t)i * SECTOR_SIZE;
    for (const Filter& f : all) {
      if (firstTwoBytes(sector + f.at) != f.firstTwo) continue;
      for (const Candidate& c : f.candidates) probeCandidate(c, sector, first + i, reader, hits);
    }
  }
}

void scanRange(SectorReader& reader, FXulong first, FXulong count, std::vector<FoundVolume>& hits) {
  std::vector<FXuchar> block(SCAN_BLOCK_SECTORS * SECTOR_SIZE);
  FXulong total = reader.sectors();
  FXulong end = first < total && count < total - first ? first + count : total;
  for (FXulong at = first; at < end; at += SCAN_BLOCK_SECTORS) {
    FXuint n = (FXuint)(end - at < SCAN_BLOCK_SECTORS ? end - at : SCAN_BLOCK_SECTORS);
    if (reader.read(at, block.data(), n * SECTOR_SIZE)) scanSectors(block.data(), at, n, reader, hits);
  }
}

std::vector<FoundVolume> scanAll(SectorReader& reader) {
  std::vector<FoundVolume> hits;
  scanRange(reader, 0, reader.sectors(), hits);
  return hits;
}
