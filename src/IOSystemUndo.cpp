// Sector I/O, write side: the change log and the undo database.
#include "IOSystem.h"
#include "Information.h"

bool IOSystem::WriteBR(const FXString&, const void*, FXulong) { return false; }
void IOSystem::LogChanges(const FXString&, const void*, FXulong) {}
void IOSystem::AddToUndoDB(const FXString&, FXulong, bool, FXuint, FXuchar) {}
bool IOSystem::CheckDBSpace(const FXString&, FXuint) { return false; }
bool IOSystem::WriteDBHeader(const FXString&) { return false; }
FXulong IOSystem::LocateFreeDBSector(const FXString&, FXulong, FXulong) { return 0; }
void IOSystem::CloseDB(const FXString&) {}
FXulong IOSystem::IsUndoAvailable(const FXString&) { return 0; }
bool IOSystem::CheckUndoDBPartitionChkSum(const FXString&, FXulong) { return false; }
bool IOSystem::Undo(const FXString&, FXulong) { return false; }

FXulong Information::CalcPartChksum(const std::vector<Partition>&) { return 0; }
