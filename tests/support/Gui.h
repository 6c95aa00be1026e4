// Helpers for tests of real widgets under Xvfb: the one application of the
// test program, running its event loop, clicking buttons through their own
// messages, screenshots, and answering modal windows.
#ifndef KV_TEST_GUI_H
#define KV_TEST_GUI_H

#include <fx.h>

#include <functional>
#include <string>

#include "support/TestImages.h"

namespace kvtest {

// The test program's application, connected to the display and created once.
// It lives until the process ends, so no window outlives it.
FXApp* guiApp();

// Runs the event loop (inputs, timers, GUI updates, repaints) until `done`
// is true or `seconds` have passed; true when `done` became true.  The loop
// is that of the running application: the one RunKelvarin made, or guiApp().
bool pumpUntil(const std::function<bool()>& done, double seconds = 60);

// Runs the event loop for `seconds`.
void pumpFor(double seconds);

// Lets `app` handle what is pending and draw, so a screenshot shows the
// windows as they are.
void settle(FXApp* app);

// Presses and releases the left button on a button, check or radio button
// as a user would; a disabled or hidden widget ignores it, as on screen.
// True when the widget was there to be clicked.
bool click(FXWindow* widget);

// Saves a picture of `window` as `name` in the test output folder; returns
// its path, or "" when it could not be taken.
std::string screenshot(FXWindow* window, const std::string& name);

// Saves `window` as <test output>/<name>.png; true when the file was written.
bool saveScreenshot(FXWindow* window, const std::string& name);

// While it lives, HOME is a fresh folder of its own: what the program keeps
// in the user's FOX registry goes there, never into the real one.
class TemporaryHome {
public:
  TemporaryHome();
  ~TemporaryHome();
  // The folder FOX keeps the registry files of `vendor` in.
  std::string registryFolder(const std::string& vendor) const;

private:
  std::string saved;
  TempDir home;
};

// Seconds since some fixed point.
double now();

// Watches for a modal window while a test runs code that may open one.  When
// one appears, `act` runs with it (inside the modal loop) and must close it;
// without `act` the window is cancelled.  `seen` counts the windows met.
class ModalWatcher : public FXObject {
  FXDECLARE(ModalWatcher)
public:
  ModalWatcher(FXApp* app, std::function<void(FXTopWindow*)> act = nullptr);
  ~ModalWatcher();
  long onTick(FXObject*, FXSelector, void*);
  // For a watcher that outlives its application: the destructor then leaves
  // the (gone) application alone.
  void forgetApp() { app = nullptr; }
  int seen = 0;
  enum { ID_TICK = 1 };

private:
  ModalWatcher() {}
  FXApp* app = nullptr;
  std::function<void(FXTopWindow*)> act;
};

// The first widget of type T under `root`, depth first.
template <typename T>
T* findChild(FXWindow* root) {
  for (FXWindow* child = root->getFirst(); child; child = child->getNext()) {
    if (T* found = dynamic_cast<T*>(child)) return found;
    if (T* found = findChild<T>(child)) return found;
  }
  return nullptr;
}

}  // namespace kvtest

#endif
