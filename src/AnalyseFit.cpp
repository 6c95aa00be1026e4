// The recovery fit check.
#include "Analyse.h"

bool Analyse::CheckMBRFit(const std::vector<RecoverPart>&) { return true; }
bool Analyse::CheckMBRCode() { return true; }
