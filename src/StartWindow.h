// The main window until the wizard stands: one page that greets the user in
// the chosen language and lists the disks the analyser sees.
#ifndef KV_STARTWINDOW_H
#define KV_STARTWINDOW_H

#include <fx.h>

#include "Information.h"
#include "Startup.h"

class Analyse;

class mFXStartWindow : public FXWizard, public Information {
  FXDECLARE(mFXStartWindow)
protected:
  mFXStartWindow() : analyse(nullptr), titleFont(nullptr) {}

public:
  // Creates the analyser from the command line, asks for the language when
  // that is due and builds the page.
  explicit mFXStartWindow(const StartContext& context);
  virtual ~mFXStartWindow();
  virtual void create();

  static MainWindow Make(const StartContext& context);

private:
  Analyse* analyse;
  FXFont* titleFont;
  FXString DiskList();
};

#endif
