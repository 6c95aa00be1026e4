// A disk as the program knows it (a device, an image, or the stored
// layout.bin of -usebackup), read through IOSystem as every other read is,
// with a small read-ahead: looking inside a volume reads many small pieces
// close to each other.
#ifndef KV_CONTENTS_PIECEREADER_H
#define KV_CONTENTS_PIECEREADER_H

#include <fx.h>

#include <vector>

#include "recognise/SectorReader.h"

class PieceReader : public SectorReader {
public:
  PieceReader(const FXString& device, FXulong sectors) : device(device), count(sectors) {}
  bool read(FXulong sector, void* buffer, FXuint bytes) override;
  FXulong sectors() override { return count; }

private:
  static const FXuint CHUNK_SECTORS = 128;  // 64 KiB
  FXString device;
  FXulong count;
  std::vector<FXuchar> chunk;  // sectors from chunkStart on
  FXulong chunkStart = 0;

  bool load(FXulong first);
};

#endif
