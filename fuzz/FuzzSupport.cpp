#include "FuzzSupport.h"

#include <fx.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include "compat/Assert.h"

namespace kvfuzz {

const std::string& scratch() {
  static std::string folder = [] {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/kelvarin-fuzz-XXXXXX";
    if (!mkdtemp(&pattern[0])) abort();
    return pattern;
  }();
  return folder;
}

std::string put(const std::string& name, const uint8_t* data, size_t size) {
  std::string path = scratch() + "/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size && fwrite(data, 1, size, f) != size) abort();
  fclose(f);
  return path;
}

static void dropAssert(const char*) {}

void quiet() {
  static bool done = false;
  if (done) return;
  done = true;
  kv::setAssertSink(dropAssert);
}

}  // namespace kvfuzz
