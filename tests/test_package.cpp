// The Debian package as a user gets it: made by cpack from a Release build
// of its own (the package_build step before these tests), looked at with
// dpkg, unpacked into a temporary root, and checked with the tools Debian
// checks packages and desktop files with.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "Installation.h"
#include "support/LostDisk.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

const std::string APP_ID = "com.varnholm.kelvarin";

std::string architecture() {
  std::string arch;
  sh("dpkg --print-architecture", &arch);
  while (!arch.empty() && arch.back() == '\n') arch.pop_back();
  return arch;
}

std::string packageFile() {
  return std::string(KV_PACKAGE_DIR) + "/kelvarin_" + Installation::Version() + "_" + architecture() + ".deb";
}

// A shell command's standard output and error together, and its status.
struct Output {
  int status;
  std::string output;
};
Output run(const std::string& command) {
  CliResult r = runProgram(command);
  return Output{r.status, r.out + r.err};
}

std::string field(const std::string& name) {
  std::string value;
  sh("dpkg-deb -f " + quote(packageFile()) + " " + name, &value);
  return value;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The package unpacked with dpkg -x into a temporary root.
class PackageTest : public ::testing::Test {
protected:
  TempDir root;
  void SetUp() override {
    if (!haveTool("dpkg-deb")) GTEST_SKIP() << "dpkg-deb is not installed";
    ASSERT_EQ(0, access(packageFile().c_str(), R_OK)) << packageFile() << " was not made (package_build)";
    ASSERT_EQ(0, sh("dpkg -x " + quote(packageFile()) + " " + quote(root.path())));
  }
  std::string installed(const std::string& path) const { return root.path() + path; }
};

}  // namespace

TEST_F(PackageTest, HoldsBothProgramsTheirDataManualsAndMenuEntry) {
  std::string list;
  ASSERT_EQ(0, sh("dpkg-deb -c " + quote(packageFile()) + " | awk '{print $6}'", &list));
  const std::string icons = "./usr/share/icons/hicolor/", data = "./usr/share/kelvarin/";
  const std::vector<std::string> paths = {
      "./usr/bin/kelvarin", "./usr/bin/kelvarin-cli",
      data + "default.cfg", data + "lang/en.lng", data + "lang/de.lng", data + "lang/ru.lng",
      data + "res/backimage.png", data + "res/welcomeimage.png",
      "./usr/share/man/man1/kelvarin.1.gz", "./usr/share/man/man1/kelvarin-cli.1.gz",
      "./usr/share/applications/" + APP_ID + ".desktop", "./usr/share/metainfo/" + APP_ID + ".metainfo.xml",
      icons + "scalable/apps/" + APP_ID + ".svg", icons + "48x48/apps/" + APP_ID + ".png",
      icons + "256x256/apps/" + APP_ID + ".png",
      "./usr/share/polkit-1/actions/com.varnholm.kelvarin.run.policy",
      "./usr/share/doc/kelvarin/copyright", "./usr/share/doc/kelvarin/changelog.gz"};
  for (const std::string& path : paths)
    EXPECT_TRUE(contains(list, path + "\n")) << path << " missing from\n" << list;
  EXPECT_FALSE(contains(list, "/usr/local")) << list;
  EXPECT_FALSE(contains(list, ".keep")) << list;

  EXPECT_EQ(std::string(Installation::Version()) + "\n", field("Version"));
  EXPECT_EQ("admin\n", field("Section"));
  // dpkg-shlibdeps found the libraries the programs link; pkexec is for the
  // menu entry.
  std::string depends = field("Depends");
  for (const char* package : {"libc6", "libfox-1.6-0", "libstdc++6", "pkexec"})
    EXPECT_TRUE(contains(depends, package)) << depends;
  std::string description = field("Description");
  EXPECT_GT(std::count(description.begin(), description.end(), '\n'), 5) << description;
}

