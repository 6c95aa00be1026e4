// Every key the program and kelvarin-cli use has a text, and every shipped
// language file is complete and takes the arguments each key is used with.
#include <dirent.h>
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <string>

#include "Information.h"
#include "TextKeys.h"
#include "Wizard.h"
#include "support/WorkDir.h"

namespace {

const std::string SOURCE_DIR = KV_SOURCE_DIR;

// String literals shaped like keys ("File.func.NNN") in the sources of one
// folder, with the file each was first seen in.
void collectKeys(const std::string& folder, std::map<std::string, std::string>& keys) {
  static const std::regex keyLiteral("\"([A-Za-z][A-Za-z0-9_-]*\\.[A-Za-z_][A-Za-z0-9_.]*\\.[0-9]{3})\"");
  DIR* dir = opendir(folder.c_str());
  ASSERT_NE(nullptr, dir) << folder;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    bool source = std::regex_match(name, std::regex(".*\\.(h|cpp)"));
    if (!source || name == "TextKeys.cpp") continue;
    std::string body = kvtest::readFile(folder + "/" + name);
    for (std::sregex_iterator it(body.begin(), body.end(), keyLiteral), end; it != end; ++it)
      keys.emplace((*it)[1].str(), name);
  }
  closedir(dir);
}

// A work folder holding a copy of the shipped language files.
struct ShippedLanguages : kvtest::WorkDir {
  std::vector<std::string> files;
  ShippedLanguages() {
    DIR* dir = opendir((SOURCE_DIR + "/lang").c_str());
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name.size() < 5 || name.substr(name.size() - 4) != ".lng") continue;
      files.push_back(name);
      write("lang/" + name, kvtest::readFile(SOURCE_DIR + "/lang/" + name));
    }
    closedir(dir);
  }
};

// The shipped languages, read: their codes and names in listing order.
struct ReadLanguages : ShippedLanguages {
  Information info;  // made after the files are in place
  std::vector<FXString> codes, names;
  ReadLanguages() { info.GetAvailableLang(codes, names); }
};

}  // namespace

TEST(TextKeys, EveryKeyInTheCodeIsListedAndHasAnEnglishText) {
  std::map<std::string, std::string> used;
  for (const char* folder : {"/src/engine", "/src/engine/recognise", "/src/engine/platform", "/src/text",
                             "/src/gui", "/src/compat"})
    collectKeys(SOURCE_DIR + folder, used);
  collectKeys(SOURCE_DIR + "/cli", used);
  EXPECT_EQ(1u, used.count("kelvarin-cli.list.001")) << "the scan finds the keys in use";
  for (const auto& key : used)
    EXPECT_NE(nullptr, TextKeys::ArgumentsOf(key.first.c_str()))
        << key.first << " (in " << key.second << ") is not in the key table of TextKeys.cpp";
  ShippedLanguages shipped;
  Information info;
  for (const auto& key : used)
    EXPECT_NE("<not available>", std::string(info.GetString(key.first.c_str(), "EN").text())) << key.first;
}

// Every page of the wizard has a title and a help text, in every shipped
// language, long enough to say something.
TEST(TextKeys, EveryWizardPageHasItsTitleAndHelpInEveryLanguage) {
  ReadLanguages shipped;
  Information& info = shipped.info;
  const std::vector<FXString>& codes = shipped.codes;
  ASSERT_GE(codes.size(), 3u);
  for (FXint page = 0; page < mFXWizard::PAGE_COUNT; page++) {
    for (const FXString& key : {mFXWizard::PageTitleKey(page), mFXWizard::PageHelpKey(page)}) {
      EXPECT_NE(nullptr, TextKeys::ArgumentsOf(key.text())) << key.text() << " is not in TextKeys.cpp";
      for (const FXString& code : codes) {
        std::string text = info.GetString(key, code).text();
        EXPECT_NE("<not available>", text) << code.text() << " " << key.text();
        EXPECT_NE(std::string(info.GetString(key, "EN").text()), code == "EN" ? "" : text)
            << code.text() << " " << key.text() << " is not translated";
      }
    }
    EXPECT_GT(info.GetString(mFXWizard::PageHelpKey(page), "EN").length(), 80) << page;
  }
}

TEST(TextKeys, EveryShippedLanguageIsCompleteFitsEveryKeyAndShowsTheChooser) {
  ReadLanguages shipped;
  Information& info = shipped.info;
  const std::vector<FXString>& codes = shipped.codes;
  const std::vector<FXString>& names = shipped.names;
  EXPECT_GE(codes.size(), 3u);
  EXPECT_EQ(shipped.files.size(), codes.size()) << "one header per file";
  EXPECT_EQ("EN", std::string(info.language.text()));
  // The key table itself: no key twice, every argument list readable.
  std::set<std::string> seen;
  for (const TextKeys::KeyUse& use : TextKeys::All()) {
    EXPECT_TRUE(seen.insert(use.key).second) << use.key;
    std::vector<TextKeys::ArgumentKind> kinds;
    EXPECT_TRUE(TextKeys::ParseFormat(use.arguments, kinds)) << use.key;
  }
  bool eightBitOtherThanLatin1 = false;
  for (size_t i = 0; i < codes.size(); i++) {
    FXint encoding = Information::EncodingOf(codes[i]);
    if (encoding > 1 && encoding != FONTENCODING_UNICODE) eightBitOtherThanLatin1 = true;
    EXPECT_FALSE(names[i].empty());
    for (const TextKeys::KeyUse& use : TextKeys::All()) {
      FXString text = info.GetString(use.key, codes[i]);
      EXPECT_NE("<not available>", std::string(text.text())) << codes[i].text() << " " << use.key;
      EXPECT_TRUE(TextKeys::FormatFits(text, use.arguments))
          << codes[i].text() << " " << use.key << ": \"" << text.text() << "\" for \"" << use.arguments << "\"";
    }
  }
  EXPECT_TRUE(eightBitOtherThanLatin1);
  // Shipped files hide no chooser, and only one says "languages=": a second
  // would make the default depend on the listing order.
  EXPECT_TRUE(info.showChooser);
  int defaults = 0;
  for (const std::string& name : shipped.files) {
    std::string text = kvtest::readFile(shipped.path("lang/" + name));
    for (size_t at = text.find("\nlanguages="); at != std::string::npos; at = text.find("\nlanguages=", at + 1))
      defaults++;
  }
  EXPECT_EQ(1, defaults);
}
