// What the build knows about the installed program: the version it carries
// and where its data (default.cfg, lang/, res/) lies.
#ifndef KV_INSTALLATION_H
#define KV_INSTALLATION_H

#include <fx.h>

#include <vector>

namespace Installation {

// The version of this build, as the package carries it.
const FXchar* Version();

// True when the command line asks for the version ("--version").
bool AsksForVersion(int argc, char** argv);

// Prints "PROGRAM VERSION" on standard output.
void PrintVersion(const FXchar* program);

// The places a program installed as `executable` looks for its data, first
// place first: the current directory, $KELVARIN_DATADIR when it is set, the
// executable's own directory (a build tree), the data folder of an
// installation wherever its tree was put (found from the executable), and
// the data folder the build was configured for.
std::vector<FXString> DataPlaces(const FXString& executable);

// The running program's executable; `argv0` when the system does not say.
FXString RunningExecutable(const char* argv0);

// What both programs do first: read their data from the places above
// (Information::dataPlaces) instead of the current directory alone.
void UseProgramData(const char* argv0);

}  // namespace Installation

#endif
