// The read-only browser of a found volume.
#include "ContentsDialog.h"

#include <ctime>

#include "Candidates.h"

FXDEFMAP(ContentsDialog) ContentsDialogMap[] = {
    FXMAPFUNC(SEL_DOUBLECLICKED, ContentsDialog::ID_LIST, ContentsDialog::onOpen),
    FXMAPFUNC(SEL_COMMAND, ContentsDialog::ID_OPEN, ContentsDialog::onOpen),
    FXMAPFUNC(SEL_COMMAND, ContentsDialog::ID_UP, ContentsDialog::onUp),
    FXMAPFUNC(SEL_COMMAND, ContentsDialog::ID_MORE, ContentsDialog::onMore),
    FXMAPFUNC(SEL_UPDATE, ContentsDialog::ID_UP, ContentsDialog::onUpdUp),
    FXMAPFUNC(SEL_UPDATE, ContentsDialog::ID_MORE, ContentsDialog::onUpdMore),
};

FXIMPLEMENT(ContentsDialog, FXDialogBox, ContentsDialogMap, ARRAYNUMBER(ContentsDialogMap))

ContentsDialog::ContentsDialog(FXWindow* owner, const FXString& device, FXulong diskSectors,
                               FXulong start, FXulong sectors)
    : FXDialogBox(owner, FXString::null, DECOR_TITLE | DECOR_BORDER | DECOR_RESIZE | DECOR_CLOSE, 0, 0,
                  640, 480),
      reader(new PieceReader(device, diskSectors)) {
  setTitle(Format("ContentsDialog.ContentsDialog.001", (double)start));
  FXVerticalFrame* frame = new FXVerticalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  summaryLabel = new FXLabel(frame, FXString::null, nullptr, JUSTIFY_LEFT | LAYOUT_FILL_X);
  pathLabel = new FXLabel(frame, FXString::null, nullptr, JUSTIFY_LEFT | LAYOUT_FILL_X);
  FXVerticalFrame* box = new FXVerticalFrame(frame, FRAME_SUNKEN | FRAME_THICK | LAYOUT_FILL_X | LAYOUT_FILL_Y,
                                             0, 0, 0, 0, 0, 0, 0, 0);
  list = new FXIconList(box, this, ID_LIST, ICONLIST_DETAILED | ICONLIST_BROWSESELECT | LAYOUT_FILL_X | LAYOUT_FILL_Y);
  list->appendHeader(GetString("ContentsDialog.ContentsDialog.006"), nullptr, 300);
  list->appendHeader(GetString("ContentsDialog.ContentsDialog.007"), nullptr, 110);
  list->appendHeader(GetString("ContentsDialog.ContentsDialog.008"), nullptr, 140);
  notes = new FXText(frame, nullptr, 0, TEXT_READONLY | TEXT_WORDWRAP | LAYOUT_FILL_X | LAYOUT_FIX_HEIGHT,
                     0, 0, 0, 60);
  FXHorizontalFrame* buttons = new FXHorizontalFrame(frame, LAYOUT_FILL_X | PACK_UNIFORM_WIDTH);
  new FXButton(buttons, GetString("ContentsDialog.ContentsDialog.002"), nullptr, this, ID_OPEN,
               BUTTON_NORMAL | LAYOUT_LEFT);
  new FXButton(buttons, GetString("ContentsDialog.ContentsDialog.003"), nullptr, this, ID_UP,
               BUTTON_NORMAL | LAYOUT_LEFT);
  new FXButton(buttons, GetString("ContentsDialog.ContentsDialog.004"), nullptr, this, ID_MORE,
               BUTTON_NORMAL | LAYOUT_LEFT);
  new FXButton(buttons, GetString("ContentsDialog.ContentsDialog.005"), nullptr, this, ID_ACCEPT,
               BUTTON_NORMAL | BUTTON_INITIAL | BUTTON_DEFAULT | LAYOUT_RIGHT);

  ContentsNote why;
  volume = OpenVolumeContents(*reader, start, sectors, why);
  if (!volume) {
    summaryLabel->setText(noteText(why));
    return;
  }
  summaryLabel->setText(summaryText());
  showFolder("/");
}

FXString ContentsDialog::noteText(const ContentsNote& note) {
  return Format(note.key, note.arg.text());
}

FXString ContentsDialog::summaryText() {
  VolumeSummary s = volume->summary();
  FXString text = Format("ContentsDialog.ContentsDialog.010", s.fileSystem.text(), s.label.text(), s.uuid.text());
  if (s.spaceKnown)
    text += "\n" + Format("ContentsDialog.ContentsDialog.011", SizeText(s.usedBytes).text(),
                          SizeText(s.freeBytes).text());
  text += "\n" + (s.intact ? GetString("Contents.Summary.001")
                           : Format("Contents.Summary.002", noteText(s.damage).text()));
  return text;
}

void ContentsDialog::showFolder(const FXString& folder) {
  path = folder;
  shown.clear();
  list->clearItems();
  notes->setText(FXString::null);
  more = false;
  pathLabel->setText(path);
  showPage();
}

// The next page of the folder, added below what is shown.
void ContentsDialog::showPage() {
  Listing l = volume->list(path, (FXuint)shown.size(), PAGE);
  for (const DirEntry& e : l.entries) {
    FXString size = e.folder ? GetString("ContentsDialog.ContentsDialog.009") : FXStringVal((FXulong)e.size);
    FXString when;
    if (e.modified >= 0) {
      time_t t = (time_t)e.modified;
      struct tm parts;
      char text[32];
      if (gmtime_r(&t, &parts) && strftime(text, sizeof(text), "%Y-%m-%d %H:%M", &parts)) when = text;
    }
    list->appendItem(e.name + (e.folder ? "/" : "") + "\t" + size + "\t" + when);
    shown.push_back(e);
  }
  more = l.more;
  for (const ContentsNote& n : l.notes) notes->appendText(noteText(n) + "\n");
}

long ContentsDialog::onOpen(FXObject*, FXSelector, void*) {
  FXint item = list->getCurrentItem();
  if (!volume || item < 0 || item >= (FXint)shown.size() || !shown[item].folder) return 1;
  showFolder((path == "/" ? path : path + "/") + shown[item].name);
  return 1;
}

long ContentsDialog::onUp(FXObject*, FXSelector, void*) {
  if (!volume || path == "/") return 1;
  FXint slash = path.rfind('/');
  showFolder(slash <= 0 ? FXString("/") : path.left(slash));
  return 1;
}

long ContentsDialog::onMore(FXObject*, FXSelector, void*) {
  if (volume && more) showPage();
  return 1;
}

long ContentsDialog::onUpdUp(FXObject* sender, FXSelector, void*) {
  sender->handle(this, FXSEL(SEL_COMMAND, volume && path != "/" ? ID_ENABLE : ID_DISABLE), nullptr);
  return 1;
}

long ContentsDialog::onUpdMore(FXObject* sender, FXSelector, void*) {
  sender->handle(this, FXSEL(SEL_COMMAND, more ? ID_ENABLE : ID_DISABLE), nullptr);
  return 1;
}
