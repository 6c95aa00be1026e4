// Boots a disk image on an emulated PC (software emulation, no display) and
// watches what the guest does: what it writes to the first serial port, or
// what its text screen shows.
#ifndef KV_TEST_QEMUBOOT_H
#define KV_TEST_QEMUBOOT_H

#include <sys/types.h>

#include <string>

#include "support/TestImages.h"

namespace kvtest {

class QemuBoot {
public:
  // qemu-system-i386 can run here; whyNot says what is missing when not.
  static bool available();
  static std::string whyNot();

  QemuBoot(const TempDir& dir, const std::string& image);
  ~QemuBoot();  // stops the emulator if it still runs

  // What the guest wrote to the serial port until it left the emulator
  // through the debug-exit port, or until `seconds` passed.
  std::string serialUntilExit(int seconds = 90);
  // The text screen once it shows `text`, or as it stands after `seconds`.
  std::string screenShowing(const std::string& text, int seconds = 90);

private:
  void stop();
  std::string monitorCommand(const std::string& command);

  pid_t pid = -1;
  std::string serial, monitor, screen;
};

// Makes a FAT16 volume of `sectors` sectors at sector `start` of `image`
// whose boot code is a stub: started the conventional way (DL = boot drive,
// DS:SI = its active table entry) it writes "KELVARIN-BOOT-OK\r\n" to the
// serial port and leaves the emulator; otherwise "KELVARIN-BOOT-BADSI\r\n".
// False when nasm or mkfs.vfat is missing or fails.
bool writeStubVolume(const TempDir& dir, const std::string& image, unsigned start,
                     unsigned sectors);

}  // namespace kvtest

#endif
