// Undoing a whole recovery: a finished one, and one whose process is killed
// in the middle of its writes.  The recovery rewrites the same sectors more
// than once (an EPTB linked and then rebased, the MBR placed and then made
// active) and writes boot code, so its database spans several sectors.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "IOSystem.h"
#include "Recover.h"
#include "compat/Assert.h"
#include "support/Engine.h"
#include "support/CountingDisk.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

const char* GEOMETRY = "2/255/63";
const int TRACK = 63;

class UndoRecovery : public ::testing::Test {
protected:
  void SetUp() override {
    IOSystem::Reset();
    original = dir.path("original.img");
    image = dir.path("disk.img");
    makeImage(original, 2ull * 255 * TRACK * 512);
    sfdisk(original, "start=20000, size=2048, type=83\n");
    // Three lost logical partitions, each one track behind its EPTB.
    writeSector(original, 1000, tableSector({entryBytes(0x83, TRACK, 3937)}));
    writeSector(original, 5000, tableSector({entryBytes(0x83, TRACK, 3937)}));
    writeSector(original, 9000, tableSector({entryBytes(0x07, TRACK, 100)}));
    // The first track holds some of a boot loader, as it often does.
    for (int s = 20; s < 30; s++) writeSector(original, s, "stage 1.5 " + std::to_string(s));
  }
  void TearDown() override {
    IOSystem::Reset();
  }
  void freshCopy() { ASSERT_EQ(0, sh("cp --sparse=always '" + original + "' '" + image + "'")); }

  // The recovery as the wizard runs it, with change logging enabled.
  void recover(HookedDisk& disk, bool close, std::string device = "") {
    if (device.empty()) device = image;
    disk.skipFlush = device == image;
    ImageAnalyser a(device, GEOMETRY);
    a.disk().dbActive = true;
    IOSystem::disableWriteLog = false;
    std::vector<RecoverPart> chosen(3);
    for (int i = 0; i < 3; i++) {
      chosen[i].device = device.c_str(), chosen[i].sector = 1000 + 4000 * i, chosen[i].logical = true;
      chosen[i].heads = 255, chosen[i].sectorsPerTrack = TRACK;
    }
    Recover(chosen, {}, nullptr, true, {{20000}}, {FXString(device.c_str())});
    if (close) {
      a->ReReadPartitions();
      a->CalcNRDChecksums();
      a->WriteNRDChecksums();
    }
    IOSystem::disableWriteLog = true;
  }

  // A later run of the program: finds the database, checks it and undoes.
  void undoAndCompare(const std::string& what) {
    ImageAnalyser a(image, GEOMETRY);
    FXulong start = IOSystem::IsUndoAvailable(image.c_str());
    if (start == 0) {
      // Killed before anything was logged: nothing was written either.
      EXPECT_TRUE(sameFile(image, original)) << what;
      return;
    }
    ASSERT_TRUE(IOSystem::CheckUndoDBPartitionChkSum(image.c_str(), start)) << what;
    IOSystem::disableWriteLog = true;
    ASSERT_TRUE(IOSystem::Undo(image.c_str(), start)) << what;
    EXPECT_TRUE(sameFile(image, original)) << what;
    EXPECT_EQ(IOSystem::IsUndoAvailable(image.c_str()), 0u) << what;
  }

  TempDir dir;
  std::string original, image;
  AssertLog quietAsserts;
};

const std::vector<std::string> RECOVERED = {"1000 8163 5", "20000 2048 83", "1063 3937 83",
                                            "5063 3937 83", "9063 100 7"};

}  // namespace

TEST_F(UndoRecovery, AFinishedRecoveryIsUndoneByteForByte) {
  freshCopy();
  {
    HookedDisk disk;
    recover(disk, true);
  }
  EXPECT_EQ(sfdiskPartitions(image), RECOVERED);
  EXPECT_EQ(readSector(image, 1)[8], 2) << "the database spans several sectors";
  undoAndCompare("finished recovery");
}

TEST_F(UndoRecovery, ARecoveryKilledAfterAnyWriteIsUndoneByteForByte) {
  freshCopy();
  unsigned total = 0;
  {
    HookedDisk disk;
    recover(disk, false);
    total = disk.writes;
  }
  // Every write is a kill point: the moments that matter (a database sector
  // filling up, its successor being linked) come round only every hundred
  // writes or so.
  for (unsigned n = 1; n <= total; n++) {
    freshCopy();
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      HookedDisk disk;
      disk.afterWrite = [n](unsigned writes) {
        if (writes == n) kill(getpid(), SIGKILL);
      };
      recover(disk, false);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "kill after write " << n;
    undoAndCompare("killed after write " + std::to_string(n) + " of " + std::to_string(total));
  }
}

TEST_F(UndoRecovery, OnABlockDevice) {
  freshCopy();
  {
    LoopDevice loop(image);
    if (loop.device.empty()) GTEST_SKIP() << "no loop device can be attached here";
    HookedDisk disk;
    recover(disk, true, loop.device);
  }
  EXPECT_EQ(sfdiskPartitions(image), RECOVERED);
  {
    LoopDevice loop(image);
    ASSERT_FALSE(loop.device.empty());
    ImageAnalyser a(loop.device, GEOMETRY);
    std::string data(512, 'x');
    EXPECT_FALSE(IOSystem::WriteBR(loop.device.c_str(), data.data(), a.disk().sectors * 512)) << "past the end";
    ASSERT_EQ(IOSystem::IsUndoAvailable(loop.device.c_str()), 1u);
    ASSERT_TRUE(IOSystem::CheckUndoDBPartitionChkSum(loop.device.c_str(), 1));
    ASSERT_TRUE(IOSystem::Undo(loop.device.c_str(), 1));
  }
  // The database sectors were 0xFF-filled on this disk: put them back as they were.
  for (FXulong s = 1; s < (FXulong)TRACK; s++)
    if ((unsigned char)readSector(image, s)[0] == 0xFF) writeSector(image, s, readSector(original, s));
  EXPECT_TRUE(sameFile(image, original));
}
