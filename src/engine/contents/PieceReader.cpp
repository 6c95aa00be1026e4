// A disk read through IOSystem in 64 KiB pieces.
#include "contents/PieceReader.h"

#include <cstring>

#include "IOSystem.h"

bool PieceReader::load(FXulong first) {
  FXulong sectors = count - first < CHUNK_SECTORS ? count - first : CHUNK_SECTORS;
  chunk.resize(sectors * SECTOR_SIZE);
  chunkStart = first;
  if (IOSystem::ReadBR(device, chunk.data(), first * SECTOR_SIZE, (FXuint)chunk.size())) return true;
  chunk.clear();
  return false;
}

bool PieceReader::read(FXulong sector, void* buffer, FXuint bytes) {
  if (!fitsIn(sector, bytes, count)) return false;
  FXuchar* out = static_cast<FXuchar*>(buffer);
  FXulong at = sector * SECTOR_SIZE, end = at + bytes;
  while (at < end) {
    FXulong held = chunkStart * SECTOR_SIZE;
    if (chunk.empty() || at < held || at >= held + chunk.size()) {
      if (!load(at / SECTOR_SIZE)) return false;
      held = chunkStart * SECTOR_SIZE;
    }
    FXulong take = held + chunk.size() - at;
    if (take > end - at) take = end - at;
    memcpy(out, chunk.data() + (at - held), take);
    out += take;
    at += take;
  }
  return true;
}
