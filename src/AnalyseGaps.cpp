// The free-space gap finder.
#include "Analyse.h"

void Analyse::FindGaps(FXint) {}
std::list<Gap> Analyse::GetGap(FXint, FXint, bool) { return {}; }
bool Analyse::OverlapsExisting(FXint, const Partition&) { return false; }
