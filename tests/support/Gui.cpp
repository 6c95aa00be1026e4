#include "support/Gui.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "support/TestImages.h"

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

bool pumpUntil(const std::function<bool()>& done, double seconds) {
  FXApp* app = guiApp();
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

void pumpFor(double seconds) {
  pumpUntil([] { return false; }, seconds);
}

bool click(FXWindow* widget) {
  if (!widget || !widget->shown() || !widget->isEnabled()) return false;
  FXEvent event{};
  event.type = SEL_LEFTBUTTONPRESS;
  event.code = LEFTBUTTON;
  event.win_x = event.win_y = 1;
  event.click_x = event.click_y = 1;
  event.click_count = 1;
  event.time = 0;
  widget->handle(widget, FXSEL(SEL_LEFTBUTTONPRESS, 0), &event);
  event.type = SEL_LEFTBUTTONRELEASE;
  widget->handle(widget, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &event);
  return true;
}

std::string outputDir() {
  std::string dir = "test-output";
  mkdir(dir.c_str(), 0755);
  return dir;
}

bool screenshot(FXWindow* window, const std::string& name) {
  FXApp* app = guiApp();
  app->forceRefresh();
  app->repaint();
  app->flush(true);
  pumpFor(0.3);
  app->repaint();
  app->flush(true);
  std::string file = outputDir() + "/" + name + ".png";
  char id[32];
  snprintf(id, sizeof(id), "0x%lx", (unsigned long)window->id());
  return sh(std::string("import -window ") + id + " '" + file + "'") == 0 &&
         access(file.c_str(), R_OK) == 0;
}

}  // namespace kvtest
