// The read side of the sector I/O: the read-ahead cache must turn a forward
// scan into one device read per 256 sectors without seeking, never read past
// the device, and report short or failed reads honestly.
#include <gtest/gtest.h>

#include <cstring>

#include "IOSystem.h"
#include "support/CountingDisk.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

// An image whose every sector starts with its own number, so a test can see
// which sector a buffer came from.
std::string numberedImage(const TempDir& dir, FXulong sectors, FXulong extraBytes = 0) {
  std::string file = dir.path("numbered.img");
  makeImage(file, sectors * 512 + extraBytes);
  for (FXulong s = 0; s < sectors; s++) patchFile(file, s * 512, &s, sizeof(s));
  return file;
}

FXulong sectorNumberIn(const FXuchar* buffer) {
  FXulong n;
  memcpy(&n, buffer, sizeof(n));
  return n;
}

class ReadCache : public ::testing::Test {
protected:
  void SetUp() override { IOSystem::Reset(); }
  void TearDown() override { IOSystem::Reset(); }
  TempDir dir;
  CountingDisk disk;
};

}  // namespace

TEST_F(ReadCache, ForwardScanCostsOneDeviceReadPer256SectorsAndNoSeek) {
  const FXulong N = 1000;
  std::string img = numberedImage(dir, N);
  ASSERT_TRUE(IOSystem::PrepareRead(img.c_str(), N));
  FXuchar buffer[512];
  for (FXulong s = 0; s < N; s++) {
    ASSERT_TRUE(IOSystem::Read(s, buffer, 512)) << s;
    ASSERT_EQ(sectorNumberIn(buffer), s);
  }
  IOSystem::CloseRead();
  EXPECT_EQ(disk.reads, (N + 255) / 256);
  EXPECT_EQ(disk.seeks, 0u);
}

TEST_F(ReadCache, HitsMissesAndSeeks) {
  std::string img = numberedImage(dir, 2000);
  ASSERT_TRUE(IOSystem::PrepareRead(img.c_str(), 2000));
  FXuchar buffer[2048];
  unsigned afterPrepare = disk.reads;
  ASSERT_TRUE(IOSystem::Read(0, buffer, 512));
  ASSERT_TRUE(IOSystem::Read(1, buffer, 512));
  EXPECT_EQ(disk.reads, afterPrepare) << "sectors 0 and 1 come from the cache";

  ASSERT_TRUE(IOSystem::Read(256, buffer, 512));
  EXPECT_EQ(disk.reads, afterPrepare + 1);
  EXPECT_EQ(disk.seeks, 0u) << "the handle already stood at byte 131072";
  EXPECT_EQ(disk.readOffsets.back(), 131072u);

  ASSERT_TRUE(IOSystem::Read(1000, buffer, 512));
  EXPECT_EQ(disk.seeks, 1u);
  EXPECT_EQ(sectorNumberIn(buffer), 1000u);

  // A read that straddles the end of the cache is a miss and refills from its own start.
  FXulong last = 1000 + 255;
  ASSERT_TRUE(IOSystem::Read(last, buffer, 2048));
  EXPECT_EQ(disk.readOffsets.back(), last * 512);
  EXPECT_EQ(sectorNumberIn(buffer), last);
  EXPECT_EQ(sectorNumberIn(buffer + 512), last + 1);
  IOSystem::CloseRead();
}