// The unpacked programs, started from an unrelated directory without any
// hint in the environment, find their texts in the unpacked tree and say the
// same as the build tree's program.
TEST_F(PackageTest, UnpackedProgramsFindTheirDataFromAnyDirectory) {
  std::string cli = quote(installed("/usr/bin/kelvarin-cli"));
  EXPECT_EQ("kelvarin-cli " + std::string(Installation::Version()) + "\n", run(cli + " --version").output);
  EXPECT_EQ("kelvarin " + std::string(Installation::Version()) + "\n",
            run(quote(installed("/usr/bin/kelvarin")) + " --version").output);

  TempDir elsewhere;
  LostDisk disk;
  ASSERT_TRUE(makeBlankDisk(elsewhere.path("disk.img"), 4, disk));
  for (const std::string lang : {"EN", "DE"}) {
    std::string args = "-lang " + lang + " -file " + quote(disk.image) + " -chs " + disk.chs + " list";
    CliResult built = runCli(args);
    CliResult unpacked =
        runProgram("cd " + quote(elsewhere.path()) + " && env -u KELVARIN_DATADIR " + cli + " " + args);
    EXPECT_EQ(0, unpacked.status) << unpacked.err;
    EXPECT_EQ("", unpacked.err);
    EXPECT_EQ(built.out, unpacked.out);
  }
  // A package is made from a normal build, never from a sanitized one.
  for (const char* program : {"/usr/bin/kelvarin", "/usr/bin/kelvarin-cli"})
    EXPECT_FALSE(contains(run("nm -D " + quote(installed(program))).output, "__asan_")) << program;
}

TEST_F(PackageTest, DesktopEntryAppStreamAndPolkitFilesAgreeAndValidate) {
  std::string desktop = installed("/usr/share/applications/" + APP_ID + ".desktop");
  Output entry = run("desktop-file-validate " + quote(desktop));
  EXPECT_EQ(0, entry.status);
  EXPECT_EQ("", entry.output);
  std::string metainfoFile = installed("/usr/share/metainfo/" + APP_ID + ".metainfo.xml");
  Output metainfo = run("appstreamcli validate --no-net " + quote(metainfoFile));
  EXPECT_EQ(0, metainfo.status) << metainfo.output;
  std::string policy = installed("/usr/share/polkit-1/actions/com.varnholm.kelvarin.run.policy");
  Output wellFormed = run("xmllint --noout " + quote(policy));
  EXPECT_EQ(0, wellFormed.status) << wellFormed.output;

  // The menu starts the packaged wizard through pkexec; polkit lets exactly
  // that program open windows; the icon the entry names is in the package.
  std::string text = readFile(desktop), rules = readFile(policy);
  EXPECT_TRUE(contains(text, "\nExec=pkexec /usr/bin/kelvarin\n")) << text;
  EXPECT_EQ(0, access(installed("/usr/bin/kelvarin").c_str(), X_OK));
  const std::string annotate = "<annotate key=\"org.freedesktop.policykit.exec.";
  EXPECT_TRUE(contains(rules, annotate + "path\">/usr/bin/kelvarin</annotate>")) << rules;
  EXPECT_TRUE(contains(rules, annotate + "allow_gui\">true</annotate>")) << rules;
  EXPECT_TRUE(contains(text, "\nIcon=" + APP_ID + "\n")) << text;
  EXPECT_EQ(0, access(installed("/usr/share/icons/hicolor/scalable/apps/" + APP_ID + ".svg").c_str(), R_OK));
  std::string release = "<release version=\"" + std::string(Installation::Version()) + "\"";
  EXPECT_TRUE(contains(readFile(metainfoFile), release));
}

TEST_F(PackageTest, LintianFindsNoErrors) {
  if (!haveTool("lintian")) GTEST_SKIP() << "lintian is not installed";
  Output lint = run("lintian --fail-on error " + quote(packageFile()));
  EXPECT_EQ(0, lint.status) << lint.output;
  EXPECT_FALSE(contains(lint.output, "E: ")) << lint.output;
  if (!lint.output.empty()) std::cout << "lintian says:\n" << lint.output;
}

TEST_F(PackageTest, ManualPagesFormatWithoutWarnings) {
  for (const char* page : {"kelvarin.1.gz", "kelvarin-cli.1.gz"}) {
    CliResult man = runProgram("MANWIDTH=80 man --warnings -l " +
                               quote(installed(std::string("/usr/share/man/man1/") + page)));
    EXPECT_EQ(0, man.status) << page;
    EXPECT_NE("", man.out) << page;
    EXPECT_EQ("", man.err) << page;
  }
}
