#include "support/Gui.h"

#include <unistd.h>

#include <memory>

#include "support/TestImages.h"
#include "support/WorkDir.h"

namespace kvtest {

FXApp* guiApp() {
  static std::unique_ptr<FXApp> app;
  if (!app) {
    static int argc = 1;
    static char name[] = "kvtest";
    static char* argv[] = {name, nullptr};
    app.reset(new FXApp("KelvarinTest", "Varnholm Inc"));
    app->init(argc, argv, true);
    app->create();
  }
  return app.get();
}

void settle(FXApp* app) {
  for (int i = 0; i < 5; i++) {
    app->forceRefresh();
    app->repaint();
    app->runWhileEvents();
    app->flush(true);
    usleep(30000);
  }
}

std::string screenshot(FXWindow* window, const std::string& name) {
  settle(window->getApp());
  std::string path = testOutputDir() + "/" + name;
  char id[32];
  snprintf(id, sizeof(id), "0x%lx", (unsigned long)window->id());
  if (sh(std::string("import -window ") + id + " '" + path + "'") != 0) return "";
  return path;
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
