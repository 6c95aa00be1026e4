// Analyser start-up: the command line, disk enumeration on Linux and the
// handling of images that cannot be disks.
#include <gtest/gtest.h>

#include "Analyse.h"
#include "IOSystem.h"
#include "compat/Assert.h"
#include "support/CountingDisk.h"
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
    args.insert(args.begin(), "kelvarin");
    keep = args;
    argv.clear();
    for (auto& a : keep) argv.push_back(&a[0]);
    analyser = new Analyse(nullptr, (FXint)argv.size(), argv.data());
    sharedAnalyser = analyser;
    return *analyser;
  }
  std::string image(const std::string& name, unsigned long long bytes) {
    makeImage(dir.path(name), bytes);
    return dir.path(name);
  }

  WorkDir dir;
  std::vector<std::string> keep;
  std::vector<char*> argv;
  Analyse* analyser = nullptr;
  CountingDisk disk;  // lists no machine disks unless a test says so
};

}  // namespace

TEST_F(Startup, AnImageWithGeometryIsTheOneDisk) {
  disk.fakeDiskList = true;
  std::string img = image("img.bin", 1000ull * 255 * 63 * 512);
  Analyse& a = run({"-chs", "1000/255/63", "-file", img});
  ASSERT_EQ(a.disks.size(), 1u);
  const NRD& d = a.disks[0];
  EXPECT_EQ(d.device, img.c_str());
  EXPECT_TRUE(d.physical == CHS(1000, 255, 63));
  EXPECT_TRUE(d.logical == CHS(1000, 255, 63));
  EXPECT_EQ(d.sectors, 1000ull * 255 * 63);
  EXPECT_EQ(d.capacity, d.sectors * 512);
  EXPECT_EQ(d.qoffset, 16065u);
  EXPECT_EQ(a.GetDeviceNames(false), std::vector<FXString>{FXString(img.c_str())});
}

// Without a usable geometry the image is ignored and the machine's disks
// (here none) are listed; a value after -chs may itself be an option.
TEST_F(Startup, FileWithoutGeometryFallsBackToTheMachinesDisks) {
  disk.fakeDiskList = true;
  std::string img = image("img.bin", 1 << 20);
  using Args = std::vector<std::string>;
  for (const Args& args : std::vector<Args>{{"-file", img}, {"-file", img, "-chs"}, {"-chs", "-sim"}}) {
    delete analyser;
    Analyse& a = run(args);
    EXPECT_TRUE(a.path.empty());
    EXPECT_TRUE(a.disks.empty());
    EXPECT_EQ(a.vC, -1);
  }
  EXPECT_TRUE(IOSystem::simulationMode);
}

TEST_F(Startup, LanguageOption) {
  disk.fakeDiskList = true;
  Analyse& a = run({"-lang", "DE", "-h_is_not_this"});
  EXPECT_TRUE(a.langGiven);
  EXPECT_EQ(a.language, "DE");
}

TEST_F(Startup, BackupTakesPrecedenceOverAnImage) {
  std::string img = image("img.bin", 1 << 20);
  Analyse& a = run({"-file", img, "-chs", "2/16/63", "-usebackup"});
  EXPECT_TRUE(IOSystem::useBackup);
  for (const NRD& d : a.disks) EXPECT_NE(d.device, img.c_str());
}

TEST_F(Startup, HelpShowsUsageAndExitsWithOne) {
  EXPECT_EXIT(run({"-sim", "-h", "-file"}), ::testing::ExitedWithCode(1), "Usage: rodidud");
}

TEST_F(Startup, ImagesThatCannotBeDisksAreReportedNotShown) {
  disk.fakeDiskList = true;
  for (std::string bad : {image("empty.img", 0), dir.path("missing.img"), dir.path()}) {
    delete analyser;
    EXPECT_TRUE(run({"-file", bad, "-chs", "10/16/63"}).disks.empty()) << bad;
  }
  // A trailing partial sector is rounded off.
  delete analyser;
  Analyse& a = run({"-file", image("odd.img", 100 * 512 + 300), "-chs", "1/16/63"});
  ASSERT_EQ(a.disks.size(), 1u);
  EXPECT_EQ(a.disks[0].sectors, 100u);
}

TEST_F(Startup, DisksAreListedInOrderAndAbsentOnesSkipped) {
  LoopDevice first(image("a.img", 8 << 20)), second(image("b.img", 16 << 20));
  if (first.device.empty() || second.device.empty())
    GTEST_SKIP() << "this machine cannot attach loop devices";
  disk.fakeDiskList = true;
  disk.disks = {first.device.c_str(), dir.path("absent").c_str(), second.device.c_str()};
  Analyse& a = run({});
  ASSERT_EQ(a.disks.size(), 2u);
  EXPECT_EQ(a.disks[0].device, first.device.c_str());
  EXPECT_EQ(a.disks[1].device, second.device.c_str());
  EXPECT_EQ(a.disks[1].sectors, (16u << 20) / 512);
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
    EXPECT_EQ(d.capacity, 32u << 20);
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

TEST(Tracing, TraceLevelOptionIsParsedWithoutADisplay) {
  char a0[] = "kelvarin", a1[] = "-tracelevel", a2[] = "8", a3[] = "-sim";
  char* argv[] = {a0, a1, a2, a3, nullptr};
  int argc = 4;
  FXApp app("KelvarinTest", "Varnholm Inc");
  app.init(argc, argv, false);
  EXPECT_EQ(fxTraceLevel, 8u);
  EXPECT_EQ(argc, 2) << "the toolkit takes its own option off the command line";
  fxTraceLevel = 0;
}
