// Configuration and translations read from real files in a temporary folder.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "Information.h"
#include "TextKeys.h"
#include "support/WorkDir.h"

using kvtest::languageHeader;
using kvtest::WorkDir;

namespace {

std::string line(const std::string& key, const std::string& lang, const std::string& text,
                 const std::string& skipped = ".text=") {
  size_t first = key.find('.'), last = key.rfind('.');
  return "file='" + key.substr(0, first) + "'.func='" + key.substr(first + 1, last - first - 1) +
         "'.id='" + key.substr(last + 1) + "'.lang='" + lang + "'" + skipped + "'" + text + "'\n";
}


// The names FXDir lists in lang/, in its order: the order files are read in.
std::vector<std::string> listing() {
  FXString* names = nullptr;
  FXint n = FXDir::listFiles(names, "lang/", "*.lng", FXDir::NoDirs);
  std::vector<std::string> result;
  for (FXint i = 0; i < n; i++) result.push_back(names[i].text());
  delete[] names;
  return result;
}

std::string lookup(const char* key, const char* lang) {
  Information info;
  return info.GetString(key, lang).text();
}

}  // namespace

// --- lookup ---

TEST(Lookup, FirstMatchingLineWinsAndKeysSplitAtFirstAndLastDot) {
  WorkDir dir;
  dir.write("lang/en.lng", languageHeader("English", "EN", 0) + line("A.f.001", "EN", "first") +
                               line("A.f.001", "EN", "second") + line("A.x.y.002", "EN", "dotted") +
                               "# file='A'.func='f'.id='003'.lang='EN'.text='commented'\n" +
                               line("A.f.003", "EN", "real") + "file='A'.func='f'.id='005'.lang='EN'\n");
  EXPECT_EQ("first", lookup("A.f.001", "EN"));
  EXPECT_EQ("dotted", lookup("A.x.y.002", "EN"));  // func "x.y"
  EXPECT_EQ("real", lookup("A.f.003", "EN"));
  EXPECT_EQ("", lookup("A.f.005", "EN")) << "a matched line without text";
  EXPECT_EQ("<not available>", lookup("nodots", "EN"));
}

TEST(Lookup, EnglishFallBackThenNotAvailable) {
  WorkDir dir;
  dir.write("lang/en.lng", languageHeader("English", "EN", 0) + "languages='DE'\n" + line("K.f.001", "EN", "english") +
                               line("K.f.002", "EN", "english two"));
  dir.write("lang/de.lng", languageHeader("Deutsch", "DE", 1) + line("K.f.002", "DE", "deutsch"));
  Information info;
  EXPECT_EQ("DE", std::string(info.language.text()));
  EXPECT_EQ("english", std::string(info.GetString("K.f.001").text()));
  EXPECT_EQ("<not available>", std::string(info.GetString("K.f.001", "DE").text()));
  EXPECT_EQ("deutsch", std::string(info.GetString("K.f.002").text()));
  EXPECT_EQ("<not available>", std::string(info.GetString("K.f.009").text()));
}

TEST(Lookup, SixSkippedCharactersAreNeverLookedAt) {
  WorkDir dir;
  // Anything but a backslash escape or an odd number of quotes: those change
  // the line before the lookup sees it.
  const char* skipped[] = {".text=", "%n%s%d", "''''''", "  '  '", "\x01\xff#=:\x7f", "'%n'xx"};
  std::string file = languageHeader("English", "EN", 0);
  for (int i = 0; i < 6; i++) file += line("S.f.00" + std::to_string(i), "EN", "text " + std::to_string(i), skipped[i]);
  dir.write("lang/en.lng", file);
  for (int i = 0; i < 6; i++)
    EXPECT_EQ("text " + std::to_string(i), lookup(("S.f.00" + std::to_string(i)).c_str(), "EN")) << skipped[i];
}

TEST(Lookup, EscapesAndLineBreaksInsideQuotes) {
  WorkDir dir;
  dir.write("lang/en.lng", languageHeader("English", "EN", 0) + line("E.f.001", "EN", "one\\ntwo\\tthree") +
                               "file='E'.func='f'.id='002'.lang='EN'.text='first\nsecond'\n" +
                               "file='E'.func='f'.id='003'.lang='EN'.text='  spaced  '\r\n" +
                               line("E.f.004", "EN", "after"));
  EXPECT_EQ("one\ntwo\tthree", lookup("E.f.001", "EN"));
  EXPECT_EQ("first\nsecond", lookup("E.f.002", "EN"));
  EXPECT_EQ("  spaced  ", lookup("E.f.003", "EN"));
  EXPECT_EQ("after", lookup("E.f.004", "EN"));
}

