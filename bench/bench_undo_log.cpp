// What the undo log costs a recovery.
//
// Two recoveries: three lost logical partitions relinked into a new
// extended partition; and a wiped layout of seven volumes rebuilt, three
// primaries and four logicals behind new table blocks.  Each puts boot code
// into the MBR and sets the active flag.  Each runs on fresh copies of its
// image, first without change logging (the baseline), then with it, then is
// undone; last, the trial run that checks before a logged recovery that the
// log can hold it.  Every sector write reaches the medium before the
// recovery ends, so the flushes dominate; the report gives device writes,
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

// An image, what the user chose on it and what the search found there.
struct Scenario {
  const char* name;
  FXulong sectors;
  std::string script;  // sfdisk's
  std::vector<RecoverPart> chosen;
  std::vector<VolumeSpan> found;
  FXulong active;
  void (*prepare)(const std::string& image);
  std::string chs() const { return std::to_string(sectors / (HEADS * SPT)) + "/255/63"; }
};

RecoverPart lostLogical(FXulong eptb) {
  RecoverPart r;
  r.sector = eptb;
  r.logical = true;
  r.heads = HEADS;
  r.sectorsPerTrack = SPT;
  return r;
}

// A volume the search recognised by its boot record, as kelvarin-cli hands
// it to the writer.
RecoverPart foundVolume(FXulong first, FXulong sectors) {
  RecoverPart r;
  r.sector = first;
  r.first = first;
  r.size = sectors * 512;
  r.type = 0x83;
  r.heads = HEADS;
  r.sectorsPerTrack = SPT;
  return r;
}

Scenario relink() {
  Scenario s{"relink of 3 logicals", 2ull * HEADS * SPT, "start=20000, size=2048, type=83\n",
             {lostLogical(1000), lostLogical(5000), lostLogical(9000)}, {}, 20000,
             [](const std::string& image) {
               putTable(image, 1000, SPT, 3937);
               putTable(image, 5000, SPT, 3937);
               putTable(image, 9000, SPT, 100);
             }};
  return s;
}

// The seven volumes of a disk of today, 1 MiB apart, every table wiped.
Scenario rebuildSeven() {
  Scenario s{"rebuild of 7 volumes", 300 * 2048, "", {}, {}, 2048, nullptr};
  for (FXulong first : {2048, 43008, 83968, 126976, 169984, 212992, 256000}) {
    s.chosen.push_back(foundVolume(first, 40960));
    s.found.push_back(VolumeSpan{FXString(), SectorRange::sized(first, 40960)});
  }
  return s;
}

struct Result {
  double seconds = 0;
  unsigned writes = 0;
  unsigned flushes = 0;
};

enum Step { RECOVER, UNDO, TRIAL };

// One recovery, one undo or one trial, on a fresh copy of the original image.
Result once(const Scenario& scenario, const std::string& original, const std::string& image,
            bool logging, Step step) {
  run("cp --sparse=always '" + original + "' '" + image + "'");
  CountingWrites disk;
  DiskAccess* previous = DiskAccess::install(&disk);
  std::vector<std::string> args = {"bench", "-chs", scenario.chs(), "-file", image};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  Result result;
  {
    Analyse analyser((FXint)argv.size(), argv.data());
    sharedAnalyser = &analyser;
    analyser.disks[0].dbActive = logging;
    IOSystem::disableWriteLog = !logging;
    FXString device = image.c_str();
    std::vector<RecoverPart> chosen = scenario.chosen;
    for (RecoverPart& r : chosen) r.device = device;
    std::vector<VolumeSpan> found = scenario.found;
    for (VolumeSpan& v : found) v.device = device;
    std::vector<std::vector<FXulong>> active = {{scenario.active}};
    Clock::time_point start = Clock::now();
    if (step == TRIAL) {
      Recover::DisksTheLogCannotHold(chosen, found, true, active, {device});
    } else {
      Recover(chosen, found, nullptr, true, active, {device});
      // What a recovery ends with: the table read again and its checksum
      // stored with the log.
      analyser.ReReadPartitions();
      analyser.CalcNRDChecksums();
      analyser.WriteNRDChecksums();
    }
    IOSystem::disableWriteLog = true;
    if (step == UNDO) {
      disk.writes = 0;
      disk.flushes = 0;
      start = Clock::now();
      IOSystem::Undo(device, IOSystem::IsUndoAvailable(device));
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.writes = disk.writes;
    result.flushes = disk.flushes;
    sharedAnalyser = nullptr;
  }
  DiskAccess::install(previous);
  return result;
}

Result median(const Scenario& scenario, const std::string& original, const std::string& image,
              bool logging, Step step) {
  std::vector<Result> runs;
  for (int i = 0; i < 7; i++) runs.push_back(once(scenario, original, image, logging, step));
  std::sort(runs.begin(), runs.end(),
            [](const Result& a, const Result& b) { return a.seconds < b.seconds; });
  return runs[runs.size() / 2];
}

void report(const Scenario& scenario, const std::string& dir) {
  std::string original = dir + "/original.img", image = dir + "/disk.img";
  run("rm -f '" + original + "'");
  run("truncate -s " + std::to_string(scenario.sectors * 512) + " '" + original + "'");
  run("printf 'label: dos\\n" + scenario.script + "' | sfdisk -q --no-reread --no-tell-kernel '" +
      original + "' >/dev/null");
  if (scenario.prepare) scenario.prepare(original);

  Result plain = median(scenario, original, image, false, RECOVER);
  Result logged = median(scenario, original, image, true, RECOVER);
  Result undone = median(scenario, original, image, true, UNDO);
  Result trial = median(scenario, original, image, true, TRIAL);
  printf("%s\n", scenario.name);
  printf("  recovery without undo log: %u writes, %u flushes, 1.00x time (baseline %.1f ms)\n",
         plain.writes, plain.flushes, plain.seconds * 1000);
  printf("  recovery with undo log:    %u writes (%.2fx), %u flushes (%.2fx), %.2fx time\n",
         logged.writes, (double)logged.writes / plain.writes, logged.flushes,
         (double)logged.flushes / plain.flushes, logged.seconds / plain.seconds);
  printf("  undo of that recovery:     %u writes (%.2fx), %u flushes (%.2fx), %.2fx time\n",
         undone.writes, (double)undone.writes / plain.writes, undone.flushes,
         (double)undone.flushes / plain.flushes, undone.seconds / plain.seconds);
  printf("  trial before it (log room): %u writes, %.2fx time\n", trial.writes,
         trial.seconds / plain.seconds);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = BenchFolder(argc, argv);
  if (dir.empty()) return 1;
  for (const Scenario& scenario : {relink(), rebuildSeven()}) report(scenario, dir);
  if (argc <= 1) run("rm -rf '" + dir + "'");
  return 0;
}
