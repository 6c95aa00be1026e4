#include "recognise/Scan.h"

#include <algorithm>
#include <cstring>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "Records.h"

namespace {

const FXuint SCAN_BLOCK_SECTORS = 256;  // 128 KiB, the search's read size

// Where a volume that begins at a given sector shows itself, in sectors
// from its start: boot sectors, LVM's label and ext's superblock in the
// first 4 KiB, swap's magic at the end of the first page, ReiserFS's old
// superblock 8 KiB in, ReiserFS's and btrfs's 64 KiB in.  Copies that lie
// close by are read too, so a volume whose first structure is gone still
// shows: FAT32's 6 and exFAT's 12 sectors on, ext's first backup superblock
// with 1 KiB blocks, and an NTFS backup boot sector in the sector before,
// where the volume before ends.
struct HeadSpan {
  FXlong from;
  FXuint count;
};
const HeadSpan HEAD_SPANS[] = {{-1, 18}, {128, 1}, {16386, 1}};
const FXuint WINDOW_BYTES = 16;

// One magic as the scan looks for it: the recogniser it belongs to and how
// many sectors after the start of its structure the sector holding it is.
struct Candidate {
  const Magic* magic;
  const Recogniser* recogniser;
  FXuint sectorsIn;
};

// The scan compares 16-byte windows of each sector at once with the bytes
// the magics begin with.  A window holds the first two bytes of several
// magics side by side; magics that want different bytes at the same place
// get windows of their own.  Only when two expected bytes of one magic
// match are its full bytes compared and its probe asked.
struct Window {
  FXuint from;                   // where the window starts in a sector
  FXuchar expected[WINDOW_BYTES];
  FXuint care = 0;               // one bit per byte some magic expects
  struct Start {
    FXuint at;  // of the magic's first byte, in the window
    std::vector<Candidate> candidates;
  };
  std::vector<Start> starts;
};

// Every sector is this many windows; few enough that the compares unroll.
struct Windows {
  static const FXuint MAX = 16;
  FXuint count = 0;
  Window window[MAX];
};

// Puts a magic's first two bytes into a window that has room for them.
bool place(Windows& w, const Candidate& c) {
  FXuint at = c.magic->offset % SECTOR_SIZE;
  FXuint from = at - at % WINDOW_BYTES;
  if (from > SECTOR_SIZE - WINDOW_BYTES) from = SECTOR_SIZE - WINDOW_BYTES;
  FXuint inWindow = at - from;
  if (inWindow + 2 > WINDOW_BYTES) from += WINDOW_BYTES / 2, inWindow -= WINDOW_BYTES / 2;
  const FXuchar* bytes = (const FXuchar*)c.magic->bytes;
  for (FXuint k = 0; k <= w.count && k < Windows::MAX; k++) {
    Window& win = w.window[k];
    if (k == w.count) win.from = from;
    if (win.from != from) continue;
    bool fits = true;
    for (FXuint b = 0; b < 2; b++)
      fits = fits && (!(win.care >> (inWindow + b) & 1) || win.expected[inWindow + b] == bytes[b]);
    if (!fits) continue;
    if (k == w.count) w.count++;
    for (FXuint b = 0; b < 2; b++) win.expected[inWindow + b] = bytes[b];
    win.care |= 3u << inWindow;
    for (Window::Start& s : win.starts)
      if (s.at == inWindow) return s.candidates.push_back(c), true;
    win.starts.push_back({inWindow, {c}});
    return true;
  }
  return false;
}

Windows buildWindows() {
  Windows w;
  for (const Recogniser* r : allRecognisers())
    for (FXuint m = 0; m < r->magicCount; m++) {
      const Magic& magic = r->magics[m];
      place(w, {&magic, r, magic.offset / SECTOR_SIZE});
    }
  return w;
}

const Windows& windows() {
  static const Windows all = buildWindows();
  return all;
}

// A window's expected bytes, held where the compare wants them.
#ifdef __SSE2__
typedef __m128i Expected;
Expected expectedOf(const Window& w) { return _mm_loadu_si128((const __m128i*)w.expected); }
#else
typedef const FXuchar* Expected;
Expected expectedOf(const Window& w) { return w.expected; }
#endif

// One bit per byte of the window that equals what is expected there.
inline FXuint equalBytes(const FXuchar* bytes, const Expected& want) {
#ifdef __SSE2__
  __m128i have = _mm_loadu_si128((const __m128i*)bytes);
  return (FXuint)_mm_movemask_epi8(_mm_cmpeq_epi8(have, want));
#else
  FXuint mask = 0;
  for (FXuint b = 0; b < WINDOW_BYTES; b++) mask |= (FXuint)(bytes[b] == want[b]) << b;
  return mask;
#endif
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

// The magics of a window whose two first bytes both matched.
void probeWindow(const Window& w, FXuint equal, const FXuchar* sector, FXulong number, SectorReader& reader,
                 std::vector<FoundVolume>& hits) {
  for (const Window::Start& s : w.starts) {
    if ((equal >> s.at & 3) != 3) continue;
    for (const Candidate& c : s.candidates) probeCandidate(c, sector, number, reader, hits);
  }
}

// The scan proper for N windows: with N fixed the compares unroll into
// straight code, and a sector whose windows show no expected byte at all,
// nearly every sector, costs no branch but one.
template <FXuint N>
void scanWith(const Windows& w, const FXuchar* sectors, FXulong first, FXuint count, SectorReader& reader,
              std::vector<FoundVolume>& hits) {
  FXuint from[N ? N : 1], care[N ? N : 1];
  Expected want[N ? N : 1];
  for (FXuint k = 0; k < N; k++) {
    from[k] = w.window[k].from;
    care[k] = w.window[k].care;
    want[k] = expectedOf(w.window[k]);
  }
  for (FXuint i = 0; i < count; i++) {
    const FXuchar* sector = sectors + (size_t)i * SECTOR_SIZE;
    FXuint equal[N ? N : 1], any = 0;
#pragma GCC unroll 16
    for (FXuint k = 0; k < N; k++) {
      equal[k] = equalBytes(sector + from[k], want[k]) & care[k];
      any |= equal[k];
    }
    if (!any) continue;
    for (FXuint k = 0; k < N; k++)
      if (equal[k]) probeWindow(w.window[k], equal[k], sector, first + i, reader, hits);
  }
}

typedef void (*ScanKernel)(const Windows&, const FXuchar*, FXulong, FXuint, SectorReader&,
                           std::vector<FoundVolume>&);

template <FXuint... N>
ScanKernel kernelFor(FXuint count, std::integer_sequence<FXuint, N...>) {
  static const ScanKernel kernels[] = {scanWith<N>...};
  return kernels[count];
}

}  // namespace

bool scanCoversEveryMagic() {
  FXuint placed = 0, total = 0;
  for (const Recogniser* r : allRecognisers()) total += r->magicCount;
  const Windows& w = windows();
  for (FXuint k = 0; k < w.count; k++)
    for (const Window::Start& s : w.window[k].starts) placed += (FXuint)s.candidates.size();
  return placed == total;
}

void scanSectors(const FXuchar* sectors, FXulong first, FXuint count, SectorReader& reader,
                 std::vector<FoundVolume>& hits) {
  static const ScanKernel kernel =
      kernelFor(windows().count, std::make_integer_sequence<FXuint, Windows::MAX + 1>());
  kernel(windows(), sectors, first, count, reader, hits);
}

void scanRange(SectorReader& reader, FXulong first, FXulong count, std::vector<FoundVolume>& hits) {
  std::vector<FXuchar> block(SCAN_BLOCK_SECTORS * SECTOR_SIZE);
  FXulong total = reader.sectors();
  FXulong end = first < total && count < total - first ? first + count : total;
  for (FXulong at = first; at < end; at += SCAN_BLOCK_SECTORS) {
    FXuint n = (FXuint)(end - at < SCAN_BLOCK_SECTORS ? end - at : SCAN_BLOCK_SECTORS);
    if (reader.readBlock(at, block.data(), n * SECTOR_SIZE)) scanSectors(block.data(), at, n, reader, hits);
  }
}

bool scanHead(SectorReader& reader, FXulong start, std::vector<FoundVolume>& hits,
              const SectorVisitor& eachSector) {
  FXuchar bytes[18 * SECTOR_SIZE];
  FXulong total = reader.sectors();
  bool firstRead = false;
  for (const HeadSpan& span : HEAD_SPANS) {
    FXulong from = span.from < 0 && start < (FXulong)-span.from ? start : start + span.from;
    FXuint skipped = (FXuint)(from - (start + span.from));  // before sector 0
    if (from >= total) break;
    FXuint n = (FXuint)std::min<FXulong>(span.count - skipped, total - from);
    bool read = reader.readBlock(from, bytes, n * SECTOR_SIZE);
    if (!read) continue;
    scanSectors(bytes, from, n, reader, hits);
    if (span.from > 0) continue;
    firstRead = true;
    if (eachSector)
      for (FXuint i = 0; i < n; i++) eachSector(bytes + (size_t)i * SECTOR_SIZE, from + i);
  }
  return firstRead;
}

std::vector<FoundVolume> volumesStartingAt(SectorReader& reader, FXulong start) {
  std::vector<FoundVolume> hits, result;
  scanHead(reader, start, hits);
  for (const FoundVolume& v : hits)
    if (v.start == start) result.push_back(v);
  return result;
}

std::vector<FoundVolume> scanAll(SectorReader& reader) {
  std::vector<FoundVolume> hits;
  scanRange(reader, 0, reader.sectors(), hits);
  return hits;
}
