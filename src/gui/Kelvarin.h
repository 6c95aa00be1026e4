// The program's start-up and shutdown, from reading the configuration to
// returning the wizard's result.  main() is only a call of RunKelvarin.
#ifndef KV_KELVARIN_H
#define KV_KELVARIN_H

#include <functional>

class mFXWizard;

// Runs Kelvarin with the command line; returns 1 when the wizard was left
// with Finish, 0 when it was cancelled and 2 when there is no display.
// `beforeRun`, when given, is called with the built wizard just before it
// runs (tests drive the wizard from there).
int RunKelvarin(int argc, char** argv,
                const std::function<void(mFXWizard*)>& beforeRun = std::function<void(mFXWizard*)>());

#endif
