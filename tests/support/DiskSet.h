// An analyser whose disks are image files, for tests of the widgets that
// show disks.  Images made with sfdisk are read by an analyser of their own
// (the program's reader and gap finder) and gathered into one disk list;
// layouts no tool makes can be written into the list directly.
#ifndef KV_TEST_DISKSET_H
#define KV_TEST_DISKSET_H

#include <string>

#include "Analyse.h"
#include "Records.h"
#include "support/CountingDisk.h"
#include "support/TestImages.h"

namespace kvtest {

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

// A disk record of `sectors` sectors with the given logical geometry.
NRD diskRecord(const std::string& device, const std::string& model, FXulong sectors,
               FXint heads = 255, FXint sectorsPerTrack = 63);
// A partition record as the table reader makes them.
Partition partitionRecord(FXuchar type, FXint level, FXulong base, FXuint dist, FXuint num,
                          FXint lognr, FXchar letter = 0);

}  // namespace kvtest

#endif
