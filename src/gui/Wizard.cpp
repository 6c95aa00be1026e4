// The wizard window: its pages, the navigation between them and the work
// each page starts.
#include "Wizard.h"

#include <FXPNGIcon.h>

#include <functional>

#include "ActiveChooser.h"
#include "Analyse.h"
#include "Asker.h"
#include "DiskChooser.h"
#include "IOSystem.h"
#include "LanguageChooser.h"
#include "Proxies.h"
#include "Recover.h"
#include "Startup.h"
#include "ThreadSearch.h"
#include "WizardIcons.h"
#include "WrapLabel.h"
#include "compat/Assert.h"

FXDEFMAP(mFXWizard) mFXWizardMap[] = {
    FXMAPFUNCS(SEL_COMMAND, mFXWizard::ID_SEARCH_QUICK, mFXWizard::ID_SEARCH_FULL,
               mFXWizard::onCmdSearchType),
    FXMAPFUNCS(SEL_COMMAND, mFXWizard::ID_DETAILS_SEARCH, mFXWizard::ID_DETAILS_PROGRESS,
               mFXWizard::onCmdStepDetails),
    FXMAPFUNC(SEL_COMMAND, FXWizard::ID_NEXT, mFXWizard::onCmd_Next),
    FXMAPFUNC(SEL_COMMAND, FXWizard::ID_BACK, mFXWizard::onCmd_Back),
    FXMAPFUNC(SEL_UPDATE, FXWizard::ID_BACK, mFXWizard::onUpdBack),
    FXMAPFUNC(SEL_UPDATE, FXWizard::ID_NEXT, mFXWizard::onUpdNext),
    FXMAPFUNC(SEL_COMMAND, FXDialogBox::ID_CANCEL, mFXWizard::onCmdCancel),
    FXMAPFUNC(SEL_CLOSE, 0, mFXWizard::onCmdCancel),
    FXMAPFUNC(SEL_IO_READ, mFXWizard::ID_SEARCH_DONE, mFXWizard::onSearchCompleted),
};

FXIMPLEMENT(mFXWizard, FXWizard, mFXWizardMap, ARRAYNUMBER(mFXWizardMap))

namespace {

const FXuint PAGE_OPTS = LAYOUT_FILL_X | LAYOUT_FILL_Y;

// Lays out a window and everything in it now, not when the event loop
// next finds time.
void LayoutTree(FXWindow* window) {
  window->layout();
  for (FXWindow* child = window->getFirst(); child; child = child->getNext()) LayoutTree(child);
}

}  // namespace

// ---------------------------------------------------------------- building

mFXWizard::mFXWizard(FXApp* app, const FXString& title, FXImage* backImage,
                     FXImage* welcomeImage, FXint argc, FXchar** argv)
    : FXWizard(app, title, backImage, DECOR_TITLE | DECOR_BORDER | DECOR_RESIZE, 0, 0, 780, 450,
               10, 10, 10, 10, 10, 10),
      searchChooser(nullptr),
      recoverChooser(nullptr),
      activeChooser(nullptr),
      quickRadio(nullptr),
      fullRadio(nullptr),
      searchType(ID_SEARCH_QUICK),
      searchDetails(nullptr),
      searchAreaText(nullptr),
      endLabel(nullptr),
      progressDetails(nullptr),
      searchLabel(nullptr),
      logText(nullptr),
      searchProgress(nullptr),
      resultLabel(nullptr),
      recoverText(nullptr),
      recoverProgress(nullptr),
      bootCodeAnswer(false),
      searchThread(nullptr),
      textProxy(nullptr),
      progressProxy(nullptr),
      wizardProxy(nullptr),
      areas(0),
      searchCancelled(false),
      stoppedAt(0),
      asker(nullptr),
      messageBoxes(new MessageBoxAsker) {
  asker = messageBoxes.get();
  wizardProxy = new ProxyWizard;
  wizardProxy->target = this;
  wizardProxy->completion = FXSEL(SEL_IO_READ, ID_SEARCH_DONE);
  sharedAnalyser = nullptr;
  KV_TRACE(5, "mFXWizard::mFXWizard() constructor\n");
  KV_TRACE(6, "mFXWizard::mFXWizard running on %s\n", FormatSystemVersion().text());

  sharedAnalyser = (argc == 1) ? new Analyse() : new Analyse(argc, argv);
  ChooseLanguage();
  SetLanguage(app, sharedAnalyser->language);
  // Whoever sees the window must see that it writes nothing.
  if (IOSystem::simulationMode) setTitle(title + " - " + GetString("Kelvarin.mFXWizard.050"));

  KV_TRACE(8, "mFXWizard::Creating search thread\n");
  searchThread = new mFXThreadSearch(this);

  KV_TRACE(8, "mFXWizard::Creating frame content\n");
  BuildPages(welcomeImage);
  searchType = ID_SEARCH_QUICK;

  SetButtonTexts();
  KV_TRACE(8, "mFXWizard::content frame done\n");
}

