// One found volume seen on its own: sectors counted from the volume's first
// sector, nothing readable past its last one.  Everything that looks inside
// a volume reads through this view, and the view only ever reads.
#ifndef KV_CONTENTS_VOLUMEVIEW_H
#define KV_CONTENTS_VOLUMEVIEW_H

#include <fx.h>

#include <cstddef>

#include "recognise/SectorReader.h"

class VolumeView : public SectorReader {
public:
  // The volume of `sectors` sectors that begins at absolute sector `start`
  // of `disk`.  A volume said to run past the disk's end is cut there.
  VolumeView(SectorReader& disk, FXulong start, FXulong sectors);

  bool read(FXulong sector, void* buffer, FXuint bytes) override;
  FXulong sectors() override { return count; }
  FXulong bytes() const { return count * 512; }

  // `length` bytes from byte `offset` of the volume, at any alignment.
  // False when any of them lies past the volume's end or cannot be read.
  bool readBytes(FXulong offset, void* buffer, size_t length);

private:
  SectorReader& disk;
  FXulong start;
  FXulong count;
};

#endif
