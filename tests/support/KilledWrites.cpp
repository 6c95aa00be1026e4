#include "support/KilledWrites.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "IOSystem.h"
#include "support/Engine.h"

namespace kvtest {

std::vector<FXulong> sectorsWrittenBy(const DiskWork& work) {
  HookedDisk disk;
  work(disk);
  return disk.writtenSectors;
}

void runKilledAfterWrite(unsigned n, const DiskWork& work) {
  fflush(nullptr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HookedDisk disk;
    disk.afterWrite = [n](unsigned writes) {
      if (writes == n) kill(getpid(), SIGKILL);
    };
    work(disk);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "kill after write " << n;
}

void expectUndoRestores(const std::string& image, const std::string& chs,
                        const std::string& original, const std::string& what,
                        const std::function<void()>& beforeUndo) {
  ImageAnalyser a(image, chs);
  FXulong start = IOSystem::IsUndoAvailable(image.c_str());
  if (start == 0) {
    // Killed before anything was logged: nothing was written either.
    EXPECT_TRUE(sameFile(image, original)) << what;
    return;
  }
  ASSERT_TRUE(IOSystem::CheckUndoDBPartitionChkSum(image.c_str(), start)) << what;
  FXulong changed = 0;
  EXPECT_FALSE(IOSystem::UndoWouldOverwrite(image.c_str(), start, changed)) << what << ": " << changed;
  if (beforeUndo) beforeUndo();
  IOSystem::disableWriteLog = true;
  ASSERT_TRUE(IOSystem::Undo(image.c_str(), start)) << what;
  EXPECT_TRUE(sameFile(image, original)) << what;
  EXPECT_EQ(IOSystem::IsUndoAvailable(image.c_str()), 0u) << what;
}

}  // namespace kvtest
