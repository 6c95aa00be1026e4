// A found volume on its own, read-only.
#include "contents/VolumeView.h"

#include <cstring>
#include <vector>

VolumeView::VolumeView(SectorReader& disk, FXulong start, FXulong sectors)
    : disk(disk), start(start), count(0) {
  FXulong total = disk.sectors();
  if (start < total) count = sectors < total - start ? sectors : total - start;
}

bool VolumeView::read(FXulong sector, void* buffer, FXuint bytes) {
  if (!fitsIn(sector, bytes, count)) return false;
  return disk.read(start + sector, buffer, bytes);
}

bool VolumeView::readBytes(FXulong offset, void* buffer, size_t length) {
  // Reads go out in pieces of at most 1 MiB, so a large request needs no
  // large bounce buffer.
  const size_t PIECE = 1 << 20;
  std::vector<FXuchar> bounce;
  FXuchar* out = static_cast<FXuchar*>(buffer);
  while (length > 0) {
    size_t take = length < PIECE ? length : PIECE;
    FXulong skip = offset % 512;
    size_t span = (size_t)((skip + take + 511) / 512 * 512);
    bounce.resize(span);
    if (!read(offset / 512, bounce.data(), (FXuint)span)) return false;
    memcpy(out, bounce.data() + skip, take);
    out += take;
    offset += take;
    length -= take;
  }
  return true;
}
