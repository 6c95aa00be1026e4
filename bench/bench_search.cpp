// How fast the lost-partition search reads a disk.
//
// Full search: the first pass over a 1 GiB image held in the page cache,
// against plain sequential 128 KiB preads of the same file.  Quick search:
// probes per second over a sparse 1 TiB image, against plain 128 KiB preads
// at the same cylinder starts.
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

#include "BenchFolder.h"
#include "Analyse.h"

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

// 128 KiB preads at every cylinder start, as the quick search's read-ahead does.
double cylinderPread(const std::string& path, FXulong sectors) {
  int fd = open(path.c_str(), O_RDONLY);
  std::vector<unsigned char> buffer(READ_AHEAD);
  Clock::time_point start = Clock::now();
  for (FXulong s = 0; s < sectors; s += CYLINDER) pread(fd, buffer.data(), READ_AHEAD, (off_t)(s * 512));
  double t = seconds(start, Clock::now());
  close(fd);
  return t;
}

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

// A quick search over a sparse 1 TiB disk against 128 KiB preads at the same
// cylinder starts.  Reading a hole fills the page cache with zeros; each
// measurement starts from a freshly made file so neither profits from the
// other's pages.
bool benchQuickSearch(const std::string& image) {
  const FXulong tib = 1ull << 40, sectors = tib / 512;
  if (!makeSparse(image, tib)) return false;
  double raw = cylinderPread(image, sectors);
  if (!makeSparse(image, tib)) return false;
  auto q = analyse(image, sectors);
  FXulong positions = (sectors - 1) / CYLINDER + 1;
  Bar bar(positions);
  Clock::time_point start = Clock::now();
  q->Search(&bar, nullptr, 0, true, 0, sectors - 1, 1);
  double quick = seconds(start, Clock::now());
  unlink(image.c_str());
  FXulong probes = 2 * positions;  // a cylinder start and one track into it
  printf("quick search over a sparse 1 TiB image (%.0f probes):\n", (double)probes);
  printf("  %.0f sectors probed per second\n", probes / quick);
  printf("  ratio quick search / 128 KiB preads at the cylinder starts: %.2f\n", raw / quick);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool quickToo = !(argc > 1 && strcmp(argv[1], "--full-only") == 0);
  if (!quickToo) argc--, argv++;
  std::string dir = BenchFolder(argc, argv);
  if (dir.empty()) return 1;
  bool ok = benchFullSearch(dir + "/full.img") && (!quickToo || benchQuickSearch(dir + "/sparse.img"));
  if (argc <= 1) rmdir(dir.c_str());
  return ok ? 0 : 1;
}
