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
  void TearDown() override {
    delete analyser;
    sharedAnalyser = nullptr;
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

  FreshIOSystem io;
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

// A wrong option or an image that cannot be a disk leaves the analyser
// without disks and with the reason; the machine's own disks (here a fake
// one) are never looked at instead.
TEST_F(Startup, BadOptionsAndImagesAreReportedAndNeverFallBackToTheMachinesDisks) {
  disk.fakeDiskList = true;
  disk.disks = {image("machine.img", 1 << 20).c_str()};
  std::string img = image("img.bin", 1 << 20);  // 2048 sectors: 2 cylinders of 16 x 63
  std::string fifo = dir.path("fifo");
  ASSERT_EQ(0, sh("mkfifo '" + fifo + "'"));
  using Args = std::vector<std::string>;
  struct Case {
    Args args;
    StartMessage::Kind kind;
    const char* key;
  } cases[] = {
      {{"-file"}, StartMessage::BAD_OPTION, "Analyse.CheckOptions.001"},
      {{"-file", ""}, StartMessage::BAD_OPTION, "Analyse.CheckOptions.001"},
      {{"-file", img, "-chs"}, StartMessage::BAD_OPTION, "Analyse.CheckOptions.001"},
      {{"-file", img, "-chs", ""}, StartMessage::BAD_OPTION, "Analyse.CheckOptions.001"},
      {{"-file", img, "-lang"}, StartMessage::BAD_OPTION, "Analyse.CheckOptions.001"},
      {{"-file", img, "-chs", "abc"}, StartMessage::BAD_OPTION, "Analyse.CheckOptions.002"},
      {{"-file", img, "-chs", "1/2"}, StartMessage::BAD_OPTION, "Analyse.CheckOptions.002"},
      {{"-file", img, "-chs", "1/16/63/4"}, StartMessage::BAD_OPTION, "Analyse.CheckOptions.002"},
      {{"-file", img, "-chs", "0/16/63"}, StartMessage::BAD_OPTION, "Analyse.CheckOptions.002"},
      {{"-file", img, "-chs", "2/0/63"}, StartMessage::BAD_OPTION, "Analyse.CheckOptions.002"},
      {{"-file", img, "-chs", "2/16/64"}, StartMessage::BAD_OPTION, "Analyse.CheckOptions.002"},
      {{"-file", img, "-chs", "2/16/+63"}, StartMessage::BAD_OPTION, "Analyse.CheckOptions.002"},
      {{"-chs", "-sim"}, StartMessage::BAD_OPTION, "Analyse.CheckOptions.002"},
      // One cylinder more than the image is a geometry rounded up; two are another disk.
      {{"-file", img, "-chs", "4/16/63"}, StartMessage::BAD_OPTION, "Analyse.ScanNRDPath.002"},
      {{"-file", dir.path("missing.img"), "-chs", "10/16/63"}, StartMessage::BAD_IMAGE,
       "Analyse.ScanNRDPath.003"},
      {{"-file", dir.path()}, StartMessage::BAD_IMAGE, "Analyse.ScanNRDPath.004"},
      {{"-file", fifo}, StartMessage::BAD_IMAGE, "Analyse.ScanNRDPath.004"},
      {{"-file", "/dev/null"}, StartMessage::BAD_IMAGE, "Analyse.ScanNRDPath.004"},
      {{"-file", image("empty.img", 0), "-chs", "10/16/63"}, StartMessage::BAD_IMAGE,
       "Analyse.ScanNRDPath.006"},
      {{"-file", image("crumb.img", 511)}, StartMessage::BAD_IMAGE, "Analyse.ScanNRDPath.006"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += "[" + a + "] ";
    delete analyser;
    disk.opened.clear();
    Analyse& a = run(c.args);
    EXPECT_TRUE(a.disks.empty()) << line;
    EXPECT_EQ(c.kind, a.startMessage.kind) << line;
    EXPECT_STREQ(c.key, a.startMessage.key ? a.startMessage.key : "(none)") << line;
    for (const FXString& name : disk.opened) EXPECT_NE(disk.disks[0], name) << line;
    if (c.kind == StartMessage::BAD_OPTION && c.key != std::string("Analyse.ScanNRDPath.002")) {
      EXPECT_TRUE(disk.opened.empty()) << line << "opened " << disk.opened[0].text();
    }
    if (c.kind == StartMessage::BAD_IMAGE) {
      EXPECT_EQ(c.args[1], a.startMessage.args[0].text());
    }
  }
}

TEST_F(Startup, AnImageWithoutGeometryGetsTheConventionalOneAndSaysSo) {
  disk.fakeDiskList = true;
  disk.disks = {image("machine.img", 1 << 20).c_str()};
  const std::pair<unsigned long long, unsigned long long> sizes[] = {
      {100, 1}, {16065 * 3 + 100, 3}, {16065ull * 70000, 70000}};  // sectors, cylinders
  for (const auto& size : sizes) {
    delete analyser;
    std::string img = image("img" + std::to_string(size.first) + ".bin", size.first * 512);
    Analyse& a = run({"-file", img});
    ASSERT_EQ(1u, a.disks.size()) << size.first;
    EXPECT_EQ(img, a.disks[0].device.text());
    EXPECT_TRUE(a.disks[0].logical == CHS(size.second, 255, 63)) << a.disks[0].logical.cylinders;
    EXPECT_EQ(size.first, a.disks[0].sectors);
    EXPECT_EQ(StartMessage::NOTE, a.startMessage.kind);
    EXPECT_STREQ("Analyse.ScanNRDPath.007", a.startMessage.key);
    EXPECT_EQ(std::to_string(size.second) + "/255/63", a.startMessage.args[0].text());
  }
  // A trailing partial sector is rounded off; a geometry one cylinder larger than the image is fine.
  delete analyser;
  Analyse& a = run({"-file", image("odd.img", 100 * 512 + 300), "-chs", "1/16/63"});
  ASSERT_EQ(a.disks.size(), 1u);
  EXPECT_EQ(a.disks[0].sectors, 100u);
  EXPECT_EQ(StartMessage::NONE, a.startMessage.kind);
}

// Without any disk the reason is given: reading the machine's disks needs root.
TEST_F(Startup, NoReadableDiskOfTheMachineIsReported) {
  disk.fakeDiskList = true;
  Analyse& a = run({"-sim"});
  EXPECT_TRUE(a.disks.empty());
  EXPECT_EQ(StartMessage::NO_DISKS, a.startMessage.kind);
  EXPECT_STREQ("Analyse.ScanNRD.001", a.startMessage.key);
}

TEST_F(Startup, HelpAsksForTheUsageAndOpensNothing) {
  disk.fakeDiskList = true;
  disk.disks = {image("machine.img", 1 << 20).c_str()};
  Analyse& a = run({"-sim", "-h", "-file"});
  EXPECT_TRUE(a.helpWanted);
  EXPECT_EQ(StartMessage::NONE, a.startMessage.kind) << "what follows -h is not looked at";
  EXPECT_TRUE(disk.opened.empty());
  // The usage names the program and only the options it acts on.
  std::string usage = Analyse::UsageText();
  EXPECT_EQ(0u, usage.find("Usage: kelvarin ")) << usage;
  for (const char* option : {"-file", "-chs", "-sim", "-usebackup", "-lang", "-tracelevel", "-h"})
    EXPECT_NE(std::string::npos, usage.find("\n" + std::string(option) + " ")) << option;
  for (const char* accepted : {"-backup", "-restore", "-show", "-blank", "-quick", "-mbr", "rodidud"})
    EXPECT_EQ(std::string::npos, usage.find(accepted)) << accepted;
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