void mFXWizard::ChooseLanguage() {
  ChooseLanguageAtStart(getApp(), *this, *sharedAnalyser, sharedAnalyser->langGiven);
}

FXFont* mFXWizard::EncodedFont(const FXString& description) {
  FXFont* font = GetFontEncoded(description, getApp());
  if (font) fonts.emplace_back(font);
  return font;
}

WrapLabel* mFXWizard::AddLabel(FXComposite* parent, const FXString& text, FXuint opts, FXint top,
                               FXint bottom, FXIcon* icon) {
  return new WrapLabel(parent, text, icon, opts, 0, 0, 0, 0, 2, 2, top, bottom);
}

FXText* mFXWizard::BuildDetails(FXComposite* page, const FXString& key, FXVerticalFrame*& frame) {
  frame = new FXVerticalFrame(page, FRAME_SUNKEN | FRAME_THICK | LAYOUT_FILL_X | LAYOUT_FILL_Y);
  AddLabel(frame, GetString(key));
  FXVerticalFrame* inner = new FXVerticalFrame(frame, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0,
                                               0, 0, 0, 0);
  FXText* text = new FXText(inner, nullptr, 0, TEXT_READONLY | TEXT_WORDWRAP | LAYOUT_FILL_X |
                                                   LAYOUT_FILL_Y, 0, 0, 0, 0, 3, 3, 2, 2);
  return text;
}

