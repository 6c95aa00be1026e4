// File-system boot-record recognition and the partition type names.
#ifndef KV_FILESYSTEM_H
#define KV_FILESYSTEM_H

#include <fx.h>

#include "Records.h"

class FileSystem {
public:
  enum Code { UNKNOWN = 0, FAT = 1, NTFS = 2, EXT2 = 3, EXT3 = 4, REISER = 5 };

  static const FXuint BR_SIZE = 2048;   // a boot record buffer
  static const FXuint REISER_SB = 204;  // bytes of a ReiserFS superblock used

  // What a boot record says of its volume, in full: its size may exceed the
  // 32 bits of a table entry.
  struct FoundVolume {
    FXuchar type = 0;     // the partition type to give it
    FXulong sectors = 0;
  };

  // Recognises the file system whose first 2048 bytes are in BR, read at
  // absolute sector `start`; fills `volume` when given.  ReiserFS and the
  // FAT32 backup test read further sectors through the read context, which
  // the caller has opened on the same device.
  static FXint Recognise(const FXuchar* BR, FXulong start, FoundVolume* volume);
  // The same, filling `pr` (when given) with the volume's table entry.  A
  // volume that starts or ends beyond what an entry can hold gets an empty
  // entry (first sector and size 0).
  static FXint CheckFS(const FXuchar* BR, FXulong start, PartitionEntry* pr);
  static bool CheckFAT(const FXuchar* BR, FXulong start);
  static bool CheckNTFS(const FXuchar* BR);
  static bool CheckEXT2(const FXuchar* superblock);
  static bool CheckEXT3(const FXuchar* superblock);
  static bool CheckREISER(FXulong start, FXuchar* superblock);
  static const FXchar* GetName(FXint code);
};

// One row of the partition type names; the table ends with a row whose name
// is null.
struct PartitionTypeNameRow {
  FXuchar type;
  const FXchar* name;
};
extern const PartitionTypeNameRow PartitionTypeNames[];

// The name of a partition type, or null when the table lacks the type.
const FXchar* PartitionTypeName(FXuchar type);

#endif
