// Language chooser, language fonts, the wrapping label, the image loader and
// the translator, on a real display (Xvfb).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Analyse.h"
#include "Information.h"
#include "LanguageChooser.h"
#include "Startup.h"
#include "Translator.h"
#include "WrapLabel.h"
#include "compat/Translate.h"
#include "support/Gui.h"
#include "support/TestImages.h"
#include "support/TextFit.h"
#include "support/WorkDir.h"

using namespace kvtest;

namespace {

const std::string SOURCE_DIR = KV_SOURCE_DIR;

void copyShippedLanguages(WorkDir& dir) {
  for (const char* name : {"en.lng", "de.lng", "ru.lng"})
    dir.write(std::string("lang/") + name, readFile(SOURCE_DIR + "/lang/" + name));
}


// Puts the application's own normal font back after each test.
struct FontTest : ::testing::Test {
  FXApp* app = guiApp();
  void TearDown() override { Information::ReleaseFonts(app); }
};

FXFontDesc describe(FXFont* font) {
  FXFontDesc d;
  font->getFontDesc(d);
  return d;
}

}  // namespace

// --- the language chooser ---

// The chooser lists every language at once, above its tick and its buttons;
// OK applies the choice and keeps it in the registry of a home of the test's
// own; with "do not ask again" ticked the next start asks no more.
TEST(LanguageChooser, ListsEveryLanguageAboveItsButtonsAndRemembersTheChoice) {
  TemporaryHome home;
  WorkDir dir;
  copyShippedLanguages(dir);
  FXApp* app = guiApp();
  app->reg().deleteSection("Language");  // whatever the real registry said
  Information listing, target;
  std::vector<std::string> items;
  std::string current, tick;
  const std::string russian = "\xd0\xa0\xd1\x83\xd1\x81\xd1\x81\xd0\xba\xd0\xb8\xd0\xb9";
  ModalWatcher watcher(app, [&](FXTopWindow* dialog) {
    FXList* list = findChild<FXList>(dialog);
    ASSERT_NE(nullptr, list);
    for (FXint i = 0; i < list->getNumItems(); i++) items.push_back(list->getItemText(i).text());
    current = list->getItemText(list->getCurrentItem()).text();
    // Every language in sight, and the list above the tick and the buttons.
    EXPECT_GE(list->getNumVisible(), list->getNumItems());
    EXPECT_GE(list->getHeight(), list->getNumItems() * list->getFont()->getFontHeight());
    FXCheckButton* dontAsk = findChild<FXCheckButton>(dialog);
    ASSERT_NE(nullptr, dontAsk);
    tick = dontAsk->getText().text();
    FXint listBottom = list->getParent()->getY() + list->getParent()->getHeight();
    EXPECT_LE(listBottom, dontAsk->getY());
    for (FXint i = 0; i < list->getNumItems(); i++)
      if (list->getItemText(i).text() == russian) list->setCurrentItem(i);
    EXPECT_TRUE(textsThatDoNotFit(dialog).empty());
    EXPECT_NE("", screenshot(dialog, "language-chooser.png"));
    dontAsk->setCheck(TRUE);
    dialog->handle(nullptr, FXSEL(SEL_COMMAND, FXDialogBox::ID_ACCEPT), nullptr);
  });
  EXPECT_TRUE(LanguageChooserDue(false, target));
  EXPECT_TRUE(ChooseLanguageAtStart(app, listing, target, false));
  EXPECT_EQ(1, watcher.seen);
  EXPECT_EQ(3u, items.size());
  EXPECT_EQ("English", current);
  // The tick speaks every language, from the language files.
  for (const char* words : {"Do not ask again", "Nicht mehr fragen",
                            "\xd0\x91\xd0\xbe\xd0\xbb\xd1\x8c\xd1\x88\xd0\xb5 \xd0\xbd\xd0\xb5 "
                            "\xd1\x81\xd0\xbf\xd1\x80\xd0\xb0\xd1\x88\xd0\xb8\xd0\xb2\xd0\xb0\xd1\x82\xd1\x8c"})
    EXPECT_NE(std::string::npos, tick.find(words)) << tick;
  EXPECT_EQ("RU", std::string(target.language.text()));
  EXPECT_EQ(1251u, app->getNormalFont()->getEncoding());
  EXPECT_EQ("\xd0\x93\xd0\xbe\xd1\x82\xd0\xbe\xd0\xb2\xd0\xbe", std::string(target.GetString("Kelvarin.mFXWizard.017").text()));
  // Kept in the registry file of the temporary home.
  std::string kept;
  sh("cat '" + home.registryFolder("Varnholm Inc") + "'/Kelvarin*", &kept);
  EXPECT_NE(std::string::npos, kept.find("RU")) << kept;
  Information::ReleaseFonts(app);

  // The next start applies the language without asking.
  Information again;
  EXPECT_TRUE(ChooseLanguageAtStart(app, listing, again, false));
  settle(app);
  EXPECT_EQ(1, watcher.seen);
  EXPECT_EQ("RU", std::string(again.language.text()));
  app->reg().deleteSection("Language");
  Information::ReleaseFonts(app);
}