void mFXWizard::BuildPages(FXImage* welcomeImage) {
  FXVerticalFrame* pages[PAGE_COUNT];
  for (int i = 0; i < PAGE_COUNT; i++)
    pages[i] = new FXVerticalFrame(getContainer(), PAGE_OPTS, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);

  BuildWelcomePage(pages[PAGE_WELCOME], welcomeImage);

  // The summary text widgets are written by the choosers, so they stand
  // before the choosers that fill them.
  FXComposite* page = pages[PAGE_SEARCH_TYPE];
  FXGroupBox* type = new FXGroupBox(page, GetString("Kelvarin.mFXWizard.007"),
                                    GROUPBOX_TITLE_CENTER | FRAME_GROOVE | LAYOUT_FILL_X);
  quickRadio = new FXRadioButton(type, GetString("Kelvarin.mFXWizard.008"), this, ID_SEARCH_QUICK);
  fullRadio = new FXRadioButton(type, GetString("Kelvarin.mFXWizard.009"), this, ID_SEARCH_FULL);
  AddLabel(page, GetString("Kelvarin.mFXWizard.034"), LAYOUT_FILL_X | JUSTIFY_LEFT, 2, 28);
  searchAreaText = BuildDetails(page, "Kelvarin.mFXWizard.010", searchDetails);

  page = pages[PAGE_AREAS];
  AddLabel(page, GetString("Kelvarin.mFXWizard.011"));
  searchChooser = new mFXDiskChooser(page, searchAreaText, FALSE);

  page = pages[PAGE_SEARCHING];
  searchLabel = AddLabel(page, GetString("Kelvarin.mFXWizard.004"));
  searchProgress = new FXProgressBar(page, nullptr, 0,
                                     PROGRESSBAR_PERCENTAGE | FRAME_SUNKEN | FRAME_THICK |
                                         LAYOUT_FILL_X);
  progressProxy = new ProxyProgress;
  progressProxy->target = searchProgress;
  logText = BuildDetails(page, "Kelvarin.mFXWizard.006", progressDetails);
  textProxy = new ProxyText;
  textProxy->target = logText;

  page = pages[PAGE_SUMMARY];
  AddLabel(page, GetString("Kelvarin.mFXWizard.002"));
  FXVerticalFrame* summary = new FXVerticalFrame(
      page, FRAME_SUNKEN | FRAME_THICK | LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0);
  recoverText = new FXText(summary, nullptr, 0,
                           TEXT_READONLY | TEXT_WORDWRAP | LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0,
                           0, 3, 3, 2, 2);
  activeChooser = new mFXActiveChooser(page);

  page = pages[PAGE_CHOOSE];
  AddLabel(page, GetString("Kelvarin.mFXWizard.020"));
  recoverChooser = new mFXDiskChooser(page, recoverText, TRUE);
  recoverChooser->recoverList = &recoverList;

  page = pages[PAGE_RESULT];
  resultLabel = AddLabel(page, GetString("Kelvarin.mFXWizard.003"));
  recoverChooser->SetChooserParent(page);

  page = pages[PAGE_RECOVERING];
  AddLabel(page, GetString("Kelvarin.mFXWizard.001"));
  recoverProgress = new FXProgressBar(page, nullptr, 0,
                                      PROGRESSBAR_PERCENTAGE | FRAME_SUNKEN | FRAME_THICK |
                                          LAYOUT_FILL_X);

  BuildEndPage(pages[PAGE_END]);
}

void mFXWizard::BuildWelcomePage(FXComposite* page, FXImage* welcomeImage) {
  FXVerticalFrame* inner = new FXVerticalFrame(page, PAGE_OPTS, 0, 0, 0, 0, 0, 0, 0, 0);
  WrapLabel* title = AddLabel(inner, GetString("Kelvarin.mFXWizard.012"),
                              LAYOUT_FILL_X | JUSTIFY_CENTER_X);
  if (FXFont* font = EncodedFont("Arial,220")) title->setFont(font);
  new FXImageFrame(inner, welcomeImage, LAYOUT_CENTER_X, 0, 0, 0, 0, 0, 0, 0, 0);
  FXString name = GetConfigParam("shortappname");
  AddLabel(inner, Format("Kelvarin.mFXWizard.014", name.text(), name.text()),
           LAYOUT_FILL_X | JUSTIFY_LEFT, 32);

  // At the bottom: the warning, then the note below it.  A wrapping label
  // measures itself against its parent's width, so these stand directly in
  // the page's frame (bottom-placed children stack upwards).
  AddLabel(inner, GetString("Kelvarin.mFXWizard.015"), LAYOUT_FILL_X | LAYOUT_BOTTOM | JUSTIFY_LEFT);
  FXIcon* warning = new FXPNGIcon(getApp(), warningIconPng);
  icons.emplace_back(warning);
  AddLabel(inner, GetString("Kelvarin.mFXWizard.016"),
           LAYOUT_FILL_X | LAYOUT_BOTTOM | JUSTIFY_LEFT | ICON_BEFORE_TEXT, 2, 2, warning);
}

