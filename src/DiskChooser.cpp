// The disk chooser.
#include "DiskChooser.h"

#include "compat/Assert.h"

FreeSpace::FreeSpace(FXint d, FXulong ss, FXulong s, FXint id)
    : disk(d), start(ss), foundAt(0), size(s), selected(false), logical(false), id(id),
      letter(' ') {}

FXString formatSize(FXulong) { return FXString(); }

FXDEFMAP(mFXDiskChooser) mFXDiskChooserMap[] = {
    FXMAPFUNC(SEL_SELECTED, mFXDiskChooser::ID_LISTTABLE, mFXDiskChooser::onm_listtableSelect),
};

FXIMPLEMENT(mFXDiskChooser, FXPacker, mFXDiskChooserMap, ARRAYNUMBER(mFXDiskChooserMap))

mFXDiskChooser::mFXDiskChooser(FXComposite* p, FXText* infoText, FXbool recoverMode)
    : FXPacker(p, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 2, 2, 2, 2, 4, 4),
      recoverList(nullptr), locked(false), analyse(sharedAnalyser), foundList(nullptr),
      checkedIcon(nullptr), uncheckedIcon(nullptr), diskView(nullptr), legend(nullptr),
      infoText(infoText), recoverMode(recoverMode), lastLetter(0), content(nullptr) {}

mFXDiskChooser::~mFXDiskChooser() {}

void mFXDiskChooser::create() { FXPacker::create(); }

void mFXDiskChooser::SetChooserParent(FXComposite*) {}

bool mFXDiskChooser::GetFreeSpaceProperties(FXint, FXint*, FXulong*, FXulong*) { return false; }
FXuint mFXDiskChooser::GetSumSteps() { return (FXuint)freeSpaces.size(); }
FXulong mFXDiskChooser::GetSumSectors(bool) { return 0; }
FXString mFXDiskChooser::GetSelectedPartitionName(FXint) { return FXString(); }
std::vector<FXString> mFXDiskChooser::getFreeSpacePartitions() { return {}; }
void mFXDiskChooser::updateFreeSpacePartition(FXText*) {}
void mFXDiskChooser::setFreeSpacePartition(FXint, bool) {}
bool mFXDiskChooser::ClearRecoverPartitions() { return true; }
bool mFXDiskChooser::SetRecoverPartitions(FXint, const std::vector<FXulong>&) { return true; }
FXIcon* mFXDiskChooser::drawPartImageIcon(FXint, FXint, FXint) { return nullptr; }
long mFXDiskChooser::onPartImageConfigure(FXObject*, FXSelector, void*) { return 1; }
long mFXDiskChooser::onPartImageDestroy(FXObject*, FXSelector, void*) { return 1; }
long mFXDiskChooser::onPartImageClicked(FXObject*, FXSelector, void*) { return 0; }
long mFXDiskChooser::onm_listtableSelect(FXObject*, FXSelector, void*) { return 0; }
FXint mFXDiskChooser::imageIndex(const FXObject* sender) const {
  auto it = imageIndices.find(sender);
  return it == imageIndices.end() ? -1 : it->second;
}
void mFXDiskChooser::buildLegend(FXComposite*) {}
void mFXDiskChooser::buildRow(FXint, const FXString&, FXint&) {}
void mFXDiskChooser::updateGaps(const Gap&, FXint, FXint*, FXint, FXComposite*) {}
FXButton* mFXDiskChooser::addImage(FXComposite*, const FXString&, FXint, FXint, FXint&) {
  return nullptr;
}
void mFXDiskChooser::redrawImage(FXint) {}
void mFXDiskChooser::toggleImage(FXint) {}
FXint mFXDiskChooser::freeSpaceIndex(FXint) const { return -1; }
void mFXDiskChooser::refreshListIcons() {}
