// Backup twins: the sector store that stands in for a disk in backup mode.
#include "IOSystem.h"

#include <cstring>

bool IOSystem::BackupRead(FXulong, void* buffer, FXuint length) {
  memset(buffer, 0, length);
  return true;
}
bool IOSystem::BackupReadBR(const FXString&, void* buffer, FXulong, FXuint length) {
  memset(buffer, 0, length);
  return true;
}
bool IOSystem::BackupWriteBR(const void*, FXulong) { return true; }
bool IOSystem::BackupGetModel(const FXString&, FXString& model, CHS& physical, CHS& logical,
                              FXulong& sectors) {
  model = "model";
  physical = logical = CHS(1, 1, 1);
  sectors = 1;
  return true;
}
FXulong IOSystem::BackupCalculateSectorCnt(const FXString&) { return 1; }
bool IOSystem::BackupRereadTable(const FXString&) { return true; }
