// How fast the lost-partition search reads a disk.
//
// Full search: the first pass, every sector handed to the recognisers, over
// a 1 GiB image held in the page cache, against plain sequential 128 KiB
// preads of the same file.  Quick search: probes per second and seconds in
// all over a sparse 1 TiB image, against plain preads of what each probe
// reads at the same places.  Reads per volume: how many reads a quick and a
// full search make on a disk of contiguous volumes made by mke2fs.
//
// Usage: bench_search [--full-only] [work directory]   (default: a new one under /tmp)
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Analyse.h"
#include "BenchFolder.h"
#include "platform/DiskAccess.h"

namespace {

typedef std::chrono::steady_clock Clock;

double seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

const FXulong GiB = 1ull << 30;
const FXuint READ_AHEAD = 131072;
const int HEADS = 255, SPT = 63;
const FXulong CYLINDER = HEADS * SPT;

// A disk image of real bytes (so every page is in the cache), with a boot
// signature now and then for the second pass to look at.
bool writeImage(const std::string& path, FXulong bytes) {
  int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd < 0) return false;
  std::vector<unsigned char> chunk(1 << 20);
  for (size_t i = 0; i < chunk.size(); i++) chunk[i] = (unsigned char)(i * 131 + 7);
  for (FXulong at = 0; at < bytes; at += chunk.size()) {
    chunk[510] = (at / chunk.size()) % 64 == 0 ? 0x55 : 0;
    chunk[511] = (at / chunk.size()) % 64 == 0 ? 0xAA : 0;
    if (pwrite(fd, chunk.data(), chunk.size(), (off_t)at) != (ssize_t)chunk.size()) return false;
  }
  close(fd);
  return true;
}

// Reads the file front to back in 128 KiB steps; returns the seconds taken.
double sequentialPread(const std::string& path, FXulong bytes) {
  int fd = open(path.c_str(), O_RDONLY);
  std::vector<unsigned char> buffer(READ_AHEAD);
  unsigned sum = 0;
  Clock::time_point start = Clock::now();
  for (FXulong at = 0; at < bytes; at += READ_AHEAD) {
    if (pread(fd, buffer.data(), READ_AHEAD, (off_t)at) <= 0) break;
    sum += buffer[510];
  }
  double s = seconds(start, Clock::now());
  close(fd);
  if (sum == 12345) puts("");  // keep the reads
  return s;
}

const FXulong MIB = 2048;

// Where a quick search of an empty disk probes: every cylinder boundary and
// one track into it, every 1 MiB boundary.
std::vector<FXulong> probePositions(FXulong sectors) {
  std::vector<FXulong> at;
  for (FXulong s = 0; s < sectors; s += CYLINDER) {
    at.push_back(s);
    if (s + SPT < sectors) at.push_back(s + SPT);
  }
  for (FXulong s = 0; s < sectors; s += MIB) at.push_back(s);
  std::sort(at.begin(), at.end());
  at.erase(std::unique(at.begin(), at.end()), at.end());
  return at;
}

// Plain preads of what a probe reads at each position: 18 sectors from the
// one before it, and single sectors 128 and 16386 sectors in.
double probePread(const std::string& path, const std::vector<FXulong>& positions) {
  int fd = open(path.c_str(), O_RDONLY);
  std::vector<unsigned char> buffer(18 * 512);
  Clock::time_point start = Clock::now();
  for (FXulong s : positions) {
    pread(fd, buffer.data(), 18 * 512, (off_t)((s ? s - 1 : 0) * 512));
    pread(fd, buffer.data(), 512, (off_t)((s + 128) * 512));
    pread(fd, buffer.data(), 512, (off_t)((s + 16386) * 512));
  }
  double t = seconds(start, Clock::now());
  close(fd);
  return t;
}

// Counts the reads that reach the disk.
class ReadCounter : public LinuxDiskAccess {
public:
  ReadCounter() { previous = DiskAccess::install(this); }
  ~ReadCounter() { DiskAccess::install(previous); }
  bool read(Handle h, void* buffer, FXuint length, FXuint& done) override {
    reads++;
    return LinuxDiskAccess::read(h, buffer, length, done);
  }
  FXulong reads = 0;

private:
  DiskAccess* previous;
};

bool makeSparse(const std::string& path, FXulong bytes) {
  unlink(path.c_str());
  int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  bool ok = fd >= 0 && ftruncate(fd, (off_t)bytes) == 0;
  if (fd >= 0) close(fd);
  if (!ok) fprintf(stderr, "cannot make %s\n", path.c_str());
  return ok;
}

class Bar : public SearchProgress {
public:
  explicit Bar(FXulong total) : total((FXuint)(total > 0xFFFFFFFFull ? 0xFFFFFFFFull : total)) {}
  FXuint getTotal() override { return total; }
  FXuint getProgress() override { return value; }
  void post(FXint kind, FXulong v) override { value = kind == 1 ? (FXuint)v : value + (FXuint)v; }
  FXuint total, value = 0;
};

// Notes when the first pass ends: its summary is the second text.
class Stopwatch : public SearchText {
public:
  void appendText(const FXString&) override {
    if (++texts == 2) firstPassEnd = Clock::now();
  }
  int texts = 0;
  Clock::time_point firstPassEnd;
};

