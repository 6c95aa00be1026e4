// The disk chooser: every disk as one row of buttons (an information block,
// then one picture per partition and per stretch of free space, each as wide
// as its share of the disk).  The free-space chooser lets the user pick the
// stretches a search scans; the recovery chooser shows the partitions a
// search found there and lets the user pick those to restore.
#ifndef KV_DISKCHOOSER_H
#define KV_DISKCHOOSER_H

#include <fx.h>

#include <unordered_map>
#include <vector>

#include "Analyse.h"
#include "Candidates.h"
#include "Information.h"
#include "PartitionNames.h"
#include "Records.h"
#include "table/PartitionTable.h"

// Kinds of partition pictures.
enum {
  KIND_PRIMARY = 0,   // an entry of the MBR
  KIND_LOGICAL = 1,   // an entry of an extended chain
  KIND_FREE = 2,      // free space or a found partition, not selected
  KIND_SELECTED = 3,  // the same, selected
};

// One selectable stretch of free space, or one slot for a found partition.
class FreeSpace {
public:
  FXint disk;       // index in the analyser's disk list
  FXulong start;    // first sector of the gap or of the found partition
  FXulong foundAt;  // found partition: the sector its structure was found at
  FXulong size;     // bytes in freeSpaces; sectors in gapSlots
  bool selected;
  bool logical;     // found partition lies in an extended chain
  FXint id;         // freeSpaces: image identifier; gapSlots: index of the first slot
  FXString text;    // found partition: its type name
  FXchar letter;    // found partition: drive letter, ' ' when none
  FXString name;    // found partition, chosen: the Linux name it will have ("sdb5"); else empty
  FXint candidate;  // found partition: its index among the chooser's candidates; -1 otherwise

  FreeSpace(FXint d, FXulong ss, FXulong s, FXint id);
};

// The display text of a byte count: the engine's SizeText, under the name the
// widgets use.
inline FXString formatSize(FXulong bytes) { return SizeText(bytes); }

class mFXDiskChooser : public FXPacker, private Information {
  FXDECLARE(mFXDiskChooser)

public:
  enum {
    // The list of found partitions.  It lies below the picture identifiers so
    // that no picture, however many there are, shares its identifier.
    ID_LISTTABLE = FXPacker::ID_LAST,
    // "Show contents" below the list.
    ID_SHOWCONTENTS,
    // Beside it: whether the current row's partition becomes primary or logical.
    ID_ROLE,
    // Picture n has identifier ID_PARTIMAGE + n.  Message identifiers are 16
    // bits wide, so pictures beyond ID_PARTIMAGE_LAST share the last one;
    // the handlers find a picture by its sender, never by its identifier.
    ID_PARTIMAGE,
    ID_PARTIMAGE_LAST = 65535,
  };

  static const FXint SLOTS_PER_GAP = 64;

  std::vector<RecoverPart>* recoverList;  // set by the wizard; not owned
  bool locked;  // recovery chooser: while set, clicks and list selections change nothing
  // Recovery chooser: where a tick that unticks overlapping partitions says
  // so; set by the wizard, may stay null.
  FXLabel* statusLine;

  mFXDiskChooser(FXComposite* p, FXText* infoText, FXbool recoverMode);
  virtual ~mFXDiskChooser();
  virtual void create();

  // Moves the list of found partitions under `p` and shows it.
  void SetChooserParent(FXComposite* p);
  // Sets `locked`; locked pictures lie flat and do not press, since a click
  // would change nothing.
  void setLocked(bool lock);

  // --- selection, read by the wizard and the search ---
  bool GetFreeSpaceProperties(FXint index, FXint* disk, FXulong* start, FXulong* end);
  FXuint GetSumSteps();
  FXulong GetSumSectors(bool quick);
  FXString GetSelectedPartitionName(FXint index);
  std::vector<FXString> getFreeSpacePartitions();
  void updateFreeSpacePartition(FXText* text);
  void setFreeSpacePartition(FXint id, bool set);

  // --- search results, placed on the recovery chooser ---
  bool ClearRecoverPartitions();
  bool SetRecoverPartitions(FXint disk, const std::vector<FXulong>& sectors);
  // Every partition the search found, shown or not, chosen or not.
  const std::vector<VolumeSpan>& GetFoundVolumes() const { return foundVolumes; }
  // How the partition of a list row is to be placed; false for no such row.
  bool SetRoleAtRow(FXint row, PlacementRole role);
  PlacementRole RoleAtRow(FXint row) const;
  // Why the chosen partitions cannot be laid out as asked, in the user's
  // language; empty while they can.
  const FXString& GetLayoutRefusal() const { return refusal; }
  // Per disk, in the analyser's order: the table a disk without one gets
  // (see TableToWrite), which the names of its chosen partitions follow.
  void SetNewTables(const std::vector<TableKind>& tables);

  // --- pictures ---
  // `placedAs`: for a chosen found partition, KIND_PRIMARY or KIND_LOGICAL
  // as the writer would place it; -1 otherwise.
  FXIcon* drawPartImageIcon(FXint kind, FXint w, FXint h, FXint placedAs = -1);

