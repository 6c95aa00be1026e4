// The wizard's read-only browser of a found partition, on a FAT16 volume
// filled with mcopy inside a disk image: the root's entries, a folder
// opened and left again, and a volume with nothing to list.
#include <gtest/gtest.h>

#include "ContentsDialog.h"
#include "support/Gui.h"
#include "support/LostDisk.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

const FXulong START = 2048, SECTORS = 32768;

class Browser : public ::testing::Test {
protected:
  TempDir dir;
  std::string image = dir.path("disk.img");
  FXMainWindow* window = nullptr;

  void SetUp() override {
    if (!haveTool("mcopy")) GTEST_SKIP() << "mcopy is not installed";
    makeImage(image, (START + SECTORS) * 512);
    ASSERT_TRUE(writeFilledFat16(image, START, SECTORS, "BROWSE", 77));
    window = new FXMainWindow(guiApp(), "browser", nullptr, nullptr, DECOR_ALL, 0, 0, 300, 200);
    window->create();
  }
  void TearDown() override { delete window; }

  std::vector<std::string> rows(ContentsDialog& d) {
    std::vector<std::string> names;
    for (FXint i = 0; i < d.getList()->getNumItems(); i++)
      names.push_back(d.getList()->getItemText(i).section('\t', 0).text());
    return names;
  }
};

TEST_F(Browser, ListsTheRootOpensAFolderAndGoesBack) {
  ContentsDialog dialog(window, image.c_str(), START + SECTORS, START, SECTORS);
  dialog.create();
  dialog.show(PLACEMENT_OWNER);
  pumpFor(0.2);
  EXPECT_NE(-1, dialog.getSummary()->getText().find("FAT16"));
  EXPECT_NE(-1, dialog.getSummary()->getText().find("BROWSE"));
  ASSERT_EQ((std::vector<std::string>{"hello.txt", "sub/"}), rows(dialog));
  EXPECT_EQ("6", std::string(dialog.getList()->getItemText(0).section('\t', 1).text()));
  saveScreenshot(&dialog, "contents_dialog");

  dialog.getList()->setCurrentItem(1);
  dialog.handle(window, FXSEL(SEL_COMMAND, ContentsDialog::ID_OPEN), nullptr);
  EXPECT_STREQ("/sub", dialog.getPath().text());
  ASSERT_EQ((std::vector<std::string>{"inner.bin"}), rows(dialog));
  EXPECT_EQ("77", std::string(dialog.getList()->getItemText(0).section('\t', 1).text()));

  // A file does not open; Up goes back to the root.
  dialog.getList()->setCurrentItem(0);
  dialog.handle(window, FXSEL(SEL_COMMAND, ContentsDialog::ID_OPEN), nullptr);
  EXPECT_STREQ("/sub", dialog.getPath().text());
  dialog.handle(window, FXSEL(SEL_COMMAND, ContentsDialog::ID_UP), nullptr);
  EXPECT_STREQ("/", dialog.getPath().text());
  EXPECT_EQ(2u, rows(dialog).size());
}

TEST_F(Browser, SaysWhyWhenNothingCanBeListed) {
  ContentsDialog dialog(window, image.c_str(), START + SECTORS, 100, 1000);
  dialog.create();
  EXPECT_EQ(0, dialog.getList()->getNumItems());
  EXPECT_EQ(dialog.getSummary()->getText(), Information().GetString("Contents.Open.001"));
}

}  // namespace
