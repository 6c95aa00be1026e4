// Every recogniser over any bytes: the scan that looks for magics, and each
// probe asked directly at the first sectors, so a probe is reached even
// where no magic would have sent the scan to it.
#include "FuzzSupport.h"
#include "recognise/Recogniser.h"
#include "recognise/Scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryReader reader(std::vector<FXuchar>(data, data + size));
  scanAll(reader);
  for (const Recogniser* recogniser : allRecognisers()) {
    for (FXulong structure = 0; structure < 3; structure++) {
      FoundVolume found;
      recogniser->probe(reader, structure, found);
    }
  }
  return 0;
}
