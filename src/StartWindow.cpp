#include "StartWindow.h"

#include "Analyse.h"
#include "FileSystem.h"
#include "LanguageChooser.h"
#include "WrapLabel.h"
#include "compat/Assert.h"

FXIMPLEMENT(mFXStartWindow, FXWizard, NULL, 0)

mFXStartWindow::mFXStartWindow(const StartContext& c)
    : FXWizard(c.app, c.title, c.backImage, DECOR_TITLE | DECOR_BORDER | DECOR_RESIZE, 0, 0, 780, 450),
      analyse(nullptr),
      titleFont(nullptr) {
  KV_TRACE(6, "mFXStartWindow running on %s\n", FormatSystemVersion().text());
  analyse = c.argc == 1 ? new Analyse() : new Analyse(c.app, c.argc, c.argv);
  sharedAnalyser = analyse;
  ChooseLanguageAtStart(c.app, *this, *analyse, analyse->langGiven);
  SetLanguage(c.app, analyse->language);

  FXVerticalFrame* page = new FXVerticalFrame(getContainer(), LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
  WrapLabel* title = new WrapLabel(page, GetString("Kelvarin.mFXWizard.012"), NULL, LAYOUT_CENTER_X);
  titleFont = GetFontEncoded("Arial,220", c.app);
  title->setFont(titleFont);
  if (c.welcomeImage) new FXImageFrame(page, c.welcomeImage, LAYOUT_CENTER_X | FRAME_NONE);
  FXString name = GetConfigParam("shortappname");
  new WrapLabel(page, Format("Kelvarin.mFXWizard.014", name.text(), name.text()), NULL,
                JUSTIFY_LEFT | LAYOUT_FILL_X, 0, 0, 0, 0, DEFAULT_PAD, DEFAULT_PAD, 16);
  FXVerticalFrame* disks = new FXVerticalFrame(page, FRAME_SUNKEN | FRAME_THICK | LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0);
  FXText* list = new FXText(disks, NULL, 0, TEXT_READONLY | LAYOUT_FILL_X | LAYOUT_FILL_Y);
  list->setText(DiskList());
  new WrapLabel(page, GetString("Kelvarin.mFXWizard.016"), NULL, JUSTIFY_LEFT | LAYOUT_FILL_X);

  advanceButton()->setText(GetString("Kelvarin.mFXWizard.030"));
  retreatButton()->setText(GetString("Kelvarin.mFXWizard.031"));
  cancelButton()->setText(GetString("Kelvarin.mFXWizard.032"));
  finishButton()->setText(GetString("Kelvarin.mFXWizard.033"));
}

mFXStartWindow::~mFXStartWindow() {
  delete analyse;
  sharedAnalyser = nullptr;
  delete titleFont;
}

void mFXStartWindow::create() {
  FXWizard::create();
  RaiseNewWindow(this);
}

FXString mFXStartWindow::DiskList() {
  FXString text;
  for (size_t i = 0; i < analyse->disks.size(); i++) {
    const NRD& d = analyse->disks[i];
    text += FXStringFormat("%u  %s  %s  %.0lf sectors\n", (unsigned)i + 1, d.device.text(), d.model.text(),
                           (double)d.sectors);
    for (const Partition& p : d.partitions) {
      const FXchar* type = PartitionTypeName(p.entry.type);
      text += FXStringFormat("     %02x %-24s start %.0lf, %.0lf sectors\n", p.entry.type, type ? type : "",
                             (double)p.start(), (double)p.entry.num);
    }
  }
  return text;
}

MainWindow mFXStartWindow::Make(const StartContext& context) {
  mFXStartWindow* window = new mFXStartWindow(context);
  return MainWindow{window, window};
}
