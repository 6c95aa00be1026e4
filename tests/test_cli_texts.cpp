// kelvarin-cli's texts come from the language files, in the chosen language,
// wherever the program is started from.  (That every key it uses has a text
// in every language is checked with the program's own keys.)
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/LostDisk.h"
#include "support/TestImages.h"

namespace {

// The build directory, where the tests run.
std::string buildDirectory() {
  char buffer[4096];
  return getcwd(buffer, sizeof(buffer)) ? buffer : ".";
}

}  // namespace

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
  // A language nobody wrote falls back to English.
  kvtest::CliResult none = kvtest::runCli("-lang XX --help");
  EXPECT_NE(std::string::npos, none.out.find("Usage: kelvarin-cli")) << none.out;
}

TEST(CliTexts, FoundFromAnotherDirectoryThroughTheDataDirectory) {
  kvtest::TempDir dir;
  std::string cli = buildDirectory() + "/kelvarin-cli";
  std::string out;
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