  // --- message handlers ---
  long onPartImageConfigure(FXObject* sender, FXSelector sel, void* ptr);
  long onPartImageDestroy(FXObject* sender, FXSelector sel, void* ptr);
  long onPartImageClicked(FXObject* sender, FXSelector sel, void* ptr);
  long onm_listtableSelect(FXObject* sender, FXSelector sel, void* ptr);
  long onListDestroy(FXObject* sender, FXSelector sel, void* ptr);
  // Opens the read-only browser of the list's current partition.
  long onShowContents(FXObject* sender, FXSelector sel, void* ptr);
  long onUpdShowContents(FXObject* sender, FXSelector sel, void* ptr);
  long onCmdRole(FXObject* sender, FXSelector sel, void* ptr);
  long onUpdRole(FXObject* sender, FXSelector sel, void* ptr);

  // --- read access, for the wizard and tests ---
  bool isRecoverMode() const { return recoverMode; }
  FXIconList* getFoundList() const { return foundList; }
  // The found partition of a list row: false for none.
  bool FoundAtRow(FXint row, FXint& disk, FXulong& start, FXulong& sectors) const;
  FXHorizontalFrame* getDiskView() const { return diskView; }
  FXHorizontalFrame* getLegend() const { return legend; }
  FXIcon* getCheckedIcon() const { return checkedIcon; }
  FXIcon* getUncheckedIcon() const { return uncheckedIcon; }
  const std::vector<FXButton*>& getImages() const { return images; }
  const std::vector<FXint>& getImageKinds() const { return imageKinds; }
  // Per picture: as what a chosen found partition would be written (see drawPartImageIcon).
  const std::vector<FXint>& getPlacements() const { return placedAs; }
  FXButton* getContentsButton() const { return contentsButton; }
  FXListBox* getRoleBox() const { return roleBox; }
  FXLabel* getRoleLabel() const { return roleLabel; }
  const std::vector<FreeSpace>& getFreeSpaces() const { return freeSpaces; }
  const std::vector<FreeSpace>& getGapSlots() const { return gapSlots; }
  // Index in getImages() of a picture button, -1 for any other object.
  FXint imageIndex(const FXObject* sender) const;

protected:
  mFXDiskChooser() {}

  Analyse* analyse;
  FXIconList* foundList;
  FXHorizontalFrame* listActions = nullptr;  // the row below the list
  FXButton* contentsButton = nullptr;  // "Show contents", below the list
  FXListBox* roleBox = nullptr;        // automatic, primary or logical, beside it
  FXLabel* roleLabel = nullptr;        // names the partition the box acts on
  FXIcon* checkedIcon;
  FXIcon* uncheckedIcon;
  FXHorizontalFrame* diskView;
  FXHorizontalFrame* legend;
  std::vector<FXint> imageKinds;
  std::vector<FXint> placedAs;
  std::vector<FXButton*> images;
  std::vector<FreeSpace> freeSpaces;
  std::vector<FreeSpace> gapSlots;
  std::vector<Candidate> candidates;  // every partition the search found, shown or not
  std::vector<VolumeSpan> foundVolumes;  // the same, as the writer keeps them free
  FXText* infoText;
  bool recoverMode;
  std::vector<FXString> untickedNow;  // found partitions the last selection unticked
  FXString untickNote;  // the status line's word on them
  FXString refusal;     // see GetLayoutRefusal
  std::vector<TableKind> newTables;  // see SetNewTables

private:
  mFXDiskChooser(const mFXDiskChooser&);
  mFXDiskChooser& operator=(const mFXDiskChooser&);

  FXVerticalFrame* content;         // holds the disk rows
  FXIcon* diskIcon;                 // shared by the rows' information blocks
  std::vector<FXIcon*> legendIcons;
  std::unordered_map<const FXObject*, FXint> imageIndices;

  void buildFoundList(FXComposite* frame);
  void buildLegend(FXComposite* frame);
  void buildRow(FXint disk, const FXString& model, FXint& j);
  void updateGaps(const Gap& gap, FXint disk, FXint* j, FXint behind, FXComposite* row);
  FXButton* addImage(FXComposite* row, const FXString& label, FXint width, FXint kind, FXint& j);
  void redrawImage(FXint index);
  void toggleImage(FXint index);
  FXint freeSpaceIndex(FXint id) const;
  void refreshListIcons();
  void fitColumns();
  FXString describeFound(const FreeSpace& r) const;
  FXint gapSlotOf(FXint disk, FXulong sector) const;
  FXint nextFreeSlot(FXint gap) const;
  void fillSlot(FXint index, FreeSpace& record, FXint candidate, FXulong capacity);
  void buildListActions(FXComposite* p);
  FXString foundRowText(const FreeSpace& record);
  FXString slotText(const FreeSpace& record) const;
  void setSlotTip(const FreeSpace& record);
  void showSlotText(const FreeSpace& record);
  std::vector<FXString> plannedNames(const NRD& disk, const RecoveryChoice& choice,
                                     const LayoutPlan& plan, const std::vector<size_t>& which);
  const FreeSpace* recordAtRow(FXint row) const;
  std::vector<RecoverPart> chosenParts(std::vector<FXint>* images) const;
  void followPlan();
  void showStatus();
};

#endif