// Not shown after "-lang", nor once a language file says "showchooser=NO".
TEST(LanguageChooser, NotShownAfterMinusLangOrShowchooserNO) {
  WorkDir dir;
  copyShippedLanguages(dir);
  FXApp* app = guiApp();
  std::string image = dir.path("disk.img");
  makeImage(image, 1 << 20);
  char* argv[] = {(char*)"kelvarin", (char*)"-lang", (char*)"DE", (char*)"-file", (char*)image.c_str(),
                  (char*)"-chs", (char*)"2/16/63"};
  Analyse analyse(7, argv);
  EXPECT_TRUE(analyse.langGiven);
  ASSERT_EQ(1u, analyse.disks.size());
  EXPECT_EQ("Festplatten-Abbilddatei", std::string(analyse.disks[0].model.text()));  // in German
  Information listing;
  ModalWatcher watcher(app);
  EXPECT_FALSE(ChooseLanguageAtStart(app, listing, analyse, analyse.langGiven));
  Information::ReleaseFonts(app);

  WorkDir siteDir;  // a fresh folder: the language files are read once per folder
  copyShippedLanguages(siteDir);
  siteDir.write("lang/site.lng", "# This site uses English only.\nshowchooser=NO\n");
  Information site;
  EXPECT_FALSE(site.showChooser);
  EXPECT_FALSE(ChooseLanguageAtStart(app, listing, site, false));
  settle(app);
  EXPECT_EQ(0, watcher.seen);
}

// --- language fonts ---

// Without a font of its own a language gets Arial in the normal size and
// its encoding; a face with a size sets both, also for fonts made for
// labels; an overlong face is cut, not overrun.
TEST_F(FontTest, LanguageFontsFaceSizeAndEncoding) {
  WorkDir dir;
  dir.write("lang/x.lng", languageHeader("Greek", "EL", 7) + languageHeader("Sized", "SZ", 1251, "DejaVu Sans,140") +
                              languageHeader("Long", "LO", 1, std::string(990, 'F') + ",120"));
  FXFontDesc normal = describe(app->getNormalFont());
  Information info;
  info.SetLanguage(app, "EL");
  FXFontDesc greek = describe(app->getNormalFont());
  EXPECT_STREQ("Arial", greek.face);
  EXPECT_EQ(normal.size, greek.size);
  EXPECT_EQ(7, greek.encoding);
  info.SetLanguage(app, "SZ");
  EXPECT_EQ(140, describe(app->getNormalFont()).size);
  FXFont* title = info.GetFontEncoded("Arial,220", app);
  EXPECT_STREQ("DejaVu Sans", describe(title).face);
  EXPECT_EQ(220, describe(title).size);
  EXPECT_EQ(1251, describe(title).encoding);
  delete title;
  info.SetLanguage(app, "LO");
  EXPECT_LT(strlen(describe(app->getNormalFont()).face), 116u);
}

// --- the wrapping label ---

namespace {

// A label in a frame of a given width, on a shown window.
struct WrapFixture : ::testing::Test {
  FXApp* app = guiApp();
  FXMainWindow* window = nullptr;
  FXVerticalFrame* frame = nullptr;
  WrapLabel* label = nullptr;
  void SetUp() override {
    window = new FXMainWindow(app, "wrap", NULL, NULL, DECOR_ALL, 0, 0, 420, 300);
    frame = new FXVerticalFrame(window, LAYOUT_FILL_X | LAYOUT_FILL_Y);
    label = new WrapLabel(frame, "", NULL, JUSTIFY_LEFT | LAYOUT_FILL_X);
    window->create();
    window->show(PLACEMENT_SCREEN);
    settle(app);
  }
  void TearDown() override { delete window; }
  // The parent width that leaves `W` pixels for text.
  void setAvailable(FXint W) {
    frame->resize(W + frame->getPadLeft() + frame->getPadRight() + 2 * label->getBorderWidth() + label->getPadLeft() + label->getPadRight() +
                      (label->getIcon() ? label->getIcon()->getWidth() : 0),
                  frame->getHeight());
  }
  FXint width(const FXString& line) { return label->getFont()->getTextWidth(line.text(), line.length()); }
  std::vector<FXString> lines(const FXString& text) {
    std::vector<FXString> out;
    FXint start = 0;
    for (FXint i = 0; i <= text.length(); i++)
      if (i == text.length() || text[i] == '\n') out.push_back(text.mid(start, i - start)), start = i + 1;
    return out;
  }
};

// The text with every line break read as a blank.
std::string flat(const FXString& text) {
  std::string out = text.text();
  std::replace(out.begin(), out.end(), '\n', ' ');
  return out;
}

}  // namespace

