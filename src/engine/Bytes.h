// Numbers as they lie in on-disk structures, and the two marks every reader
// of a boot sector looks for.  Every on-disk number the engine reads or
// writes goes through these, so the byte order is decided in one place.
#ifndef KV_BYTES_H
#define KV_BYTES_H

#include <fx.h>

inline FXuint le16(const FXuchar* p) { return (FXuint)p[0] | ((FXuint)p[1] << 8); }
inline FXuint le32(const FXuchar* p) { return le16(p) | (le16(p + 2) << 16); }
inline FXulong le64(const FXuchar* p) { return le32(p) | ((FXulong)le32(p + 4) << 32); }
inline FXuint be16(const FXuchar* p) { return ((FXuint)p[0] << 8) | (FXuint)p[1]; }
inline FXuint be32(const FXuchar* p) { return (be16(p) << 16) | be16(p + 2); }
inline FXulong be64(const FXuchar* p) { return ((FXulong)be32(p) << 32) | be32(p + 4); }

inline void putLe32(FXuchar* p, FXuint v) {
  for (int i = 0; i < 4; i++) p[i] = (FXuchar)(v >> (8 * i));
}
inline void putLe64(FXuchar* p, FXulong v) {
  putLe32(p, (FXuint)v);
  putLe32(p + 4, (FXuint)(v >> 32));
}

// A boot sector, MBR or EPTB ends with 0x55 0xAA at byte 510.
const FXuint BOOT_SIGNATURE_AT = 510;
inline bool hasBootSignature(const FXuchar* sector) {
  return sector[BOOT_SIGNATURE_AT] == 0x55 && sector[BOOT_SIGNATURE_AT + 1] == 0xAA;
}
inline void putBootSignature(FXuchar* sector) {
  sector[BOOT_SIGNATURE_AT] = 0x55;
  sector[BOOT_SIGNATURE_AT + 1] = 0xAA;
}

// An MBR whose first instruction is a jump (0xEB), cli (0xFA) or xor (0x33)
// starts with boot code: the first bytes every common MBR boot program has.
inline bool startsWithBootCode(const FXuchar* mbr) {
  return mbr[0] == 0xEB || mbr[0] == 0xFA || mbr[0] == 0x33;
}

#endif
