#include "recognise/OnDisk.h"

#include <cstring>

#include "Records.h"

namespace ondisk {

namespace {

// A byte-at-a-time table for a reflected CRC-32 polynomial.
struct CrcTable {
  explicit CrcTable(FXuint poly) {
    for (FXuint i = 0; i < 256; i++) {
      FXuint c = i;
      for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ poly : c >> 1;
      entry[i] = c;
    }
  }
  FXuint update(FXuint crc, const FXuchar* p, size_t n) const {
    while (n--) crc = entry[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
  }
  FXuint entry[256];
};

char hexDigit(FXuint v, bool upper) { return (upper ? "0123456789ABCDEF" : "0123456789abcdef")[v & 15]; }

}  // namespace

bool sectorsOf(FXulong count, FXulong unitBytes, FXulong& sectors) {
  unsigned __int128 bytes = (unsigned __int128)count * unitBytes;
  if (bytes == 0 || bytes > (unsigned __int128)~0ull) return false;
  sectors = (FXulong)(bytes / SECTOR_SIZE);
  return sectors > 0;
}

bool sectorStartsWith(SectorReader& reader, FXulong sector, const FXuchar* expected, FXuint length) {
  FXuchar bytes[SECTOR_SIZE];
  return length <= sizeof(bytes) && reader.read(sector, bytes, SECTOR_SIZE) &&
         memcmp(bytes, expected, length) == 0;
}

bool startBefore(FXulong structure, FXulong into, FXulong& start) {
  if (into > structure) return false;
  start = structure - into;
  return true;
}

FXString uuidText(const FXuchar* bytes) {
  FXString text;
  bool allZero = true;
  for (int i = 0; i < 16; i++) allZero = allZero && bytes[i] == 0;
  if (allZero) return text;
  for (int i = 0; i < 16; i++) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.append('-');
    text.append(hexDigit(bytes[i] >> 4, false));
    text.append(hexDigit(bytes[i], false));
  }
  return text;
}

FXString serialText(FXuint serial) {
  FXString text;
  for (int shift = 28; shift >= 0; shift -= 4) {
    text.append(hexDigit(serial >> shift, true));
    if (shift == 16) text.append('-');
  }
  return text;
}

FXString asciiField(const FXuchar* p, FXuint length) {
  FXuint n = 0;
  while (n < length && p[n] != 0) n++;
  while (n > 0 && p[n - 1] == ' ') n--;
  return FXString((const FXchar*)p, (FXint)n);
}

FXString utf16Field(const FXuchar* p, FXuint chars) {
  FXnchar text[256];
  FXuint n = 0;
  while (n < chars && n < 256 && le16(p + 2 * n) != 0) {
    text[n] = (FXnchar)le16(p + 2 * n);
    n++;
  }
  return FXString(text, (FXint)n);
}

FXuint crc32cUpdate(FXuint crc, const FXuchar* p, size_t n) {
  static const CrcTable table(0x82F63B78);
  return table.update(crc, p, n);
}

FXuint crc32Update(FXuint crc, const FXuchar* p, size_t n) {
  static const CrcTable table(0xEDB88320);
  return table.update(crc, p, n);
}

}  // namespace ondisk
