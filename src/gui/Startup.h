// Application start-up: the order in which the program comes up and goes
// down, and the small pieces it needs on the way.
#ifndef KV_STARTUP_H
#define KV_STARTUP_H

#include <fx.h>

#include <functional>

class Information;

namespace Helper {
// Loads a picture by its extension (gif, bmp, xpm, pcx, ico, tga, rgb, png;
// any case) and creates it on the display.  An unknown extension gives a
// warning and null; a file that cannot be opened gives an empty 1 x 1 image.
FXImage* loadImage(FXApp* app, const FXString& filename);
}  // namespace Helper

// A text naming the running system, for the trace: "Linux 6.1.0 (x86_64) #1
// SMP ...".  Empty when the system does not say.
FXString FormatSystemVersion();

// Brings a window just created in front of the others once, without keeping
// it on top.
void RaiseNewWindow(FXTopWindow* window);

// A dialog box that comes to the front when it is created.
class mFXDialogBox : public FXDialogBox {
  FXDECLARE(mFXDialogBox)
protected:
  mFXDialogBox() {}

public:
  mFXDialogBox(FXApp* a, const FXString& name, FXuint opts = DECOR_TITLE | DECOR_BORDER, FXint x = 0, FXint y = 0,
               FXint w = 0, FXint h = 0, FXint pl = 10, FXint pr = 10, FXint pt = 10, FXint pb = 10, FXint hs = 4,
               FXint vs = 4)
      : FXDialogBox(a, name, opts, x, y, w, h, pl, pr, pt, pb, hs, vs) {}
  virtual void create();
};

// The title of the program's windows: "shortappname V longver".
FXString ApplicationTitle();

// What the start-up hands the main window.
struct StartContext {
  FXApp* app;
  FXString title;
  FXImage* backImage;     // res/backimage.png, for the side bar
  FXImage* welcomeImage;  // res/welcomeimage.png, for the first page
  int argc;
  char** argv;
};

// The main window: a modal dialog whose result becomes the exit code (1 when
// finished, 0 when cancelled), and the Information part whose language the
// toolkit's own texts are translated into.
struct MainWindow {
  FXDialogBox* window;
  Information* texts;
};
typedef std::function<MainWindow(const StartContext&)> MainWindowFactory;

// The whole life of the program: reads the configuration and the languages,
// creates the application "Kelvarin" of "Varnholm Inc", its tool tip and the
// two pictures, builds the main window with `makeMainWindow`, runs it modally
// with the translator installed, tears everything down in reverse order and
// returns the window's result (2 when there is no display to run on).
int RunApplication(int argc, char** argv, const MainWindowFactory& makeMainWindow);

#endif