TEST_F(ReadCache, EndCorrectionOnA300SectorDevice) {
  std::string img = numberedImage(dir, 300);
  FXuchar buffer[2048];
  // With the device's size, and with no bound at all: the file simply ends.
  for (FXulong bound : {(FXulong)300, ~(FXulong)0}) {
    ASSERT_TRUE(IOSystem::PrepareRead(img.c_str(), bound));
    ASSERT_TRUE(IOSystem::Read(256, buffer, 512));
    EXPECT_EQ(IOSystem::cacheBytes, 22528u) << "44 sectors are left after sector 256";
    EXPECT_EQ(IOSystem::cacheStart, 256u * 512);
    EXPECT_EQ(sectorNumberIn(buffer), 256u);
    IOSystem::CloseRead();
  }
  // A last boot record read past the end is zero-filled.
  ASSERT_TRUE(IOSystem::PrepareRead(img.c_str(), 300));
  memset(buffer, 0xAB, sizeof(buffer));
  ASSERT_TRUE(IOSystem::Read(299, buffer, 2048));
  EXPECT_EQ(sectorNumberIn(buffer), 299u);
  for (int i = 512; i < 2048; i++) ASSERT_EQ(buffer[i], 0) << i;

  // Reads at or beyond the end fail without touching the device; the
  // context stays usable.
  unsigned before = disk.reads;
  EXPECT_FALSE(IOSystem::Read(300, buffer, 512));
  EXPECT_FALSE(IOSystem::Read(1u << 20, buffer, 512));
  EXPECT_FALSE(IOSystem::Read(~(FXulong)0, buffer, 512));
  EXPECT_EQ(disk.reads, before) << "nothing is read beyond the device";
  EXPECT_TRUE(IOSystem::Read(5, buffer, 512));
  EXPECT_EQ(sectorNumberIn(buffer), 5u);
  IOSystem::CloseRead();
}

TEST_F(ReadCache, FailuresAreReportedCleanly) {
  std::string img = numberedImage(dir, 1000);
  FXuchar buffer[512];
  // A failed read is reported and the context stays open.
  ASSERT_TRUE(IOSystem::PrepareRead(img.c_str(), 1000));
  disk.badSectors.insert(600);
  EXPECT_FALSE(IOSystem::Read(600, buffer, 512));
  EXPECT_TRUE(IOSystem::Read(10, buffer, 512));
  EXPECT_EQ(sectorNumberIn(buffer), 10u);
  IOSystem::CloseRead();
  EXPECT_EQ(IOSystem::cache, nullptr);

  // No context from a missing file, a directory or an unreadable sector 0.
  EXPECT_FALSE(IOSystem::PrepareRead(dir.path("missing.img").c_str(), 10));
  EXPECT_FALSE(IOSystem::PrepareRead(dir.path().c_str(), 10)) << "a directory is no disk";
  disk.badSectors.insert(0);
  EXPECT_FALSE(IOSystem::PrepareRead(img.c_str(), 10));
  EXPECT_EQ(IOSystem::cache, nullptr);
  EXPECT_FALSE(IOSystem::Read(0, buffer, 512)) << "no context, no read";
}

TEST(ReadBR, ShortReadOfAnImageIsAFailureAndLeavesZeros) {
  IOSystem::Reset();
  TempDir dir;
  std::string img = numberedImage(dir, 4, 100);  // 2148 bytes
  FXuchar buffer[2048];
  EXPECT_TRUE(IOSystem::ReadBR(img.c_str(), buffer, 0, 2048));
  EXPECT_EQ(sectorNumberIn(buffer + 512), 1u);
  EXPECT_FALSE(IOSystem::ReadBR(img.c_str(), buffer, 1024, 2048));
  memset(buffer, 0xAB, sizeof(buffer));
  EXPECT_FALSE(IOSystem::ReadBR(dir.path("missing").c_str(), buffer, 0, 512));
  for (int i = 0; i < 512; i++) ASSERT_EQ(buffer[i], 0);
}

TEST(DeviceQueries, LoopDeviceIdentityGeometryAndSize) {
  IOSystem::Reset();
  TempDir dir;
  makeImage(dir.path("disk.img"), 64ull << 20);
  LoopDevice loop(dir.path("disk.img"));
  if (loop.device.empty()) GTEST_SKIP() << "this machine cannot attach loop devices";
  FXString model;
  CHS physical, logical;
  FXulong sectors = 0;
  ASSERT_TRUE(IOSystem::GetModel(loop.device.c_str(), model, physical, logical, sectors));
  EXPECT_EQ(sectors, (64ull << 20) / 512);
  EXPECT_NE(model.find("Storage Device"), -1) << model.text();
  EXPECT_GT(physical.heads, 0);
  EXPECT_GT(physical.sectors, 0);
  EXPECT_TRUE(logical == physical);
  EXPECT_EQ(physical.cylinders, sectors / ((FXulong)physical.heads * physical.sectors));
}
