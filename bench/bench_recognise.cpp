// How much the recognisers' scan adds to the search's first pass.
//
// A 1 GiB image of random bytes with a few real volumes in it, held in the
// page cache, is read front to back in 128 KiB preads; once plainly, once
// with every block handed to the scan.  Rounds alternate between the two so
// both meet the same load; the best of each is compared.
//
// Usage: bench_recognise [work directory]   (default: a new one under /tmp)
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "BenchFolder.h"
#include "recognise/Scan.h"

namespace {

typedef std::chrono::steady_clock Clock;

const FXulong IMAGE_BYTES = 1ull << 30;
const FXuint BLOCK_BYTES = 131072;
const int ROUNDS = 5;

double seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

bool writeRandomImage(const std::string& path) {
  int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd < 0) return false;
  std::mt19937_64 random(7);
  std::vector<FXulong> chunk((1 << 20) / 8);
  bool ok = true;
  for (FXulong at = 0; ok && at < IMAGE_BYTES; at += chunk.size() * 8) {
    for (FXulong& v : chunk) v = random();
    ok = pwrite(fd, chunk.data(), chunk.size() * 8, (off_t)at) == (ssize_t)(chunk.size() * 8);
  }
  close(fd);
  return ok;
}

// Makes a volume of `mib` MiB with `mkfs` and copies it into the image at
// byte offset `mibAt` MiB.
bool placeVolume(const std::string& image, FXulong mibAt, FXulong mib, const std::string& mkfs) {
  std::string fs = image + ".fs";
  std::string command = "rm -f '" + fs + "' && truncate -s " + std::to_string(mib) + "M '" + fs + "' && " +
                        mkfs + " '" + fs + "' >/dev/null 2>&1 && dd if='" + fs + "' of='" + image +
                        "' bs=1M seek=" + std::to_string(mibAt) + " conv=notrunc status=none";
  bool ok = system(command.c_str()) == 0;
  unlink(fs.c_str());
  if (!ok) fprintf(stderr, "cannot place: %s\n", mkfs.c_str());
  return ok;
}

// Reads the image in 128 KiB steps, handing each block to `use`.
template <typename Use>
double readAll(const std::string& path, Use use) {
  int fd = open(path.c_str(), O_RDONLY);
  std::vector<FXuchar> block(BLOCK_BYTES);
  Clock::time_point start = Clock::now();
  for (FXulong at = 0; at < IMAGE_BYTES; at += BLOCK_BYTES) {
    if (pread(fd, block.data(), BLOCK_BYTES, (off_t)at) != (ssize_t)BLOCK_BYTES) break;
    use(block.data(), at / 512);
  }
  double s = seconds(start, Clock::now());
  close(fd);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = BenchFolder(argc, argv);
  if (dir.empty()) return 1;
  std::string image = dir + "/recognise.img";
  bool ok = writeRandomImage(image) && placeVolume(image, 100, 16, "mke2fs -q -F -t ext4") &&
            placeVolume(image, 300, 40, "mkfs.vfat -F 32 -s 1") &&
            placeVolume(image, 500, 16, "mkntfs -F -Q -q") &&
            placeVolume(image, 700, 8, "mkfs.exfat") && placeVolume(image, 900, 8, "mkswap");
  ImageReader reader;
  if (!ok || !reader.open(image.c_str())) {
    fprintf(stderr, "cannot make %s\n", image.c_str());
    return 1;
  }

  unsigned sum = 0;
  auto plain = [&](const FXuchar* block, FXulong) { sum += block[510]; };
  std::vector<FoundVolume> hits;
  auto scan = [&](const FXuchar* block, FXulong first) {
    scanSectors(block, first, BLOCK_BYTES / 512, reader, hits);
  };
  readAll(image, plain);  // into the page cache
  double raw = 1e9, scanned = 1e9;
  size_t found = 0;
  for (int round = 0; round < ROUNDS; round++) {
    raw = std::min(raw, readAll(image, plain));
    hits.clear();
    scanned = std::min(scanned, readAll(image, scan));
    found = hits.size();
  }
  unlink(image.c_str());
  if (argc <= 1) rmdir(dir.c_str());
  if (sum == 1) puts("");  // keep the plain reads

  printf("scan of a 1 GiB image in the page cache (random bytes, 5 volumes, %zu hits):\n", found);
  for (const FoundVolume& v : hits)
    printf("  %-6s at %llu: start %llu, %llu sectors (%s)\n", volumeKindName(v.kind),
           (unsigned long long)v.at, (unsigned long long)v.start, (unsigned long long)v.sectors,
           foundByName(v.foundBy));
  printf("  sequential 128 KiB pread: %.0f MB/s\n", IMAGE_BYTES / raw / 1e6);
  printf("  pread and scan:           %.0f MB/s\n", IMAGE_BYTES / scanned / 1e6);
  printf("  ratio scan / pread:       %.2f\n", raw / scanned);
  return 0;
}
