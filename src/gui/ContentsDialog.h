// A read-only browser of one found volume: its summary above, a folder's
// entries below, a page at a time; folders open one level at a time.
// Nothing here writes: the volume is read through the engine's contents
// units, which only read.
#ifndef KV_CONTENTSDIALOG_H
#define KV_CONTENTSDIALOG_H

#include <fx.h>

#include <memory>
#include <vector>

#include "Information.h"
#include "contents/PieceReader.h"
#include "contents/VolumeContents.h"

class ContentsDialog : public FXDialogBox, private Information {
  FXDECLARE(ContentsDialog)

public:
  enum { ID_LIST = FXDialogBox::ID_LAST, ID_OPEN, ID_UP, ID_MORE, ID_LAST };
  // Entries shown per page.
  static const FXuint PAGE = 200;

  // The volume of `sectors` sectors at absolute sector `start` of `device`
  // (which has `diskSectors` sectors).
  ContentsDialog(FXWindow* owner, const FXString& device, FXulong diskSectors, FXulong start,
                 FXulong sectors);

  long onOpen(FXObject*, FXSelector, void*);
  long onUp(FXObject*, FXSelector, void*);
  long onMore(FXObject*, FXSelector, void*);
  long onUpdUp(FXObject*, FXSelector, void*);
  long onUpdMore(FXObject*, FXSelector, void*);

  // --- read access, for tests ---
  FXIconList* getList() const { return list; }
  FXLabel* getSummary() const { return summaryLabel; }
  FXText* getNotes() const { return notes; }
  const FXString& getPath() const { return path; }

protected:
  ContentsDialog() {}

private:
  std::unique_ptr<PieceReader> reader;
  std::unique_ptr<VolumeContents> volume;
  FXLabel* summaryLabel;
  FXLabel* pathLabel;
  FXIconList* list;
  FXText* notes;
  FXString path;
  std::vector<DirEntry> shown;
  bool more = false;

  FXString noteText(const ContentsNote& note);
  FXString summaryText();
  // Shows `path` from its first entry on.
  void showFolder(const FXString& folder);
  void showPage();
};

#endif
