// Helpers for tests of real widgets under Xvfb.
#ifndef KV_TEST_GUI_H
#define KV_TEST_GUI_H

#include <fx.h>

#include <functional>
#include <string>

namespace kvtest {

// The process's application, initialised on the display and created once.
FXApp* guiApp();

// Lets the application handle what is pending and draw, so a screenshot
// shows the windows as they are.
void settle(FXApp* app);

// Saves a picture of `window` as `name` in the test output folder; returns
// its path, or "" when it could not be taken.
std::string screenshot(FXWindow* window, const std::string& name);

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