TEST(Lookup, FileWithoutFinalLineFeedRunsIntoTheNext) {
  WorkDir dir;
  dir.write("lang/a.lng", "");
  dir.write("lang/b.lng", "");
  std::vector<std::string> order = listing();
  ASSERT_EQ(2u, order.size());
  dir.write("lang/" + order[0], languageHeader("English", "EN", 0) + "file='R'.func='f'.id='001'.lang='EN'.text='A'");
  dir.write("lang/" + order[1], "file='R'.func='f'.id='002'.lang='EN'.text='B'\n");
  // One line holds both; the text is what stands after the first pattern.
  const std::string merged = "A'file='R'.func='f'.id='002'.lang='EN'.text='B";
  EXPECT_EQ(merged, lookup("R.f.001", "EN"));
  EXPECT_EQ(merged, lookup("R.f.002", "EN"));
}

TEST(Lookup, MissingOrEmptyLangFolderGivesNoLanguagesAndNotAvailable) {
  WorkDir dir;
  {
    Information info;
    std::vector<FXString> codes, names;
    EXPECT_EQ(-1, info.GetAvailableLang(codes, names));
    EXPECT_TRUE(codes.empty());
    EXPECT_EQ("<not available>", std::string(info.GetString("Kelvarin.mFXWizard.012").text()));
  }
  // A folder, a hidden file and a file of another name are not language files.
  for (const char* name : {"lang/sub.lng/x", "lang/.hidden.lng", "lang/en.lng~"})
    dir.write(name, languageHeader("X", "XX", 0));
  kvtest::resetInformation();
  std::vector<FXString> codes, names;
  Information().GetAvailableLang(codes, names);
  EXPECT_TRUE(codes.empty());
}

TEST(Lookup, HostileLanguageFilesNeitherCrashNorLeak) {
  WorkDir dir;
  std::string nul = line("N.f.001", "EN", std::string("a\0b", 3));
  std::string longLine(200000, 'x');
  dir.write("lang/a.lng", nul + longLine + "\n" + "'unbalanced quote runs to the end\n" + line("N.f.002", "EN", "hidden"));
  Information info;
  // Garbage in, garbage out, but nothing worse.
  info.GetString("N.f.001", "EN");
  info.GetString("N.f.002", "EN");
  info.Format("Analyse.CheckOne.001", "x", 1.0);
  // A file far larger than any language file is skipped.
  kvtest::resetInformation();
  dir.write("lang/a.lng", line("N.f.003", "EN", "small"));
  kvtest::makeImage(dir.path("lang/huge.lng"), 64ull << 20);
  Information::ReadTranslations();
  EXPECT_LT(Information::translations.length(), 1000);
  EXPECT_EQ("small", std::string(info.GetString("N.f.003", "EN").text()));
}

