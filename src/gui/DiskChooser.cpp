// The disk chooser: rows of partition pictures, selection of free space and
// of found partitions, and the list of found partitions.
#include "DiskChooser.h"

#include <algorithm>

#include "ChooserIcons.h"
#include "ContentsDialog.h"
#include "FileSystem.h"
#include "PartImage.h"
#include "Placement.h"
#include "Recover.h"
#include "WrapLabel.h"
#include "compat/Assert.h"
#include "table/GptPartitionTable.h"
#include "table/PartitionTable.h"

namespace {

const FXint ROW_WIDTH = 460;        // pixels a whole disk would take in a row
const FXint IMAGE_HEIGHT = 64;
const FXint IMAGE_MIN_WIDTH = 64;   // a partition or stretch of free space
const FXint SLOT_MIN_WIDTH = 32;    // a found partition
const FXint INFO_WIDTH = 148, INFO_HEIGHT = 64;
const FXint IMAGE_CHECK_LIMIT = 1000;
const FXColor INFO_BACKGROUND = FXRGB(255, 240, 216);
const FXint COLUMN_MARGIN = 16;     // pixels a list column keeps beside its widest text

// The words of the placement choices, in the order of PlacementRole.
const char* const ROLE_KEYS[] = {"DiskChooser.buildListActions.003", "DiskChooser.buildListActions.004",
                                 "DiskChooser.buildListActions.005"};

// The width of a picture: its share of the disk's row.  Shares too small to
// show their text, or nonsense from a damaged table, get `minimum`.
FXint shareWidth(FXulong bytes, FXulong capacity, FXint minimum) {
  if (capacity == 0) return minimum;
  FXint width = (FXint)((double)bytes / (double)capacity * ROW_WIDTH);
  return (width < minimum || width > ROW_WIDTH) ? minimum : width;
}

// The label of a picture: its lines cut to the picture's width, the whole
// text as its tooltip.
void setPictureText(FXButton* image, const FXString& text, FXint width) {
  SetElidedText(image, "\n" + text, width);
  image->setTipText(text);
}

// The row frame that holds a picture; its layout follows shown and hidden pictures.
void relayoutRow(FXWindow* image) {
  FXWindow* row = image->getParent();
  row->recalc();
  row->layout();
}

}  // namespace

FreeSpace::FreeSpace(FXint d, FXulong ss, FXulong s, FXint id)
    : disk(d), start(ss), foundAt(0), size(s), selected(false), logical(false), id(id),
      letter(' '), candidate(-1) {
  KV_TRACE(5, "FreeSpace::FreeSpace( d=%d, ss=%.0lf, s=%.0lf, id=%d ) constructor\n", d,
           (double)ss, (double)s, id);
}

FXDEFMAP(mFXDiskChooser) mFXDiskChooserMap[] = {
    FXMAPFUNCS(SEL_CONFIGURE, mFXDiskChooser::ID_PARTIMAGE, mFXDiskChooser::ID_PARTIMAGE_LAST,
               mFXDiskChooser::onPartImageConfigure),
    FXMAPFUNCS(SEL_DESTROY, mFXDiskChooser::ID_PARTIMAGE, mFXDiskChooser::ID_PARTIMAGE_LAST,
               mFXDiskChooser::onPartImageDestroy),
    FXMAPFUNCS(SEL_LEFTBUTTONPRESS, mFXDiskChooser::ID_PARTIMAGE,
               mFXDiskChooser::ID_PARTIMAGE_LAST, mFXDiskChooser::onPartImageClicked),
    FXMAPFUNC(SEL_SELECTED, mFXDiskChooser::ID_LISTTABLE, mFXDiskChooser::onm_listtableSelect),
    FXMAPFUNC(SEL_DESTROY, mFXDiskChooser::ID_LISTTABLE, mFXDiskChooser::onListDestroy),
    FXMAPFUNC(SEL_DOUBLECLICKED, mFXDiskChooser::ID_LISTTABLE, mFXDiskChooser::onShowContents),
    FXMAPFUNC(SEL_COMMAND, mFXDiskChooser::ID_SHOWCONTENTS, mFXDiskChooser::onShowContents),
    FXMAPFUNC(SEL_UPDATE, mFXDiskChooser::ID_SHOWCONTENTS, mFXDiskChooser::onUpdShowContents),
    FXMAPFUNC(SEL_COMMAND, mFXDiskChooser::ID_ROLE, mFXDiskChooser::onCmdRole),
    FXMAPFUNC(SEL_UPDATE, mFXDiskChooser::ID_ROLE, mFXDiskChooser::onUpdRole),
};

FXIMPLEMENT(mFXDiskChooser, FXPacker, mFXDiskChooserMap, ARRAYNUMBER(mFXDiskChooserMap))

// The list of found partitions may be moved to another page and outlive the
// chooser, or die first with that page; each side tells the other when it goes.
class FoundList : public FXIconList {
  FXDECLARE(FoundList)

public:
  FoundList(FXComposite* p, FXObject* tgt, FXSelector sel, FXuint opts)
      : FXIconList(p, tgt, sel, opts) {}
  virtual ~FoundList() {
    if (target) target->tryHandle(this, FXSEL(SEL_DESTROY, message), nullptr);
  }

protected:
  FoundList() {}
};

FXIMPLEMENT(FoundList, FXIconList, nullptr, 0)

// ---------------------------------------------------------------------------
// Construction

