// The loader of "layout.bin": the input is the file.  It is read from the
// current folder, so the target works in its scratch folder.
#include <unistd.h>

#include "EngineRun.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvfuzz::quiet();
  static bool inScratch = chdir(kvfuzz::scratch().c_str()) == 0;
  if (!inScratch) return 0;
  kvfuzz::put("layout.bin", data, size);
  kvfuzz::simulatedAnalyser({"-usebackup"});
  return 0;
}