// A line that is damaged or odd still gives what the line-by-line reading
// always gave: the first line holding "file='F'.func='G'.id='I'.lang='L'"
// anywhere, and its text counted back from the end of that line.
TEST(Lookup, DamagedLinesGiveTheTextsTheyAlwaysGave) {
  const std::string p = "file='D'.func='f'.id='001'.lang=";
  struct Case {
    const char* what;
    std::string file;
    const char* key;
    const char* lang;
    const char* expected;
  } cases[] = {
      {"bytes after the last quote", p + "'EN'.text='abc' xy\n", "D.f.001", "EN", "abc' x"},
      {"text cut by the end of the file", p + "'EN'.text='abcd", "D.f.001", "EN", "abc"},
      {"line cut among the skipped characters", p + "'EN'.te\n", "D.f.001", "EN", ""},
      {"line cut inside the pattern", p + "'E", "D.f.001", "EN", "<not available>"},
      {"pattern after other words", "junk " + p + "'EN'.text='mid'\n", "D.f.001", "EN", "ext='mid"},
      {"second language on the line, first", p + "'EN'.text='a' " + p + "'DE'.text='b'\n", "D.f.001", "EN",
       "a' file='D'.func='f'.id='001'.lang='DE'.text='b"},
      {"second language on the line, second", p + "'EN'.text='a' " + p + "'DE'.text='b'\n", "D.f.001", "DE",
       "a' file='D'.func='f'.id='001'.lang='DE'.text='b"},
      {"language code with a quote", p + "'E'N'.text='q'", "D.f.001", "E'N", "q"},
      {"its first part as a code", p + "'E'N'.text='q'", "D.f.001", "E", "='q"},
      {"code with a quote, second line", p + "'E'X'.text='1''\n" + p + "'E'N'.text='2''\n", "D.f.001", "E'N", "2'"},
      {"key with a quote", "file='D'x'.func='f'.id='007'.lang='EN'.text='k'", "D'x.f.007", "EN", "k"},
      {"key without a dot", "file=''.func=''.id=''.lang='EN'.text='no key'\n", "nodots", "EN", "no key"},
      {"key with one dot", "file='A'.func=''.id='001'.lang='EN'.text='one dot'\n", "A.001", "EN", "one dot"},
      {"empty language code", p + "''.text='no code'\n", "D.f.001", "", "no code"},
      {"language left off", p + "'EN'.text='x'\n", "D.f.001", "DE", "<not available>"},
  };
  for (const Case& c : cases) {
    WorkDir dir;
    dir.write("lang/en.lng", languageHeader("English", "EN", 0) + c.file);
    EXPECT_EQ(c.expected, lookup(c.key, c.lang)) << c.what;
  }
}

// Texts are read once per load: a file changed on disk shows only after the
// tables are cleared, and then every Information sees the new texts.
TEST(Lookup, FileChangedOnDiskShowsAfterTheNextLoad) {
  WorkDir dir;
  const std::string head = languageHeader("English", "EN", 0) + "languages='EN'\n";
  dir.write("lang/en.lng", head + line("C.f.001", "EN", "old text") + line("C.f.002", "EN", "stays"));
  Information info;
  EXPECT_EQ("old text", std::string(info.GetString("C.f.001").text()));
  // The same length, so nothing but the bytes tells the two loads apart.
  dir.write("lang/en.lng", head + line("C.f.001", "EN", "new text") + line("C.f.002", "EN", "stays"));
  EXPECT_EQ("old text", std::string(info.GetString("C.f.001").text()));
  kvtest::resetInformation();
  EXPECT_EQ("new text", std::string(info.GetString("C.f.001").text()));
  EXPECT_EQ("new text", lookup("C.f.001", "EN"));
  // Damaged since: a stray '%' makes the only text unfit, and a removed
  // file leaves no text at all.
  dir.write("lang/en.lng", head + line("Kelvarin.Search.001", "EN", "disk %d, %.0lf to %.0lf, 100%"));
  kvtest::resetInformation();
  EXPECT_EQ("<not available>", std::string(info.GetString("C.f.001").text()));
  EXPECT_EQ("Kelvarin.Search.001 2 100 200", std::string(info.Format("Kelvarin.Search.001", 2, 100.0, 200.0).text()));
  ::unlink("lang/en.lng");
  kvtest::resetInformation();
  EXPECT_EQ("<not available>", std::string(info.GetString("C.f.002").text()));
}

// The wizard switches the language while it runs; the text GetStringText
// hands out stays as it was until the same object is asked again, whatever
// other objects look up or load meanwhile.
TEST(Lookup, LanguageSwitchedAtRunTimeAndHeldTexts) {
  WorkDir dir;
  dir.write("lang/en.lng", languageHeader("English", "EN", 0) + "languages='EN'\n" + line("W.f.001", "EN", "Next") +
                               line("W.f.002", "EN", "Back") + line("Analyse.CheckOne.001", "EN", "%s at %.0lf"));
  dir.write("lang/de.lng", languageHeader("Deutsch", "DE", 1) + line("W.f.001", "DE", "Weiter") +
                               line("Analyse.CheckOne.001", "DE", "%s bei %.0lf %"));
  Information info;
  EXPECT_STREQ("Next", info.GetStringText("W.f.001"));
  info.ChooseLanguage("DE");
  EXPECT_STREQ("Weiter", info.GetStringText("W.f.001"));
  EXPECT_STREQ("Back", info.GetStringText("W.f.002")) << "English where German has no text";
  EXPECT_EQ("FAT at 63", std::string(info.Format("Analyse.CheckOne.001", "FAT", 63.0).text()))
      << "a German text with a stray '%' is not used";
  info.ChooseLanguage("EN");
  EXPECT_STREQ("Next", info.GetStringText("W.f.001"));

  info.ChooseLanguage("DE");
  const FXchar* held = info.GetStringText("W.f.001");
  Information other;
  EXPECT_STREQ("Back", other.GetStringText("W.f.002"));
  kvtest::resetInformation();
  EXPECT_STREQ("Next", other.GetStringText("W.f.001"));
  EXPECT_STREQ("Weiter", held);
}

