// Analyser start-up: the command line, disk enumeration on Linux and the
// handling of images that cannot be disks.
#include <gtest/gtest.h>

#include "Analyse.h"
#include "IOSystem.h"
#include "compat/Assert.h"
#include "support/CountingDisk.h"
#include "support/Engine.h"
#include "support/TestImages.h"
#include "support/WorkDir.h"

using namespace kvtest;

namespace {

// Builds an analyser from a command line, inside a temporary working folder
// (backup mode reads and writes layout.bin in the current folder).
class Startup : public ::testing::Test {
protected:
  void SetUp() override { IOSystem::Reset(); }
  void TearDown() override {
    delete analyser;
    sharedAnalyser = nullptr;
    IOSystem::Reset();
  }
  Analyse& run(std::vector<std::string> args) {
    analyser = analyseArgs(args).release();
    sharedAnalyser = analyser;
    return *analyser;
  }
  std::string image(const std::string& name, unsigned long long bytes) {
    makeImage(dir.path(name), bytes);
    return dir.path(name);
  }

  WorkDir dir;
  Analyse* analyser = nullptr;
  CountingDisk disk;  // lists no machine disks unless a test says so
};

}  // namespace

TEST_F(Startup, AnImageWithGeometryIsTheOneDisk) {
  disk.fakeDiskList = true;
  std::string img = image("img.bin", 1000ull * 255 * 63 * 512);
  Analyse& a = run({"-chs", "1000/255/63", "-file", img, "-lang", "DE"});
  ASSERT_EQ(a.disks.size(), 1u);
  const NRD& d = a.disks[0];
  EXPECT_EQ(d.device, img.c_str());
  EXPECT_TRUE(d.physical == CHS(1000, 255, 63));
  EXPECT_EQ(d.sectors, 1000ull * 255 * 63);
  EXPECT_EQ(d.capacity, d.sectors * 512);
  EXPECT_EQ(a.language, "DE");
}

// Without a usable geometry the image is ignored; images that cannot be
// disks are reported, not shown; a trailing partial sector is rounded off.
TEST_F(Startup, BadImagesAndMissingGeometry) {
  disk.fakeDiskList = true;
  std::string img = image("img.bin", 1 << 20);
  using Args = std::vector<std::string>;
  for (const Args& args : std::vector<Args>{{"-file", img}, {"-file", img, "-chs"}, {"-chs", "-sim"},
                                            {"-file", image("empty.img", 0), "-chs", "10/16/63"},
                                            {"-file", dir.path("missing.img"), "-chs", "10/16/63"},
                                            {"-file", dir.path(), "-chs", "10/16/63"}}) {
    delete analyser;
    EXPECT_TRUE(run(args).disks.empty()) << args[1];
  }
  EXPECT_TRUE(IOSystem::simulationMode);
  delete analyser;
  Analyse& a = run({"-file", image("odd.img", 100 * 512 + 300), "-chs", "1/16/63"});
  ASSERT_EQ(a.disks.size(), 1u);
  EXPECT_EQ(a.disks[0].sectors, 100u);
}

TEST_F(Startup, HelpShowsUsageAndExitsWithOne) {
  EXPECT_EXIT(run({"-sim", "-h", "-file"}), ::testing::ExitedWithCode(1), "Usage: rodidud");
}

TEST_F(Startup, AnAttachedLoopDeviceIsFoundAmongTheMachinesDisks) {
  LoopDevice loop(image("disk.img", 32 << 20));
  if (loop.device.empty()) GTEST_SKIP() << "this machine cannot attach loop devices";
  Analyse& a = run({});
  bool found = false;
  for (const NRD& d : a.disks) {
    if (d.device != loop.device.c_str()) continue;
    found = true;
    EXPECT_EQ(d.sectors, (32u << 20) / 512);
  }
  EXPECT_TRUE(found) << loop.device;
}

static std::string assertText;
static void captureAssert(const char* text) { assertText += text; }

TEST(Assertions, ReportInTheToolkitFormatAndContinue) {
  kv::AssertSink previous = kv::setAssertSink(captureAssert);
  int after = 0;
  FXASSERT(1 + 1 == 3);
  after = 1;
  kv::setAssertSink(previous);
  EXPECT_EQ(after, 1);
  EXPECT_NE(assertText.find("test_analyse_startup.cpp("), std::string::npos) << assertText;
  EXPECT_NE(assertText.find("): FXASSERT(1 + 1 == 3) failed.\n"), std::string::npos) << assertText;
}
