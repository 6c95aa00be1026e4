#include "Kelvarin.h"

#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include <fx.h>
#include <FXPNGImage.h>

#include "Information.h"
#include "Wizard.h"
#include "compat/Assert.h"

namespace {

// The value of -display, which FXApp::init would use to connect.
const char* DisplayOption(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i++)
    if (strcmp(argv[i], "-display") == 0 || strcmp(argv[i], "--display") == 0) return argv[i + 1];
  return nullptr;
}

FXImage* LoadPicture(FXApp* app, const FXString& file) {
  FXImage* image = new FXPNGImage(app, nullptr, IMAGE_KEEP | IMAGE_SHMI | IMAGE_SHMP, 1, 1);
  FXFileStream stream;
  if (stream.open(file, FXStreamLoad)) {
    image->loadPixels(stream);
    stream.close();
    image->create();
  }
  return image;
}

}  // namespace

int RunKelvarin(int argc, char** argv, const std::function<void(mFXWizard*)>& beforeRun) {
  std::unique_ptr<Information> info(new Information);
  Information::ReadConfigParams();

  std::unique_ptr<FXApp> app(new FXApp("Kelvarin", "Varnholm Inc"));
  const char* display = DisplayOption(argc, argv);
  app->init(argc, argv, false);
  if (!app->openDisplay(display)) {
    fxwarning("Kelvarin is a graphical program and found no display%s%s.\n"
              "Start it on a desktop, or in a virtual one: xvfb-run -a kelvarin ...\n",
              display ? " " : "", display ? display : "");
    return 2;
  }
  KV_TRACE(7, "main() - product: %s V%s, intenal: %s\n", Information::GetConfigParam("longappname").text(),
           Information::GetConfigParam("longver").text(), "1.0.1440");
  KV_TRACE(7, "main() - current dir: %s\n", FXSystem::getCurrentDirectory().text());

  FXToolTip* tip = new FXToolTip(app.get());
  std::vector<FXString> codes, names;
  info->GetAvailableLang(codes, names);
  std::unique_ptr<FXFont> tipFont(info->GetFontEncoded("Arial,80,bold", app.get()));
  if (tipFont) tip->setFont(tipFont.get());

  std::unique_ptr<FXImage> backImage(LoadPicture(app.get(), "res/backimage.png"));
  std::unique_ptr<FXImage> welcomeImage(LoadPicture(app.get(), "res/welcomeimage.png"));
  app->create();

  FXString title = Information::GetConfigParam("shortappname") + " V" +
                   Information::GetConfigParam("longver");
  mFXWizard* wizard =
      new mFXWizard(app.get(), title, backImage.get(), welcomeImage.get(), argc, argv);
  if (beforeRun) beforeRun(wizard);
  FXint result = (FXint)wizard->execute(PLACEMENT_SCREEN);

  delete wizard;
  delete tip;
  tipFont.reset();
  backImage.reset();
  welcomeImage.reset();
  app.reset();
  info.reset();
  return result;
}
