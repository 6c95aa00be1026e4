#include "Installation.h"

#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BuildInfo.h"
#include "Information.h"

namespace Installation {

const FXchar* Version() { return KV_VERSION; }

bool AsksForVersion(int argc, char** argv) {
  for (int i = 1; i < argc; i++)
    if (strcmp(argv[i], "--version") == 0) return true;
  return false;
}

void PrintVersion(const FXchar* program) { printf("%s %s\n", program, Version()); }

std::vector<FXString> DataPlaces(const FXString& executable) {
  std::vector<FXString> places;
  places.push_back(".");
  const char* override = getenv("KELVARIN_DATADIR");
  if (override && *override) places.push_back(override);
  FXString own = FXPath::directory(executable);
  if (!own.empty()) {
    places.push_back(own);
    places.push_back(FXPath::simplify(own + PATHSEPSTRING + KV_DATADIR_FROM_BINDIR));
  }
  places.push_back(KV_DATADIR);
  return places;
}

FXString RunningExecutable(const char* argv0) {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n > 0) return FXString(buffer, (FXint)n);
  return FXPath::absolute(argv0 ? argv0 : "");
}

void UseProgramData(const char* argv0) { Information::dataPlaces = DataPlaces(RunningExecutable(argv0)); }

}  // namespace Installation
