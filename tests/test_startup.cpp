// The program's life from start to exit code, with a stand-in main window.
// RunApplication makes its own application, so these tests have no other.
#include <gtest/gtest.h>

#include <string>

#include "Information.h"
#include "Startup.h"
#include "Translator.h"
#include "support/Gui.h"
#include "support/WorkDir.h"

using namespace kvtest;

namespace {

const std::string SOURCE_DIR = KV_SOURCE_DIR;

void copyShippedData(WorkDir& dir) {
  for (const char* name : {"lang/en.lng", "lang/de.lng", "lang/ru.lng", "res/backimage.png", "res/welcomeimage.png"})
    dir.write(name, readFile(SOURCE_DIR + "/" + name));
  dir.write("default.cfg", readFile(SOURCE_DIR + "/default.cfg"));
}

// What the stand-in main window saw while it ran.
struct Seen {
  std::string title;
  int backWidth = 0;
  std::string yes;
};

// Runs the program with a plain dialog as main window, which the watcher
// closes with `command` once it is up.
int runWith(FXSelector command, Seen& seen, const char* lang = "DE") {
  char name[] = "kelvarin";
  char* argv[] = {name, nullptr};
  ModalWatcher* watcher = nullptr;
  Information* texts = nullptr;
  int result = RunApplication(1, argv, [&](const StartContext& c) {
    seen.title = c.title.text();
    seen.backWidth = c.backImage ? c.backImage->getWidth() : 0;
    texts = new Information;
    texts->SetLanguage(c.app, lang);
    mFXDialogBox* window = new mFXDialogBox(c.app, c.title);
    new FXLabel(window, "stand-in main window");
    watcher = new ModalWatcher(c.app, [&seen, command](FXTopWindow* w) {
      FXTranslator* translator = w->getApp()->getTranslator();
      if (translator) seen.yes = translator->tr("FXMessageBox", "&Yes");
      w->handle(nullptr, FXSEL(SEL_COMMAND, command), nullptr);
    });
    return MainWindow{window, texts};
  });
  if (watcher) watcher->forgetApp();  // its timer went with the application
  delete watcher;
  delete texts;
  return result;
}

}  // namespace

// Finish exits with 1, Cancel with 0; the chosen language's translator
// runs; without configuration, languages or pictures the program still starts.
TEST(RunApplication, ExitStatusTranslatorAndMissingData) {
  struct Case {
    bool data;
    FXSelector command;
    const char* lang;
    int status;
    std::string title, yes;
    int backWidth;
  } cases[] = {{true, FXDialogBox::ID_ACCEPT, "DE", 1, "Kelvarin V1.0.1440", "&Ja", 164},
               {true, FXDialogBox::ID_CANCEL, "RU", 0, "Kelvarin V1.0.1440", "&\xd0\x94\xd0\xb0", 164},
               {false, FXDialogBox::ID_ACCEPT, "DE", 1, "<not available> V1.0.1440", "&Yes", 1}};
  for (const Case& c : cases) {
    WorkDir dir;
    if (c.data) copyShippedData(dir);
    Seen seen;
    EXPECT_EQ(c.status, runWith(c.command, seen, c.lang));
    EXPECT_EQ(c.title, seen.title);
    EXPECT_EQ(c.backWidth, seen.backWidth);  // a missing picture is an empty one, not none
    EXPECT_EQ(c.yes, seen.yes);
  }
}