void mFXWizard::BuildEndPage(FXComposite* page) {
  FXVerticalFrame* inner = new FXVerticalFrame(page, PAGE_OPTS, 0, 0, 0, 0, 0, 0, 0, 0);
  FXIcon* flag = new FXPNGIcon(getApp(), flagIconPng);
  icons.emplace_back(flag);
  WrapLabel* title = AddLabel(inner, GetString("Kelvarin.mFXWizard.017"),
                              LAYOUT_FILL_X | JUSTIFY_CENTER_X | ICON_BEFORE_TEXT, 2, 2, flag);
  if (FXFont* font = EncodedFont("Arial,220")) title->setFont(font);
  FXString version = GetConfigParam("longappname") + " V" + GetConfigParam("shortver");
  if (IOSystem::simulationMode) {
    // Nothing was written, so nothing needs a restart either.
    endLabel = AddLabel(inner, GetString("Kelvarin.mFXWizard.051"), LAYOUT_FILL_X | JUSTIFY_LEFT, 32);
    return;
  }
  endLabel = AddLabel(inner, Format("Kelvarin.mFXWizard.018", version.text()),
                      LAYOUT_FILL_X | JUSTIFY_LEFT, 32);
  AddLabel(inner, Format("Kelvarin.mFXWizard.019", version.text()), LAYOUT_FILL_X | JUSTIFY_LEFT,
           32);
}

void mFXWizard::SetButtonTexts() {
  struct {
    FXButton* button;
    const char* key;
  } buttons[] = {{advanceButton(), "Kelvarin.mFXWizard.030"},
                 {retreatButton(), "Kelvarin.mFXWizard.031"},
                 {cancelButton(), "Kelvarin.mFXWizard.032"},
                 {finishButton(), "Kelvarin.mFXWizard.033"}};
  for (auto& b : buttons) {
    b.button->setText(GetString(b.key));
    if (FXFont* font = EncodedFont("Arial,100")) b.button->setFont(font);
  }
}

void mFXWizard::create() {
  // The pages were laid out for 780 x 450; a language with longer texts or
  // a wider side picture must not cut them off.
  FXWizard::create();
  // Text sizes are known once the fonts exist on the display.
  resize(FXMAX(getWidth(), getDefaultWidth()), FXMAX(getHeight(), getDefaultHeight()));
  WidenForDiskRows();
  RaiseNewWindow(this);
}

// A disk row of the choosers is as wide as its information block and its
// pictures; the window grows so that the widest row shows without scrolling.
void mFXWizard::WidenForDiskRows() {
  FXint shown = getCurrentPanel();
  FXint overflow = 0;
  const std::pair<FXint, mFXDiskChooser*> pages[] = {{PAGE_AREAS, searchChooser},
                                                     {PAGE_CHOOSE, recoverChooser}};
  for (const auto& page : pages) {
    setCurrentPanel(page.first);
    LayoutTree(this);
    FXScrollWindow* view = dynamic_cast<FXScrollWindow*>(page.second->getDiskView()->getFirst());
    if (view && view->getViewportWidth() > 0)
      overflow = FXMAX(overflow, view->getContentWidth() - view->getViewportWidth());
  }
  setCurrentPanel(shown);
  if (overflow > 0) resize(getWidth() + overflow, getHeight());
  LayoutTree(this);
}

FXuint mFXWizard::execute(FXuint placement) {
  create();
  FXint status = ReportStart();
  if (status >= 0) return (FXuint)status;
  return FXWizard::execute(placement);
}

FXint mFXWizard::ReportStart() {
  Analyse* analyser = sharedAnalyser;
  if (analyser->helpWanted) {
    inform("Kelvarin.mFXWizard.035", Analyse::UsageText());
    return 1;
  }
  if (analyser->startMessage.kind == StartMessage::NONE) return -1;
  inform("Kelvarin.mFXWizard.035", analyser->StartMessageText());
  return analyser->startMessage.problem() ? 2 : -1;
}

mFXWizard::~mFXWizard() {
  KV_TRACE(5, "mFXWizard::~mFXWizard() destructor\n");
  if (searchThread && searchThread->running) {
    KV_TRACE(6, "mFXWizard::~mFXWizard canceling search thread\n");
    // The search stops at its next probe; a thread killed mid-read could
    // leave a lock held or a disk open.
    searchCancelled = true;
    sharedAnalyser->stopSearch = true;
  }
  delete searchThread;  // waits for a started thread
  delete textProxy;
  delete progressProxy;
  delete wizardProxy;
  delete sharedAnalyser;
  sharedAnalyser = nullptr;
}

