// The memory write layer on its own, over image files and a read-only loop
// device: reads see the sectors written through it laid over the device, on
// that device only, a handle stands where a write would leave it, and no
// device is ever opened for writing or changed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/MemoryWriteLayer.h"
#include "support/CountingDisk.h"
#include "support/Engine.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

// Counts the opens for writing the layer asks of the layer below.
struct WriteOpenCounter : HookedDisk {
  unsigned writeOpens = 0;
  Handle open(const FXString& name, bool write, bool sequential) override {
    if (write) writeOpens++;
    return HookedDisk::open(name, write, sequential);
  }
};

std::string filled(char c, size_t sectors = 1) { return std::string(sectors * 512, c); }

// Writes `data` (whole sectors) at `sector` through a handle opened for writing.
bool writeThrough(DiskAccess& layer, const std::string& device, unsigned long long sector,
                  const std::string& data) {
  DiskAccess::Handle h = layer.open(device.c_str(), true, false);
  if (h == DiskAccess::INVALID) return false;
  FXuint done = 0;
  bool ok = layer.seek(h, sector * 512) && layer.write(h, data.data(), (FXuint)data.size(), done) &&
            done == data.size();
  layer.close(h);
  return ok;
}

std::string readThrough(DiskAccess& layer, const std::string& device, unsigned long long offset,
                        unsigned length) {
  std::string got(length, '?');
  DiskAccess::Handle h = layer.open(device.c_str(), false, false);
  FXuint done = 0;
  if (h == DiskAccess::INVALID || !layer.seek(h, offset) || !layer.read(h, &got[0], length, done))
    got = "read failed";
  layer.close(h);
  return got;
}

}  // namespace

// Sector 5 and sectors 9-10 of one image written through the layer; reads
// of both images at and across the written sectors' edges.
TEST(MemoryWriteLayer, ReadsSeeTheWritesOnTheirOwnDeviceOnly) {
  TempDir dir;
  WriteOpenCounter below;
  OldSectorImages images(dir);
  const std::string &image = images.image, &other = images.other, &old = images.old;
  const std::string now = filled('n'), zeros = filled('\0');
  std::string imageBefore = readFile(image), otherBefore = readFile(other);

  MemoryWriteLayer layer(&below, MemoryWriteLayer::WRITABLE_DEVICES);
  ASSERT_TRUE(writeThrough(layer, image, 5, now));
  ASSERT_TRUE(writeThrough(layer, image, 9, filled('m') + filled('p')));

  struct Read {
    const char* what;
    std::string device;
    unsigned long long offset;
    unsigned length;
    std::string expected;
  } reads[] = {
      {"the written sector", image, 5 * 512, 512, now},
      {"into it from the sector before", image, 4 * 512 + 500, 524, std::string(12, 'o') + now},
      {"out of it into the sector behind", image, 5 * 512 + 256, 512, now.substr(256) + old.substr(256)},
      {"over it, both neighbours whole", image, 4 * 512, 1536, old + now + old},
      {"two sectors of one write", image, 9 * 512, 1024, filled('m') + filled('p')},
      {"the last byte before them", image, 9 * 512 - 1, 2, std::string("\0m", 2)},
      {"the first byte behind them", image, 11 * 512 - 1, 2, std::string("p\0", 2)},
      {"the other image, same sector", other, 5 * 512, 512, old},
      {"the other image across it", other, 4 * 512, 1024, zeros + old},
  };
  for (const Read& r : reads)
    EXPECT_TRUE(readThrough(layer, r.device, r.offset, r.length) == r.expected) << r.what;

  // A handle stands where the write left it: the next read is of sector 6.
  DiskAccess::Handle h = layer.open(image.c_str(), true, false);
  ASSERT_TRUE(h != DiskAccess::INVALID);
  FXuint done = 0;
  std::string next(512, '?');
  EXPECT_TRUE(layer.seek(h, 5 * 512) && layer.write(h, now.data(), 512, done));
  EXPECT_TRUE(layer.read(h, &next[0], 512, done) && next == old) << "read after a write";
  // Half a sector, or a whole one off its boundary, is not kept.
  EXPECT_FALSE(layer.seek(h, 7 * 512) && layer.write(h, now.data(), 256, done));
  EXPECT_FALSE(layer.seek(h, 7 * 512 + 1) && layer.write(h, now.data(), 512, done));
  layer.close(h);

  EXPECT_EQ(layer.writtenSectors(image.c_str()), (std::vector<FXulong>{5, 9, 10}));
  EXPECT_TRUE(layer.writtenSectors(other.c_str()).empty());
  EXPECT_EQ(below.writes, 0u);
  EXPECT_EQ(below.writeOpens, 0u);
  EXPECT_TRUE(readFile(image) == imageBefore);
  EXPECT_TRUE(readFile(other) == otherBefore);

  layer.forget();
  EXPECT_TRUE(readThrough(layer, image, 5 * 512, 512) == old) << "forgotten";
}

// A device the system keeps read-only: a simulation's layer refuses to open
// it for writing, as the real run's open would fail; a trial's opens it as
// any other.  Neither changes it.
TEST(MemoryWriteLayer, AReadOnlyDeviceOpensForWritingOnlyWhenAnyDeviceMay) {
  TempDir dir;
  std::string image = dir.path("disk.img");
  makeImage(image, 64 * 512);
  writeSector(image, 5, filled('o'));
  LoopDevice loop(image, 512, true);
  if (loop.device.empty()) GTEST_SKIP() << "no loop device can be attached here";
  std::string before = readFile(image);

  struct Case {
    MemoryWriteLayer::WriteCheck check;
    std::string device;
    bool opens;
  } cases[] = {
      {MemoryWriteLayer::WRITABLE_DEVICES, loop.device, false},
      {MemoryWriteLayer::WRITABLE_DEVICES, image, true},
      {MemoryWriteLayer::ANY_DEVICE, loop.device, true},
      {MemoryWriteLayer::ANY_DEVICE, image, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device + (c.check == MemoryWriteLayer::ANY_DEVICE ? " any device" : " writable only"));
    WriteOpenCounter below;
    MemoryWriteLayer layer(&below, c.check);
    EXPECT_EQ(c.opens, writeThrough(layer, c.device, 5, filled('n')));
    EXPECT_TRUE(readThrough(layer, c.device, 5 * 512, 512) == filled(c.opens ? 'n' : 'o'));
    DiskAccess::Handle h = layer.open(c.device.c_str(), false, false);
    EXPECT_TRUE(h != DiskAccess::INVALID) << "reading is always allowed";
    layer.close(h);
    EXPECT_EQ(below.writeOpens, 0u);
    EXPECT_EQ(below.writes, 0u);
  }
  EXPECT_TRUE(readFile(image) == before);
}
