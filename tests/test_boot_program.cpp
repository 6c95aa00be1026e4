// The standard MBR boot program: its bytes are what nasm makes of its source,
// and under an emulated PC it starts the active partition or says why not.
#include <gtest/gtest.h>

#include "IOSystem.h"
#include "Recover.h"
#include "support/CountingDisk.h"
#include "support/Engine.h"
#include "support/QemuBoot.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

class BootProgram : public ::testing::Test {
protected:
  void SetUp() override {
    if (!QemuBoot::available()) GTEST_SKIP() << QemuBoot::whyNot();
  }

  // A fresh disk whose MBR the writer made for a FAT16 partition at `start`
  // holding the serial stub as its boot record.
  void recoverStubPartition(unsigned start, bool makeActive) {
    makeImage(image, 13ull * 255 * 63 * 512);
    ASSERT_TRUE(writeStubVolume(dir, image, start, 40960));
    HookedDisk disk;
    ImageAnalyser a(image, "13/255/63");
    std::string mbr = readSector(image, 0);
    Recover writer;
    std::vector<Recover::NewPart> parts{
        {PartitionEntry::fromBytes((const FXuchar*)entryBytes(0x0E, start, 40960).data()), start, false}};
    writer.RecoverOne(image.c_str(), (FXuchar*)&mbr[0], parts, true, 255, 63);
    ASSERT_TRUE(IOSystem::WriteBR(image.c_str(), mbr.data(), 0));
    if (!makeActive) return;
    writer.devices = {FXString(image.c_str())};
    writer.activeStarts = {{start}};
    writer.SetActive();
  }

  FreshIOSystem io;
  TempDir dir;
  std::string image = dir.path("disk.img");
};

}  // namespace

TEST(BootProgramBytes, AreWhatNasmMakesOfTheSource) {
  if (!haveTool("nasm")) GTEST_SKIP() << "nasm is not installed";
  TempDir dir;
  ASSERT_EQ(0, sh("nasm -f bin -o '" + dir.path("mbr.bin") + "' '" KV_SOURCE_DIR "/src/engine/boot/mbr.asm'"));
  std::string bytes = readFile(dir.path("mbr.bin"));
  ASSERT_EQ(bytes.size(), (size_t)Recover::BOOT_PROGRAM_SIZE);
  EXPECT_EQ(bytes, std::string((const char*)Recover::standardBootProgram, bytes.size()))
      << "run tools/make-boot-code";
}

// Far beyond what CHS addresses: the loader reads by LBA.
TEST_F(BootProgram, StartsAnActivePartitionBeyondTheFirstCylinders) {
  recoverStubPartition(150000, true);
  QemuBoot run(dir, image);
  EXPECT_EQ(run.serialUntilExit(), "KELVARIN-BOOT-OK\r\n");
}

// With a fault in the table or the partition, the loader shows that message
// and none of its others.
TEST_F(BootProgram, SaysWhyItCannotStart) {
  const char* messages[] = {"Invalid partition table", "Error loading operating system",
                            "Missing operating system"};
  struct Case {
    bool active;
    int slot;  // the MBR slot `entry` replaces, -1 for none
    std::string entry;
    const char* message;
  } cases[] = {
      {false, -1, "", messages[2]},
      {true, 1, entryBytes(0x83, 60000, 1000, 0x80), messages[0]},
      {true, 0, entryBytes(0x0E, 50000000, 1000, 0x80), messages[1]},  // beyond the disk
      {true, -2, "", messages[2]},                                      // no boot record
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    recoverStubPartition(2048, c.active);
    if (c.slot == -2) writeSector(image, 2048, std::string(512, '\0'));
    if (c.slot >= 0) {
      std::string mbr = readSector(image, 0);
      writeSector(image, 0, mbr.replace(446 + 16 * c.slot, 16, c.entry));
    }
    TempDir runDir;
    std::string screen = QemuBoot(runDir, image).screenShowing(c.message);
    for (const char* m : messages)
      EXPECT_EQ(screen.find(m) != std::string::npos, c.message == m) << m << " in:\n" << screen;
  }
}
