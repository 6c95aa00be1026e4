// The active-partition chooser.
#include "ActiveChooser.h"

#include "PartitionNames.h"
#include "WrapLabel.h"
#include "compat/Assert.h"

FXIMPLEMENT(mFXActiveChooser, FXPacker, nullptr, 0)

mFXActiveChooser::mFXActiveChooser(FXComposite* p)
    : FXPacker(p, LAYOUT_FILL_X, 0, 0, 0, 0, 2, 2, 2, 2, 4, 4), analyse(sharedAnalyser) {
  SetLanguage(getApp(), analyse ? analyse->language : language);
  KV_TRACE(5, "mFXActiveChooser::mFXActiveChooser() constructor\n");
  FXVerticalFrame* frame =
      new FXVerticalFrame(this, FRAME_GROOVE | LAYOUT_FILL_X, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
  new WrapLabel(frame, GetString("ActiveChooser.mFXActiveChooser.001"), nullptr,
                ICON_BEFORE_TEXT | LAYOUT_FILL_X | JUSTIFY_LEFT, 0, 0, 0, 0, 2, 2, 2, 2);
  std::vector<FXString> models;
  if (analyse) models = analyse->GetDeviceNames(true);
  for (FXint disk = 0; disk < (FXint)models.size(); disk++) {
    // The disk as Linux names it, then its model.
    new FXLabel(frame, DeviceShortName(analyse->disks[disk].device) + "  " + models[disk].trimEnd(), nullptr,
                LAYOUT_CENTER_X | LAYOUT_CENTER_Y, 0, 0, 0, 0, 2, 2, 2, 2);
    FXListBox* box = new FXListBox(frame, nullptr, 0, FRAME_GROOVE | LAYOUT_CENTER_X | LAYOUT_CENTER_Y,
                                   0, 0, 0, 0, 2, 2, 2, 2);
    boxes.push_back(box);
    box->appendItem(GetString("ActiveChooser.mFXActiveChooser.002"));
    // The partitions by the names Linux gives them.
    for (const FXString& name : PrimaryPartitionNames(analyse->disks[disk])) box->appendItem(name);
    box->setNumVisible(box->getNumItems());
    noChoice.push_back(new WrapLabel(frame, GetString("ActiveChooser.mFXActiveChooser.004"), nullptr,
                                     LAYOUT_FILL_X | JUSTIFY_CENTER_X, 0, 0, 0, 0, 2, 2, 2, 2));
    noChoice.back()->hide();
  }
  new WrapLabel(frame, GetString("ActiveChooser.mFXActiveChooser.003"), nullptr,
                ICON_BEFORE_TEXT | LAYOUT_FILL_X | JUSTIFY_LEFT, 0, 0, 0, 0, 2, 2, 2, 2);
  starts.resize(boxes.size());
}

mFXActiveChooser::~mFXActiveChooser() {
  KV_TRACE(5, "mFXActiveChooser::~mFXActiveChooser() destructor\n");
}

void mFXActiveChooser::AddRecoveredNames(FXint disk, const std::vector<FXString>& names) {
  if (disk < 0 || disk >= (FXint)boxes.size()) return;
  FXListBox* box = boxes[disk];
  for (FXint i = 0; i < box->getNumItems(); i++) {
    if (box->getItemText(i).left(1) != "*") continue;
    while (box->getNumItems() > i) box->removeItem(box->getNumItems() - 1);
    break;
  }
  box->setCurrentItem(0, FALSE);
  for (const FXString& name : names) box->appendItem("* " + name);
  box->setNumVisible(box->getNumItems());
}

void mFXActiveChooser::SetStarts(FXint disk, const std::vector<FXulong>& recovered) {
  if (disk < 0 || disk >= (FXint)starts.size()) return;
  starts[disk] = analyse->GetPrimaryStarts(disk);
  starts[disk].insert(starts[disk].end(), recovered.begin(), recovered.end());
}

void mFXActiveChooser::OfferChoice(FXint disk, bool offered) {
  if (disk < 0 || disk >= (FXint)boxes.size()) return;
  if (offered) {
    boxes[disk]->show();
    noChoice[disk]->hide();
  } else {
    boxes[disk]->setCurrentItem(0, FALSE);
    boxes[disk]->hide();
    noChoice[disk]->show();
  }
  recalc();
}

std::vector<std::vector<FXulong>> mFXActiveChooser::GetActiveSelection() {
  std::vector<std::vector<FXulong>> selection(boxes.size());
  for (size_t k = 0; k < boxes.size(); k++) {
    FXint c = boxes[k]->getCurrentItem();
    if (c <= 0) continue;
    // A box whose starts were not handed over yet has nothing to offer.
    if ((size_t)c - 1 < starts[k].size()) selection[k].push_back(starts[k][c - 1]);
  }
  return selection;
}
