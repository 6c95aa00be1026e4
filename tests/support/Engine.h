// Helpers for tests of the engine on disk images: analysers over image files
// (one image, or several gathered into one disk list), sector and table-entry
// access, what sfdisk reads back, and sinks that record what a search reports.
#ifndef KV_TEST_ENGINE_H
#define KV_TEST_ENGINE_H

#include <fx.h>

#include <memory>
#include <string>
#include <vector>

#include "Analyse.h"
#include "Records.h"
#include "compat/Assert.h"
#include "support/CountingDisk.h"
#include "support/TestImages.h"

namespace kvtest {

// The assertion reports made while it lives, kept instead of printed.
struct AssertLog : std::vector<std::string> {
  AssertLog() : previous(kv::setAssertSink(add)) { current = this; }
  ~AssertLog() {
    kv::setAssertSink(previous);
    current = nullptr;
  }
  static void add(const char* text) {
    if (current) current->push_back(text);
  }
  kv::AssertSink previous;
  static inline AssertLog* current = nullptr;
};

// IOSystem's process-wide state (simulation, undo logging, the read
// context) cleared when made and again when it dies.  Declared as a
// fixture's first member, it outlives the analysers the test makes.
struct FreshIOSystem {
  FreshIOSystem();
  ~FreshIOSystem();
};

// An analyser on one disk image with the given geometry ("C/H/S"), built the
// way the program builds it for "-chs C/H/S -file image" and `options`.
// An analyser built from a command line, without the program's name.
std::unique_ptr<Analyse> analyseArgs(std::vector<std::string> args);
std::unique_ptr<Analyse> analyseImage(const std::string& image, const std::string& chs,
                                      std::vector<std::string> options = {});

// The analyser of a run with "-chs C/H/S -file image", published as the
// shared analyser for as long as the object lives.
class ImageAnalyser {
public:
  ImageAnalyser(const std::string& image, const std::string& chs,
                std::vector<std::string> options = {});
  ~ImageAnalyser();
  Analyse& operator*() { return *analyser; }
  Analyse* operator->() { return analyser; }
  NRD& disk() { return analyser->disks.at(0); }

private:
  Analyse* analyser;
};

// One sector of an image file.
std::string readSector(const std::string& image, unsigned long long sector);
void writeSector(const std::string& image, unsigned long long sector, const std::string& data);

// Two 64-sector images in `dir` for tests of what reads see after writes
// kept in memory: sectors 4-6 of `image` and sector 5 of `other` hold 'o',
// every other byte is zero.
struct OldSectorImages {
  explicit OldSectorImages(const TempDir& dir);
  std::string image, other;
  const std::string old = std::string(512, 'o');
};

// The 16 bytes of a partition-table entry.
std::string entryBytes(unsigned char type, unsigned dist, unsigned num, unsigned char boot = 0);
// A table sector holding the given entries in slots 0.. and the signature.
std::string tableSector(const std::vector<std::string>& entries);

// What the recovery chooser hands the writer when the user selects every
// partition found at `sectors` of disk `disk` (one record per candidate).
std::vector<RecoverPart> chooseAll(Analyse& analyser, int disk, const std::vector<FXulong>& sectors);

// Every candidate at `sectors` of disk `disk`, chosen or not, as the found
// volumes the writer keeps its new tables out of.
std::vector<VolumeSpan> foundVolumes(Analyse& analyser, int disk, const std::vector<FXulong>& sectors);

// Full search of every gap of a disk; the sectors that hold boot records.
std::vector<FXulong> searchAllGaps(Analyse& analyser, int disk);

// True when two files hold the same bytes.
bool sameFile(const std::string& a, const std::string& b);

// An sfdisk script: two primaries around an extended partition with four
// logical ones and free space between them (a 100 MiB disk).
const char* const TWO_PRIMARIES_AROUND_A_CHAIN =
    "label: dos\n"
    "1: start=2048, size=20480, type=c\n"
    "2: start=32768, size=131072, type=5\n"
    "3: start=167936, size=10240, type=83\n"
    "5: start=34816, size=20480, type=83\n"
    "6: start=79872, size=10240, type=7\n"
    "7: start=100352, size=8192, type=82\n"
    "8: start=120832, size=4096, type=e\n";

// One free stretch as `sfdisk -F` lists it (start and end sector as printed).
struct SfdiskFree {
  unsigned long long start, end;
};
std::vector<SfdiskFree> sfdiskFree(const std::string& image);

// Writes one slot of the table at `tableSector`, and its signature.
void putEntry(const std::string& image, unsigned long long tableSector, int slot, unsigned type,
              unsigned dist, unsigned num);

// An analyser that sees no disk at all; tests add their own records.  Keeps
// the machine's disks out of reach while it is built.
std::unique_ptr<Analyse> analyserWithoutDisks();

// Records progress messages and keeps a bar as the wizard's proxy does:
// kind 1 sets the value, kind 2 advances it.
class RecordingProgress : public SearchProgress {
public:
  explicit RecordingProgress(FXuint total) : total(total) {}
  FXuint getTotal() override { return total; }
  FXuint getProgress() override { return (FXuint)value; }
  void post(FXint kind, FXulong v) override {
    if (kind == 1) {
      value = v;
      sets.push_back(v);
    } else {
      value += v;
      advanced += v;
      advances++;
    }
  }
  FXuint total;
  FXulong value = 0;
  FXulong advanced = 0;  // sum of every kind-2 value
  unsigned advances = 0;
  std::vector<FXulong> sets;
};

class RecordingText : public SearchText {
public:
  void appendText(const FXString& text) override { lines.push_back(text); }
  bool contains(const FXString& text) const {
    for (const FXString& l : lines)
      if (l == text) return true;
    return false;
  }
  std::vector<FXString> lines;
};

class DiskSet {
public:
  DiskSet();   // an analyser without disks, published as the shared analyser
  ~DiskSet();  // deletes it and clears the shared analyser

  // Makes a sparse image of `sectors` sectors (a whole number of 255 x 63
  // cylinders is not needed), applies the sfdisk script unless it is empty,
  // lets an analyser read it with the given heads and sectors per track, and
  // appends that disk.  Returns its index.
  int addImage(const std::string& name, FXulong sectors, const std::string& script,
               FXint heads = 255, FXint sectorsPerTrack = 63);
  // Lets an analyser read an existing image file and appends that disk.
  // Returns its index, -1 when the analyser found no disk.
  int readImage(const std::string& file, FXint heads = 255, FXint sectorsPerTrack = 63);
  // Appends a disk record as it is.  Returns its index.
  int addRecord(const NRD& disk);

  Analyse& analyser() { return *analyse; }
  std::string path(const std::string& name) const { return dir.path(name); }

private:
  TempDir dir;
  CountingDisk disk;  // lists none of the machine's disks
  Analyse* analyse;
};

// An NTFS boot sector of `total` sectors (the backup boot sector after them
// not counted), its fields as mkntfs writes them; for volumes too large to
// make.
std::string ntfsBootSector(unsigned long long total);
// Writes that boot sector at `sector` of the image, with the first record of
// its master file table one cluster on, where the boot sector says.
void writeNtfsStart(const std::string& image, unsigned long long sector, unsigned long long total);

// A disk record of `sectors` sectors with the given logical geometry.
NRD diskRecord(const std::string& device, const std::string& model, FXulong sectors,
               FXint heads = 255, FXint sectorsPerTrack = 63);
// A partition record as the table reader makes them.
Partition partitionRecord(FXuchar type, FXint level, FXulong base, FXuint dist, FXuint num,
                          FXint lognr, FXchar letter = 0);

}  // namespace kvtest

#endif
