// Driving widgets in tests: running the event loop for a while, pressing a
// button through its own messages as the pointer would, and saving a
// screenshot that a test can assert on.
#ifndef KV_TEST_POINTER_H
#define KV_TEST_POINTER_H

#include <fx.h>

#include <string>

namespace kvtest {

// Runs the test application's event loop (inputs, timers, updates, repaints)
// for `seconds`.
void runEventsFor(double seconds);

// Presses and releases the left button on a widget as the pointer would; a
// hidden or disabled widget is not pressed.  True when it was pressed.
bool pressWidget(FXWindow* widget);

// Saves `window` as <test output>/<name>.png; true when the file was written.
bool saveScreenshot(FXWindow* window, const std::string& name);

}  // namespace kvtest

#endif
