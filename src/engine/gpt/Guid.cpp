// GUID text, random GUIDs and the type-name table.
#include "gpt/Guid.h"

#include <random>

namespace {

// On disk the first three fields are little-endian: text position k shows
// byte TEXT_ORDER[k].
const int TEXT_ORDER[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

Guid fromText(const FXchar* text) {
  Guid g;
  Guid::parse(text, g);
  return g;
}

int hexValue(FXchar c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct TypeName {
  const FXchar* guid;
  const FXchar* name;
};

const TypeName TYPE_NAMES[] = {
    {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux filesystem"},
    {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Microsoft basic data"},
    {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux swap"},
    {"E6D6D379-F507-44C2-A23C-238F2A3DF928", "Linux LVM"},
    {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI system partition"},
    {"21686148-6449-6E6F-744E-656564454649", "BIOS boot partition"},
    {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved"},
    {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows recovery environment"},
    {"A19D880F-05FC-4D3B-A006-743F0F84911E", "Linux RAID"},
    {"933AC7E1-2EB4-4F13-B844-0E14E2AEF915", "Linux /home"},
    {"4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709", "Linux x86-64 root (/)"},
    {"BC13C2FF-59E6-4262-A352-B275FD6F7172", "Linux extended boot"},
    {"48465300-0000-11AA-AA11-00306543ECAC", "Apple HFS/HFS+"},
    {"7C3457EF-0000-11AA-AA11-00306543ECAC", "Apple APFS"},
    {"516E7CB4-6ECF-11D6-8FF8-00022D09712B", "FreeBSD UFS"},
};

}  // namespace

namespace GptType {
const Guid LINUX_DATA = fromText("0FC63DAF-8483-4772-8E79-3D69D8477DE4");
const Guid MICROSOFT_DATA = fromText("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");
const Guid LINUX_SWAP = fromText("0657FD6D-A4AB-43C4-84E5-0933C84B4F4F");
const Guid LINUX_LVM = fromText("E6D6D379-F507-44C2-A23C-238F2A3DF928");
const Guid EFI_SYSTEM = fromText("C12A7328-F81F-11D2-BA4B-00A0C93EC93B");

Guid forMbrType(FXuchar mbrType) {
  switch (mbrType) {
    case 0x82: return LINUX_SWAP;
    case 0x8E: return LINUX_LVM;
    case 0x83: return LINUX_DATA;
    default: return MICROSOFT_DATA;  // FAT, NTFS and exFAT
  }
}

const FXchar* name(const Guid& type) {
  for (const TypeName& t : TYPE_NAMES)
    if (fromText(t.guid) == type) return t.name;
  return nullptr;
}
}  // namespace GptType

bool Guid::isZero() const {
  for (FXuchar b : bytes)
    if (b != 0) return false;
  return true;
}

FXString Guid::text() const {
  FXString out;
  for (int k = 0; k < 16; k++) {
    if (k == 4 || k == 6 || k == 8 || k == 10) out.append('-');
    out.append(FXStringFormat("%02X", bytes[TEXT_ORDER[k]]));
  }
  return out;
}

bool Guid::parse(const FXchar* text, Guid& guid) {
  if (!text || strlen(text) != 36) return false;
  Guid g;
  int k = 0;
  for (int at = 0; at < 36; at++) {
    if (at == 8 || at == 13 || at == 18 || at == 23) {
      if (text[at] != '-') return false;
      continue;
    }
    int high = hexValue(text[at]), low = hexValue(text[at + 1]);
    if (high < 0 || low < 0) return false;
    g.bytes[TEXT_ORDER[k++]] = (FXuchar)(high * 16 + low);
    at++;
  }
  guid = g;
  return true;
}

Guid Guid::random() {
  std::random_device source;
  Guid g;
  for (int i = 0; i < 16; i += 4) {
    unsigned int word = source();
    for (int j = 0; j < 4; j++) g.bytes[i + j] = (FXuchar)(word >> (8 * j));
  }
  g.bytes[7] = (FXuchar)((g.bytes[7] & 0x0F) | 0x40);  // version 4
  g.bytes[8] = (FXuchar)((g.bytes[8] & 0x3F) | 0x80);  // the usual variant
  return g;
}
