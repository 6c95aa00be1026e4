// File-system boot-record recognition.
#include "FileSystem.h"

FXint FileSystem::CheckFS(const FXuchar*, FXulong, PartitionEntry*) { return UNKNOWN; }
bool FileSystem::CheckFAT(const FXuchar*, FXulong) { return false; }
bool FileSystem::CheckNTFS(const FXuchar*) { return false; }
bool FileSystem::CheckEXT2(const FXuchar*) { return false; }
bool FileSystem::CheckEXT3(const FXuchar*) { return false; }
bool FileSystem::CheckREISER(FXulong, FXuchar*) { return false; }
const FXchar* FileSystem::GetName(FXint) { return "UNKNOWN"; }
const FXchar* PartitionTypeName(FXuchar) { return nullptr; }
