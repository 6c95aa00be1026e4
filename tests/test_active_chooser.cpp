// The active-partition chooser: one box per disk with its primary partitions
// and the partitions chosen for recovery, and the answer read from it.
#include <gtest/gtest.h>

#include "ActiveChooser.h"
#include "PartitionNames.h"
#include "support/Engine.h"
#include "support/Gui.h"

using namespace kvtest;

namespace {

class Active : public ::testing::Test {
protected:
  void SetUp() override {
    NRD a = diskRecord("a.img", "Disk with a table", 4000000);
    a.partitions.push_back(partitionRecord(0x07, 1, 0, 2048, 100000, 0, 'C'));
    a.partitions.push_back(partitionRecord(0x0F, 1, 0, 200000, 1000000, 1));
    a.partitions.push_back(partitionRecord(0x83, 2, 200000, 2048, 50000, 2));
    a.partitions.push_back(partitionRecord(0x0C, 1, 0, 1500000, 100000, 3));
    disks.addRecord(a);
    NRD b = diskRecord("b.img", "Blank disk", 2000000);
    disks.addRecord(b);
  }
  void TearDown() override {
    delete window;
    Information::ReleaseFonts(guiApp());  // the chooser sets the language's font
  }

  void build() {
    window = new FXMainWindow(guiApp(), "active", nullptr, nullptr, DECOR_ALL, 0, 0, 500, 260);
    chooser = new mFXActiveChooser(window);
    window->create();
    window->show();
    pumpFor(0.2);
  }
  FXListBox* box(int disk) { return chooser->getBoxes()[disk]; }

  DiskSet disks;
  FXMainWindow* window = nullptr;
  mFXActiveChooser* chooser = nullptr;
};

TEST_F(Active, PrimaryAndRecoveredPartitionsPerDiskAndTheAnswer) {
  build();
  ASSERT_EQ(chooser->getBoxes().size(), 2u);
  ASSERT_EQ(box(0)->getNumItems(), 3);  // no choice, the two primary volumes
  EXPECT_EQ(box(0)->getItemText(0), disks.analyser().GetString("ActiveChooser.mFXActiveChooser.002"));
  EXPECT_EQ(box(0)->getItemText(1), PrimaryPartitionNames(disks.analyser().disks[0])[0]);
  EXPECT_EQ(box(1)->getNumItems(), 1);
  // A choice read before the starts are known gives an empty answer.
  box(0)->setCurrentItem(1);
  EXPECT_TRUE(chooser->GetActiveSelection()[0].empty());

  chooser->AddRecoveredNames(0, {"NTFS F:", "FAT32   "});
  chooser->SetStarts(0, {3000000, 3500000});
  chooser->AddRecoveredNames(1, {"Linux   "});
  chooser->SetStarts(1, {63});
  chooser->AddRecoveredNames(7, {"x"});  // no such disk: nothing happens
  chooser->SetStarts(-1, {1});
  ASSERT_EQ(box(0)->getNumItems(), 5);
  EXPECT_EQ(box(0)->getItemText(3), "* NTFS F:");
  EXPECT_EQ(box(0)->getNumVisible(), 5);  // every item in sight
  EXPECT_TRUE(saveScreenshot(window, "active-chooser"));
  box(0)->setCurrentItem(2);
  box(1)->setCurrentItem(1);
  std::vector<std::vector<FXulong>> answer = chooser->GetActiveSelection();
  EXPECT_EQ(answer[0], std::vector<FXulong>{1500000});  // the second primary partition
  EXPECT_EQ(answer[1], std::vector<FXulong>{63});
  box(0)->setCurrentItem(4);
  EXPECT_EQ(chooser->GetActiveSelection()[0], std::vector<FXulong>{3500000});

  // Passing the disk again replaces its recovered items and resets its choice.
  chooser->AddRecoveredNames(0, {"Linux   "});
  chooser->SetStarts(0, {3000000});
  ASSERT_EQ(box(0)->getNumItems(), 4);
  EXPECT_EQ(box(0)->getItemText(3), "* Linux   ");
  EXPECT_TRUE(chooser->GetActiveSelection()[0].empty());
  chooser->AddRecoveredNames(1, {});
  EXPECT_EQ(box(1)->getNumItems(), 1);
  EXPECT_EQ(chooser->GetActiveSelection(), std::vector<std::vector<FXulong>>(2));

  // A disk whose table has no active partition (a GPT) shows a line saying
  // so in place of its box, and answers no choice, whatever its box held.
  box(0)->setCurrentItem(1);
  chooser->OfferChoice(0, false);
  EXPECT_FALSE(box(0)->shown());
  EXPECT_TRUE(chooser->getNoChoiceLines()[0]->shown());
  EXPECT_TRUE(chooser->GetActiveSelection()[0].empty());
  chooser->OfferChoice(0, true);
  EXPECT_TRUE(box(0)->shown());
  EXPECT_FALSE(chooser->getNoChoiceLines()[0]->shown());
  EXPECT_EQ(0, box(0)->getCurrentItem()) << "the box starts again from leaving it as it is";
}

}  // namespace
