// Runs a fuzz target's entry over saved inputs, without libFuzzer: every
// file named, and every file in a folder named.  The normal build replays
// the inputs that once crashed a target, so they stay fixed.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzSupport.h"

static void replayFile(const std::string& path, int& count) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  count++;
}

static void replay(const std::string& path, int& count) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) return replayFile(path, count);
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) replay(path + "/" + name, count);
}

int main(int argc, char** argv) {
  int count = 0;
  for (int i = 1; i < argc; i++) replay(argv[i], count);
  printf("%d inputs replayed\n", count);
  return 0;
}
