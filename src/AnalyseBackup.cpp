// The backup layout file "layout.bin".
#include "Analyse.h"

void Analyse::ScanNRDBackup() {}
bool Analyse::ReadBackupFile(NRD&) { return false; }
void Analyse::WriteBackupFile(NRD&) {}
