#include "Kelvarin.h"

#include "Startup.h"
#include "Wizard.h"

int RunKelvarin(int argc, char** argv, const std::function<void(mFXWizard*)>& beforeRun) {
  return RunApplication(argc, argv, [&](const StartContext& context) {
    mFXWizard* wizard = new mFXWizard(context.app, context.title, context.backImage,
                                      context.welcomeImage, context.argc, context.argv);
    if (beforeRun) beforeRun(wizard);
    return MainWindow{wizard, wizard};
  });
}
