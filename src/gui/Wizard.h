// The program's main window: a nine-page wizard that leads from the offer
// to undo an earlier recovery, through the choice of areas to search, the
// search itself and the choice of partitions, to the recovery.
#ifndef KV_WIZARD_H
#define KV_WIZARD_H

#include <fx.h>

#include <atomic>
#include <memory>
#include <vector>

#include "Asker.h"
#include "Information.h"
#include "Records.h"
#include "table/PartitionTable.h"

struct RecoverResult;

class Analyse;
class mFXDiskChooser;
class mFXActiveChooser;
class mFXThreadSearch;
class ProxyText;
class ProxyProgress;
class ProxyWizard;
class WrapLabel;

class mFXWizard : public FXWizard, public Information {
  FXDECLARE(mFXWizard)
  friend class mFXThreadSearch;

public:
  enum Page {
    PAGE_WELCOME,
    PAGE_AREAS,
    PAGE_SEARCH_TYPE,
    PAGE_SEARCHING,
    PAGE_RESULT,
    PAGE_CHOOSE,
    PAGE_SUMMARY,
    PAGE_RECOVERING,
    PAGE_END,
    PAGE_COUNT
  };

  enum {
    ID_SEARCH_QUICK = FXWizard::ID_LAST,
    ID_SEARCH_FULL,
    ID_DETAILS_SEARCH,
    ID_DETAILS_PROGRESS,
    ID_UNUSED,
    ID_SEARCH_DONE,
    ID_HELP,
    ID_RATE_TIMER,
    ID_LAST
  };

  mFXDiskChooser* searchChooser;
  mFXDiskChooser* recoverChooser;
  mFXActiveChooser* activeChooser;
  FXRadioButton* quickRadio;
  FXRadioButton* fullRadio;
  FXint searchType;
  FXVerticalFrame* searchDetails;
  FXText* searchAreaText;
  WrapLabel* endLabel;
  FXVerticalFrame* progressDetails;
  WrapLabel* searchLabel;
  FXText* logText;
  FXProgressBar* searchProgress;
  WrapLabel* resultLabel;
  FXText* recoverText;
  FXProgressBar* recoverProgress;
  std::vector<RecoverPart> recoverList;
  bool bootCodeAnswer;
  // Per disk: the table the user chose for a disk without any.
  std::vector<TableKind> newTables;
  mFXThreadSearch* searchThread;
  ProxyText* textProxy;
  ProxyProgress* progressProxy;
  ProxyWizard* wizardProxy;
  FXButton* helpButton;
  FXLabel* statusLine;     // page 4: what a tick changed beside the ticked row
  FXLabel* rateLabel;      // page 3: sectors per second and the time left
  WrapLabel* restartLabel; // page 8: whether the kernel took the new tables

  // The keys of a page's title and of its help text.
  static FXString PageTitleKey(FXint page);
  static FXString PageHelpKey(FXint page);
  // "N sectors per second, about H:MM:SS left"; empty while nothing can be
  // estimated yet.
  FXString RateText(FXdouble sectorsPerSecond, FXdouble secondsLeft);

protected:
  mFXWizard() {}

public:
  mFXWizard(FXApp* app, const FXString& title, FXImage* backImage, FXImage* welcomeImage,
            FXint argc, FXchar** argv);
  ~mFXWizard() override;

  void create() override;
  // Shows what the start-up has to tell (ReportStart) before the first page;
  // ends at once, with its status, when there is nothing to work on.
  FXuint execute(FXuint placement = PLACEMENT_CURSOR) override;

  // Shows the usage text of -h, or the analyser's start message, in a box.
  // Returns the exit status when the wizard must not run (1 after -h, 2
  // when there is nothing to work on), -1 when it goes on.
  FXint ReportStart();

  long onCmd_Next(FXObject*, FXSelector, void*);
  long onCmd_Back(FXObject*, FXSelector, void*);
  long onUpdNext(FXObject*, FXSelector, void*);
  long onUpdBack(FXObject*, FXSelector, void*);
  long onCmdCancel(FXObject*, FXSelector, void*);
  long onCmdSearchType(FXObject*, FXSelector, void*);
  long onCmdStepDetails(FXObject*, FXSelector, void*);
  long onSearchCompleted(FXObject*, FXSelector, void*);
  long onCmdHelp(FXObject*, FXSelector, void*);
  long onRateTimer(FXObject*, FXSelector, void*);

  // Worker thread: searches every chosen stretch.
  void Search();
  // Offers to undo earlier recoveries; true when a disk was undone.
  bool DoUndo();

  // Where notes and questions go.  The wizard does not own the asker; null
  // restores the message boxes.
  void setAsker(Asker* asker);

  // True while a search is under way.
  bool searching() const;

private:
  // One stretch to search, taken from the free-space chooser on the GUI
  // thread before the worker starts, so the worker never reads a widget.
  struct Stretch {
    FXint disk;
    FXulong start;
    FXulong end;  // exclusive
  };

  std::vector<Stretch> stretches;
  FXint areas;
  std::atomic<bool> searchCancelled;  // the user stopped this search
  FXint stoppedAt;                    // per cent of the search done when it was stopped
  Asker* asker;
  std::unique_ptr<Asker> messageBoxes;
  std::vector<std::unique_ptr<FXFont>> fonts;
  std::vector<std::unique_ptr<FXIcon>> icons;
  FXdouble searchStarted;   // seconds, steady clock
  FXdouble sectorsPerStep;  // sectors a step of the search bar stands for

  void BuildPages(FXImage* welcomeImage);
  void BuildWelcomePage(FXComposite* page, FXImage* welcomeImage);
  void BuildEndPage(FXComposite* page);
  void AddPageHeader(FXComposite* page, FXint index);
  void ReportTableReread(const std::vector<FXString>& busy);
  FXText* BuildDetails(FXComposite* page, const FXString& key, FXVerticalFrame*& frame);
  WrapLabel* AddLabel(FXComposite* parent, const FXString& text, FXuint opts = LAYOUT_FILL_X,
                      FXint top = 2, FXint bottom = 2, FXIcon* icon = nullptr);
  FXFont* EncodedFont(const FXString& description);
  void ChooseLanguage();
  void SetButtonTexts();
  void WidenForDiskRows();

  long NextFromWelcome(FXObject*, FXSelector, void*);
  long NextFromAreas(FXObject*, FXSelector, void*);
  long NextFromSearchType(FXObject*, FXSelector, void*);
  long NextFromSearching(FXObject*, FXSelector, void*);
  long NextFromResult(FXObject*, FXSelector, void*);
  long NextFromSummary(FXObject*, FXSelector, void*);
  bool GoOnWhereTheLogCannotHold(const NRD& disk);
  void ShowResults(const std::vector<RecoverResult>& results);
  void SendBack(int times);
  void HandOverToActiveChooser();
  // Asks which table each disk without any gets, where partitions were
  // chosen on it.
  void ChooseNewTables();
  // The table the chosen partitions of `device` go into.
  TableKind TableFor(const FXString& device) const;
  // Asks of each chosen FAT volume that goes into a GPT whether it is the
  // EFI system partition.
  void AskEfiSystem();
  void ShowNow();
  FXint PercentSearched() const;

  void inform(const FXString& captionKey, const FXString& text);
  bool ask(const FXString& captionKey, const FXString& text);
  void appendLog(const FXString& text);
};

#endif
