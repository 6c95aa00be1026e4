// The active-partition chooser.
#include "ActiveChooser.h"

#include "compat/Assert.h"

FXIMPLEMENT(mFXActiveChooser, FXPacker, nullptr, 0)

mFXActiveChooser::mFXActiveChooser(FXComposite* p)
    : FXPacker(p, LAYOUT_FILL_X, 0, 0, 0, 0, 2, 2, 2, 2, 4, 4), analyse(sharedAnalyser) {}

mFXActiveChooser::~mFXActiveChooser() {}

void mFXActiveChooser::AddRecoveredNames(FXint, const std::vector<FXString>&) {}

void mFXActiveChooser::SetStarts(FXint, const std::vector<FXulong>&) {}

std::vector<std::vector<FXulong>> mFXActiveChooser::GetActiveSelection() {
  return std::vector<std::vector<FXulong>>(boxes.size());
}