void mFXWizard::setAsker(Asker* a) { asker = a ? a : messageBoxes.get(); }

bool mFXWizard::searching() const { return searchThread && searchThread->running; }

void mFXWizard::inform(const FXString& captionKey, const FXString& text) {
  asker->inform(this, GetString(captionKey), text);
}

bool mFXWizard::ask(const FXString& captionKey, const FXString& text) {
  return asker->ask(this, GetString(captionKey), text);
}

void mFXWizard::appendLog(const FXString& text) {
  logText->appendText(text, FALSE);
  logText->makePositionVisible(logText->getLength());
}

// Brings the display up to date while a handler still works.
void mFXWizard::ShowNow() {
  LayoutTree(getContainer());
  getApp()->forceRefresh();
  getApp()->repaint();
  getApp()->flush();
}

FXint mFXWizard::PercentSearched() const {
  FXulong total = searchProgress->getTotal();
  if (total == 0) return 0;
  return (FXint)FXMIN((FXulong)searchProgress->getProgress() * 100 / total, (FXulong)100);
}

// -------------------------------------------------------------- navigation

long mFXWizard::onCmd_Next(FXObject* sender, FXSelector sel, void* ptr) {
  FXint panel = getCurrentPanel();
  KV_TRACE(5, "mFXWizard::onCmd_Next( panel=%d )\n", panel);
  switch (panel) {
    case PAGE_WELCOME:
      return NextFromWelcome(sender, sel, ptr);
    case PAGE_AREAS:
      return NextFromAreas(sender, sel, ptr);
    case PAGE_SEARCH_TYPE:
      return NextFromSearchType(sender, sel, ptr);
    case PAGE_SEARCHING:
      return NextFromSearching(sender, sel, ptr);
    case PAGE_RESULT:
      return NextFromResult(sender, sel, ptr);
    case PAGE_CHOOSE:
      advanceButton()->setText(GetString("Kelvarin.mFXWizard.040"));
      return FXWizard::onCmdNext(sender, sel, ptr);
    case PAGE_SUMMARY:
      return NextFromSummary(sender, sel, ptr);
    default:
      return FXWizard::onCmdNext(sender, sel, ptr);
  }
}

long mFXWizard::NextFromWelcome(FXObject* sender, FXSelector sel, void* ptr) {
  if (DoUndo()) {
    endLabel->setText(GetString(IOSystem::simulationMode ? "Kelvarin.mFXWizard.052"
                                                         : "Kelvarin.mFXWizard.038"));
    setCurrentPanel(PAGE_END);
    cancelButton()->disable();
  }
  return FXWizard::onCmdNext(sender, sel, ptr);
}

long mFXWizard::NextFromAreas(FXObject* sender, FXSelector sel, void* ptr) {
  if (searchAreaText->getLength() == 0) {
    KV_TRACE(6, "mFXWizard::onCmd_Next no partitions selected.\n");
    inform("Kelvarin.onCmd_Next.001", GetString("Kelvarin.onCmd_Next.006"));
    return 1;
  }
  return FXWizard::onCmdNext(sender, sel, ptr);
}

long mFXWizard::NextFromSearchType(FXObject* sender, FXSelector sel, void* ptr) {
  if (!quickRadio->getCheck() && !fullRadio->getCheck()) {
    KV_TRACE(6, "mFXWizard::onCmd_Next type of search not selected.\n");
    return 1;
  }
  bool quick = (searchType == ID_SEARCH_QUICK);
  // What the worker needs of the free-space chooser, taken here on the GUI
  // thread: the chosen stretches and the number of stretches it shows.
  stretches.clear();
  FXint disk;
  FXulong start, end;
  for (FXint n = 0; searchChooser->GetFreeSpaceProperties(n, &disk, &start, &end); n++)
    stretches.push_back(Stretch{disk, start, end});
  areas = (FXint)searchChooser->GetSumSteps();

  logText->setText(FXString::null);
  advanceButton()->disable();
  retreatButton()->disable();
  searchLabel->setText(GetString("Kelvarin.mFXWizard.004"));
  FXulong total = searchChooser->GetSumSectors(quick);
  progressProxy->reset(total > 0xFFFFFFFFull ? 0xFFFFFFFFu : (FXuint)total);
  searchCancelled = false;
  searchThread->reap();  // an earlier search has ended, but its thread may not be joined yet
  if (!searchThread->begin()) {
    advanceButton()->enable();
    retreatButton()->enable();
    return 1;
  }
  return FXWizard::onCmdNext(sender, sel, ptr);
}

