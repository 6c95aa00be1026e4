// What the undo log costs a recovery.
//
// The same recovery (three lost logical partitions relinked into a new
// extended partition, boot code put into the MBR, the active flag set) runs
// on fresh copies of one image, first without change logging (the baseline),
// then with it, then is undone; last, the trial run that checks before a
// logged recovery that the log can hold it.  Every sector write is flushed
// to the medium, so the flushes dominate; the report gives device writes,
// flushes and time as ratios to the baseline.
//
// Usage: bench_undo_log [work directory]   (default: a new one under /tmp;
// put it on the disk whose cost you want to know)
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchFolder.h"
#include "Analyse.h"
#include "IOSystem.h"
#include "Recover.h"
#include "platform/DiskAccess.h"

namespace {

typedef std::chrono::steady_clock Clock;

class CountingWrites : public LinuxDiskAccess {
public:
  unsigned writes = 0;
  unsigned flushes = 0;
  bool write(Handle h, const void* buffer, FXuint length, FXuint& done) override {
    writes++;
    return LinuxDiskAccess::write(h, buffer, length, done);
  }
  bool flush(Handle h) override {
    flushes++;
    return LinuxDiskAccess::flush(h);
  }
};

const int HEADS = 255, SPT = 63;

bool run(const std::string& command) { return system(command.c_str()) == 0; }

void putTable(const std::string& image, FXulong sector, FXuint dist, FXuint num) {
  FXuchar table[512] = {0};
  PartitionEntry e = {0, {0, 0, 0}, 0x83, {0, 0, 0}, dist, num};
  e.toTable(table, 0);
  table[510] = 0x55;
  table[511] = 0xAA;
  FILE* f = fopen(image.c_str(), "r+b");
  fseek(f, (long)(sector * 512), SEEK_SET);
  fwrite(table, 1, 512, f);
  fclose(f);
}

struct Result {
  double seconds = 0;
  unsigned writes = 0;
  unsigned flushes = 0;
};

enum Step { RECOVER, UNDO, TRIAL };

// One recovery, one undo or one trial, on a fresh copy of the original image.
Result once(const std::string& original, const std::string& image, bool logging, Step step) {
  run("cp --sparse=always '" + original + "' '" + image + "'");
  CountingWrites disk;
  DiskAccess* previous = DiskAccess::install(&disk);
  std::string chs = "2/255/63";
  std::vector<std::string> args = {"bench", "-chs", chs, "-file", image};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  Result result;
  {
    Analyse analyser((FXint)argv.size(), argv.data());
    sharedAnalyser = &analyser;
    analyser.disks[0].dbActive = logging;
    IOSystem::disableWriteLog = !logging;
    std::vector<RecoverPart> chosen;
    for (FXulong sector : {1000, 5000, 9000}) {
      RecoverPart r;
      r.device = image.c_str();
      r.sector = sector;
      r.logical = true;
      r.heads = HEADS;
      r.sectorsPerTrack = SPT;
      chosen.push_back(r);
    }
    Clock::time_point start = Clock::now();
    if (step == TRIAL) {
      Recover::DisksTheLogCannotHold(chosen, {}, true, {{20000}}, {FXString(image.c_str())});
    } else {
      Recover(chosen, {}, nullptr, true, {{20000}}, {FXString(image.c_str())});
    }
    IOSystem::disableWriteLog = true;
    if (step == UNDO) {
      disk.writes = 0;
      disk.flushes = 0;
      start = Clock::now();
      IOSystem::Undo(image.c_str(), IOSystem::IsUndoAvailable(image.c_str()));
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.writes = disk.writes;
    result.flushes = disk.flushes;
    sharedAnalyser = nullptr;
  }
  DiskAccess::install(previous);
  return result;
}

Result median(const std::string& original, const std::string& image, bool logging, Step step) {
  std::vector<Result> runs;
  for (int i = 0; i < 7; i++) runs.push_back(once(original, image, logging, step));
  std::sort(runs.begin(), runs.end(),
            [](const Result& a, const Result& b) { return a.seconds < b.seconds; });
  return runs[runs.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = BenchFolder(argc, argv);
  if (dir.empty()) return 1;
  std::string original = dir + "/original.img", image = dir + "/disk.img";
  run("truncate -s " + std::to_string(2ull * HEADS * SPT * 512) + " '" + original + "'");
  run("printf 'start=20000, size=2048, type=83\\n' | sfdisk -q --no-reread --no-tell-kernel '" +
      original + "' >/dev/null");
  putTable(original, 1000, SPT, 3937);
  putTable(original, 5000, SPT, 3937);
  putTable(original, 9000, SPT, 100);

  Result plain = median(original, image, false, RECOVER);
  Result logged = median(original, image, true, RECOVER);
  Result undone = median(original, image, true, UNDO);
  Result trial = median(original, image, true, TRIAL);
  printf("recovery without undo log: %u writes, %u flushes, 1.00x time (baseline %.1f ms)\n",
         plain.writes, plain.flushes, plain.seconds * 1000);
  printf("recovery with undo log:    %u writes (%.1fx), %u flushes (%.1fx), %.1fx time\n",
         logged.writes, (double)logged.writes / plain.writes, logged.flushes,
         (double)logged.flushes / plain.flushes, logged.seconds / plain.seconds);
  printf("undo of that recovery:     %u writes (%.1fx), %u flushes (%.1fx), %.1fx time\n",
         undone.writes, (double)undone.writes / plain.writes, undone.flushes,
         (double)undone.flushes / plain.flushes, undone.seconds / plain.seconds);
  printf("trial before it (log room): %u writes, %.2fx time\n", trial.writes,
         trial.seconds / plain.seconds);
  if (argc <= 1) run("rm -rf '" + dir + "'");
  return 0;
}