mFXDiskChooser::mFXDiskChooser(FXComposite* p, FXText* infoText, FXbool recoverMode)
    : FXPacker(p, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 2, 2, 2, 2, 4, 4),
      recoverList(nullptr), locked(false), statusLine(nullptr), analyse(sharedAnalyser), foundList(nullptr),
      checkedIcon(nullptr), uncheckedIcon(nullptr), diskView(nullptr), legend(nullptr),
      infoText(infoText), recoverMode(recoverMode), content(nullptr),
      diskIcon(nullptr) {
  SetLanguage(getApp(), analyse ? analyse->language : language);
  KV_TRACE(5, "mFXDiskChooser::mFXDiskChooser() constructor\n");
  KV_TRACE(5, "mFXDiskChooser::ID_PARTIMAGE=%d\n", (FXint)ID_PARTIMAGE);
  std::vector<FXString> models;
  if (analyse) models = analyse->GetDeviceNames(true);

  FXVerticalFrame* frame =
      new FXVerticalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4);
  if (recoverMode) buildFoundList(frame);

  diskView = new FXHorizontalFrame(frame, FRAME_SUNKEN | FRAME_THICK | LAYOUT_FILL_X | LAYOUT_FILL_Y,
                                   0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
  FXScrollWindow* scroll = new FXScrollWindow(diskView, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  content = new FXVerticalFrame(scroll, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4);

  buildLegend(frame);

  diskIcon = ChooserIcons::makeIcon(getApp(), ChooserIcons::diskPixels(INFO_BACKGROUND),
                                    ChooserIcons::DISK_WIDTH, ChooserIcons::DISK_HEIGHT);
  FXint j = 0;
  for (FXint d = 0; d < (FXint)models.size(); d++) buildRow(d, models[d], j);

  checkedIcon = ChooserIcons::makeIcon(getApp(), ChooserIcons::boxPixels(true),
                                       ChooserIcons::BOX_SIZE, ChooserIcons::BOX_SIZE);
  uncheckedIcon = ChooserIcons::makeIcon(getApp(), ChooserIcons::boxPixels(false),
                                         ChooserIcons::BOX_SIZE, ChooserIcons::BOX_SIZE);
  if (foundList) foundList->hide();
  KV_TRACE(5, "mFXDiskChooser::mFXDiskChooser constructor end\n");
}

void mFXDiskChooser::buildFoundList(FXComposite* frame) {
  foundList = new FoundList(frame, this, ID_LISTTABLE,
                            ICONLIST_DETAILED | ICONLIST_EXTENDEDSELECT | LAYOUT_FILL_X | LAYOUT_FILL_Y);
  static const char* const headers[] = {"DiskChooser.mFXDiskChooser.009", "DiskChooser.mFXDiskChooser.008",
                                        "DiskChooser.mFXDiskChooser.007", "DiskChooser.mFXDiskChooser.006",
                                        "DiskChooser.mFXDiskChooser.010", "DiskChooser.mFXDiskChooser.011",
                                        "DiskChooser.mFXDiskChooser.012"};
  for (const char* key : headers) foundList->appendHeader(GetString(key), nullptr, 0);
  // The headers name the columns; they sort nothing, so they do not look
  // like buttons.
  foundList->getHeader()->setHeaderStyle(HEADER_TRACKING | HEADER_RESIZE);
  foundList->getHeader()->setFrameStyle(FRAME_NONE);
  fitColumns();
}

// Each column as wide as its widest text, header or row.
void mFXDiskChooser::fitColumns() {
  if (!foundList) return;
  FXHeader* header = foundList->getHeader();
  FXFont* font = foundList->getFont();
  FXFont* headerFont = header->getFont();
  if (!font || !font->id() || !headerFont || !headerFont->id()) {
    for (FXint c = 0; c < header->getNumItems(); c++) header->setItemSize(c, 140);
    return;
  }
  for (FXint c = 0; c < header->getNumItems(); c++) {
    FXint widest = headerFont->getTextWidth(header->getItemText(c));
    for (FXint i = 0; i < foundList->getNumItems(); i++) {
      FXint w = font->getTextWidth(foundList->getItemText(i).section('\t', c));
      // The first column also holds the tick box.
      if (c == 0 && foundList->getItemMiniIcon(i)) w += foundList->getItemMiniIcon(i)->getWidth() + 4;
      widest = FXMAX(widest, w);
    }
    header->setItemSize(c, widest + COLUMN_MARGIN);
  }
}

void mFXDiskChooser::buildLegend(FXComposite* frame) {
  legend = new FXHorizontalFrame(frame, LAYOUT_FIX_HEIGHT, 0, 0, 0, 32, 0, 0, 0, 0, 4, 4);
  struct Entry {
    FXColor colour;
    const char* key;
  };
  const Entry entries[] = {
      {PartImage::PRIMARY_COLOUR, "DiskChooser.mFXDiskChooser.001"},
      {PartImage::LOGICAL_COLOUR, "DiskChooser.mFXDiskChooser.002"},
      {FXRGB(96, 255, 112),
       recoverMode ? "DiskChooser.mFXDiskChooser.004" : "DiskChooser.mFXDiskChooser.003"},
      {FXRGB(240, 112, 112), "DiskChooser.mFXDiskChooser.005"},
  };
  for (const Entry& e : entries) {
    FXIcon* square = ChooserIcons::makeIcon(getApp(), ChooserIcons::legendPixels(e.colour),
                                            ChooserIcons::LEGEND_SIZE, ChooserIcons::LEGEND_SIZE);
    legendIcons.push_back(square);
    new FXLabel(legend, GetString(e.key), square, ICON_BEFORE_TEXT | LAYOUT_CENTER_Y, 0, 0, 0, 0, 2,
                8, 2, 2);
  }
}

void mFXDiskChooser::buildRow(FXint d, const FXString& model, FXint& j) {
  FXHorizontalFrame* row =
      new FXHorizontalFrame(content, LAYOUT_FILL_X, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
  FXulong capacity = analyse->GetCapacity(d);
  FXString trimmed = model;
  trimmed.trim();

  FXVerticalFrame* info = new FXVerticalFrame(row, FRAME_RAISED | LAYOUT_FIX_WIDTH | LAYOUT_FIX_HEIGHT,
                                              0, 0, INFO_WIDTH, INFO_HEIGHT, 0, 0, 0, 0, 4, 4);
  // The disk by the name Linux knows it under (the device, or the image
  // file), its size and its model; whatever is too long for the block is
  // cut, and its tooltip shows all of it.
  const FXString device = analyse->disks[d].device;
  FXString number, whole;
  number.format("%d  %s", d + 1, DeviceShortName(device).text());
  whole.format("%s\n%s", device.text(), trimmed.text());
  FXLabel* labels[] = {
      new FXLabel(info, FXString::null, diskIcon, ICON_BEFORE_TEXT | JUSTIFY_LEFT | LAYOUT_FILL_X, 0,
                  0, 0, 0, 2, 2, 2, 2),
      new FXLabel(info, formatSize(capacity), nullptr, JUSTIFY_LEFT | LAYOUT_FILL_X, 0, 0, 0, 0, 2,
                  2, 2, 2),
      new FXLabel(info, FXString::null, nullptr, JUSTIFY_LEFT | LAYOUT_FILL_X, 0, 0, 0, 0, 2, 2, 2,
                  2),
  };
  const FXint inside = INFO_WIDTH - 2 * info->getBorderWidth();
  SetElidedText(labels[0], number, inside);
  SetElidedText(labels[2], trimmed, inside);
  info->setBackColor(INFO_BACKGROUND);
  for (FXLabel* l : labels) {
    l->setBackColor(INFO_BACKGROUND);
    l->setTipText(whole);
  }

  KV_TRACE(6, "mFXDiskChooser::mFXDiskChooser check empty partition table or first\n");
  for (const Gap& gap : analyse->GetGap(d, -1, false)) updateGaps(gap, d, &j, -1, row);

  std::vector<Partition> parts = analyse->GetPartitions(d);
  PartitionNumbers known(parts);
  for (FXint i = 0; i < (FXint)parts.size(); i++) {
    const Partition& p = parts[i];
    if (!p.isExtended()) {
      FXulong bytes = (FXulong)p.entry.num * SECTOR_SIZE;
      FXString text;
      text.format("%s\n%s %s", LinuxPartitionName(device, known.numberOf(i)).text(),
                  formatSize(bytes).text(), PartitionTypeText(p.entry.type).text());
      FXint kind = p.l == 1 ? KIND_PRIMARY : KIND_LOGICAL;
      if (kind == KIND_PRIMARY)
        KV_TRACE(6, "mFXDiskChooser::mFXDiskChooser partition %d. is primary\n", i);
      else
        KV_TRACE(6, "mFXDiskChooser::mFXDiskChooser partition %d. is logical\n", i);
      FXASSERT(( j < 1000 ));
      FXint width = shareWidth(bytes, capacity, IMAGE_MIN_WIDTH);
      setPictureText(addImage(row, FXString::null, width, kind, j), text, width);
    }
    for (const Gap& gap : analyse->GetGap(d, i, false)) updateGaps(gap, d, &j, i, row);
  }

  KV_TRACE(6, "mFXDiskChooser::mFXDiskChooser check last\n");
  FXint n = (FXint)parts.size();
  for (const Gap& gap : analyse->GetGap(d, n, true)) updateGaps(gap, d, &j, n, row);

  // A GPT that cannot be used offers nothing to choose; its row says why.
  if (!PartitionTable::Of(analyse->disks[d]).Usable(analyse->disks[d]))
    new FXLabel(row, GetString("DiskChooser.buildRow.001"), nullptr, LAYOUT_CENTER_Y | JUSTIFY_LEFT);
}

void mFXDiskChooser::updateGaps(const Gap& gap, FXint disk, FXint* j, FXint behind,
                                FXComposite* row) {
  KV_TRACE(5, "mFXDiskChooser::updateGaps\n");
  // A GPT that cannot be used is never searched nor written.
  const NRD& d = analyse->disks[disk];
  if (gap.size == 0 || !PartitionTable::Of(d).Usable(d)) return;
  if (!recoverMode) {
    KV_TRACE(6, "mFXDiskChooser::mFXDiskChooser found gap %.0lf sectors\n", (double)gap.size);
    KV_TRACE(6, "mFXDiskChooser::mFXDiskChooser disk %d setting ID=%d\n", disk, ID_PARTIMAGE + *j);
    KV_TRACE(6, "mFXDiskChooser::mFXDiskChooser distance %.0lf sectors\n", (double)gap.distance);
    FXulong bytes = gap.size * SECTOR_SIZE;
    freeSpaces.push_back(FreeSpace(disk, gap.distance, bytes, ID_PARTIMAGE + *j));
    FXString text = Format("DiskChooser.updateGaps.001", formatSize(bytes).text());
    FXint width = shareWidth(bytes, analyse->GetCapacity(disk), IMAGE_MIN_WIDTH);
    setPictureText(addImage(row, FXString::null, width, KIND_FREE, *j), text, width);
    FXASSERT(( (*j) < 1000 ));
    KV_TRACE(6,
             "mFXDiskChooser::mFXDiskChooser after partition %d. there are %.0lf sectors of "
             "unallocated space\n",
             behind, (double)gap.size);
    return;
  }
  gapSlots.push_back(FreeSpace(disk, gap.distance, gap.size, (FXint)images.size()));
  for (FXint k = 0; k < SLOTS_PER_GAP; k++) {
    freeSpaces.push_back(FreeSpace(disk, 0, 0, ID_PARTIMAGE + *j));
    addImage(row, FXString::null, SLOT_MIN_WIDTH, KIND_FREE, *j)->hide();
  }
}

FXButton* mFXDiskChooser::addImage(FXComposite* row, const FXString& label, FXint width, FXint kind,
                                   FXint& j) {
  FXSelector selector = (FXSelector)std::min<FXint>(ID_PARTIMAGE + j, ID_PARTIMAGE_LAST);
  FXButton* image = new PartImageButton(row, label, this, selector, width, IMAGE_HEIGHT);
  imageIndices[image] = (FXint)images.size();
  images.push_back(image);
  imageKinds.push_back(kind);
  placedAs.push_back(-1);
  j++;
  return image;
}

mFXDiskChooser::~mFXDiskChooser() {
  // The pictures go first, while their buttons still exist; the buttons and
  // the rest of the window tree are deleted by the packer afterwards.
  for (FXButton* image : images) {
    image->setTarget(nullptr);
    FXIcon* picture = image->getIcon();
    image->setIcon(nullptr);
    delete picture;
  }
  if (foundList) {
    foundList->clearItems(FALSE);
    foundList->setTarget(nullptr);
  }
  if (contentsButton) contentsButton->setTarget(nullptr);
  if (roleBox) roleBox->setTarget(nullptr);
  delete checkedIcon;
  delete uncheckedIcon;
  for (FXIcon* icon : legendIcons) delete icon;
  delete diskIcon;
  KV_TRACE(5, "mFXDiskChooser::~mFXDiskChooser() destructor\n");
}

void mFXDiskChooser::create() {
  FXPacker::create();
  checkedIcon->create();
  uncheckedIcon->create();
}

void mFXDiskChooser::SetChooserParent(FXComposite* p) {
  KV_TRACE(5, "mFXDiskChooser::SetChooserParent()\n");
  if (!foundList) return;
  foundList->reparent(p, nullptr);
  foundList->show();
  // "Show contents" and the placement go with the list, below it.
  if (listActions)
    listActions->reparent(p, nullptr);
  else
    buildListActions(p);
}

void mFXDiskChooser::buildListActions(FXComposite* p) {
  listActions = new FXHorizontalFrame(p, LAYOUT_FILL_X, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0);
  contentsButton = new FXButton(listActions, GetString("ContentsDialog.ContentsDialog.012"), nullptr, this,
                                ID_SHOWCONTENTS, BUTTON_NORMAL | LAYOUT_LEFT | LAYOUT_CENTER_Y);
  contentsButton->setTipText(GetString("ContentsDialog.ContentsDialog.013"));
  const FXString tip = GetString("DiskChooser.buildListActions.002");
  roleLabel = new FXLabel(listActions, GetString("DiskChooser.buildListActions.001"), nullptr,
                          LAYOUT_CENTER_Y, 0, 0, 0, 0, 16, 2, 2, 2);
  roleLabel->setTipText(tip);
  roleBox = new FXListBox(listActions, this, ID_ROLE,
                          FRAME_SUNKEN | FRAME_THICK | LISTBOX_NORMAL | LAYOUT_CENTER_Y);
  for (const char* key : ROLE_KEYS) roleBox->appendItem(GetString(key));
  roleBox->setNumVisible(ARRAYNUMBER(ROLE_KEYS));
  roleBox->setTipText(tip);
  if (p->id()) listActions->create();
}

const FreeSpace* mFXDiskChooser::recordAtRow(FXint row) const {
  if (!foundList || row < 0 || row >= foundList->getNumItems()) return nullptr;
  FXint index = imageIndex((FXObject*)foundList->getItemData(row));
  for (const FreeSpace& f : freeSpaces)
    if (index >= 0 && f.id == ID_PARTIMAGE + index && f.candidate >= 0) return &f;
  return nullptr;
}

bool mFXDiskChooser::FoundAtRow(FXint row, FXint& disk, FXulong& start, FXulong& sectors) const {
  const FreeSpace* f = recordAtRow(row);
  if (!f) return false;
  disk = f->disk;
  start = f->start;
  sectors = f->size / SECTOR_SIZE;
  return true;
}

bool mFXDiskChooser::SetRoleAtRow(FXint row, PlacementRole role) {
  const FreeSpace* record = recordAtRow(row);
  if (!record || locked) return false;
  candidates[record->candidate].role = role;
  foundList->setItemText(row, foundRowText(*record));
  untickNote = FXString::null;
  followPlan();
  updateFreeSpacePartition(infoText);
  fitColumns();
  return true;
}

PlacementRole mFXDiskChooser::RoleAtRow(FXint row) const {
  const FreeSpace* record = recordAtRow(row);
  return record ? candidates[record->candidate].role : PlacementRole::AUTO;
}

long mFXDiskChooser::onCmdRole(FXObject*, FXSelector, void* ptr) {
  FXint choice = (FXint)(FXival)ptr;
  if (foundList && choice >= 0 && choice < (FXint)ARRAYNUMBER(ROLE_KEYS))
    SetRoleAtRow(foundList->getCurrentItem(), (PlacementRole)choice);
  return 1;
}

// The box shows the current row's placement, and takes none while the
// choice is locked or no found partition is current.  A ticked row does not
// stay selected, so the label names the partition the box acts on.
long mFXDiskChooser::onUpdRole(FXObject* sender, FXSelector, void*) {
  FXint row = foundList ? foundList->getCurrentItem() : -1;
  const FreeSpace* record = recordAtRow(row);
  // Primary and logical are an MBR's; a GPT's entries are all alike.
  bool open = !locked && record && PartitionTable::Of(analyse->disks[record->disk]).PlacesByRole();
  sender->handle(this, FXSEL(SEL_COMMAND, open ? ID_ENABLE : ID_DISABLE), nullptr);
  FXString what = record ? Format("DiskChooser.buildListActions.006", describeFound(*record).text())
                         : GetString("DiskChooser.buildListActions.001");
  if (roleLabel && roleLabel->getText() != what) roleLabel->setText(what);
  FXint shown = (FXint)RoleAtRow(row);
  if (roleBox && roleBox->getCurrentItem() != shown) roleBox->setCurrentItem(shown);
  return 1;
}

long mFXDiskChooser::onShowContents(FXObject*, FXSelector, void*) {
  FXint disk;
  FXulong start, sectors;
  if (!foundList || !FoundAtRow(foundList->getCurrentItem(), disk, start, sectors)) return 1;
  const NRD& d = analyse->disks[disk];
  ContentsDialog dialog(getShell(), d.device, d.sectors, start, sectors);
  dialog.execute(PLACEMENT_OWNER);
  return 1;
}

long mFXDiskChooser::onUpdShowContents(FXObject* sender, FXSelector, void*) {
  FXint disk;
  FXulong start, sectors;
  bool found = foundList && FoundAtRow(foundList->getCurrentItem(), disk, start, sectors);
  sender->handle(this, FXSEL(SEL_COMMAND, found ? ID_ENABLE : ID_DISABLE), nullptr);
  return 1;
}

void mFXDiskChooser::setLocked(bool lock) {
  locked = lock;
  if (!recoverMode) return;
  for (FXButton* image : images) image->setFrameStyle(lock ? FRAME_LINE : FRAME_RAISED);
}

FXint mFXDiskChooser::imageIndex(const FXObject* sender) const {
  auto it = imageIndices.find(sender);
  return it == imageIndices.end() ? -1 : it->second;
}

long mFXDiskChooser::onListDestroy(FXObject*, FXSelector, void*) {
  foundList = nullptr;
  // They share the list's page, and go with it.
  listActions = nullptr;
  contentsButton = nullptr;
  roleBox = nullptr;
  roleLabel = nullptr;
  return 1;
}

// ---------------------------------------------------------------------------
// Pictures

long mFXDiskChooser::onPartImageConfigure(FXObject* sender, FXSelector, void*) {
  FXint index = imageIndex(sender);
  KV_TRACE(5, "mFXDiskChooser::onPartImageConfigure( ... s=%d ... )\n", ID_PARTIMAGE + index);
  if (index < 0) return 1;
  KV_TRACE(6, "mFXDiskChooser::ID_PARTIMAGE=%d\n", (FXint)ID_PARTIMAGE);
  // Moves configure a button too; its picture only depends on its size and kind.
  FXButton* image = images[index];
  FXIcon* picture = image->getIcon();
  if (picture && picture->getWidth() == image->getWidth() - 2 &&
      picture->getHeight() == image->getHeight() - 2)
    return 1;
  redrawImage(index);
  return 1;
}

long mFXDiskChooser::onPartImageDestroy(FXObject* sender, FXSelector, void*) {
  FXint index = imageIndex(sender);
  KV_TRACE(5, "mFXDiskChooser::onPartImageDestroy( ... s=%d ... )\n", ID_PARTIMAGE + index);
  if (index < 0) return 1;
  FXButton* image = images[index];
  FXIcon* picture = image->getIcon();
  image->setIcon(nullptr);
  delete picture;
  return 1;
}

// Replaces the picture of an image by one of its kind and current size.
void mFXDiskChooser::redrawImage(FXint index) {
  FXButton* image = images[index];
  FXIcon* old = image->getIcon();
  FXIcon* picture = drawPartImageIcon(imageKinds[index], image->getWidth(), image->getHeight(), placedAs[index]);
  if (picture && image->id()) picture->create();
  image->setIcon(picture);
  delete old;
}

FXIcon* mFXDiskChooser::drawPartImageIcon(FXint kind, FXint w, FXint h, FXint placed) {
  KV_TRACE(5, "mFXDiskChooser::drawPartImageIcon( pic=%d, w=%d h=%d )\n", kind, w, h);
  std::vector<FXColor> pixels = PartImage::compose(getApp(), kind, recoverMode, w, h, placed);
  if (pixels.empty()) return nullptr;
  return ChooserIcons::makeIcon(getApp(), pixels, w - 2, h - 2);
}

// ---------------------------------------------------------------------------
// Selection

long mFXDiskChooser::onPartImageClicked(FXObject* sender, FXSelector, void*) {
  FXint index = imageIndex(sender);
  KV_TRACE(5, "mFXDiskChooser::onPartImageClicked( ... s=%d ... )\n", ID_PARTIMAGE + index);
  if (index < 0) return 0;
  if (recoverMode && locked) {
    // Handled here, so the button does not even look pressed; it let go of
    // the pointer it grabbed for the press.
    images[index]->ungrab();
    return 1;
  }
  toggleImage(index);
  return 0;
}

void mFXDiskChooser::toggleImage(FXint index) {
  FXButton* image = images[index];
  FXint id = ID_PARTIMAGE + index;
  switch (imageKinds[index]) {
    case KIND_FREE:
      if (recoverMode) {
        image->show();
        relayoutRow(image);
      }
      imageKinds[index] = KIND_SELECTED;
      redrawImage(index);
      setFreeSpacePartition(id, true);
      break;
    case KIND_SELECTED:
      if (recoverMode) {
        image->hide();
        relayoutRow(image);
      }
      imageKinds[index] = KIND_FREE;
      redrawImage(index);
      setFreeSpacePartition(id, false);
      untickNote = FXString::null;
      break;
    default:
      return;  // partitions of the tables are not selectable
  }
  // The note and the summary name the chosen partitions as the plan does.
  followPlan();
  if (recoverMode && imageKinds[index] == KIND_SELECTED) {
    FXString others;
    for (const FXString& o : untickedNow) others += (others.empty() ? "" : ", ") + o;
    FXint at = freeSpaceIndex(id);
    untickNote = others.empty() || at < 0
                     ? FXString::null
                     : Format("DiskChooser.toggleImage.001", describeFound(freeSpaces[at]).text(),
                              others.text());
    showStatus();
  }
  updateFreeSpacePartition(infoText);
  refreshListIcons();
}

// The chosen found partitions as the writer would lay them out: each one's
// picture and tooltip say whether it becomes primary or logical, each one
// is named as Linux will name it, and the status line says why the choice
// cannot be built, if it cannot.  A partition not chosen has no name: it
// gets a number only by going into the table, and which one depends on
// what else is chosen.
void mFXDiskChooser::followPlan() {
  if (!recoverMode || !analyse) return;
  std::vector<FXint> chosenImages;
  RecoveryChoice choice;
  choice.chosen = chosenParts(&chosenImages);
  choice.foundVolumes = foundVolumes;
  choice.devices = analyse->GetDeviceNames(false);
  choice.newTables = newTables;
  std::vector<FXint> placed(images.size(), -1);
  std::vector<FXString> names(images.size());
  for (const NRD& d : analyse->disks) {
    std::vector<size_t> which;
    LayoutPlan plan = PlanChosen(d, choice.chosen, foundVolumes, &which);
    for (const PlacedVolume& v : plan.volumes)
      placed[chosenImages[which[v.request]]] = v.logical ? KIND_LOGICAL : KIND_PRIMARY;
    std::vector<FXString> named = plannedNames(d, choice, plan, which);
    for (size_t i = 0; i < named.size(); i++)
      if (!named[i].empty()) names[chosenImages[i]] = named[i];
  }
  refusal = FXString::null;
  if (!choice.chosen.empty()) analyse->CheckMBRFit(choice.chosen, foundVolumes, refusal);
  placedAs.swap(placed);
  bool renamed = false;
  for (FreeSpace& r : freeSpaces) {
    FXint index = r.id - ID_PARTIMAGE;
    if (r.candidate < 0) continue;
    bool moved = placedAs[index] != placed[index];
    if (moved) redrawImage(index);
    if (r.name != names[index]) {
      r.name = names[index];
      showSlotText(r);
      renamed = true;
    } else if (moved) {
      setSlotTip(r);
    }
  }
  if (renamed) fitColumns();
  showStatus();
}

// The names the chosen partitions of `disk` will have, by their place in
// `choice.chosen` (empty for those of other disks): in a GPT by the entries
// they take, in an MBR by where the writer puts them (`plan`, its requests
// `which` records of the choice).  None while the disk's choice cannot be
// written.
std::vector<FXString> mFXDiskChooser::plannedNames(const NRD& disk, const RecoveryChoice& choice,
                                                   const LayoutPlan& plan,
                                                   const std::vector<size_t>& which) {
  std::vector<FXString> names(choice.chosen.size());
  if (TableToWrite(disk, choice) == TableKind::GPT) {
    std::vector<FXuint> slots = GptPartitionTable::EntrySlots(*analyse, disk, choice);
    size_t k = 0;
    for (size_t i = 0; i < choice.chosen.size() && k < slots.size(); i++)
      if (choice.chosen[i].device == disk.device)
        names[i] = LinuxPartitionName(disk.device, (FXint)slots[k++] + 1);
    return names;
  }
  if (!plan.ok()) return names;
  std::vector<FXulong> firsts;
  for (size_t i : which) firsts.push_back(choice.chosen[i].first);
  std::vector<FXint> numbers = PlannedNumbers(disk, plan, firsts);
  for (size_t k = 0; k < plan.volumes.size(); k++)
    names[which[plan.volumes[k].request]] = LinuxPartitionName(disk.device, numbers[k]);
  return names;
}

void mFXDiskChooser::SetNewTables(const std::vector<TableKind>& tables) {
  newTables = tables;
  followPlan();
  updateFreeSpacePartition(infoText);
}

void mFXDiskChooser::showStatus() {
  if (!statusLine) return;
  FXString text = untickNote;
  if (!refusal.empty()) text += (text.empty() ? "" : "\n") + refusal;
  statusLine->setText(text);
}

std::vector<RecoverPart> mFXDiskChooser::chosenParts(std::vector<FXint>* chosenImages) const {
  std::vector<RecoverPart> parts;
  for (const FreeSpace& r : freeSpaces) {
    if (!r.selected || r.candidate < 0) continue;
    parts.push_back(candidates[r.candidate].toRecoverPart(*analyse));
    if (chosenImages) chosenImages->push_back(r.id - ID_PARTIMAGE);
  }
  return parts;
}

FXint mFXDiskChooser::freeSpaceIndex(FXint id) const {
  for (FXint i = 0; i < (FXint)freeSpaces.size(); i++)
    if (freeSpaces[i].id == id) return i;
  return -1;
}

void mFXDiskChooser::setFreeSpacePartition(FXint id, bool set) {
  KV_TRACE(5, "mFXDiskChooser::setFreeSpacePartition id=%d set=%d\n", id, set);
  untickedNow.clear();
  FXint at = freeSpaceIndex(id);
  if (at < 0) return;
  FreeSpace& r = freeSpaces[at];
  r.selected = set;
  KV_TRACE(6, "mFXDiskChooser::setFreeSpacePartition selecting[%d] (%d,%.0lf,%.0lf)\n", set, r.disk,
           (double)r.start, (double)(r.size / SECTOR_SIZE));
  if (!set) return;

  const FXulong rStart = r.start, rEnd = r.start + r.size / SECTOR_SIZE;
  for (FreeSpace& o : freeSpaces) {
    if (o.id == id || !o.selected || o.disk != r.disk) continue;
    const FXulong oStart = o.start, oEnd = o.start + o.size / SECTOR_SIZE;
    bool startsInside = rStart <= oStart && oStart < rEnd;
    bool endsInside = rStart < oEnd && oEnd <= rEnd;
    if (!startsInside && !endsInside) continue;
    o.selected = false;
    untickedNow.push_back(describeFound(o));
    FXint index = o.id - ID_PARTIMAGE;
    imageKinds[index] = KIND_FREE;
    redrawImage(index);
    images[index]->killFocus();
    KV_TRACE(6, "mFXDiskChooser::setFreeSpacePartition deselecting[%d] (%d,%.0lf,%.0lf)\n", 0,
             o.disk, (double)o.start, (double)(o.size / SECTOR_SIZE));
  }
}

std::vector<FXString> mFXDiskChooser::getFreeSpacePartitions() {
  KV_TRACE(5, "mFXDiskChooser::getFreeSpacePartitions\n");
  if (recoverList) *recoverList = chosenParts(nullptr);
  std::vector<FXString> descriptions;
  for (const FreeSpace& r : freeSpaces) {
    if (!r.selected) continue;
    KV_TRACE(6, "mFXDiskChooser::getFreeSpacePartitions selected at sector %.0lf (%.0lf)\n",
             (double)r.size, (double)r.start);
    FXString s = formatSize(r.size);
    FXString text;
    if (!recoverMode) {
      text = Format("DiskChooser.getFreeSpacePartitions.001", r.disk + 1, (double)r.start, s.text());
    } else {
      FXString L;
      if (!r.name.empty()) L = Format("DiskChooser.getFreeSpacePartitions.003", r.name.text());
      text = Format("DiskChooser.getFreeSpacePartitions.002", r.disk + 1, L.text(), r.text.text(),
                    s.text());
    }
    KV_TRACE(6, "mFXDiskChooser::getFreeSpacePartitions text is %s\n", text.text());
    descriptions.push_back(text);
  }
  return descriptions;
}

// A found partition as the status line names it: "sdb5 (W95 FAT32 (LBA), 1.00 GB)".
FXString mFXDiskChooser::describeFound(const FreeSpace& r) const {
  FXString text;
  text.format("%s (%s, %s)", r.name.text(), r.text.text(), formatSize(r.size).text());
  return text.trim();
}

void mFXDiskChooser::updateFreeSpacePartition(FXText* text) {
  KV_TRACE(5, "mFXDiskChooser::updateFreeSpacePartition\n");
  std::vector<FXString> descriptions = getFreeSpacePartitions();
  FXint n = (FXint)descriptions.size();
  FXString summary;
  for (FXint k = 1; k <= n; k++) {
    if (!summary.empty()) summary += "\n";
    if (recoverMode) summary += Format("DiskChooser.updateFreeSpacePartition.001", k, n);
    summary += descriptions[k - 1];
    summary += "\n";
  }
  KV_TRACE(6, "mFXDiskChooser::updateFreeSpacePartition setText(\"\n%s\n\")\n", summary.text());
  if (text) text->setText(summary, FALSE);
}

bool mFXDiskChooser::GetFreeSpaceProperties(FXint index, FXint* disk, FXulong* start, FXulong* end) {
  KV_TRACE(5, "mFXDiskChooser::GetFreeSpaceProperties( index=%d )\n", index);
  FXint count = 0;
  for (const FreeSpace& r : freeSpaces) {
    if (!r.selected) continue;
    if (count++ != index) continue;
    *disk = r.disk;
    *start = r.start;
    *end = r.start + r.size / SECTOR_SIZE;
    KV_TRACE(6, "mFXDiskChooser::GetFreeSpaceProperties setting disk=%d start=%.0lf end=%.0lf\n",
             *disk, (double)*start, (double)*end);
    return true;
  }
  return false;
}

FXuint mFXDiskChooser::GetSumSteps() {
  KV_TRACE(5, "mFXDiskChooser::GetSumSteps\n");
  FXuint steps = (FXuint)freeSpaces.size();
  KV_TRACE(5, "mFXDiskChooser::GetSumSteps returning %u\n", steps);
  return steps;
}

FXulong mFXDiskChooser::GetSumSectors(bool quick) {
  KV_TRACE(5, "mFXDiskChooser::GetSumSectors\n");
  FXulong sum = 0;
  for (const FreeSpace& r : freeSpaces) {
    if (!r.selected) continue;
    KV_TRACE(6, "mFXDiskChooser::GetSumSectors size = %.0lf\n", (double)r.size);
    FXulong sectors = r.size / SECTOR_SIZE;
    if (quick) {
      // A disk without a logical geometry is probed as if a cylinder were one sector.
      FXulong perCylinder = analyse->disks[r.disk].qoffset;
      sum += sectors / (perCylinder ? perCylinder : 1) + 1;
    } else {
      sum += sectors;
    }
    KV_TRACE(6, "mFXDiskChooser::GetSumSectors retval=%.0lf\n", (double)sum);
  }
  return sum;
}

FXString mFXDiskChooser::GetSelectedPartitionName(FXint index) {
  FXint count = 0;
  for (const FreeSpace& r : freeSpaces) {
    if (!r.selected || count++ != index) continue;
    FXString name;
    name.format("%s %s", r.name.text(), r.text.text());
    return name.trim();
  }
  return FXString();
}

// ---------------------------------------------------------------------------
// Found partitions

bool mFXDiskChooser::ClearRecoverPartitions() {
  KV_TRACE(5, "mFXDiskChooser::ClearRecoverPartitions()\n");
  candidates.clear();
  foundVolumes.clear();
  std::vector<FXWindow*> rows;
  for (FXint i = 0; i < (FXint)images.size(); i++) {
    if (imageKinds[i] != KIND_FREE && imageKinds[i] != KIND_SELECTED) continue;
    KV_TRACE(6, "mFXDiskChooser::ClearRecoverPartitions hiding %d\n", i);
    images[i]->hide();
    if (rows.empty() || rows.back() != images[i]->getParent()) rows.push_back(images[i]->getParent());
  }
  // A found partition chosen in an earlier search must not stay chosen while
  // it is out of sight: it would reach the recover list unseen.
  bool dropped = false;
  if (recoverMode) {
    for (FreeSpace& r : freeSpaces) {
      r.candidate = -1;  // the candidates are gone
      if (!r.selected) continue;
      r.selected = false;
      imageKinds[r.id - ID_PARTIMAGE] = KIND_FREE;
      dropped = true;
    }
  }
  if (foundList) foundList->clearItems(FALSE);
  if (!rows.empty()) {
    KV_TRACE(6, "mFXDiskChooser::ClearRecoverPartitions doing layout\n");
    for (FXWindow* row : rows) {
      row->recalc();
      row->layout();
    }
  }
  if (dropped) updateFreeSpacePartition(infoText);
  if (recoverMode) {
    untickNote = FXString::null;
    followPlan();
  }
  return true;
}

FXint mFXDiskChooser::gapSlotOf(FXint disk, FXulong sector) const {
  for (FXint g = 0; g < (FXint)gapSlots.size(); g++) {
    const FreeSpace& gap = gapSlots[g];
    if (gap.disk == disk && gap.start <= sector && sector - gap.start < gap.size) return g;
  }
  return -1;
}

FXint mFXDiskChooser::nextFreeSlot(FXint gap) const {
  if (gap < 0) return -1;
  FXint first = gapSlots[gap].id;
  for (FXint k = 0; k < SLOTS_PER_GAP; k++)
    if (!images[first + k]->shown()) return k;
  return -1;
}

bool mFXDiskChooser::SetRecoverPartitions(FXint disk, const std::vector<FXulong>& sectors) {
  KV_TRACE(5, "mFXDiskChooser::SetRecoverPartitions( disk=%d sectors cnt=%u )\n", disk,
           (FXuint)sectors.size());
  if (!recoverMode || !analyse || disk < 0 || disk >= (FXint)analyse->disks.size()) return true;
  const FXulong capacity = analyse->GetCapacity(disk);
  CandidateFinder finder(*analyse);
  std::vector<FXWindow*> rows;
  for (Candidate& c : finder.place(disk, sectors)) {
    // Linux has no drive letters: the chooser proposes Linux names instead.
    c.letter = 0;
    candidates.push_back(c);
    foundVolumes.push_back(c.toFoundVolume(*analyse));
    FXint gap = gapSlotOf(disk, c.foundAt);
    FXint slot = nextFreeSlot(gap);
    FXASSERT(slot != -1);  // a gap shows SLOTS_PER_GAP found partitions at most
    if (slot == -1) continue;
    FXint index = gapSlots[gap].id + slot;
    FreeSpace& record = freeSpaces[(size_t)gap * SLOTS_PER_GAP + slot];
    FXASSERT(record.id == ID_PARTIMAGE + index);
    fillSlot(index, record, (FXint)candidates.size() - 1, capacity);
    FXWindow* row = images[index]->getParent();
    if (std::find(rows.begin(), rows.end(), row) == rows.end()) rows.push_back(row);
  }
  for (FXWindow* row : rows) {
    row->recalc();
    row->layout();
  }
  fitColumns();
  return true;
}

void mFXDiskChooser::fillSlot(FXint index, FreeSpace& record, FXint candidate, FXulong capacity) {
  const Candidate& c = candidates[candidate];
  FXButton* image = images[index];
  // Linux has no drive letters: once chosen, the partition is shown under
  // the name it will have (see followPlan).
  record.name = FXString::null;
  record.start = c.start();
  record.logical = c.logical();
  record.foundAt = c.foundAt;
  record.size = c.bytes();
  record.selected = false;
  record.text = PartitionTypeText(c.type());
  record.letter = ' ';
  record.candidate = candidate;

  image->setWidth(shareWidth(record.size, capacity, SLOT_MIN_WIDTH));
  imageKinds[index] = KIND_FREE;
  placedAs[index] = -1;
  showSlotText(record);
  redrawImage(index);
  image->show();

  if (!foundList) return;
  FXint item = foundList->appendItem(foundRowText(record), nullptr, nullptr, image, FALSE);
  foundList->setItemMiniIcon(item, uncheckedIcon);
  KV_TRACE(6, "mFXDiskChooser::SetRecoverPartitions upd_button=%d, setting item #%d to %p\n", index,
           item, (void*)image);
}

// A found partition's picture: its proposed name, size and type, and its
// file system and label when it has one.
FXString mFXDiskChooser::slotText(const FreeSpace& record) const {
  const FoundPartition& p = candidates[record.candidate].partition;
  FXString text;
  text.format("%s\n%s %s", record.name.text(), formatSize(record.size).text(), record.text.text());
  if (!p.fileSystem.empty()) text += "\n" + p.fileSystem + (p.label.empty() ? FXString() : " " + p.label);
  return text;
}

// The tooltip says where the partition starts and, once chosen, whether it
// is written as a primary or a logical partition; before, whether it was
// found in an extended chain.
void mFXDiskChooser::setSlotTip(const FreeSpace& record) {
  const FXint index = record.id - ID_PARTIMAGE;
  bool logical = placedAs[index] == -1 ? record.logical : placedAs[index] == KIND_LOGICAL;
  FXString where;
  if (logical)
    where = GetString("DiskChooser.SetRecoverPartitions.002");
  else if (placedAs[index] == KIND_PRIMARY)
    where = GetString("DiskChooser.SetRecoverPartitions.004");
  FXString text = slotText(record);
  images[index]->setTipText(Format("DiskChooser.SetRecoverPartitions.001", text.trim().text(),
                                   (double)record.start, where.text()));
}

// A found partition's name, size and type on its picture, in its tooltip
// and in its row of the list.
void mFXDiskChooser::showSlotText(const FreeSpace& record) {
  FXButton* image = images[record.id - ID_PARTIMAGE];
  setPictureText(image, slotText(record), image->getWidth());
  setSlotTip(record);
  for (FXint row = 0; foundList && row < foundList->getNumItems(); row++)
    if (foundList->getItemData(row) == image) foundList->setItemText(row, foundRowText(record));
}

// A row of the list.  Its state is "found" until the user says how the
// partition is to be placed, then that choice.
FXString mFXDiskChooser::foundRowText(const FreeSpace& record) {
  const Candidate& c = candidates[record.candidate];
  FXString state = GetString(c.role == PlacementRole::AUTO ? "DiskChooser.SetRecoverPartitions.003"
                                                           : ROLE_KEYS[(FXint)c.role]);
  FXString row;
  row.format("%s\t%s\t%s\t%s\t%.0lf\t%s\t%s", record.name.text(), state.text(),
             formatSize(record.size).text(), record.text.text(), (double)record.start,
             c.partition.fileSystem.text(), c.partition.label.text());
  return row;
}

long mFXDiskChooser::onm_listtableSelect(FXObject*, FXSelector, void* ptr) {
  if (!foundList) return 0;
  // The list names the row it selected; with extended selection a range may
  // select several rows at once, each of which toggles its own partition.
  FXint c = (FXint)(FXival)ptr;
  if (c < 0 || c >= foundList->getNumItems()) c = foundList->getCurrentItem();
  KV_TRACE(5, "mFXDiskChooser::onm_listtableSelect( citem = %d )\n", c);
  if (c == -1) return 0;
  FXButton* image = (FXButton*)foundList->getItemData(c);
  FXint index = imageIndex(image);
  if (index < 0) return 0;
  KV_TRACE(6, "mFXDiskChooser::onm_listtableSelect button = %p )\n", (void*)image);
  KV_TRACE(6, "mFXDiskChooser::onm_listtableSelect selector = %d )\n", ID_PARTIMAGE + index);
  onPartImageClicked(image, FXSEL(SEL_LEFTBUTTONPRESS, image->getSelector()), nullptr);
  // A row stays unselected so that clicking it again toggles it back; its
  // box shows whether the partition is chosen.
  foundList->deselectItem(c, FALSE);
  refreshListIcons();
  return 0;
}

void mFXDiskChooser::refreshListIcons() {
  if (!foundList) return;
  for (FXint i = 0; i < foundList->getNumItems(); i++) {
    FXint index = imageIndex((FXObject*)foundList->getItemData(i));
    if (index < 0) continue;
    foundList->setItemMiniIcon(i, imageKinds[index] == KIND_SELECTED ? checkedIcon : uncheckedIcon);
    foundList->updateItem(i);
  }
}
