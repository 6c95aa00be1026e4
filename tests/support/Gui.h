// Helpers for tests of real widgets under Xvfb: the one application of the
// test program, running its event loop, clicking buttons through their own
// messages, and screenshots.
#ifndef KV_TEST_GUI_H
#define KV_TEST_GUI_H

#include <fx.h>

#include <functional>
#include <string>

namespace kvtest {

// The test program's application, connected to the display and created.
FXApp* guiApp();

// Runs the event loop (inputs, timers, GUI updates, repaints) until `done`
// is true or `seconds` have passed; true when `done` became true.
bool pumpUntil(const std::function<bool()>& done, double seconds = 60);

// Runs the event loop for `seconds`.
void pumpFor(double seconds);

// Presses and releases the left button on a button, check or radio button
// as a user would; a disabled or hidden widget ignores it, as on screen.
// True when the widget was there to be clicked.
bool click(FXWindow* widget);

// Where screenshots and other test output go: <build>/test-output.
std::string outputDir();

// Saves the window as <outputDir>/<name>.png after bringing the display up
// to date; true when the file was written.
bool screenshot(FXWindow* window, const std::string& name);

// Seconds since some fixed point.
double now();

}  // namespace kvtest

#endif