// Short texts against widths from ample down to none: where the breaks go.
TEST_F(WrapFixture, BreaksForWidthsFromAmpleToNoneAndLongTexts) {
  const FXString da = "\xd0\x94\xd0\xb0 \xd0\x9d\xd0\xb5\xd1\x82";  // "Да Нет": two bytes a letter
  struct Case {
    FXint available;
    FXString text, wrapped;
  } cases[] = {
      {400, "two\nlines", "two\nlines"},
      {width("MMMMM"), "MMMMMMMMMMMMM", "MMMMM\nMMMMM\nMMM"},  // a word wider than the line is cut
      {width("MMM"), "MMM  MMMM", "MMM\n MM\nMM"},             // a blank first in a line is no break
      {-30, "abc", "\na\nb\nc"},                                // no room: a character a line
      {0, "a\nb", "\na\n\nb"},  // a line break does not make a line twice
      {1, da, "\n\xd0\x94\n\xd0\xb0\n\n\xd0\x9d\n\xd0\xb5\n\xd1\x82"},  // never a split letter
  };
  for (const Case& c : cases) {
    setAvailable(c.available);
    EXPECT_EQ(std::string(c.wrapped.text()), std::string(label->wrap(c.text).text())) << c.available;
  }
  // A long text breaks at blanks, every line within the width.
  const FXString text = "Kelvarin looks for partitions that have dropped out of the partition tables of your "
                        "disks and writes the ones you choose back.\nNothing is written before you confirm.";
  for (FXint W : {80, 260}) {
    setAvailable(W);
    FXString wrapped = label->wrap(text);
    for (const FXString& line : lines(wrapped)) {
      EXPECT_LE(width(line), W) << line.text();
      EXPECT_NE(' ', line.length() ? line[0] : 'x') << "a break drops its blank";
    }
    EXPECT_EQ(flat(text), flat(wrapped)) << "each break replaces a blank";
  }
}

TEST_F(WrapFixture, TheIconTakesItsWidthOffTheLine) {
  FXIcon* icon = new FXIcon(app, NULL, 0, IMAGE_OWNED, 60, 16);
  icon->create();
  label->setIcon(icon);
  setAvailable(100);  // counts the icon
  FXString text = "many short words in a row to fill more than one line of text, and then some more of them";
  for (const FXString& line : lines(label->wrap(text))) EXPECT_LE(width(line), 100);
  label->setIcon(NULL);
  EXPECT_GT(width(lines(label->wrap(text))[0]), 100);
  delete icon;
}

TEST_F(WrapFixture, TheLabelFollowsItsParentsWidth) {
  const FXString text = "Writing partition tables is risky: back up important data first, and close all other "
                       "programs. Kelvarin changes nothing on a disk before you confirm it in the last step.";
  label->setText(text);
  window->resize(420, 300);
  settle(app);
  FXint wide = label->getDefaultHeight();
  EXPECT_EQ(text, label->getText()) << "the breaks are made when drawn, not kept";
  EXPECT_NE("", screenshot(window, "wrap-label-wide.png"));
  window->resize(200, 300);
  settle(app);
  EXPECT_GT(label->getDefaultHeight(), wide);
  EXPECT_LE(label->getDefaultWidth(), frame->getWidth());
  EXPECT_GE(label->getHeight(), label->getDefaultHeight());
  EXPECT_NE("", screenshot(window, "wrap-label-narrow.png"));
}

// --- translator ---

TEST(Translator, MessageBoxButtonsShowTheTranslationWithoutTheHotKeyMarker) {
  WorkDir dir;
  copyShippedLanguages(dir);
  FXApp* app = guiApp();
  Information texts;
  texts.ChooseLanguage("DE");
  MyTranslator* translator = new MyTranslator(app, &texts);
  app->setTranslator(translator);
  FXMessageBox box(app, "caption", "text", NULL, MBOX_YES_NO);
  kv::translateButtons(&box);
  FXButton* first = findChild<FXButton>(&box);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ("Ja", std::string(first->getText().text()));  // the label takes the hot-key marker off
  app->setTranslator(NULL);
  delete translator;
}
