// The standard MBR boot program: the bytes in the program are what nasm
// makes of its source, and under an emulated PC it starts the active
// partition, or says why it cannot.
#include <gtest/gtest.h>
#include <memory>

#include "IOSystem.h"
#include "Recover.h"
#include "support/Engine.h"
#include "support/CountingDisk.h"
#include "support/QemuBoot.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

const char* MESSAGES[] = {"Invalid partition table", "Error loading operating system",
                          "Missing operating system"};

// Booted, the screen shows `message` and none of the boot program's other
// messages.
void expectOnlyMessage(const std::string& image, const std::string& message) {
  TempDir dir;
  QemuBoot run(dir, image);
  std::string screen = run.screenShowing(message);
  for (const char* m : MESSAGES)
    EXPECT_EQ(screen.find(m) != std::string::npos, message == m) << m << " in:\n" << screen;
}

std::string sourceDir() {
  std::string here = __FILE__;
  return here.substr(0, here.rfind("/tests/"));
}

class BootProgram : public ::testing::Test {
protected:
  void SetUp() override {
    IOSystem::Reset();
    if (!QemuBoot::available()) GTEST_SKIP() << QemuBoot::whyNot();
    image = dir.path("disk.img");
    makeImage(image, 13ull * 255 * 63 * 512);
  }
  void TearDown() override { IOSystem::Reset(); }

  // The MBR the writer makes for a FAT16 partition at `start` whose boot
  // record is the serial stub, with the active flag as given.
  void recoverStubPartition(unsigned start, bool makeActive) {
    ASSERT_TRUE(writeStubVolume(dir, image, start, 40960));
    HookedDisk disk;
    ImageAnalyser a(image, "13/255/63");
    std::string mbr = readSector(image, 0);
    Recover writer;
    std::vector<Recover::NewPart> parts{
        {PartitionEntry::fromBytes((const FXuchar*)entryBytes(0x0E, start, 40960).data()), start,
         false}};
    writer.RecoverOne(image.c_str(), (FXuchar*)&mbr[0], parts, true, 255, 63);
    ASSERT_TRUE(IOSystem::WriteBR(image.c_str(), mbr.data(), 0));
    if (makeActive) {
      writer.devices = {FXString(image.c_str())};
      writer.activeStarts = {{start}};
      writer.SetActive();
    }
  }

  void putEntry(int slot, const std::string& entry) {
    std::string mbr = readSector(image, 0);
    mbr.replace(446 + 16 * slot, 16, entry);
    writeSector(image, 0, mbr);
  }

  TempDir dir;
  std::string image;
};

}  // namespace

TEST(BootProgramBytes, AreWhatNasmMakesOfTheSource) {
  if (!haveTool("nasm")) GTEST_SKIP() << "nasm is not installed";
  TempDir dir;
  ASSERT_EQ(0, sh("nasm -f bin -o '" + dir.path("mbr.bin") + "' '" + sourceDir() +
                  "/src/boot/mbr.asm'"));
  std::string bytes = readFile(dir.path("mbr.bin"));
  ASSERT_EQ(bytes.size(), (size_t)Recover::BOOT_PROGRAM_SIZE);
  EXPECT_EQ(bytes, std::string((const char*)Recover::standardBootProgram, bytes.size()))
      << "run tools/make-boot-code";
  // It starts with one of the bytes the fit check takes for boot code.
  EXPECT_EQ((unsigned char)bytes[0], 0xFA);
}

// A recovered disk that boots its active partition near the disk's start is
// shown in test_recover_roundtrip; here the loader reads far beyond what CHS
// addresses, by LBA.
TEST_F(BootProgram, StartsAnActivePartitionBeyondTheFirstCylinders) {
  recoverStubPartition(150000, true);
  QemuBoot run(dir, image);
  EXPECT_EQ(run.serialUntilExit(), "KELVARIN-BOOT-OK\r\n");
}

TEST_F(BootProgram, SaysSoWhenNoPartitionIsActive) {
  recoverStubPartition(2048, false);
  expectOnlyMessage(image, "Missing operating system");
}

TEST_F(BootProgram, SaysSoWhenTwoPartitionsAreActive) {
  recoverStubPartition(2048, true);
  putEntry(1, entryBytes(0x83, 60000, 1000, 0x80));
  expectOnlyMessage(image, "Invalid partition table");
}

TEST_F(BootProgram, SaysSoWhenTheActivePartitionCannotBeRead) {
  recoverStubPartition(2048, true);
  putEntry(0, entryBytes(0x0E, 50000000, 1000, 0x80));  // beyond the disk
  expectOnlyMessage(image, "Error loading operating system");
}

TEST_F(BootProgram, SaysSoWhenTheActivePartitionHasNoBootRecord) {
  recoverStubPartition(2048, true);
  writeSector(image, 2048, std::string(512, '\0'));
  expectOnlyMessage(image, "Missing operating system");
}
