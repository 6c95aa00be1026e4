// kelvarin-cli's texts come from the language files: every key it uses is in
// the key table (so its arguments are checked) and every language has it.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "Information.h"
#include "TextKeys.h"
#include "support/LostDisk.h"
#include "support/TestImages.h"

namespace {

std::set<std::string> keysInCli() {
  static const std::regex keyLiteral("\"([A-Za-z][A-Za-z0-9_-]*\\.[A-Za-z_][A-Za-z0-9_]*\\.[0-9]{3})\"");
  std::set<std::string> keys;
  std::string folder = std::string(KV_SOURCE_DIR) + "/cli";
  DIR* dir = opendir(folder.c_str());
  if (!dir) return keys;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() < 4 || (name.substr(name.size() - 4) != ".cpp" && name.substr(name.size() - 2) != ".h"))
      continue;
    std::string body = kvtest::readFile(folder + "/" + name);
    for (std::sregex_iterator it(body.begin(), body.end(), keyLiteral), end; it != end; ++it)
      keys.insert((*it)[1].str());
  }
  closedir(dir);
  return keys;
}

// The build directory, where the tests run.
std::string buildDirectory() {
  char buffer[4096];
  return getcwd(buffer, sizeof(buffer)) ? buffer : ".";
}

}  // namespace

TEST(CliTexts, EveryKeyIsListedAndEveryLanguageHasIt) {
  std::set<std::string> keys = keysInCli();
  ASSERT_GT(keys.size(), 50u) << "the scan finds the keys";
  EXPECT_EQ(1u, keys.count("Kelvarin.onCmd_Next.002")) << "the wizard's refusal is shown as it is";
  // The build directory, where the tests run, mirrors lang/.
  Information::ReadTranslations();
  Information info;
  for (const std::string& key : keys) {
    EXPECT_NE(nullptr, TextKeys::ArgumentsOf(key.c_str())) << key << " is not in TextKeys.cpp";
    for (const char* lang : {"EN", "DE", "RU"})
      EXPECT_NE("<not available>", std::string(info.GetString(key.c_str(), lang).text())) << lang << " " << key;
  }
}

TEST(CliTexts, TheChosenLanguageReachesTheTerminalAsUtf8) {
  kvtest::CliResult de = kvtest::runCli("-lang DE list --help");
  EXPECT_EQ(0, de.status);
  EXPECT_NE(std::string::npos, de.out.find("Gr\xc3\xb6\xc3\x9f" "e")) << de.out;  // "Größe"
  kvtest::CliResult ru = kvtest::runCli("undo --help -lang RU");
  EXPECT_EQ(0, ru.status);
  EXPECT_NE(std::string::npos, ru.out.find("\xd0\x92\xd1\x8b\xd0\xb7\xd0\xbe\xd0\xb2")) << ru.out;  // "Вызов"
  // Messages too, and the language does not change the exit status.
  kvtest::CliResult error = kvtest::runCli("-lang DE frobnicate");
  EXPECT_EQ(2, error.status);
  EXPECT_NE(std::string::npos, error.err.find("unbekannter Befehl")) << error.err;
  // A language nobody wrote falls back to English.
  kvtest::CliResult none = kvtest::runCli("-lang XX --help");
  EXPECT_NE(std::string::npos, none.out.find("Usage: kelvarin-cli")) << none.out;
}

TEST(CliTexts, FoundFromAnotherDirectoryThroughTheDataDirectory) {
  kvtest::TempDir dir;
  std::string cli = buildDirectory() + "/kelvarin-cli";
  std::string out;
  // Beside the program: found without help.
  kvtest::sh("cd " + kvtest::quote(dir.path()) + " && " + kvtest::quote(cli) + " --help", &out);
  EXPECT_NE(std::string::npos, out.find("Usage: kelvarin-cli")) << out;
  // A copy of the program elsewhere finds them through KELVARIN_DATADIR.
  std::string copy = dir.path("kelvarin-cli");
  kvtest::sh("cp " + kvtest::quote(cli) + " " + kvtest::quote(copy));
  kvtest::sh("cd / && " + kvtest::quote(copy) + " --help", &out);
  EXPECT_EQ(std::string::npos, out.find("Usage: kelvarin-cli")) << "no texts without the data";
  kvtest::sh("cd / && KELVARIN_DATADIR=" + kvtest::quote(buildDirectory()) + " " +
                 kvtest::quote(copy) + " --help",
             &out);
  EXPECT_NE(std::string::npos, out.find("Usage: kelvarin-cli")) << out;
}
