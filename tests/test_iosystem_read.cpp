// The read side of the sector I/O: the read-ahead cache must turn a forward
// scan into one device read per 256 sectors without seeking, never read past
// the device, and report short or failed reads honestly.
#include <gtest/gtest.h>

#include <cstring>

#include "IOSystem.h"
#include "support/CountingDisk.h"
#include "support/Engine.h"
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
  FreshIOSystem io;
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

TEST_F(ReadCache, AJumpSeeksAndAStraddlingReadIsAMiss) {
  std::string img = numberedImage(dir, 2000);
  ASSERT_TRUE(IOSystem::PrepareRead(img.c_str(), 2000));
  FXuchar buffer[2048];
  ASSERT_TRUE(IOSystem::Read(1000, buffer, 512));
  EXPECT_EQ(disk.seeks, 1u);
  unsigned reads = disk.reads;
  // The cache holds 1000..1255; a read from 1255 on runs past it.
  ASSERT_TRUE(IOSystem::Read(1255, buffer, 2048));
  EXPECT_EQ(disk.reads, reads + 1);
  EXPECT_EQ(disk.readOffsets.back(), 1255u * 512) << "refilled from the read's own start";
  EXPECT_EQ(sectorNumberIn(buffer + 512), 1256u);
  IOSystem::CloseRead();
}

TEST_F(ReadCache, EndCorrectionOnA300SectorDevice) {
  std::string img = numberedImage(dir, 300);
  FXuchar buffer[2048];
  // With the device's size, and with no bound at all: the file simply ends.
  for (FXulong bound : {(FXulong)300, ~(FXulong)0}) {
    ASSERT_TRUE(IOSystem::PrepareRead(img.c_str(), bound));
    ASSERT_TRUE(IOSystem::Read(256, buffer, 512));
    EXPECT_EQ(IOSystem::cacheBytes, 44u * 512) << "44 sectors are left after sector 256";
    EXPECT_EQ(sectorNumberIn(buffer), 256u);
    IOSystem::CloseRead();
  }
  // A last boot record read past the end is zero-filled.
  ASSERT_TRUE(IOSystem::PrepareRead(img.c_str(), 300));
  memset(buffer, 0xAB, sizeof(buffer));
  ASSERT_TRUE(IOSystem::Read(299, buffer, 2048));
  EXPECT_EQ(sectorNumberIn(buffer), 299u);
  EXPECT_EQ(std::string((char*)buffer + 512, 1536), std::string(1536, '\0'));

  // Reads at or beyond the end, and of unreadable sectors, fail without
  // reading past the device; the context stays usable.
  unsigned before = disk.reads;
  for (FXulong s : {(FXulong)300, (FXulong)1 << 20, ~(FXulong)0}) EXPECT_FALSE(IOSystem::Read(s, buffer, 512)) << s;
  EXPECT_EQ(disk.reads, before);
  disk.badSectors.insert(290);
  EXPECT_FALSE(IOSystem::Read(290, buffer, 512));
  EXPECT_TRUE(IOSystem::Read(5, buffer, 512));
  EXPECT_EQ(sectorNumberIn(buffer), 5u);
  IOSystem::CloseRead();

  // No context from a missing file, a directory or an unreadable sector 0.
  EXPECT_FALSE(IOSystem::PrepareRead(dir.path("missing.img").c_str(), 10));
  EXPECT_FALSE(IOSystem::PrepareRead(dir.path().c_str(), 10)) << "a directory is no disk";
  disk.badSectors.insert(0);
  EXPECT_FALSE(IOSystem::PrepareRead(img.c_str(), 10));
  EXPECT_FALSE(IOSystem::Read(0, buffer, 512)) << "no context, no read";
}

TEST(ReadBR, ShortReadOfAnImageIsAFailureAndLeavesZeros) {
  FreshIOSystem io;
  TempDir dir;
  std::string img = numberedImage(dir, 4, 100);  // 2148 bytes
  FXuchar buffer[2048];
  EXPECT_TRUE(IOSystem::ReadBR(img.c_str(), buffer, 0, 2048));
  EXPECT_FALSE(IOSystem::ReadBR(img.c_str(), buffer, 1024, 2048));
  memset(buffer, 0xAB, sizeof(buffer));
  EXPECT_FALSE(IOSystem::ReadBR(dir.path("missing").c_str(), buffer, 0, 512));
  EXPECT_EQ(std::string((char*)buffer, 512), std::string(512, '\0'));
}

TEST(DeviceQueries, LoopDeviceIdentityGeometryAndSize) {
  FreshIOSystem io;
  TempDir dir;
  makeImage(dir.path("disk.img"), 64ull << 20);
  LoopDevice loop(dir.path("disk.img"));
  if (loop.device.empty()) GTEST_SKIP() << "this machine cannot attach loop devices";
  FXString model;
  CHS physical, logical;
  FXulong sectors = 0;
  ASSERT_TRUE(IOSystem::GetModel(loop.device.c_str(), model, physical, logical, sectors));
  EXPECT_EQ(sectors, (64ull << 20) / 512);
  EXPECT_GT(physical.heads * physical.sectors, 0);
  EXPECT_EQ(physical.cylinders, sectors / ((FXulong)physical.heads * physical.sectors));
}

TEST_F(ReadCache, ABadSectorHidesOnlyItself) {
  std::string img = numberedImage(dir, 600);
  disk.badSectors = {5, 300};  // one inside the first read-ahead, one further on
  ASSERT_TRUE(IOSystem::PrepareRead(img.c_str(), 600));
  FXuchar buffer[512];
  for (FXulong s = 0; s < 600; s++) {
    bool bad = s == 5 || s == 300;
    ASSERT_EQ(IOSystem::Read(s, buffer, 512), !bad) << s;
    if (!bad) {
      ASSERT_EQ(sectorNumberIn(buffer), s);
    }
  }
  IOSystem::CloseRead();
}
