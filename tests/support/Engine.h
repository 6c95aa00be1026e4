// Helpers for tests of the engine on disk images: an analyser over one image,
// sector access on image files, and the records the recovery chooser builds
// from the sectors a search found.
#ifndef KV_TEST_ENGINE_H
#define KV_TEST_ENGINE_H

#include <memory>
#include <string>
#include <vector>

#include "Analyse.h"
#include "Records.h"

namespace kvtest {

// An analyser on one disk image with the given geometry ("C/H/S"), built the
// way the program builds it for "-chs C/H/S -file image" and `options`.
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

// The 16 bytes of a partition-table entry.
std::string entryBytes(unsigned char type, unsigned dist, unsigned num, unsigned char boot = 0);
// A table sector holding the given entries in slots 0.. and the signature.
std::string tableSector(const std::vector<std::string>& entries);

// What the recovery chooser hands the writer when the user selects every
// partition found at `sectors` of disk `disk` (one record per candidate).
std::vector<RecoverPart> chooseAll(Analyse& analyser, int disk, const std::vector<FXulong>& sectors);

// Full search of every gap of a disk; the sectors that hold boot records.
std::vector<FXulong> searchAllGaps(Analyse& analyser, int disk);

// True when two files hold the same bytes.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace kvtest

#endif
