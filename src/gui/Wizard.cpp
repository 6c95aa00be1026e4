// The wizard window: its pages, the navigation between them and the work
// each page starts.
#include "Wizard.h"

#include <FXPNGIcon.h>
#include <fxkeys.h>

#include <chrono>

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
    FXMAPFUNC(SEL_COMMAND, mFXWizard::ID_HELP, mFXWizard::onCmdHelp),
    FXMAPFUNC(SEL_TIMEOUT, mFXWizard::ID_RATE_TIMER, mFXWizard::onRateTimer),
};

FXIMPLEMENT(mFXWizard, FXWizard, mFXWizardMap, ARRAYNUMBER(mFXWizardMap))

namespace {

const FXuint PAGE_OPTS = LAYOUT_FILL_X | LAYOUT_FILL_Y;

// No window of the program is wider than this: the smallest screens it is
// used on are 1024 pixels wide.
const FXint MAX_WINDOW_WIDTH = 1024;

// Texts that cannot wrap themselves (radio buttons) are broken into lines of
// at most this many pixels.
const FXint TEXT_LINE_WIDTH = 600;

// How often the search page brings its speed and time left up to date.
const FXuint RATE_INTERVAL_MS = 500;

// Colours of the progress bars: the percentage reads dark on the light
// trough and white on the filled part, both well above WCAG AA's 4.5:1.
const FXColor BAR_TROUGH = FXRGB(255, 255, 255);
const FXColor BAR_FILL = FXRGB(0, 70, 140);
const FXColor BAR_TEXT_ON_TROUGH = FXRGB(0, 0, 0);
const FXColor BAR_TEXT_ON_FILL = FXRGB(255, 255, 255);

FXdouble secondsNow() {
  return std::chrono::duration<FXdouble>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

FXProgressBar* NewProgressBar(FXComposite* page) {
  FXProgressBar* bar = new FXProgressBar(page, nullptr, 0,
                                         PROGRESSBAR_PERCENTAGE | FRAME_SUNKEN | FRAME_THICK |
                                             LAYOUT_FILL_X);
  bar->setBarBGColor(BAR_TROUGH);
  bar->setBarColor(BAR_FILL);
  bar->setTextColor(BAR_TEXT_ON_TROUGH);
  bar->setTextAltColor(BAR_TEXT_ON_FILL);
  return bar;
}

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
      helpButton(nullptr),
      statusLine(nullptr),
      rateLabel(nullptr),
      restartLabel(nullptr),
      areas(0),
      searchCancelled(false),
      stoppedAt(0),
      asker(nullptr),
      messageBoxes(new MessageBoxAsker),
      searchStarted(0),
      sectorsPerStep(1) {
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

  // Help stands apart from the buttons that move between pages.
  helpButton = new FXButton(buttonFrame(), GetString("Kelvarin.mFXWizard.056"), nullptr, this, ID_HELP,
                            BUTTON_NORMAL | LAYOUT_LEFT);
  getAccelTable()->addAccel(KEY_F1, this, FXSEL(SEL_COMMAND, ID_HELP));
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
  for (int i = 0; i < PAGE_COUNT; i++) {
    pages[i] = new FXVerticalFrame(getContainer(), PAGE_OPTS, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
    AddPageHeader(pages[i], i);
  }

  BuildWelcomePage(pages[PAGE_WELCOME], welcomeImage);

  // The summary text widgets are written by the choosers, so they stand
  // before the choosers that fill them.
  FXComposite* page = pages[PAGE_SEARCH_TYPE];
  FXGroupBox* type = new FXGroupBox(page, GetString("Kelvarin.mFXWizard.007"),
                                    GROUPBOX_TITLE_CENTER | FRAME_GROOVE | LAYOUT_FILL_X);
  const FXuint radioOpts = RADIOBUTTON_NORMAL | JUSTIFY_LEFT;  // wrapped lines start under the first
  quickRadio = new FXRadioButton(type, GetString("Kelvarin.mFXWizard.008"), this, ID_SEARCH_QUICK, radioOpts);
  fullRadio = new FXRadioButton(type, GetString("Kelvarin.mFXWizard.009"), this, ID_SEARCH_FULL, radioOpts);
  quickRadio->setCheck(TRUE);  // usually enough, and what searchType starts as
  AddLabel(page, GetString("Kelvarin.mFXWizard.034"), LAYOUT_FILL_X | JUSTIFY_LEFT, 2, 28);
  searchAreaText = BuildDetails(page, "Kelvarin.mFXWizard.010", searchDetails);

  page = pages[PAGE_AREAS];
  AddLabel(page, GetString("Kelvarin.mFXWizard.011"));
  searchChooser = new mFXDiskChooser(page, searchAreaText, FALSE);

  page = pages[PAGE_SEARCHING];
  searchLabel = AddLabel(page, GetString("Kelvarin.mFXWizard.004"));
  searchProgress = NewProgressBar(page);
  rateLabel = new FXLabel(page, FXString::null, nullptr, LAYOUT_FILL_X | JUSTIFY_LEFT);
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
  statusLine = AddLabel(page, FXString::null, LAYOUT_FILL_X | JUSTIFY_LEFT);
  recoverChooser->statusLine = statusLine;

  page = pages[PAGE_RECOVERING];
  AddLabel(page, GetString("Kelvarin.mFXWizard.001"));
  recoverProgress = NewProgressBar(page);

  BuildEndPage(pages[PAGE_END]);
}

void mFXWizard::BuildWelcomePage(FXComposite* page, FXImage* welcomeImage) {
  FXVerticalFrame* inner = new FXVerticalFrame(page, PAGE_OPTS, 0, 0, 0, 0, 0, 0, 0, 0);
  WrapLabel* title = AddLabel(inner, GetString("Kelvarin.mFXWizard.012"),
                              LAYOUT_FILL_X | JUSTIFY_CENTER_X);
  if (FXFont* font = EncodedFont("Arial,220")) title->setFont(font);
  new FXImageFrame(inner, welcomeImage, LAYOUT_CENTER_X, 0, 0, 0, 0, 0, 0, 0, 0);
  // The picture carries no words: its line is a text of the language files.
  AddLabel(inner, GetString("Kelvarin.BuildWelcomePage.001"), LAYOUT_FILL_X | JUSTIFY_CENTER_X);
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
  restartLabel = AddLabel(inner, Format("Kelvarin.mFXWizard.019", version.text()),
                          LAYOUT_FILL_X | JUSTIFY_LEFT, 32);
}

// Every page begins with its title and where it stands in the whole.
void mFXWizard::AddPageHeader(FXComposite* page, FXint index) {
  FXHorizontalFrame* header = new FXHorizontalFrame(page, LAYOUT_FILL_X, 0, 0, 0, 0, 0, 0, 0, 0);
  FXLabel* title = new FXLabel(header, GetString(PageTitleKey(index)), nullptr, LAYOUT_LEFT | JUSTIFY_LEFT);
  if (FXFont* font = EncodedFont("Arial,110,bold")) title->setFont(font);
  new FXLabel(header, Format("Kelvarin.AddPageHeader.001", index + 1, (FXint)PAGE_COUNT), nullptr,
              LAYOUT_RIGHT | JUSTIFY_RIGHT | LAYOUT_CENTER_Y);
  new FXHorizontalSeparator(page, SEPARATOR_GROOVE | LAYOUT_FILL_X);
}

FXString mFXWizard::PageTitleKey(FXint page) { return FXStringFormat("Kelvarin.PageTitle.%03d", page + 1); }

FXString mFXWizard::PageHelpKey(FXint page) { return FXStringFormat("Kelvarin.PageHelp.%03d", page + 1); }

long mFXWizard::onCmdHelp(FXObject*, FXSelector, void*) {
  FXint page = getCurrentPanel();
  asker->inform(this, Format("Kelvarin.onCmdHelp.001", GetString(PageTitleKey(page)).text()),
                GetString(PageHelpKey(page)));
  return 1;
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
  // A radio button does not wrap its text: it gets its line breaks here,
  // once its font exists.
  for (FXRadioButton* radio : {quickRadio, fullRadio})
    radio->setText(WrapText(radio->getText(), radio->getFont(), TEXT_LINE_WIDTH));
  // Text sizes are known once the fonts exist on the display.
  resize(FXMIN(FXMAX(getWidth(), getDefaultWidth()), MAX_WINDOW_WIDTH),
         FXMAX(getHeight(), getDefaultHeight()));
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
  // Beyond the widest screen the rows scroll instead.
  FXint width = FXMIN(getWidth() + FXMAX(overflow, 0), MAX_WINDOW_WIDTH);
  if (width != getWidth()) resize(width, getHeight());
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
  getApp()->removeTimeout(this, ID_RATE_TIMER);
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
    inform("Kelvarin.onCmd_Next.001", GetString("Kelvarin.onCmd_Next.012"));
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
  // A step of a quick search stands for a whole cylinder of sectors.
  sectorsPerStep = total ? (FXdouble)searchChooser->GetSumSectors(false) / (FXdouble)total : 1;
  searchStarted = secondsNow();
  rateLabel->setText(FXString::null);
  getApp()->addTimeout(this, ID_RATE_TIMER, RATE_INTERVAL_MS);
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
    inform("Kelvarin.onCmd_Next.001", GetString("Kelvarin.onCmd_Next.013"));
    return 1;
  }
  ChooseNewTables();
  // The chosen partitions are named by the table they go into.
  recoverChooser->SetNewTables(newTables);
  // What goes into a GPT needs none of an MBR's checks.
  std::vector<RecoverPart> intoMbr;
  for (const RecoverPart& r : recoverList)
    if (TableFor(r.device) != TableKind::GPT) intoMbr.push_back(r);
  FXString reason;
  if (!sharedAnalyser->CheckTableReach(intoMbr, reason)) {
    inform("Kelvarin.onCmd_Next.001", reason);
    return 1;
  }
  if (!sharedAnalyser->CheckMBRFit(intoMbr, recoverChooser->GetFoundVolumes(), reason)) {
    inform("Kelvarin.onCmd_Next.001", reason);
    return 1;
  }
  if (!intoMbr.empty() && !sharedAnalyser->CheckMBRCode())
    bootCodeAnswer = ask("Kelvarin.onCmd_Next.001", GetString("Kelvarin.onCmd_Next.003"));
  AskEfiSystem();
  recoverChooser->setLocked(true);
  HandOverToActiveChooser();
  return FXWizard::onCmdNext(sender, sel, ptr);
}

void mFXWizard::HandOverToActiveChooser() {
  std::vector<FXString> devices = sharedAnalyser->GetDeviceNames(false);
  for (size_t i = 0; i < devices.size(); i++) {
    std::vector<FXString> names;
    std::vector<FXulong> starts;
    // A GPT has no active partition.
    bool gpt = TableFor(devices[i]) == TableKind::GPT;
    activeChooser->OfferChoice((FXint)i, !gpt);
    for (size_t j = 0; j < recoverList.size(); j++) {
      if (recoverList[j].device != devices[i] || recoverList[j].logical || gpt) continue;
      names.push_back(recoverChooser->GetSelectedPartitionName((FXint)j));
      starts.push_back(recoverList[j].sector);
    }
    activeChooser->AddRecoveredNames((FXint)i, names);
    activeChooser->SetStarts((FXint)i, starts);
  }
}

void mFXWizard::ChooseNewTables() {
  std::vector<FXString> devices = sharedAnalyser->GetDeviceNames(false);
  newTables.assign(devices.size(), TableKind::NONE);
  for (size_t i = 0; i < devices.size(); i++) {
    const NRD& disk = sharedAnalyser->disks[i];
    bool chosen = false;
    for (const RecoverPart& r : recoverList) chosen = chosen || r.device == devices[i];
    if (!chosen || !LacksAnyTable(disk)) continue;
    FXString model = disk.model;
    bool gpt = ask("Kelvarin.onCmd_Next.001",
                   Format("Kelvarin.NextFromResult.001", model.trimEnd().text()));
    newTables[i] = gpt ? TableKind::GPT : TableKind::MBR;
  }
}

TableKind mFXWizard::TableFor(const FXString& device) const {
  RecoveryChoice choice;
  choice.devices = sharedAnalyser->GetDeviceNames(false);
  choice.newTables = newTables;
  const NRD* disk = Analyse::FindNRD(device);
  return disk ? TableToWrite(*disk, choice) : TableKind::MBR;
}

void mFXWizard::AskEfiSystem() {
  for (size_t j = 0; j < recoverList.size(); j++) {
    RecoverPart& r = recoverList[j];
    r.efiSystem = false;
    if (TableFor(r.device) != TableKind::GPT) continue;
    std::optional<VolumeKind> kind = RecognisedKind(*sharedAnalyser, r);
    if (!kind || !IsFat(*kind)) continue;
    FXString name = recoverChooser->GetSelectedPartitionName((FXint)j).trimEnd();
    r.efiSystem = ask("Kelvarin.onCmd_Next.001",
                      Format("Kelvarin.NextFromResult.002", name.text(), (double)r.first));
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
    FXString why = Format(results[j].reason.key, (double)results[j].args[0], (double)results[j].args[1]);
    lines += "\n" + Format("Kelvarin.NextFromSummary.003", name.text(),
                           (double)results[j].part.first, why.text());
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
  choice.newTables = newTables;
  RecoveringPage progress(recoverProgress, [&] {
    FXWizard::onCmdNext(sender, sel, ptr);
    ShowNow();
  });
  std::vector<FXString> busy;
  std::vector<RecoverResult> results = Recover::Apply(
      *sharedAnalyser, choice, &progress,
      [this](const NRD& disk) { return GoOnWhereTheLogCannotHold(disk); }, &busy);
  // Refused where the log cannot hold it: nothing was written.
  if (!results.empty() && Recover::RefusedForTheLog(results.front())) return 1;
  ReportTableReread(busy);
  ShowResults(results);
  FXWizard::onCmdNext(sender, sel, ptr);
  retreatButton()->disable();
  cancelButton()->disable();
  return 1;
}

// The end page says whether the new tables are in use already: the kernel
// re-reads a disk's table unless a partition of it is busy, and only then
// does the computer need a restart.
void mFXWizard::ReportTableReread(const std::vector<FXString>& busy) {
  if (!restartLabel || busy.empty()) return;
  FXString names;
  for (const FXString& device : busy) names += (names.empty() ? "" : ", ") + device;
  restartLabel->setText(Format("Kelvarin.ReportTableReread.001", names.text()));
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
      recoverChooser->setLocked(false);
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
  getApp()->removeTimeout(this, ID_RATE_TIMER);
  if (searchCancelled) {
    // The bar stays where the search was stopped.
    searchLabel->setText(Format("Kelvarin.mFXWizard.053", stoppedAt));
  } else {
    searchLabel->setText(GetString("Kelvarin.mFXWizard.021"));
    searchProgress->setProgress(searchProgress->getTotal());
    // What the whole search managed per second.
    FXdouble elapsed = secondsNow() - searchStarted;
    if (elapsed > 0)
      rateLabel->setText(Format("Kelvarin.RateText.002", searchProgress->getTotal() * sectorsPerStep / elapsed));
  }
  advanceButton()->enable();
  advanceButton()->setText(GetString("Kelvarin.mFXWizard.030"));
  retreatButton()->enable();
  getApp()->refresh();
  handle(this, FXSEL(SEL_COMMAND, ID_NEXT), nullptr);
  return 1;
}

// While the search runs: how fast it goes and how long it will still take.
long mFXWizard::onRateTimer(FXObject*, FXSelector, void*) {
  if (!searching()) return 1;
  FXdouble elapsed = secondsNow() - searchStarted;
  FXdouble done = searchProgress->getProgress(), total = searchProgress->getTotal();
  if (elapsed > 0 && done > 0)
    rateLabel->setText(RateText(done * sectorsPerStep / elapsed, (total - done) * elapsed / done));
  getApp()->addTimeout(this, ID_RATE_TIMER, RATE_INTERVAL_MS);
  return 1;
}

FXString mFXWizard::RateText(FXdouble sectorsPerSecond, FXdouble secondsLeft) {
  if (sectorsPerSecond <= 0) return FXString::null;
  FXulong left = (FXulong)(secondsLeft + 0.5);
  FXString time;
  time.format("%u:%02u:%02u", (FXuint)(left / 3600), (FXuint)(left / 60 % 60), (FXuint)(left % 60));
  return Format("Kelvarin.RateText.001", sectorsPerSecond, time.text());
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