std::unique_ptr<Analyse> analyse(const std::string& image, FXulong sectors) {
  std::string chs = std::to_string(sectors / CYLINDER) + "/" + std::to_string(HEADS) + "/" + std::to_string(SPT);
  std::vector<std::string> args = {"kvbench", "-chs", chs, "-file", image};
  std::vector<FXchar*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  return std::unique_ptr<Analyse>(new Analyse((FXint)argv.size(), argv.data()));
}

// The first pass of a full search against sequential preads of the same
// cached file.  Rounds alternate between the two so both meet the same load.
bool benchFullSearch(const std::string& image) {
  const FXulong bytes = GiB;
  if (!writeImage(image, bytes)) {
    fprintf(stderr, "cannot write %s\n", image.c_str());
    return false;
  }
  sequentialPread(image, bytes);  // warm the cache
  auto a = analyse(image, bytes / 512);
  double raw = 1e9, pass = 1e9;
  for (int round = 0; round < 5; round++) {
    raw = std::min(raw, sequentialPread(image, bytes));
    Bar bar(bytes / 512);
    Stopwatch watch;
    Clock::time_point start = Clock::now();
    a->Search(&bar, &watch, 0, false, 0, bytes / 512 - 1, 1);
    pass = std::min(pass, seconds(start, watch.firstPassEnd));
  }
  unlink(image.c_str());
  double rawRate = bytes / raw / 1e6, passRate = bytes / pass / 1e6;
  printf("\nfull search, first pass over 1 GiB in the page cache:\n");
  printf("  sequential 128 KiB pread: %.0f MB/s\n", rawRate);
  printf("  first pass:               %.0f MB/s\n", passRate);
  printf("  ratio first pass / pread: %.2f\n", passRate / rawRate);
  return true;
}

// A quick search over a sparse 1 TiB disk against plain preads of the same
// sectors.  Reading a hole fills the page cache with zeros; each measurement
// starts from a freshly made file so neither profits from the other's pages.
bool benchQuickSearch(const std::string& image) {
  const FXulong tib = 1ull << 40, sectors = tib / 512;
  std::vector<FXulong> positions = probePositions(sectors);
  if (!makeSparse(image, tib)) return false;
  double raw = probePread(image, positions);
  if (!makeSparse(image, tib)) return false;
  auto q = analyse(image, sectors);
  Bar bar(sectors / CYLINDER + 1);
  Clock::time_point start = Clock::now();
  q->Search(&bar, nullptr, 0, true, 0, sectors - 1, 1);
  double quick = seconds(start, Clock::now());
  unlink(image.c_str());
  printf("quick search over a sparse 1 TiB image (%.0f probes):\n", (double)positions.size());
  printf("  %.0f probes per second, %.1f s in all\n", positions.size() / quick, quick);
  printf("  ratio plain preads of the same sectors / quick search: %.2f\n", raw / quick);
  return true;
}

// Reads per volume found on a disk of 16 ext4 volumes of 16 MiB each, one
// after the other on 1 MiB boundaries.
bool benchReadsPerVolume(const std::string& dir) {
  const int VOLUMES = 16;
  const FXulong VOLUME = 16 * MIB, sectors = 33 * CYLINDER;
  std::string image = dir + "/contiguous.img", fs = dir + "/volume.img";
  if (!makeSparse(image, sectors * 512)) return false;
  for (int v = 0; v < VOLUMES; v++) {
    std::string make = "truncate -s 0 '" + fs + "' && truncate -s " + std::to_string(VOLUME * 512) + " '" + fs +
                       "' && mke2fs -q -F -t ext4 '" + fs + "' && dd if='" + fs + "' of='" + image +
                       "' bs=64K conv=notrunc,sparse oflag=seek_bytes status=none seek=" +
                       std::to_string((MIB + v * VOLUME) * 512);
    if (system(make.c_str()) != 0) {
      fprintf(stderr, "cannot make the volumes (mke2fs)\n");
      return false;
    }
  }
  unlink(fs.c_str());
  auto a = analyse(image, sectors);
  printf("reads per volume, %d contiguous ext4 volumes of 16 MiB:\n", VOLUMES);
  for (bool quick : {true, false}) {
    ReadCounter counter;
    Bar bar(quick ? sectors / CYLINDER + 1 : sectors);
    size_t found = a->Search(&bar, nullptr, 0, quick, 0, sectors - 1, 1).size();
    printf("  %s search: %llu reads, %zu volumes found, %.1f reads per volume\n", quick ? "quick" : "full",
           (unsigned long long)counter.reads, found, found ? (double)counter.reads / found : 0.0);
  }
  unlink(image.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool quickToo = !(argc > 1 && strcmp(argv[1], "--full-only") == 0);
  if (!quickToo) argc--, argv++;
  std::string dir = BenchFolder(argc, argv);
  if (dir.empty()) return 1;
  bool ok = benchFullSearch(dir + "/full.img") &&
            (!quickToo || (benchQuickSearch(dir + "/sparse.img") && benchReadsPerVolume(dir)));
  if (argc <= 1) rmdir(dir.c_str());
  return ok ? 0 : 1;
}