long mFXWizard::NextFromSearching(FXObject* sender, FXSelector sel, void* ptr) {
  if (recoverChooser->getFoundList() && recoverChooser->getFoundList()->getNumItems() > 0) {
    resultLabel->setText(searchCancelled ? Format("Kelvarin.mFXWizard.054", stoppedAt)
                                         : GetString("Kelvarin.mFXWizard.003"));
    return FXWizard::onCmdNext(sender, sel, ptr);
  }
  resultLabel->setText(GetString("Kelvarin.mFXWizard.022"));
  if (searchCancelled) {
    // A search cut short proves nothing about the rest of the areas: no
    // full search is offered in its place.
    inform("Kelvarin.mFXWizard.035", Format("Kelvarin.mFXWizard.055", stoppedAt));
    SendBack(3);
  } else if (searchType == ID_SEARCH_FULL) {
    inform("Kelvarin.mFXWizard.035", GetString("Kelvarin.mFXWizard.043"));
    SendBack(3);
  } else if (!ask("Kelvarin.mFXWizard.035", GetString("Kelvarin.mFXWizard.042"))) {
    SendBack(3);
  } else {
    SendBack(2);
    quickRadio->setCheck(FALSE);
    fullRadio->setCheck(TRUE);
    searchType = ID_SEARCH_FULL;
  }
  return FXWizard::onCmdNext(sender, sel, ptr);
}

void mFXWizard::SendBack(int times) {
  for (int i = 0; i < times; i++) handle(this, FXSEL(SEL_COMMAND, ID_BACK), nullptr);
}

long mFXWizard::NextFromResult(FXObject* sender, FXSelector sel, void* ptr) {
  if (recoverText->getLength() == 0) {
    KV_TRACE(6, "mFXWizard::onCmd_Next no recovery partitions selected.\n");
    return 1;
  }
  FXString reason;
  if (!sharedAnalyser->CheckTableReach(recoverList, reason)) {
    inform("Kelvarin.onCmd_Next.001", reason);
    return 1;
  }
  if (!sharedAnalyser->CheckMBRFit(recoverList)) {
    inform("Kelvarin.onCmd_Next.001", GetString("Kelvarin.onCmd_Next.002"));
    return 1;
  }
  if (!sharedAnalyser->CheckMBRCode())
    bootCodeAnswer = ask("Kelvarin.onCmd_Next.001", GetString("Kelvarin.onCmd_Next.003"));
  recoverChooser->locked = true;
  HandOverToActiveChooser();
  return FXWizard::onCmdNext(sender, sel, ptr);
}

void mFXWizard::HandOverToActiveChooser() {
  std::vector<FXString> devices = sharedAnalyser->GetDeviceNames(false);
  for (size_t i = 0; i < devices.size(); i++) {
    std::vector<FXString> names;
    std::vector<FXulong> starts;
    for (size_t j = 0; j < recoverList.size(); j++) {
      if (recoverList[j].device != devices[i] || recoverList[j].logical) continue;
      names.push_back(recoverChooser->GetSelectedPartitionName((FXint)j));
      starts.push_back(recoverList[j].sector);
    }
    activeChooser->AddRecoveredNames((FXint)i, names);
    activeChooser->SetStarts((FXint)i, starts);
  }
}

namespace {

// The bar of the recovering page, which the wizard turns to once every
// question is answered.
class RecoveringPage : public ProgressBarProgress {
public:
  RecoveringPage(FXProgressBar* bar, const std::function<void()>& show)
      : ProgressBarProgress(bar), show(show) {}
  void starting() override { show(); }

private:
  std::function<void()> show;
};

}  // namespace

