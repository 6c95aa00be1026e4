#include "support/Pointer.h"

#include <time.h>
#include <unistd.h>

#include "support/Gui.h"

namespace kvtest {

static double secondsNow() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

void runEventsFor(double seconds) {
  FXApp* app = guiApp();
  double end = secondsNow() + seconds;
  while (secondsNow() < end) {
    bool busy = false;
    for (int i = 0; i < 1000 && app->peekEvent(); i++) {
      app->runOneEvent(false);
      busy = true;
    }
    app->refresh();
    app->runOneEvent(false);  // lets the refresh run the GUI updates
    if (!busy) usleep(2000);
  }
}

bool pressWidget(FXWindow* widget) {
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

bool saveScreenshot(FXWindow* window, const std::string& name) {
  std::string path = screenshot(window, name + ".png");
  return !path.empty() && access(path.c_str(), R_OK) == 0;
}

}  // namespace kvtest
