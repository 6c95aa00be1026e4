// Helpers for tests of the table reader, the gap finder and the search:
// file systems made by mkfs and copied into disk images, the layout sfdisk
// reads back, an analyser opened on an image, and sinks that record what a
// search reports.
#ifndef KV_TEST_DISKLAYOUTS_H
#define KV_TEST_DISKLAYOUTS_H

#include <fx.h>

#include <memory>
#include <string>
#include <vector>

#include "Analyse.h"
#include "support/Engine.h"
#include "support/TestImages.h"

namespace kvtest {

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

// One partition as `sfdisk -d` lists it.
struct SfdiskPartition {
  int number;  // 1-4 primary, 5.. logical
  unsigned long long start, size;
  unsigned type;
};
std::vector<SfdiskPartition> sfdiskDump(const std::string& image);

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

// A disk record of `sectors` sectors with the given geometry on `device`.
NRD diskRecord(const std::string& device, unsigned long long sectors, int heads, int spt);

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

}  // namespace kvtest

#endif
