// What the fuzz targets share: a private scratch folder for the files a
// target hands the engine, and quiet assertions.
#ifndef KV_FUZZ_SUPPORT_H
#define KV_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kvfuzz {

// A folder of this process's own under /dev/shm (or /tmp), made once.
const std::string& scratch();

// Writes `size` bytes to `name` in the scratch folder; returns its path.
std::string put(const std::string& name, const uint8_t* data, size_t size);

// Assertion reports and messages are expected on hostile input: they are
// counted by the engine's own checks, not printed on every run.
void quiet();

}  // namespace kvfuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

#endif