// Before anything is written: a disk whose undo log cannot hold the whole
// recovery is named, and the user chooses whether to go on without logging
// it.
bool mFXWizard::GoOnWhereTheLogCannotHold(const NRD& disk) {
  FXString model = disk.model;
  return ask("Kelvarin.onCmd_Next.001",
             Format("Kelvarin.NextFromSummary.001", model.trimEnd().text()));
}

// The end page names every chosen partition that was not written, and why.
void mFXWizard::ShowResults(const std::vector<RecoverResult>& results) {
  FXString lines;
  for (size_t j = 0; j < results.size(); j++) {
    if (results[j].done()) continue;
    FXString name = recoverChooser->GetSelectedPartitionName((FXint)j).trimEnd();
    lines += "\n" + Format("Kelvarin.NextFromSummary.003", name.text(),
                           (double)results[j].part.first, GetString(results[j].reason.key).text());
  }
  if (lines.empty()) return;
  endLabel->setText(GetString("Kelvarin.NextFromSummary.002") + "\n" + lines);
}

long mFXWizard::NextFromSummary(FXObject* sender, FXSelector sel, void* ptr) {
  const FXchar* confirmation =
      IOSystem::simulationMode ? "Kelvarin.onCmd_Next.011" : "Kelvarin.onCmd_Next.004";
  if (!ask("Kelvarin.onCmd_Next.001", GetString(confirmation))) return 1;
  RecoveryChoice choice;
  choice.chosen = recoverList;
  choice.foundVolumes = recoverChooser->GetFoundVolumes();
  choice.writeBootCode = bootCodeAnswer;
  choice.activeStarts = activeChooser->GetActiveSelection();
  choice.devices = sharedAnalyser->GetDeviceNames(false);
  RecoveringPage progress(recoverProgress, [&] {
    FXWizard::onCmdNext(sender, sel, ptr);
    ShowNow();
  });
  std::vector<RecoverResult> results = Recover::Apply(
      *sharedAnalyser, choice, &progress,
      [this](const NRD& disk) { return GoOnWhereTheLogCannotHold(disk); });
  // Refused where the log cannot hold it: nothing was written.
  if (!results.empty() && Recover::RefusedForTheLog(results.front())) return 1;
  ShowResults(results);
  FXWizard::onCmdNext(sender, sel, ptr);
  retreatButton()->disable();
  cancelButton()->disable();
  return 1;
}

long mFXWizard::onCmd_Back(FXObject* sender, FXSelector sel, void* ptr) {
  FXint panel = getCurrentPanel();
  KV_TRACE(5, "mFXWizard::onCmd_Back( panel=%d )\n", panel);
  switch (panel) {
    case PAGE_SEARCH_TYPE:
    case PAGE_SEARCHING:
      if (searching()) return 1;
      break;
    case PAGE_CHOOSE:
      recoverChooser->locked = false;
      break;
    case PAGE_SUMMARY:
      advanceButton()->setText(GetString("Kelvarin.mFXWizard.030"));
      break;
    case PAGE_RECOVERING:
    case PAGE_END:
      return 1;
    default:
      break;
  }
  return FXWizard::onCmdBack(sender, sel, ptr);
}

long mFXWizard::onUpdNext(FXObject* sender, FXSelector, void*) {
  bool last = getCurrentPanel() >= getNumPanels() - 1;
  sender->handle(this, FXSEL(SEL_COMMAND, last ? ID_HIDE : ID_SHOW), nullptr);
  return 1;
}

long mFXWizard::onUpdBack(FXObject* sender, FXSelector, void*) {
  if (searching()) return 1;
  FXint panel = getCurrentPanel();
  bool inside = panel > 0 && panel < getNumPanels() - 1;
  sender->handle(this, FXSEL(SEL_COMMAND, inside ? ID_ENABLE : ID_DISABLE), nullptr);
  return 1;
}

