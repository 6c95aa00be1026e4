// Drive letters.
#include "Analyse.h"

bool Analyse::AssignLetters() { return true; }
FXchar Analyse::GetLastLogical(FXchar, FXchar limit) { return limit; }
FXchar Analyse::GetLastLetter(FXchar) { return 'Z'; }
