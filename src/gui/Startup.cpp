#include "Startup.h"

#include <FXPNGImage.h>
#include <sys/utsname.h>

#include <cstring>
#include <vector>

#include "Information.h"
#include "Translator.h"
#include "compat/Assert.h"

namespace Helper {

FXImage* loadImage(FXApp* app, const FXString& filename) {
  KV_TRACE(7, "Helper::loadImage: %s\n", filename.text());
  const FXuint options = IMAGE_KEEP | IMAGE_SHMI | IMAGE_SHMP;
  FXString extension = FXPath::extension(filename);
  FXImage* image = nullptr;
  if (comparecase(extension, "gif") == 0) image = new FXGIFImage(app, NULL, options, 1, 1);
  else if (comparecase(extension, "bmp") == 0) image = new FXBMPImage(app, NULL, options, 1, 1);
  else if (comparecase(extension, "xpm") == 0) image = new FXXPMImage(app, NULL, options, 1, 1);
  else if (comparecase(extension, "pcx") == 0) image = new FXPCXImage(app, NULL, options, 1, 1);
  else if (comparecase(extension, "ico") == 0) image = new FXICOImage(app, NULL, options, 1, 1);
  else if (comparecase(extension, "tga") == 0) image = new FXTGAImage(app, NULL, options, 1, 1);
  else if (comparecase(extension, "rgb") == 0) image = new FXRGBImage(app, NULL, options, 1, 1);
  else if (comparecase(extension, "png") == 0) image = new FXPNGImage(app, NULL, options, 1, 1);
  if (!image) {
    fxwarning("Error Loading Image %s - Unsupported type: %s\n", filename.text(), extension.text());
    return nullptr;
  }
  FXFileStream stream;
  if (stream.open(filename, FXStreamLoad)) {
    image->loadPixels(stream);
    stream.close();
    // A display is needed to create it; the command-line tool has none.
    if (app->getDisplay()) image->create();
  }
  return image;
}

}  // namespace Helper

FXString FormatSystemVersion() {
  struct utsname system;
  if (uname(&system) != 0) return FXString::null;
  FXString text;
  text.format("%s %s (%s) %s", system.sysname, system.release, system.machine, system.version);
  return text;
}

void RaiseNewWindow(FXTopWindow* window) {
  if (window && window->id()) window->raise();
}

FXIMPLEMENT(mFXDialogBox, FXDialogBox, NULL, 0)

void mFXDialogBox::create() {
  FXDialogBox::create();
  RaiseNewWindow(this);
}

FXString ApplicationTitle() {
  return Information::GetConfigParam("shortappname") + " V" + Information::GetConfigParam("longver");
}

// Connects to the display, or says clearly why the program cannot run.
static bool OpenDisplay(FXApp* app, int& argc, char** argv) {
  const char* display = nullptr;  // what FXApp::init would connect to
  for (int i = 1; i + 1 < argc; i++)
    if (strcmp(argv[i], "-display") == 0 || strcmp(argv[i], "--display") == 0) display = argv[i + 1];
  app->init(argc, argv, false);
  if (app->openDisplay(display)) return true;
  fxwarning("Kelvarin is a graphical program and found no display%s%s.\n"
            "Start it on a desktop, or in a virtual one: xvfb-run -a kelvarin ...\n",
            display ? " " : "", display ? display : "");
  return false;
}

int RunApplication(int argc, char** argv, const MainWindowFactory& makeMainWindow) {
  Information* info = new Information;
  Information::ReadConfigParams();

  FXApp* app = new FXApp("Kelvarin", "Varnholm Inc");
  if (!OpenDisplay(app, argc, argv)) {
    delete app;
    delete info;
    return 2;
  }
  KV_TRACE(7, "main() - product: %s V%s, intenal: %s\n", Information::GetConfigParam("longappname").text(),
           Information::GetConfigParam("longver").text(), "1.0.1440");
  KV_TRACE(7, "main() - current dir: %s\n", FXSystem::getCurrentDirectory().text());

  FXToolTip* toolTip = new FXToolTip(app);
  std::vector<FXString> codes, names;
  info->GetAvailableLang(codes, names);
  FXFont* toolTipFont = info->GetFontEncoded("Arial,80,bold", app);
  toolTip->setFont(toolTipFont);

  FXImage* backImage = Helper::loadImage(app, Information::DataPath("res/backimage.png"));
  FXImage* welcomeImage = Helper::loadImage(app, Information::DataPath("res/welcomeimage.png"));
  app->create();

  StartContext context = {app, ApplicationTitle(), backImage, welcomeImage, argc, argv};
  MainWindow main = makeMainWindow(context);
  MyTranslator* translator = new MyTranslator(app, main.texts);
  app->setTranslator(translator);

  FXuint result = main.window->execute(PLACEMENT_SCREEN);

  // Down in reverse order.  The application owns neither the translator
  // (once it is taken back) nor the fonts given to windows.
  app->setTranslator(NULL);
  delete translator;
  delete main.window;
  delete backImage;
  delete welcomeImage;
  delete toolTip;
  delete toolTipFont;
  Information::ReleaseFonts(app);
  delete app;
  delete info;
  return (int)result;
}
