// Helpers for tests: temporary folders, disk images made with real tools,
// shell commands.
#ifndef KV_TEST_IMAGES_H
#define KV_TEST_IMAGES_H

#include <fx.h>

#include <string>

namespace kvtest {

// Runs a shell command; returns its exit status and, if given, its standard output.
int sh(const std::string& command, std::string* output = nullptr);

// True when `tool` is on the PATH.
bool haveTool(const std::string& tool);

// A temporary folder, removed with everything in it when the object dies.
class TempDir {
public:
  TempDir();
  ~TempDir();
  std::string path(const std::string& name = "") const;

private:
  std::string dir;
};

// Creates a sparse image file of `bytes` bytes filled with zeros.
void makeImage(const std::string& file, unsigned long long bytes);

// Applies an sfdisk script to an image file.
bool sfdisk(const std::string& file, const std::string& script);

// The contents of a file.
std::string readFile(const std::string& file);

// Writes `length` bytes at byte `offset` of a file.
void patchFile(const std::string& file, unsigned long long offset, const void* data, size_t length);

// A loop device attached over an image, detached when the object dies.
// `device` stays empty when the machine cannot attach loop devices.
class LoopDevice {
public:
  explicit LoopDevice(const std::string& image);
  ~LoopDevice();
  std::string device;
};

}  // namespace kvtest

#endif
