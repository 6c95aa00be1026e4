#include "support/Gui.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "support/TestImages.h"
#include "support/WorkDir.h"

namespace kvtest {

FXApp* guiApp() {
  static FXApp* app = nullptr;
  if (!app) {
    static int argc = 1;
    static char name[] = "kvtest";
    static char* argv[] = {name, nullptr};
    app = new FXApp("Kelvarin", "Varnholm Inc");
    app->init(argc, argv, true);
    app->create();
  }
  return app;
}

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

static bool pumpUntil(FXApp* app, const std::function<bool()>& done, double seconds) {
  double end = now() + seconds;
  for (;;) {
    bool busy = false;
    for (int i = 0; i < 1000 && app->peekEvent(); i++) {
      app->runOneEvent(false);
      busy = true;
    }
    app->refresh();
    app->runOneEvent(false);  // lets the refresh run the GUI updates
    if (done()) return true;
    if (now() > end) return false;
    if (!busy) usleep(2000);
  }
}

bool pumpUntil(const std::function<bool()>& done, double seconds) {
  return pumpUntil(FXApp::instance() ? FXApp::instance() : guiApp(), done, seconds);
}

void pumpFor(double seconds) {
  pumpUntil([] { return false; }, seconds);
}

TemporaryHome::TemporaryHome() : saved(getenv("HOME") ? getenv("HOME") : "") {
  setenv("HOME", home.path().c_str(), 1);
}

TemporaryHome::~TemporaryHome() { setenv("HOME", saved.c_str(), 1); }

std::string TemporaryHome::registryFolder(const std::string& vendor) const {
  return home.path(".foxrc/" + vendor);
}

void settle(FXApp* app) {
  app->forceRefresh();
  app->repaint();
  app->flush(true);
  pumpUntil(app, [] { return false; }, 0.3);
  app->repaint();
  app->flush(true);
}

bool click(FXWindow* widget) {
  if (!widget || !widget->shown() || !widget->isEnabled()) return false;
  FXEvent event{};
  event.type = SEL_LEFTBUTTONPRESS;
  event.code = LEFTBUTTON;
  event.win_x = event.win_y = 1;
  event.click_x = event.click_y = 1;
  event.click_count = 1;
  widget->handle(widget, FXSEL(SEL_LEFTBUTTONPRESS, 0), &event);
  event.type = SEL_LEFTBUTTONRELEASE;
  widget->handle(widget, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &event);
  return true;
}

std::string screenshot(FXWindow* window, const std::string& name) {
  settle(window->getApp());
  std::string path = testOutputDir() + "/" + name;
  char id[32];
  snprintf(id, sizeof(id), "0x%lx", (unsigned long)window->id());
  if (sh(std::string("import -window ") + id + " '" + path + "'") != 0) return "";
  return path;
}

bool saveScreenshot(FXWindow* window, const std::string& name) {
  std::string path = screenshot(window, name + ".png");
  return !path.empty() && access(path.c_str(), R_OK) == 0;
}

FXDEFMAP(ModalWatcher) ModalWatcherMap[] = {
    FXMAPFUNC(SEL_TIMEOUT, ModalWatcher::ID_TICK, ModalWatcher::onTick),
};
FXIMPLEMENT(ModalWatcher, FXObject, ModalWatcherMap, ARRAYNUMBER(ModalWatcherMap))

ModalWatcher::ModalWatcher(FXApp* a, std::function<void(FXTopWindow*)> act) : app(a), act(std::move(act)) {
  app->addTimeout(this, ID_TICK, 100);
}

ModalWatcher::~ModalWatcher() {
  if (app) app->removeTimeout(this, ID_TICK);
}

long ModalWatcher::onTick(FXObject*, FXSelector, void*) {
  FXTopWindow* modal = dynamic_cast<FXTopWindow*>(app->getModalWindow());
  if (modal && modal->shown()) {
    seen++;
    settle(app);
    if (act) act(modal);
    else modal->handle(this, FXSEL(SEL_COMMAND, FXDialogBox::ID_CANCEL), nullptr);
  }
  app->addTimeout(this, ID_TICK, 100);
  return 1;
}

}  // namespace kvtest