long mFXWizard::onCmdCancel(FXObject* sender, FXSelector, void* ptr) {
  // Once the disks have been written (or an undo done) only Finish leaves;
  // closing the window or pressing Escape must not report a cancel then.
  if (!cancelButton()->isEnabled()) return 1;
  if (searching()) {
    if (ask("Kelvarin.mFXWizard.035", GetString("Kelvarin.mFXWizard.039"))) {
      stoppedAt = PercentSearched();
      progressProxy->hold();
      searchCancelled = true;
      sharedAnalyser->stopSearch = true;
    }
    return 1;
  }
  FXString name = GetConfigParam("shortappname");
  if (ask("Kelvarin.mFXWizard.035", Format("Kelvarin.mFXWizard.041", name.text())))
    FXWizard::onCmdCancel(sender, FXSEL(SEL_COMMAND, FXDialogBox::ID_CANCEL), ptr);
  return 1;
}

long mFXWizard::onCmdSearchType(FXObject*, FXSelector sel, void*) {
  KV_TRACE(5, "mFXWizard::onCmdSearchType()\n");
  searchType = FXSELID(sel);
  (searchType == ID_SEARCH_QUICK ? fullRadio : quickRadio)->setCheck(FALSE);
  return 1;
}

long mFXWizard::onCmdStepDetails(FXObject* sender, FXSelector sel, void*) {
  KV_TRACE(5, "mFXWizard::onCmdStepDetails()\n");
  FXVerticalFrame* frame = FXSELID(sel) == ID_DETAILS_SEARCH ? searchDetails : progressDetails;
  FXCheckButton* check = dynamic_cast<FXCheckButton*>(sender);
  if (check && check->getCheck()) {
    KV_TRACE(6, "mFXWizard::onCmdStepDetails showing\n");
    frame->show();
  } else {
    KV_TRACE(6, "mFXWizard::onCmdStepDetails hiding\n");
    frame->hide();
  }
  frame->getParent()->recalc();
  return 1;
}

long mFXWizard::onSearchCompleted(FXObject*, FXSelector, void*) {
  KV_TRACE(8, "mFXWizard::onSearchCompleted - got MessageChannel!!!\n");
  searchThread->reap();
  if (searchCancelled) {
    // The bar stays where the search was stopped.
    searchLabel->setText(Format("Kelvarin.mFXWizard.053", stoppedAt));
  } else {
    searchLabel->setText(GetString("Kelvarin.mFXWizard.021"));
    searchProgress->setProgress(searchProgress->getTotal());
  }
  advanceButton()->enable();
  advanceButton()->setText(GetString("Kelvarin.mFXWizard.030"));
  retreatButton()->enable();
  getApp()->refresh();
  handle(this, FXSEL(SEL_COMMAND, ID_NEXT), nullptr);
  return 1;
}

// ------------------------------------------------------------------ search

void mFXWizard::Search() {
  KV_TRACE(5, "mFXWizard::Search()\n");
  bool quick = (searchType == ID_SEARCH_QUICK);
  // Widgets and translations belong to the GUI thread: what the search does
  // to them is posted, and the proxies apply it there in posting order.
  wizardProxy->postCall([this] { recoverChooser->ClearRecoverPartitions(); });
  std::vector<std::pair<FXint, std::vector<FXulong>>> results;
  for (const Stretch& s : stretches) {
    if (searchCancelled) break;  // the user stopped the whole search, not one stretch
    textProxy->postCall([this, s] {
      appendLog(Format("Kelvarin.Search.001", s.disk + 1, (double)s.start, (double)s.end));
    });
    results.emplace_back(s.disk, sharedAnalyser->Search(progressProxy, textProxy, s.disk, quick,
                                                        s.start, s.end - 1, areas));
    textProxy->appendText("\n");
  }
  // Placing a found partition reads its boot record through the program's
  // one read context, which the search uses until its last stretch is done:
  // so the results go to the chooser together, after the last read.
  wizardProxy->postCall([this, results] {
    for (const auto& r : results) recoverChooser->SetRecoverPartitions(r.first, r.second);
  });
}
