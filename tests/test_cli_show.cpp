// kelvarin-cli show: a lost FAT16 partition filled with known files, shown
// by its found-at sector, as text and as JSON checked against its schema,
// a page at a time, and under strace: nothing opened for writing, nothing
// written to the disk image.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "support/LostDisk.h"
#include "support/Oracles.h"
#include "support/TestImages.h"

using kvtest::quote;
using kvtest::runCli;
using kvtest::runProgram;

namespace {

const unsigned long long START = 2048, SECTORS = 32768;

class CliShow : public ::testing::Test {
protected:
  kvtest::TempDir dir;
  std::string image = dir.path("disk.img");

  void SetUp() override {
    if (!kvtest::haveTool("mcopy")) GTEST_SKIP() << "mcopy is not installed";
    kvtest::makeImage(image, (START + SECTORS + 2048) * 512);
    ASSERT_TRUE(kvtest::sfdisk(image, "start=2048,size=32768,type=6\n"));
    ASSERT_TRUE(kvtest::writeFilledFat16(image, START, SECTORS, "SHOWME", 1234));
    kvtest::clearTable(image);
  }

  std::string show(const std::string& args) const {
    return "-file " + quote(image) + " show --disk 1 --pick @2048 " + args;
  }
};

TEST_F(CliShow, PrintsTheSummaryAndTheFolder) {
  kvtest::CliResult root = runCli(show(""));
  ASSERT_EQ(0, root.status) << root.err;
  EXPECT_NE(std::string::npos, root.out.find("FAT16")) << root.out;
  EXPECT_NE(std::string::npos, root.out.find("SHOWME")) << root.out;
  EXPECT_NE(std::string::npos, root.out.find("looks intact")) << root.out;
  EXPECT_TRUE(std::regex_search(root.out, std::regex("hello\\.txt +6 "))) << root.out;
  EXPECT_TRUE(std::regex_search(root.out, std::regex("sub/ +folder "))) << root.out;

  kvtest::CliResult sub = runCli(show("/sub"));
  ASSERT_EQ(0, sub.status) << sub.err;
  EXPECT_TRUE(std::regex_search(sub.out, std::regex("inner\\.bin +1234 "))) << sub.out;

  kvtest::CliResult page = runCli(show("--count 1"));
  ASSERT_EQ(0, page.status) << page.err;
  EXPECT_NE(std::string::npos, page.out.find("--first 2")) << page.out;
  EXPECT_EQ(std::string::npos, page.out.find("sub/")) << page.out;

  kvtest::CliResult missing = runCli(show("/nowhere"));
  EXPECT_EQ(1, missing.status);
  EXPECT_NE(std::string::npos, missing.out.find("no folder /nowhere")) << missing.out;

  kvtest::CliResult noPick = runCli("-file " + quote(image) + " show --disk 1");
  EXPECT_EQ(2, noPick.status);
}

TEST_F(CliShow, JsonFollowsItsSchema) {
  kvtest::CliResult r = runCli(show("--json sub"));
  ASSERT_EQ(0, r.status) << r.err;
  std::string complaints;
  EXPECT_EQ(0, kvtest::checkSchema("show.schema.json", r.out, &complaints)) << complaints << r.out;
  std::string out = kvtest::onJson(r.out, "print(d[\"fileSystem\"], d[\"label\"], d[\"intact\"], "
                                          "[(e[\"name\"], e[\"size\"]) for e in d[\"entries\"]])");
  EXPECT_EQ("FAT16 SHOWME True [('inner.bin', 1234)]", out);
}

// The numbers of the descriptors that name the image, line by line of an
// strace log: an openat names a descriptor, and that name holds until the
// number is opened again.
TEST_F(CliShow, OpensNothingForWritingAndWritesNothing) {
  if (!kvtest::haveTool("strace")) GTEST_SKIP() << "strace is not installed";
  std::string trace = dir.path("trace");
  std::string before = kvtest::readFile(image);
  // A leak check cannot run under ptrace; a sanitizer build keeps its other checks.
  kvtest::CliResult r = runProgram("env ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -o " +
                                   quote(trace) + " -e trace=openat,write,pwrite64 ./kelvarin-cli " + show(""));
  ASSERT_EQ(0, r.status) << r.err;
  std::map<int, std::string> names;
  std::regex open("openat\\([^,]+, \"([^\"]*)\", ([^)]*)\\) = ([0-9]+)");
  std::regex write("(write|pwrite64)\\(([0-9]+),");
  int opens = 0;
  for (const std::string& line : kvtest::splitLines(kvtest::readFile(trace))) {
    std::smatch m;
    if (std::regex_search(line, m, open)) {
      names[std::stoi(m[3])] = m[1];
      if (m[1] != image) continue;
      opens++;
      EXPECT_EQ(std::string::npos, m[2].str().find("O_WRONLY")) << line;
      EXPECT_EQ(std::string::npos, m[2].str().find("O_RDWR")) << line;
    } else if (std::regex_search(line, m, write)) {
      EXPECT_NE(image, names[std::stoi(m[2])]) << line;
    }
  }
  EXPECT_GT(opens, 0);
  EXPECT_TRUE(before == kvtest::readFile(image));
}

}  // namespace