// --- languages ---

TEST(Languages, LastLanguagesLineWinsInListingOrder) {
  WorkDir dir;
  dir.write("lang/one.lng", "");
  dir.write("lang/two.lng", "");
  std::vector<std::string> order = listing();
  ASSERT_EQ(2u, order.size());
  dir.write("lang/" + order[0], languageHeader("First", "F1", 0) + "languages='F1'\nlanguages='XX'\n");
  dir.write("lang/" + order[1], languageHeader("Second", "S2", 0) + "languages='S2'\n" +
                                    "  languages='S3'   trailing words\n" + "not at start languages='ZZ'\n");
  Information info;
  EXPECT_EQ("S3", std::string(info.language.text()));
  std::vector<FXString> codes, names;
  EXPECT_EQ(-1, info.GetAvailableLang(codes, names));  // S3 has no header
  ASSERT_EQ(2u, codes.size());
  EXPECT_EQ("F1", std::string(codes[0].text()));
  EXPECT_EQ("Second", std::string(names[1].text()));
  info.language = "S2";
  EXPECT_EQ(1, info.GetAvailableLang(codes, names));
}

TEST(Languages, ChooserSwitchOnlyForBareUpperCaseNO) {
  struct Case {
    const char* line;
    bool shown;
  } cases[] = {{"showchooser=NO", false},  {"showchooser=NO   # hide it", false}, {"   showchooser=NO", false},
               {"showchooser=no", true},   {"showchooser='NO'", true},           {"showchooser=\"NO\"", true},
               {"showchooser=NOT", true},  {"showchooser=YES", true},            {"x showchooser=NO", true},
               {"#showchooser=NO", true}};
  for (const Case& c : cases) {
    WorkDir dir;
    dir.write("lang/en.lng", languageHeader("English", "EN", 0) + c.line + "\n");
    Information info;
    EXPECT_EQ(c.shown, info.showChooser) << c.line;
  }
}

TEST(Encodings, EightBitTextsAreConvertedWithTheirLanguagesEncoding) {
  WorkDir dir;
  // "Да" in Windows-1251, "Größe" in Latin-1, "café" in UTF-8.
  dir.write("lang/cp.lng", languageHeader("Russian", "CP", 1251) + line("T.f.001", "CP", "\xc4\xe0"));
  dir.write("lang/de.lng", languageHeader("Deutsch", "DE", 1) + line("T.f.001", "DE", "Gr\xf6\xdf" "e"));
  dir.write("lang/en.lng", languageHeader("English", "EN", 0) + line("T.f.002", "EN", "caf\xc3\xa9") +
                               line("T.f.003", "EN", "caf\xe9"));
  Information info;
  EXPECT_EQ("\xd0\x94\xd0\xb0", lookup("T.f.001", "CP"));
  EXPECT_EQ("Gr\xc3\xb6\xc3\x9f" "e", lookup("T.f.001", "DE"));
  // Encoding 0 keeps UTF-8 and reads anything else as Latin-1.
  EXPECT_EQ("caf\xc3\xa9", lookup("T.f.002", "EN"));
  EXPECT_EQ("caf\xc3\xa9", lookup("T.f.003", "EN"));
  // The English fall-back is converted as English, not as the current language.
  info.language = "CP";
  EXPECT_EQ("caf\xc3\xa9", std::string(info.GetString("T.f.002").text()));
}

// --- default.cfg ---

