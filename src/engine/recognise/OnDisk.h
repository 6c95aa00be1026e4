// What the recognisers share: reading fixed-width fields in either byte
// order, turning sizes into sector counts without overflow, the texts of
// labels and UUIDs, checksums, and telling a primary structure from its copy.
#ifndef KV_RECOGNISE_ONDISK_H
#define KV_RECOGNISE_ONDISK_H

#include <fx.h>

#include <cstddef>

#include "Bytes.h"
#include "recognise/Recogniser.h"

namespace ondisk {

using ::be16;
using ::be32;
using ::be64;
using ::le16;
using ::le32;
using ::le64;

inline bool isPowerOfTwo(FXulong v) { return v != 0 && (v & (v - 1)) == 0; }
// Whether v is a power of two from `low` to `high`.
inline bool isPowerOfTwoIn(FXulong v, FXulong low, FXulong high) {
  return isPowerOfTwo(v) && v >= low && v <= high;
}

// count × unitBytes as 512-byte sectors (rounded down).  False when the
// product is zero or does not fit 64 bits of bytes.
bool sectorsOf(FXulong count, FXulong unitBytes, FXulong& sectors);

// The start of a volume whose structure at absolute sector `structure` lies
// `into` sectors into it; false when the volume would begin before sector 0.
bool startBefore(FXulong structure, FXulong into, FXulong& start);

// "01234567-89ab-cdef-0123-456789abcdef", the way blkid prints a 16-byte UUID;
// empty for the null UUID, which names nothing.
FXString uuidText(const FXuchar* bytes);
// "ABCD-0123", the way blkid prints a FAT or exFAT volume serial number.
FXString serialText(FXuint serial);
// A fixed-width text field: up to the first NUL, trailing blanks dropped.
FXString asciiField(const FXuchar* p, FXuint length);
// Up to `chars` UTF-16LE characters, stopping at a NUL, as UTF-8.
FXString utf16Field(const FXuchar* p, FXuint chars);

// The CRC-32C (Castagnoli) register after `n` bytes, from `crc` on, with no
// inversion before or after: formats differ in what they invert.
FXuint crc32cUpdate(FXuint crc, const FXuchar* p, size_t n);
// The same for the CRC-32 of zlib and Ethernet.
FXuint crc32Update(FXuint crc, const FXuchar* p, size_t n);

// Whether the bytes at absolute sector `sector` begin with `expected`.
bool sectorStartsWith(SectorReader& reader, FXulong sector, const FXuchar* expected, FXuint length);

// Formats that keep a copy of their first structure at a fixed distance
// after it: the structure at `at` is the primary when the volume starting
// there holds its other metadata where the structure says (`confirms`), and
// it is the copy when the volume starting `distance` sectors earlier does.
// False when neither holds: then nothing says where the volume starts.
template <typename Confirm>
bool placeByConfirmation(FXulong at, FXulong distance, FoundBy primary, Confirm confirms,
                         FoundVolume& found) {
  FXulong earlier;
  if (confirms(at)) {
    found.start = at;
    found.foundBy = primary;
    return true;
  }
  if (distance > 0 && startBefore(at, distance, earlier) && confirms(earlier)) {
    found.start = earlier;
    found.foundBy = FoundBy::BACKUP;
    return true;
  }
  return false;
}

}  // namespace ondisk

#endif
