// GUIDs as a GUID partition table stores them, and the names of the
// partition types people meet most.
#ifndef KV_GPT_GUID_H
#define KV_GPT_GUID_H

#include <fx.h>

#include <cstring>

// The 16 bytes of a GUID in the order they lie on disk: the first three
// fields little-endian, the last eight bytes as they are.
struct Guid {
  FXuchar bytes[16] = {};

  bool isZero() const;
  bool operator==(const Guid& o) const { return memcmp(bytes, o.bytes, 16) == 0; }
  bool operator!=(const Guid& o) const { return !(*this == o); }
  // "0FC63DAF-8483-4772-8E79-3D69D8477DE4", upper case as sgdisk prints it.
  FXString text() const;
  // The GUID written as text(); false when `text` is not one.
  static bool parse(const FXchar* text, Guid& guid);
  // A version 4 (random) GUID from the system's random source.
  static Guid random();
};

// The partition types the writer gives a recovered volume.
namespace GptType {
extern const Guid LINUX_DATA;
extern const Guid MICROSOFT_DATA;
extern const Guid LINUX_SWAP;
extern const Guid LINUX_LVM;
extern const Guid EFI_SYSTEM;
// The type for a volume known only by its MBR type `mbrType` (one found
// through a stray table).
Guid forMbrType(FXuchar mbrType);
// The name of a common type, or null.
const FXchar* name(const Guid& type);
}  // namespace GptType

#endif
