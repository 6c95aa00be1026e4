// What the program tells before its first page, through its own start-up
// and modal loop: a wrong option, an image that cannot be a disk and a
// machine without readable disks end the program (status 2) after a box
// that says what to do; an image without a geometry gets one and a note;
// -h shows the usage.  The machine's own disks (a fake one here) are never
// used in place of what the command line names.
#include <gtest/gtest.h>

#include <memory>

#include "Analyse.h"
#include "Kelvarin.h"
#include "support/CountingDisk.h"
#include "support/Gui.h"
#include "support/WizardFixture.h"
#include "support/WorkDir.h"

using namespace kvtest;

namespace {

const int WIZARD_RAN = 99;  // the status a test ends a wizard with that should not have run

class KelvarinStart : public ::testing::Test {
protected:
  TempDir dir;
  CountingDisk disk;
  std::string machine = dir.path("machine.img");
  std::string image = dir.path("disk.img");  // 4 cylinders of 255 x 63
  ScriptedAsker asker;
  std::vector<FXString> devices;  // the disks the wizard was given

  void SetUp() override {
    makeImage(machine, 1 << 20);
    makeImage(image, 4ull * 16065 * 512);
    disk.fakeDiskList = true;
    disk.disks = {machine.c_str()};
  }

  // Runs the program with `options` after "-lang EN"; a wizard that comes
  // up shows its first page and is ended with WIZARD_RAN.
  int run(const std::vector<std::string>& options) {
    std::vector<std::string> words = {"kelvarin", "-lang", "EN"};
    words.insert(words.end(), options.begin(), options.end());
    ImageArgs args(words);
    asker.shown.clear();
    devices.clear();
    return runKelvarin(args, asker, [&](mFXWizard* w) {
      devices = sharedAnalyser->GetDeviceNames(false);
      w->getApp()->stopModal(w, WIZARD_RAN);
    });
  }

  static FXString english(const char* key, const char* a1 = "", const char* a2 = "",
                          const char* a3 = "", const char* a4 = "") {
    Information en;
    return en.Format(key, a1, a2, a3, a4);
  }
};

}  // namespace

TEST_F(KelvarinStart, WrongOptionsAndUnusableImagesEndWithABoxThatSaysWhatToDo) {
  std::string fifo = dir.path("fifo");
  ASSERT_EQ(0, sh("mkfifo '" + fifo + "'"));
  std::string missing = dir.path("missing.img");
  struct Case {
    std::vector<std::string> options;
    FXString says;
  } cases[] = {
      {{"-file"}, english("Analyse.CheckOptions.001", "-file")},
      {{"-file", ""}, english("Analyse.CheckOptions.001", "-file")},
      {{"-file", image, "-chs"}, english("Analyse.CheckOptions.001", "-chs")},
      {{"-file", image, "-chs", "abc"}, english("Analyse.CheckOptions.002", "abc")},
      {{"-file", image, "-chs", "1/2"}, english("Analyse.CheckOptions.002", "1/2")},
      {{"-file", image, "-chs", "0/255/63"}, english("Analyse.CheckOptions.002", "0/255/63")},
      {{"-file", image, "-chs", "6/255/63"},
       english("Analyse.ScanNRDPath.002", "6/255/63", "96390", image.c_str(), "64260")},
      {{"-file", missing}, english("Analyse.ScanNRDPath.003", missing.c_str(), "No such file or directory")},
      {{"-file", fifo}, english("Analyse.ScanNRDPath.004", fifo.c_str())},
      {{"-file", dir.path()}, english("Analyse.ScanNRDPath.004", dir.path().c_str())},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& o : c.options) line += "[" + o + "] ";
    EXPECT_EQ(2, run(c.options)) << line;
    ASSERT_EQ(1u, asker.shown.size()) << line << asker.transcript();
    EXPECT_EQ(c.says, asker.shown[0].text) << line;
    EXPECT_TRUE(devices.empty()) << line << devices[0].text();
  }
  // Without -file the machine's disks are meant; none readable says so too.
  disk.disks.clear();
  EXPECT_EQ(2, run({"-sim"}));
  ASSERT_EQ(1u, asker.shown.size());
  EXPECT_EQ(english("Analyse.ScanNRD.001"), asker.shown[0].text);
}

TEST_F(KelvarinStart, AnImageWithoutGeometryGetsTheConventionalOneAndANote) {
  EXPECT_EQ(WIZARD_RAN, run({"-file", image}));
  ASSERT_EQ(1u, asker.shown.size()) << asker.transcript();
  EXPECT_EQ(english("Analyse.ScanNRDPath.007", "4/255/63"), asker.shown[0].text);
  ASSERT_EQ(1u, devices.size());
  EXPECT_EQ(image, devices[0].text());
}

TEST_F(KelvarinStart, HelpShowsTheUsageAndEndsWithOne) {
  EXPECT_EQ(1, run({"-file", image, "-h"}));
  ASSERT_EQ(1u, asker.shown.size());
  EXPECT_EQ(FXString(Analyse::UsageText()), asker.shown[0].text);
}

// The box as the user sees it: the toolkit's own message box, its long text
// broken into lines.
TEST_F(KelvarinStart, TheBoxIsAToolkitMessageBox) {
  std::vector<std::string> words = {"kelvarin", "-lang", "EN", "-file", image, "-chs", "6/255/63"};
  ImageArgs args(words);
  keepDisplayUp();
  std::unique_ptr<ModalWatcher> watcher;
  bool pictured = false;
  int status = RunKelvarin(args.argc(), args.argv(), [&](mFXWizard* w) {
    watcher.reset(new ModalWatcher(w->getApp(), [&](FXTopWindow* box) {
      pictured = saveScreenshot(box, "start-problem-box");
      EXPECT_LT(box->getWidth(), 800);
      box->handle(box, FXSEL(SEL_COMMAND, FXDialogBox::ID_ACCEPT), nullptr);
    }));
  });
  watcher->forgetApp();
  EXPECT_EQ(2, status);
  EXPECT_EQ(1, watcher->seen);
  EXPECT_TRUE(pictured);
}