// The first "=" splits; comments, trailing blanks; a missing file gives the two defaults.
TEST(Config, SplitsAtFirstEqualsAndFallsBackToTwoDefaults) {
  WorkDir dir;
  dir.write("default.cfg",
            "# shortappname=Commented\n"
            "shortappname=Kelvarin\n"
            "formula=a=b=c   \t\n"
            "key with blank =  value with blank  \n"
            "no equals sign here\n"
            "empty=\n"
            "shortappname=Kelvarin Two\n"
            "longver=2.0.7\r\n");
  Information::ReadConfigParams();
  EXPECT_EQ("Kelvarin Two", std::string(Information::GetConfigParam("shortappname").text()));
  EXPECT_EQ("a=b=c", std::string(Information::GetConfigParam("formula").text()));
  EXPECT_EQ("  value with blank", std::string(Information::configParams["key with blank "].text()));
  EXPECT_EQ("1.0", std::string(Information::GetConfigParam("shortver").text()));
  EXPECT_EQ("2.0.7", std::string(Information::GetConfigParam("longver").text()));
  EXPECT_EQ(0u, Information::configParams.count("no equals sign here"));
  EXPECT_EQ(0u, Information::configParams.count("# shortappname"));
  ::unlink("default.cfg");
  Information::ReadConfigParams();
  EXPECT_EQ(2u, Information::configParams.size());
  EXPECT_EQ("1.0", std::string(Information::GetConfigParam("shortver").text()));
  EXPECT_EQ("1.0.1440", std::string(Information::GetConfigParam("longver").text()));
}

TEST(Format, UsesATranslationOnlyWhenItsConversionsFitTheKey) {
  WorkDir dir;
  const char* key = "Analyse.CheckOne.001";  // "%s %.0lf"
  dir.write("lang/en.lng", languageHeader("English", "EN", 0) + line(key, "EN", "found %s at %.0lf") +
                               line("Kelvarin.mFXWizard.041", "EN", "quit %s?") +
                               line("Kelvarin.mFXWizard.012", "EN", "100%% sure"));
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"%-10s|%12.1f", "FAT32     |      2048.0"}, {"%s %s", "found FAT32 at 2048"},
      {"%s %.0lf %s", "found FAT32 at 2048"},     {"%n %.0lf", "found FAT32 at 2048"},
  };
  for (const Case& c : cases) {
    kvtest::resetInformation();
    dir.write("lang/de.lng", languageHeader("Deutsch", "DE", 1) + "languages='DE'\n" + line(key, "DE", c.text));
    Information info;
    EXPECT_EQ(c.expected, std::string(info.Format(key, "FAT32", 2048.0).text())) << c.text;
  }
  Information info;
  EXPECT_EQ("100% sure", std::string(info.Format("Kelvarin.mFXWizard.012").text()));
}

TEST(Format, FallsBackToTheKeyWhenEnglishDoesNotFitEither) {
  WorkDir dir;
  dir.write("lang/en.lng", languageHeader("English", "EN", 0) + line("Kelvarin.Search.001", "EN", "disk %s") +
                               line("Unlisted.f.001", "EN", "%s") + line("Unlisted.f.002", "EN", "plain 5%%"));
  Information info;
  EXPECT_EQ("Kelvarin.Search.001 2 100 200",
            std::string(info.Format("Kelvarin.Search.001", 2, 100.0, 200.0).text()));
  EXPECT_EQ("Unlisted.f.001", std::string(info.Format("Unlisted.f.001", "x").text()));
  EXPECT_EQ("plain 5%", std::string(info.Format("Unlisted.f.002").text()));
}

TEST(Format, ParserRefusesWhatPrintfCannotDoSafely) {
  std::vector<TextKeys::ArgumentKind> kinds;
  EXPECT_TRUE(TextKeys::ParseFormat("%d %i %u %x %c %5.2f %g %s %p %% %lu %lld %zu", kinds));
  EXPECT_EQ(12u, kinds.size());
  EXPECT_EQ(TextKeys::ARG_LONG, kinds[9]);
  for (const char* bad : {"%n", "%hn", "%*d", "%.*f", "%1$s", "%ls", "%lc", "%Lf", "%m", "%q", "%", "abc %", "%1000d",
                          "%.1000f", "%S", "%C", "%qd"})
    EXPECT_FALSE(TextKeys::ParseFormat(bad, kinds)) << bad;
  EXPECT_TRUE(TextKeys::FormatFits("%x:%d", "%u %d"));
  EXPECT_FALSE(TextKeys::FormatFits("%s", "%d"));
  EXPECT_FALSE(TextKeys::FormatFits("%d", "%d %d"));
  EXPECT_TRUE(TextKeys::FormatFits("no conversions", ""));
  EXPECT_FALSE(TextKeys::FormatFits("stray %s", ""));
}
