// The active-partition chooser: for every disk a drop-down box with the
// disk's primary partitions and the partitions chosen for recovery (marked
// "* "), from which the user picks the one to boot from, or none.
#ifndef KV_ACTIVECHOOSER_H
#define KV_ACTIVECHOOSER_H

#include <fx.h>

#include <vector>

#include "Analyse.h"
#include "Information.h"

class mFXActiveChooser : public FXPacker, private Information {
  FXDECLARE(mFXActiveChooser)

public:
  explicit mFXActiveChooser(FXComposite* p);
  virtual ~mFXActiveChooser();

  // Replaces the recovered items of a disk's box and resets its choice.
  void AddRecoveredNames(FXint disk, const std::vector<FXString>& names);
  // The first sectors of the recovered partitions, in the order of the names.
  void SetStarts(FXint disk, const std::vector<FXulong>& recovered);
  // Offers the disk's box, or in its place says that its table (a GPT) has
  // no active partition.
  void OfferChoice(FXint disk, bool offered);
  // Per disk: empty for no choice, else the first sector of the chosen partition.
  std::vector<std::vector<FXulong>> GetActiveSelection();

  // --- read access, for tests ---
  const std::vector<FXListBox*>& getBoxes() const { return boxes; }
  // Per disk: the line shown instead of its box.
  const std::vector<FXLabel*>& getNoChoiceLines() const { return noChoice; }

protected:
  mFXActiveChooser() {}

  Analyse* analyse;
  std::vector<FXListBox*> boxes;
  std::vector<FXLabel*> noChoice;
  std::vector<std::vector<FXulong>> starts;

private:
  mFXActiveChooser(const mFXActiveChooser&);
  mFXActiveChooser& operator=(const mFXActiveChooser&);
};

#endif
